// Result file decoding.
#include "decode.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

std::vector<Itemsets> split_sequences(const std::vector<int32_t>& words) {
  std::vector<Itemsets> sequences;
  Itemsets current;
  std::vector<int32_t> itemset;
  for (int32_t w : words) {
    if (w >= 0) {
      itemset.push_back(w);
    } else if (w == -1) {
      std::sort(itemset.begin(), itemset.end());
      current.push_back(std::move(itemset));
      itemset.clear();
    } else {
      sequences.push_back(std::move(current));
      current.clear();
    }
  }
  return sequences;
}

bool contains_pattern(const Itemsets& sequence, const Itemsets& pattern) {
  // Matching each pattern itemset to the earliest itemset that holds it
  // leaves the most room for the rest, so one pass decides.
  size_t k = 0;
  for (size_t i = 0; i < sequence.size() && k < pattern.size(); ++i) {
    if (std::includes(sequence[i].begin(), sequence[i].end(), pattern[k].begin(), pattern[k].end())) ++k;
  }
  return k == pattern.size();
}

namespace {

std::string format_ratio(double ratio) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", ratio);
  return buf;
}

// A sequence name in a TSV cell of blank-separated names.
std::string tsv_label(const std::string& name) {
  std::string out;
  for (char c : escape_name(name)) {
    if (c == ' ') out += "\\x20";
    else out.push_back(c);
  }
  return out;
}

// The pattern with item names: "(a b)(c)" for TSV, "["a", "b"], ["c"]" for
// JSON.  False with `missing` set when a code has no name.
bool name_pattern(const PatternLine& p, const std::map<int32_t, std::string>& dict, bool json,
                  std::string& pat, int32_t& missing) {
  for (size_t i = 0; i < p.itemsets.size(); ++i) {
    pat += json ? (i ? ", [" : "[") : "(";
    for (size_t k = 0; k < p.itemsets[i].size(); ++k) {
      const auto it = dict.find(p.itemsets[i][k]);
      if (it == dict.end()) {
        missing = p.itemsets[i][k];
        return false;
      }
      if (k) pat += json ? ", " : " ";
      pat += json ? json_string(it->second) : escape_name(it->second);
    }
    pat += json ? "]" : ")";
  }
  return true;
}

}  // namespace

bool decode_patterns(const std::vector<PatternLine>& patterns, const std::string& result_name,
                     const std::map<int32_t, std::string>& dict, const std::string& dict_name,
                     const DecodeOptions& options, std::ostream& out, std::string& err) {
  // The codes that --contains names (each name must be known).
  std::vector<int32_t> wanted;
  for (const std::string& name : options.contains) {
    bool found = false;
    for (const auto& entry : dict) {
      if (entry.second == name) {
        wanted.push_back(entry.first);
        found = true;
        break;
      }
    }
    if (!found) {
      err = "--contains '" + name + "': no item of that name in " + dict_name;
      return false;
    }
  }
  const std::vector<Itemsets>* data = options.dataset;
  if (data && options.with_sequences && options.labels && !options.labels->empty() &&
      options.labels->size() != data->size()) {
    err = dict_name + " names " + std::to_string(options.labels->size()) +
          " sequences but the dataset holds " + std::to_string(data->size());
    return false;
  }

  std::vector<const PatternLine*> chosen;
  for (const PatternLine& p : patterns) {
    long items = 0;
    for (const auto& itemset : p.itemsets) items += static_cast<long>(itemset.size());
    if (items < options.min_items || (options.max_items >= 0 && items > options.max_items)) continue;
    bool all = true;
    for (int32_t code : wanted) {
      bool here = false;
      for (const auto& itemset : p.itemsets) {
        here = here || std::find(itemset.begin(), itemset.end(), code) != itemset.end();
      }
      all = all && here;
    }
    if (all) chosen.push_back(&p);
  }
  if (options.sort_by_support) {
    std::stable_sort(chosen.begin(), chosen.end(), [](const PatternLine* a, const PatternLine* b) {
      return a->support > b->support;
    });
  }

  // Everything is formatted before anything is written, so that a missing
  // code leaves no partial output behind.
  struct Row {
    const PatternLine* p;
    std::string tsv_pattern, json_pattern;
  };
  std::vector<Row> rows;
  for (const PatternLine* p : chosen) {
    Row row{p, "", ""};
    int32_t missing = 0;
    if (!name_pattern(*p, dict, false, row.tsv_pattern, missing) ||
        !name_pattern(*p, dict, true, row.json_pattern, missing)) {
      err = result_name + ":" + std::to_string(p->line) + ": item code " + std::to_string(missing) +
            " is not in the dictionary " + dict_name;
      return false;
    }
    rows.push_back(std::move(row));
  }
  if (options.top >= 0) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
      if (a.p->support != b.p->support) return a.p->support > b.p->support;
      return a.tsv_pattern < b.tsv_pattern;
    });
    if (rows.size() > static_cast<size_t>(options.top)) rows.resize(static_cast<size_t>(options.top));
  }

  const bool labels = options.with_sequences && options.labels && !options.labels->empty();
  std::string text;
  if (!options.json) {
    text += "pattern\tsupport\titemsets";
    if (data) text += "\tratio of " + std::to_string(data->size()) + " sequences";
    if (data && options.with_sequences) text += "\tsequences";
    if (labels) text += "\tsequence ids";
    text += "\n";
  }
  for (const Row& row : rows) {
    const PatternLine* p = row.p;
    std::vector<size_t> holders;
    if (data && options.with_sequences) {
      Itemsets pattern = p->itemsets;
      for (auto& itemset : pattern) std::sort(itemset.begin(), itemset.end());
      for (size_t s = 0; s < data->size(); ++s) {
        if (contains_pattern((*data)[s], pattern)) holders.push_back(s);
      }
    }
    if (data && (options.with_sequences ? (long long)holders.size() != p->support
                                        : p->support > (long long)data->size())) {
      err = result_name + ":" + std::to_string(p->line) + ": support " + std::to_string(p->support) +
            (options.with_sequences ? ", but " + std::to_string(holders.size()) + " sequences"
                                    : ", but only " + std::to_string(data->size()) + " sequences") +
            " of the dataset contain it: is it the dataset that was mined?";
      return false;
    }
    const std::string ratio =
        data ? format_ratio(data->empty() ? 0.0 : (double)p->support / (double)data->size()) : "";
    if (options.json) {
      text += "{\"pattern\": [" + row.json_pattern + "], \"support\": " + std::to_string(p->support) +
              ", \"itemsets\": " + std::to_string(p->itemset_count);
      if (data) {
        text += ", \"ratio\": " + ratio + ", \"dataset_sequences\": " + std::to_string(data->size());
      }
      if (data && options.with_sequences) {
        text += ", \"sequences\": [";
        for (size_t i = 0; i < holders.size(); ++i) text += (i ? ", " : "") + std::to_string(holders[i]);
        text += "]";
      }
      if (labels) {
        text += ", \"sequence_ids\": [";
        for (size_t i = 0; i < holders.size(); ++i) {
          text += (i ? ", " : "") + json_string((*options.labels)[holders[i]].text());
        }
        text += "]";
      }
      text += "}\n";
    } else {
      text += row.tsv_pattern + "\t" + std::to_string(p->support) + "\t" +
              std::to_string(p->itemset_count);
      if (data) text += "\t" + ratio;
      if (data && options.with_sequences) {
        text += "\t";
        for (size_t i = 0; i < holders.size(); ++i) text += (i ? " " : "") + std::to_string(holders[i]);
      }
      if (labels) {
        text += "\t";
        for (size_t i = 0; i < holders.size(); ++i) {
          text += (i ? " " : "") + tsv_label((*options.labels)[holders[i]].text());
        }
      }
      text += "\n";
    }
  }
  out << text;
  return true;
}

}  // namespace qtools
