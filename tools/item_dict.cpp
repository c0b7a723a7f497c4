// Item dictionary files and name quoting.
#include "item_dict.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <istream>

#include "event_log.h"

namespace qtools {

std::string escape_name(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string unescape_name(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      out.push_back(c);
      continue;
    }
    const char n = text[++i];
    switch (n) {
      case '\\': out.push_back('\\'); break;
      case 't': out.push_back('\t'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      default:  // not one of ours: keep it as written
        out.push_back('\\');
        out.push_back(n);
    }
  }
  return out;
}

std::string format_dictionary(const std::vector<std::string>& names) {
  std::string out;
  for (size_t code = 0; code < names.size(); ++code) {
    out += std::to_string(code);
    out.push_back('\t');
    out += escape_name(names[code]);
    out.push_back('\n');
  }
  return out;
}

std::string format_sequence_lines(const std::vector<SequenceName>& names, bool sessions) {
  std::string out;
  for (size_t n = 0; n < names.size(); ++n) {
    out += "seq\t" + std::to_string(n) + "\t" + escape_name(names[n].id);
    if (sessions) out += "\t" + std::to_string(names[n].session);
    out.push_back('\n');
  }
  return out;
}

namespace {

// Whole decimal digits, at most `max_len` of them.
bool all_digits(const std::string& s, size_t max_len) {
  if (s.empty() || s.size() > max_len) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "seq<TAB>NUMBER<TAB>ID[<TAB>SESSION]": sequence numbers come in order.
bool read_sequence_line(const std::string& line, std::vector<SequenceLabel>& seqs, std::string& err) {
  const size_t t1 = line.find('\t');
  const size_t t2 = line.find('\t', t1 + 1);
  if (t2 == std::string::npos) {
    err = "expected seq<TAB>NUMBER<TAB>ID";
    return false;
  }
  const std::string number = line.substr(t1 + 1, t2 - t1 - 1);
  if (!all_digits(number, 10) || std::strtoll(number.c_str(), nullptr, 10) != (long long)seqs.size()) {
    err = "sequence number '" + number + "' out of order (expected " + std::to_string(seqs.size()) + ")";
    return false;
  }
  SequenceLabel label;
  const size_t t3 = line.find('\t', t2 + 1);
  label.id = unescape_name(line.substr(t2 + 1, t3 == std::string::npos ? std::string::npos : t3 - t2 - 1));
  if (t3 != std::string::npos) {
    const std::string session = line.substr(t3 + 1);
    label.session = all_digits(session, 9) ? std::strtol(session.c_str(), nullptr, 10) : 0;
    if (label.session < 1) {
      err = "session '" + session + "' is not a number from 1";
      return false;
    }
  }
  seqs.push_back(std::move(label));
  return true;
}

}  // namespace

bool read_dictionary(std::istream& in, const std::string& path, std::map<int32_t, std::string>& dict,
                     std::string& err, std::vector<SequenceLabel>* sequences) {
  std::vector<SequenceLabel> seqs;
  std::string line;
  long lineno = 0;
  while (std::getline(in, line)) {
    ++lineno;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string where = path + ":" + std::to_string(lineno) + ": ";
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      err = where + "expected CODE<TAB>NAME";
      return false;
    }
    const std::string code_text = line.substr(0, tab);
    if (code_text == "seq") {
      if (!read_sequence_line(line, seqs, err)) {
        err = where + err;
        return false;
      }
      continue;
    }
    bool digits = !code_text.empty() && code_text.size() <= 10;
    for (char c : code_text) digits = digits && c >= '0' && c <= '9';
    const long long code = digits ? std::strtoll(code_text.c_str(), nullptr, 10) : -1;
    if (code < 0 || code > INT32_MAX) {
      err = where + "'" + code_text + "' is not an item code";
      return false;
    }
    const auto inserted =
        dict.emplace(static_cast<int32_t>(code), unescape_name(line.substr(tab + 1)));
    if (!inserted.second) {
      err = where + "item code " + code_text + " appears twice";
      return false;
    }
  }
  if (in.bad()) {
    err = path + ": read error";
    return false;
  }
  if (sequences) *sequences = std::move(seqs);
  return true;
}

std::string dictionary_path_for(const std::string& bin_path) {
  const std::string suffix = ".bin";
  if (bin_path.size() > suffix.size() &&
      bin_path.compare(bin_path.size() - suffix.size(), suffix.size(), suffix) == 0 &&
      bin_path[bin_path.size() - suffix.size() - 1] != '/') {
    return bin_path.substr(0, bin_path.size() - suffix.size()) + ".items";
  }
  return bin_path + ".items";
}

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 if it is invalid.
size_t utf8_length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len;
  uint32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  // Reject overlong forms, surrogates and code points past U+10FFFF.
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return len;
}

}  // namespace

std::string json_string(const std::string& s) {
  std::string out = "\"";
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      default: break;
    }
    if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      ++i;
      continue;
    }
    const size_t len = utf8_length(s, i);
    if (len == 0) {
      out += "\\ufffd";
      ++i;
    } else {
      out.append(s, i, len);
      i += len;
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace qtools
