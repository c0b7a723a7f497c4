// Dataset reading, writing and checking for the companion programs.
#include "dataset_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace qtools {

void append_le(const std::vector<int32_t>& words, std::string& out) {
  out.reserve(out.size() + words.size() * 4);
  for (int32_t w : words) {
    // Byte order is spelled out so that the file is the same on any host.
    const uint32_t u = static_cast<uint32_t>(w);
    out.push_back(static_cast<char>(u & 0xff));
    out.push_back(static_cast<char>((u >> 8) & 0xff));
    out.push_back(static_cast<char>((u >> 16) & 0xff));
    out.push_back(static_cast<char>((u >> 24) & 0xff));
  }
}

bool read_binary(const std::string& path, std::vector<int32_t>& words, std::string& err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    err = path + ": read error";
    return false;
  }
  if (bytes.size() % 4 != 0) {
    err = path + ": size " + std::to_string(bytes.size()) +
          " bytes is not a whole number of 32-bit words";
    return false;
  }
  words.clear();
  words.reserve(bytes.size() / 4);
  for (size_t i = 0; i < bytes.size(); i += 4) {
    const uint32_t u = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
                       static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 2])) << 16 |
                       static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 3])) << 24;
    words.push_back(static_cast<int32_t>(u));
  }
  return true;
}

bool check_words(const std::vector<int32_t>& words, std::string& err) {
  const DatasetFault fault = CheckDatasetWords(words.data(), words.size(), DatasetRules(), nullptr);
  const std::string at = "word " + std::to_string(fault.offset) + ": ";
  switch (fault.kind) {
    case DatasetFault::kNone:
      return true;
    case DatasetFault::kInvalidValue:
      err = at + "invalid value " + std::to_string(fault.value);
      return false;
    case DatasetFault::kMisplacedSequenceEnd:
      err = at + "-2 must follow -1 or stand alone";
      return false;
    case DatasetFault::kUnterminated:
      err = "the last sequence does not end with -2";
      return false;
    case DatasetFault::kItemAboveMax:
    case DatasetFault::kItemsetDescending:
      break;  // not asked for
  }
  err = at + "malformed";
  return false;
}

bool TempFile::open(const std::string& target, std::string& err) {
  const int e = file_.Open(target, ".tmpXXXXXX");
  if (e != 0) err = target + ": cannot create: " + std::strerror(e);
  return e == 0;
}

bool TempFile::write(const char* data, size_t size, std::string& err) {
  const int e = file_.Write(data, size);
  if (e != 0) err = file_.Target() + ": write error: " + std::strerror(e);
  return e == 0;
}

bool TempFile::finish(std::string& err) {
  const int e = file_.Finish(false);
  if (e != 0) err = file_.Target() + ": write error: " + std::strerror(e);
  return e == 0;
}

bool TempFile::commit_all(const std::vector<TempFile*>& files, std::string& err) {
  for (TempFile* f : files) {
    if (!f->finish(err)) return false;
    struct stat st;
    if (::stat(f->file_.Target().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      err = f->file_.Target() + ": cannot create: " + std::strerror(EISDIR);
      return false;
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (!files[i]->commit(err)) {
      for (size_t j = 0; j < i; ++j) ::unlink(files[j]->file_.Target().c_str());
      return false;
    }
  }
  return true;
}

// The identity of a path for same_file: device and inode when it exists.
static bool path_identity(const std::string& path, struct stat& st) {
  return ::stat(path.c_str(), &st) == 0;
}

// The absolute place of a path that may not exist yet: its directory
// resolved, then its name.
static std::string resolved_place(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char* real = ::realpath(dir.c_str(), nullptr);
  std::string place = (real != nullptr ? std::string(real) : dir) + "/" + name;
  std::free(real);
  return place;
}

bool same_file(const std::string& a, const std::string& b) {
  if (a == "-" || b == "-") return false;
  struct stat sa, sb;
  const bool ha = path_identity(a, sa), hb = path_identity(b, sb);
  if (ha && hb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ha != hb) return false;
  return resolved_place(a) == resolved_place(b);
}

bool check_outputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                   std::string& err) {
  for (size_t o = 0; o < outputs.size(); ++o) {
    for (const std::string& in : inputs) {
      if (same_file(in, outputs[o])) {
        err = outputs[o] + ": is the input " + in + "; refusing to overwrite it";
        return false;
      }
    }
    for (size_t p = 0; p < o; ++p) {
      if (same_file(outputs[p], outputs[o])) {
        err = outputs[o] + ": is also the output " + outputs[p] + "; give each output its own file";
        return false;
      }
    }
  }
  return true;
}

bool TempFile::commit(std::string& err) {
  if (!finish(err)) return false;
  const int e = file_.Commit(false);
  if (e != 0) err = file_.Target() + ": cannot create: " + std::strerror(e);
  return e == 0;
}

void TempFile::discard() { file_.Discard(); }

bool write_file_atomic(const std::string& path, const std::string& bytes, std::string& err) {
  TempFile file;
  return file.open(path, err) && file.write(bytes.data(), bytes.size(), err) && file.commit(err);
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

bool parse_text_line(const std::string& line, std::vector<int32_t>& words, std::string& err) {
  std::vector<int32_t> lw;
  size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  if (i == line.size() || line[i] == '#') return true;
  while (i < line.size()) {
    const size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    const std::string tok = line.substr(start, i - start);
    // strtol alone would accept "+3", " 3" or "3x"; insist on [-]digits.
    size_t d = (tok[0] == '-') ? 1 : 0;
    bool digits = d < tok.size();
    for (size_t k = d; k < tok.size(); ++k) {
      if (tok[k] < '0' || tok[k] > '9') digits = false;
    }
    if (!digits) {
      err = "'" + tok + "' is not an integer";
      return false;
    }
    errno = 0;
    const long long v = std::strtoll(tok.c_str(), nullptr, 10);
    if (errno == ERANGE || v > INT32_MAX || v < INT32_MIN) {
      err = "'" + tok + "' is out of range";
      return false;
    }
    if (v < kEndSequence) {
      err = "invalid value " + tok + " (values are item codes >= 0, -1 or -2)";
      return false;
    }
    lw.push_back(static_cast<int32_t>(v));
    while (i < line.size() && is_blank(line[i])) ++i;
  }
  for (size_t k = 0; k + 1 < lw.size(); ++k) {
    if (lw[k] == kEndSequence) {
      err = "-2 before the end of the line";
      return false;
    }
  }
  // One sequence per line: with no -2 before the end, the grammar's fault
  // can only be about the line's last word.
  const DatasetFault fault = CheckDatasetWords(lw.data(), lw.size(), DatasetRules(), nullptr);
  if (fault.kind == DatasetFault::kUnterminated) {
    err = "the line does not end with -2";
    return false;
  }
  if (fault.kind != DatasetFault::kNone) {
    err = "-2 must follow -1 or stand alone";
    return false;
  }
  words.insert(words.end(), lw.begin(), lw.end());
  return true;
}

bool parse_text(std::istream& in, const std::string& name, std::vector<int32_t>& words,
                std::string& err) {
  std::string line;
  long lineno = 0;
  while (std::getline(in, line)) {
    ++lineno;
    std::string why;
    if (!parse_text_line(line, words, why)) {
      err = name + ":" + std::to_string(lineno) + ": " + why;
      return false;
    }
  }
  if (in.bad()) {
    err = name + ": read error";
    return false;
  }
  return true;
}

void write_text(const std::vector<int32_t>& words, std::ostream& out) {
  std::string line;
  for (int32_t w : words) {
    if (!line.empty()) line.push_back(' ');
    line += std::to_string(w);
    if (w == kEndSequence) {
      line.push_back('\n');
      out << line;
      line.clear();
    }
  }
}

int run_totext(const std::string& bin_path, std::ostream& out, std::ostream& err) {
  std::vector<int32_t> words;
  std::string why;
  if (!read_binary(bin_path, words, why)) {
    err << "quivrel-convert: " << why << "\n";
    return 1;
  }
  if (!check_words(words, why)) {
    err << "quivrel-convert: " << bin_path << ": " << why << "\n";
    return 1;
  }
  write_text(words, out);
  out.flush();
  if (!out) {
    err << "quivrel-convert: write error on standard output\n";
    return 1;
  }
  return 0;
}

void sort_itemsets(std::vector<int32_t>& words) {
  size_t out = 0;
  size_t begin = 0;  // first word of the current itemset in the output
  for (size_t i = 0; i < words.size(); ++i) {
    const int32_t w = words[i];
    if (w < 0) {
      std::sort(words.begin() + begin, words.begin() + out);
      out = begin + (std::unique(words.begin() + begin, words.begin() + out) - (words.begin() + begin));
      words[out++] = w;
      begin = out;
    } else {
      words[out++] = w;
    }
  }
  words.resize(out);
}

int run_tobin(const std::string& txt_path, const std::string& bin_path, std::istream& stdin_stream,
              std::ostream& err) {
  std::vector<int32_t> words;
  std::string why;
  if (!check_outputs({txt_path}, {bin_path}, why)) {
    err << "quivrel-convert: " << why << "\n";
    return 1;
  }
  bool ok;
  if (txt_path == "-") {
    ok = parse_text(stdin_stream, "-", words, why);
  } else {
    std::ifstream in(txt_path);
    if (!in) {
      err << "quivrel-convert: " << txt_path << ": cannot open: " << std::strerror(errno) << "\n";
      return 1;
    }
    ok = parse_text(in, txt_path, words, why);
  }
  if (!ok) {
    // "FILE:LINE: reason", the form editors and compilers use.
    err << why << "\n";
    return 1;
  }
  sort_itemsets(words);
  std::string bytes;
  append_le(words, bytes);
  if (!write_file_atomic(bin_path, bytes, why)) {
    err << "quivrel-convert: " << why << "\n";
    return 1;
  }
  return 0;
}

}  // namespace qtools
