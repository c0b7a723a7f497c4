// quivrel-convert decode, and the quivrel-gen generator.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "dataset_io.h"
#include "decode.h"
#include "event_log.h"
#include "item_dict.h"
#include "tools_test_util.h"

using namespace tooltest;

TEST(ToolsNames, EscapesSurviveTheDictionaryAndJson) {
  const std::string odd = "a\\b\tc\nd\re";
  EXPECT_EQ(qtools::escape_name(odd), "a\\\\b\\tc\\nd\\re");
  EXPECT_EQ(qtools::unescape_name(qtools::escape_name(odd)), odd);
  EXPECT_EQ(qtools::unescape_name("C:\\x"), "C:\\x") << "an unknown escape stays as written";
  EXPECT_EQ(qtools::json_string("say \"hi\"\\\x01\n"), "\"say \\\"hi\\\"\\\\\\u0001\\n\"");
  EXPECT_EQ(qtools::json_string("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
  EXPECT_EQ(qtools::json_string("bad\xff"), "\"bad\\ufffd\"");
  EXPECT_EQ(qtools::dictionary_path_for("out/data.bin"), "out/data.items");
  EXPECT_EQ(qtools::dictionary_path_for("data"), "data.items");
}

TEST(ToolsDecode, PatternLines) {
  qtools::PatternLine p;
  std::string err;
  ASSERT_TRUE(qtools::parse_pattern_line("<(1 2)(3)>  Num= -12345 Support = 7   ItemsetNumber = 2", p, err))
      << err;
  EXPECT_EQ(p.itemsets, (std::vector<std::vector<int32_t>>{{1, 2}, {3}}));
  EXPECT_EQ(p.key, -12345);
  EXPECT_EQ(p.support, 7);
  EXPECT_EQ(p.itemset_count, 2);
  for (const char* bad : {"<()>  Num= 1 Support = 1   ItemsetNumber = 1",
                          "<(1  2)>  Num= 1 Support = 1   ItemsetNumber = 1",
                          "<(1 2>  Num= 1 Support = 1   ItemsetNumber = 1",
                          "<(1)>  Num= 1 Support = x   ItemsetNumber = 1",
                          "<(1)>  Num= 1 Support = 1", "<(-1)>  Num= 1 Support = 1   ItemsetNumber = 1",
                          "<(1)>  Num= 1 Support = 1   ItemsetNumber = 1 extra"}) {
    EXPECT_FALSE(qtools::parse_pattern_line(bad, p, err)) << bad;
  }
}

namespace {

// A result file in quivrel's layout, with item codes of the dictionary that
// the CSV below produces: 0 home, 1 "cart, big", 2 "quote \"q\"", 3 "two\nlines", 4 café.
const char* const kResult =
    "CLOSED\n"
    "<(0)(1 2)>  Num= 5 Support = 2   ItemsetNumber = 2\n"
    "<(3)>  Num= 7 Support = 3   ItemsetNumber = 1\n"
    "<(0 4)>  Num= 9 Support = 3   ItemsetNumber = 1\n"
    "0.010 seconds (\n"
    "Total running time)\n"
    "\n"
    "Total # of TreeNode: 3\n"
    "Closed/Max 1 : 1\n"
    "\n"
    "Total of 4 large items.\n";

const char* const kEvents =
    "user,when,what\n"
    "u1,1,home\n"
    "u1,2,\"cart, big\"\n"
    "u2,1,\"quote \"\"q\"\"\"\n"
    "u2,3,\"two\n"
    "lines\"\n"
    "u2,3,caf\xc3\xa9\n";

}  // namespace

TEST(ToolsDecode, NamesInSameNamesOut) {
  const std::string dir = scratch_dir();
  write_file(dir + "/ev.csv", kEvents);
  Outcome r = convert(dir, "fromcsv ev.csv ev.bin --seq user --order when --item what");
  ASSERT_EQ(r.status, 0) << r.err;
  write_file(dir + "/ClosedMaxset.txt", kResult);

  r = convert(dir, "decode ClosedMaxset.txt ev.items --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"pattern\": [[\"home\"], [\"cart, big\", \"quote \\\"q\\\"\"]], \"support\": 2, \"itemsets\": 2}\n"
            "{\"pattern\": [[\"two\\nlines\"]], \"support\": 3, \"itemsets\": 1}\n"
            "{\"pattern\": [[\"home\", \"caf\xc3\xa9\"]], \"support\": 3, \"itemsets\": 1}\n");

  r = convert(dir, "decode ClosedMaxset.txt ev.items");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "pattern\tsupport\titemsets\n"
            "(home)(cart, big quote \"q\")\t2\t2\n"
            "(two\\nlines)\t3\t1\n"
            "(home caf\xc3\xa9)\t3\t1\n");

  // Filters: at least two items; highest support first, file order among equals.
  r = convert(dir, "decode ClosedMaxset.txt ev.items --json --min-items 2 --sort support");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"pattern\": [[\"home\", \"caf\xc3\xa9\"]], \"support\": 3, \"itemsets\": 1}\n"
            "{\"pattern\": [[\"home\"], [\"cart, big\", \"quote \\\"q\\\"\"]], \"support\": 2, \"itemsets\": 2}\n");
  r = convert(dir, "decode - ev.items --sort support", kResult);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 16), "(two\\nlines)\t3\t1");
}

TEST(ToolsDecode, MissingCodesAndBrokenLinesAreErrors) {
  const std::string dir = scratch_dir();
  write_file(dir + "/d.items", "0\thome\n1\tcart\n");
  write_file(dir + "/r.txt", "CLOSED\n<(0)>  Num= 1 Support = 4   ItemsetNumber = 1\n"
                              "<(1)(17)>  Num= 2 Support = 3   ItemsetNumber = 2\n");
  Outcome r = convert(dir, "decode r.txt d.items");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("item code 17 is not in the dictionary d.items"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("r.txt:3"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "") << "nothing is printed when a code is missing";

  write_file(dir + "/r.txt", "CLOSED\n<(0)>  Num= 1 Support = 4\n");
  r = convert(dir, "decode r.txt d.items --json");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("r.txt:2: ", 0), 0u) << r.err;

  write_file(dir + "/bad.items", "0\thome\n0\tagain\n");
  r = convert(dir, "decode r.txt bad.items");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("bad.items:2: item code 0 appears twice", 0), 0u) << r.err;

  r = convert(dir, "decode r.txt d.items --sort name");
  EXPECT_EQ(r.status, 2) << "only 'support' and 'file' are sort orders";
}

TEST(ToolsGen, SameSeedSameFileAndWellFormed) {
  const std::string dir = scratch_dir();
  const std::string args = "-n 300 -i 50 -s 6 -t 2 -p 40 -q 100 -r 42";
  Outcome r1 = run(dir, QUIVREL_GEN_BIN, "a.bin " + args);
  Outcome r2 = run(dir, QUIVREL_GEN_BIN, "b.bin " + args);
  Outcome r3 = run(dir, QUIVREL_GEN_BIN, "c.bin " + args + "3");
  ASSERT_EQ(r1.status, 0) << r1.err;
  ASSERT_EQ(r2.status, 0) << r2.err;
  ASSERT_EQ(r3.status, 0) << r3.err;
  EXPECT_EQ(r1.out, "49\n") << "the largest item code";
  const std::string a = read_file(dir + "/a.bin");
  EXPECT_EQ(a, read_file(dir + "/b.bin"));
  EXPECT_NE(a, read_file(dir + "/c.bin")) << "another seed, another file";

  std::vector<int32_t> words;
  std::string err;
  ASSERT_TRUE(qtools::read_binary(dir + "/a.bin", words, err)) << err;
  ASSERT_TRUE(qtools::check_words(words, err)) << err;
  // Every sequence and itemset non-empty, items ascending without repeats,
  // codes within the item range.
  long sequences = 0, itemsets = 0, items = 0;
  int32_t prev = -2;  // previous word; the data start as if after a sequence
  for (int32_t w : words) {
    if (w >= 0) {
      ASSERT_LT(w, 50);
      if (prev >= 0) {
        ASSERT_LT(prev, w) << "itemset not strictly ascending";
      }
      ++items;
    } else if (w == -1) {
      ASSERT_GE(prev, 0) << "empty itemset";
      ++itemsets;
    } else {
      ASSERT_EQ(prev, -1) << "empty sequence";
      ++sequences;
    }
    prev = w;
  }
  EXPECT_EQ(sequences, 300);
  // The averages follow the parameters loosely (patterns overshoot a little).
  EXPECT_NEAR(static_cast<double>(itemsets) / sequences, 6.0, 1.0);
  EXPECT_NEAR(static_cast<double>(items) / itemsets, 2.0, 0.8);
}

TEST(ToolsGen, RejectsParametersOutOfRange) {
  const std::string dir = scratch_dir();
  for (const char* args : {"x.bin -c 1.5", "x.bin -i 0", "x.bin -s 0.5", "x.bin -n -1", "x.bin -n ten"}) {
    const Outcome r = run(dir, QUIVREL_GEN_BIN, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_FALSE(exists(dir + "/x.bin")) << args;
  }
  EXPECT_EQ(run(dir, QUIVREL_GEN_BIN, "--help").status, 0);
}

TEST(ToolsDecode, ExampleEventLogNamesComeBackUnchanged) {
  // Every page name of the shipped example goes through fromcsv and decode
  // and comes out as it went in, once each.
  const std::string dir = scratch_dir();
  const std::string csv = std::string(QUIVREL_SOURCE_DIR) + "/data/example-events.csv";
  Outcome r = convert(dir, "fromcsv '" + csv + "' ex.bin --seq session --order timestamp --item page");
  ASSERT_EQ(r.status, 0) << r.err;
  const int largest = std::stoi(r.out);

  std::ifstream in(csv);
  std::set<std::string> pages;
  std::string err;
  bool header = true;
  ASSERT_TRUE(qtools::read_csv(in, "example", ',', [&](qtools::CsvRecord& rec) {
    if (!header) pages.insert(rec.fields.at(2));
    header = false;
    return true;
  }, err)) << err;
  ASSERT_EQ(static_cast<size_t>(largest) + 1, pages.size());
  EXPECT_EQ(pages.count("Laptops, 15 inch"), 1u);

  // A result file naming every code once.
  std::string result = "CLOSED\n";
  for (int code = 0; code <= largest; ++code) {
    result += "<(" + std::to_string(code) + ")>  Num= 1 Support = 1   ItemsetNumber = 1\n";
  }
  write_file(dir + "/ClosedMaxset.txt", result);
  r = convert(dir, "decode ClosedMaxset.txt ex.items --json");
  ASSERT_EQ(r.status, 0) << r.err;
  std::set<std::string> decoded;
  std::istringstream lines(r.out);
  std::string line;
  const std::string head = "{\"pattern\": [[\"", tail = "\"]], \"support\": 1, \"itemsets\": 1}";
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    ASSERT_GT(line.size(), head.size() + tail.size());
    ASSERT_EQ(line.substr(line.size() - tail.size()), tail) << line;
    decoded.insert(line.substr(head.size(), line.size() - head.size() - tail.size()));
  }
  EXPECT_EQ(decoded, pages);
}
