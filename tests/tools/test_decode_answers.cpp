// quivrel-convert decode's answers (--contains, --top, --max-items, --dataset,
// --with-sequences) on a random event log mined by quivrel, checked against a
// recount made here by backtracking search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "decode.h"
#include "tools_test_util.h"

using namespace tooltest;

namespace {

using Itemsets = std::vector<std::vector<std::string>>;

// Whether pattern[k..] matches itemsets of `seq` from index `from` on, trying
// every choice (no greedy shortcut, unlike the tool).
bool matches(const Itemsets& seq, const Itemsets& pattern, size_t k, size_t from) {
  if (k == pattern.size()) return true;
  for (size_t i = from; i < seq.size(); ++i) {
    bool subset = true;
    for (const std::string& item : pattern[k]) {
      subset = subset && std::find(seq[i].begin(), seq[i].end(), item) != seq[i].end();
    }
    if (subset && matches(seq, pattern, k + 1, i + 1)) return true;
  }
  return false;
}

// "(a b)(c)" -> {{a, b}, {c}} (the test's names have no blanks).
Itemsets parse_pattern(const std::string& text) {
  Itemsets out;
  std::string word;
  for (char c : text) {
    if (c == '(') {
      out.emplace_back();
    } else if (c == ' ' || c == ')') {
      if (!word.empty()) out.back().push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  return out;
}

std::vector<std::vector<std::string>> tsv_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::istringstream cs(line);
    std::string cell;
    while (std::getline(cs, cell, '\t')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

size_t item_count(const Itemsets& p) {
  size_t n = 0;
  for (const auto& s : p) n += s.size();
  return n;
}

}  // namespace

// The greedy matcher of the tool against tricky orders.
TEST(ToolsDecodeAnswers, ContainmentIsItemsetSubsetInOrder) {
  using qtools::contains_pattern;
  const qtools::Itemsets seq = {{1, 2}, {3}, {1}, {2, 3}};
  EXPECT_TRUE(contains_pattern(seq, {{1}, {1}}));
  EXPECT_TRUE(contains_pattern(seq, {{1, 2}, {2, 3}}));
  EXPECT_TRUE(contains_pattern(seq, {{3}, {1}, {3}}));
  EXPECT_FALSE(contains_pattern(seq, {{1, 3}}));             // never in one itemset
  EXPECT_FALSE(contains_pattern(seq, {{2, 3}, {1}}));        // wrong order
  EXPECT_FALSE(contains_pattern(seq, {{1}, {1}, {1}}));      // needs three itemsets
  EXPECT_TRUE(contains_pattern(seq, {}));
  EXPECT_EQ(qtools::split_sequences({3, 1, -1, -2, -2, 5, -1, -2}),
            (std::vector<qtools::Itemsets>{{{1, 3}}, {}, {{5}}}));
}

TEST(ToolsDecodeAnswers, AgreeWithARecountOnARandomLog) {
  const std::string dir = scratch_dir();
  // 40 visitors, a few events each over 8 pages; equal times form an itemset.
  std::mt19937 rng(11);
  std::ostringstream csv;
  csv << "visitor,t,page\n";
  for (int e = 0; e < 400; ++e) {
    csv << "v" << rng() % 40 << "," << rng() % 12 << ",p" << rng() % 8 << "\n";
  }
  write_file(dir + "/log.csv", csv.str());
  Outcome r = convert(dir, "fromcsv log.csv log.bin --seq visitor --order t --item page");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(dir, QUIVREL_BIN, "--quiet log.bin 0.3 auto");
  ASSERT_EQ(r.status, 0) << r.out;

  // The dataset and the sequence ids as the test reads them.
  std::map<int, std::string> names;
  std::vector<std::string> ids;
  {
    std::istringstream in(read_file(dir + "/log.items"));
    std::string line;
    while (std::getline(in, line)) {
      auto cells = tsv_rows(line)[0];
      if (cells[0] == "seq") ids.push_back(cells[2]);
      else names[std::stoi(cells[0])] = cells[1];
    }
  }
  std::vector<Itemsets> data;
  {
    std::istringstream in(convert(dir, "totext log.bin").out);
    std::string line;
    while (std::getline(in, line)) {
      Itemsets seq(1);
      std::istringstream ws(line);
      int w;
      while (ws >> w) {
        if (w >= 0) seq.back().push_back(names[w]);
        else if (w == -1) seq.emplace_back();
      }
      seq.pop_back();  // the -2 opened none
      data.push_back(seq);
    }
  }
  ASSERT_EQ(data.size(), ids.size());

  // Every pattern with its containing sequences, numbers and ids.
  r = convert(dir, "decode ClosedMaxset.txt log.items --dataset log.bin --with-sequences");
  ASSERT_EQ(r.status, 0) << r.err;
  auto rows = tsv_rows(r.out);
  ASSERT_GT(rows.size(), 10u);
  char header[64];
  snprintf(header, sizeof header, "ratio of %zu sequences", data.size());
  EXPECT_EQ(rows[0], (std::vector<std::string>{"pattern", "support", "itemsets", header, "sequences",
                                                "sequence ids"}));
  std::vector<std::pair<long, std::string>> all;  // support, pattern
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 6u) << i;
    Itemsets pattern = parse_pattern(rows[i][0]);
    std::string numbers, labels;
    long support = 0;
    for (size_t s = 0; s < data.size(); ++s) {
      if (!matches(data[s], pattern, 0, 0)) continue;
      numbers += (support ? " " : "") + std::to_string(s);
      labels += (support ? " " : "") + ids[s];
      ++support;
    }
    EXPECT_EQ(rows[i][1], std::to_string(support)) << rows[i][0];
    char ratio[32];
    snprintf(ratio, sizeof ratio, "%.6g", (double)support / data.size());
    EXPECT_EQ(rows[i][3], ratio) << rows[i][0];
    EXPECT_EQ(rows[i][4], numbers) << rows[i][0];
    EXPECT_EQ(rows[i][5], labels) << rows[i][0];
    all.emplace_back(support, rows[i][0]);
  }

  // --contains: exactly the patterns that hold both names.
  r = convert(dir, "decode ClosedMaxset.txt log.items --contains p1 --contains p2");
  ASSERT_EQ(r.status, 0) << r.err;
  std::set<std::string> got, want;
  for (size_t i = 1; i < tsv_rows(r.out).size(); ++i) got.insert(tsv_rows(r.out)[i][0]);
  for (const auto& p : all) {
    std::string text = " " + p.second + " ";
    for (char& c : text) if (c == '(' || c == ')') c = ' ';
    if (text.find(" p1 ") != std::string::npos && text.find(" p2 ") != std::string::npos)
      want.insert(p.second);
  }
  EXPECT_EQ(got, want);
  EXPECT_FALSE(want.empty());

  // --top 7: highest support first, ties by pattern text.
  r = convert(dir, "decode ClosedMaxset.txt log.items --top 7");
  ASSERT_EQ(r.status, 0) << r.err;
  std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  auto top = tsv_rows(r.out);
  ASSERT_EQ(top.size(), 8u);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(top[i + 1][0], all[i].second) << i;

  // --max-items 2 with JSON and the ratio only.
  r = convert(dir, "decode ClosedMaxset.txt log.items --max-items 2 --json --dataset log.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  size_t small = 0;
  for (const auto& p : all) small += item_count(parse_pattern(p.second)) <= 2;
  EXPECT_EQ(tsv_rows(r.out).size(), small);
  EXPECT_NE(r.out.find("\"dataset_sequences\": " + std::to_string(data.size()) + "}"),
            std::string::npos);

  // A dataset other than the mined one is caught, not silently recounted.
  write_file(dir + "/other.csv", "visitor,t,page\nx,1,p1\n");
  ASSERT_EQ(convert(dir, "fromcsv other.csv other.bin --seq 1 --order 2 --item 3").status, 0);
  r = convert(dir, "decode ClosedMaxset.txt log.items --dataset other.bin --with-sequences");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("names " + std::to_string(ids.size()) + " sequences but the dataset holds 1"),
            std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  r = convert(dir, "decode ClosedMaxset.txt log.items --dataset other.bin");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("is it the dataset that was mined?"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}
