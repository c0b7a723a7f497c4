// Result file decoding.
#include "decode.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <istream>
#include <ostream>

#include "item_dict.h"

namespace qtools {

namespace {

// Reads an optionally signed decimal at s[p], skipping blanks before it.
bool take_number(const std::string& s, size_t& p, long long& value) {
  while (p < s.size() && s[p] == ' ') ++p;
  const size_t start = p;
  if (p < s.size() && s[p] == '-') ++p;
  const size_t digits = p;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9') ++p;
  if (p == digits || p - start > 19) return false;
  errno = 0;
  value = std::strtoll(s.c_str() + start, nullptr, 10);
  return errno == 0;
}

// Expects the word `word` at s[p], after optional blanks.
bool take_word(const std::string& s, size_t& p, const std::string& word) {
  while (p < s.size() && s[p] == ' ') ++p;
  if (s.compare(p, word.size(), word) != 0) return false;
  p += word.size();
  return true;
}

}  // namespace

bool parse_pattern_line(const std::string& text, PatternLine& pattern, std::string& err) {
  std::string s = text;
  if (!s.empty() && s.back() == '\r') s.pop_back();
  pattern.itemsets.clear();
  size_t p = 0;
  if (p >= s.size() || s[p++] != '<') {
    err = "a pattern line starts with '<'";
    return false;
  }
  // The pattern: one or more "(code code ...)".
  while (p < s.size() && s[p] == '(') {
    ++p;
    std::vector<int32_t> itemset;
    for (;;) {
      long long code;
      const size_t at = p;
      if (p < s.size() && s[p] == ' ') {
        err = "unexpected blank in the pattern";
        return false;
      }
      if (!take_number(s, p, code) || code < 0 || code > INT32_MAX) {
        err = "bad item code in the pattern at column " + std::to_string(at + 1);
        return false;
      }
      itemset.push_back(static_cast<int32_t>(code));
      if (p < s.size() && s[p] == ' ') {
        ++p;
        continue;
      }
      if (p < s.size() && s[p] == ')') {
        ++p;
        break;
      }
      err = "expected ' ' or ')' in the pattern at column " + std::to_string(p + 1);
      return false;
    }
    pattern.itemsets.push_back(std::move(itemset));
  }
  if (pattern.itemsets.empty() || p >= s.size() || s[p++] != '>') {
    err = "the pattern is not of the form <(...)(...)>";
    return false;
  }
  if (!take_word(s, p, "Num=") || !take_number(s, p, pattern.key) ||
      !take_word(s, p, "Support") || !take_word(s, p, "=") || !take_number(s, p, pattern.support) ||
      !take_word(s, p, "ItemsetNumber") || !take_word(s, p, "=") ||
      !take_number(s, p, pattern.itemset_count)) {
    err = "expected \"Num= N Support = N   ItemsetNumber = N\" after the pattern";
    return false;
  }
  while (p < s.size() && s[p] == ' ') ++p;
  if (p != s.size()) {
    err = "unexpected text after the itemset number";
    return false;
  }
  return true;
}

bool read_result_file(std::istream& in, const std::string& name, std::vector<PatternLine>& patterns,
                      std::string& err) {
  std::string line;
  long lineno = 0;
  while (std::getline(in, line)) {
    ++lineno;
    if (line.empty() || line[0] != '<') continue;
    PatternLine pattern;
    std::string why;
    if (!parse_pattern_line(line, pattern, why)) {
      err = name + ":" + std::to_string(lineno) + ": " + why;
      return false;
    }
    pattern.line = lineno;
    patterns.push_back(std::move(pattern));
  }
  if (in.bad()) {
    err = name + ": read error";
    return false;
  }
  return true;
}

bool decode_patterns(const std::vector<PatternLine>& patterns, const std::string& result_name,
                     const std::map<int32_t, std::string>& dict, const std::string& dict_name,
                     const DecodeOptions& options, std::ostream& out, std::string& err) {
  std::vector<const PatternLine*> chosen;
  for (const PatternLine& p : patterns) {
    long items = 0;
    for (const auto& itemset : p.itemsets) items += static_cast<long>(itemset.size());
    if (items >= options.min_items) chosen.push_back(&p);
  }
  if (options.sort_by_support) {
    std::stable_sort(chosen.begin(), chosen.end(), [](const PatternLine* a, const PatternLine* b) {
      return a->support > b->support;
    });
  }

  // Everything is formatted before anything is written, so that a missing
  // code leaves no partial output behind.
  std::string text;
  if (!options.json) text += "pattern\tsupport\titemsets\n";
  for (const PatternLine* p : chosen) {
    std::string pat;
    for (size_t i = 0; i < p->itemsets.size(); ++i) {
      pat += options.json ? (i ? ", [" : "[") : "(";
      for (size_t k = 0; k < p->itemsets[i].size(); ++k) {
        const int32_t code = p->itemsets[i][k];
        const auto it = dict.find(code);
        if (it == dict.end()) {
          err = result_name + ":" + std::to_string(p->line) + ": item code " +
                std::to_string(code) + " is not in the dictionary " + dict_name;
          return false;
        }
        if (options.json) {
          if (k) pat += ", ";
          pat += json_string(it->second);
        } else {
          if (k) pat += " ";
          pat += escape_name(it->second);
        }
      }
      pat += options.json ? "]" : ")";
    }
    if (options.json) {
      text += "{\"pattern\": [" + pat + "], \"support\": " + std::to_string(p->support) +
              ", \"itemsets\": " + std::to_string(p->itemset_count) + "}\n";
    } else {
      text += pat + "\t" + std::to_string(p->support) + "\t" + std::to_string(p->itemset_count) + "\n";
    }
  }
  out << text;
  return true;
}

}  // namespace qtools
