// quivrel-convert totext / tobin, and the text dataset parser behind them.
#include <gtest/gtest.h>

#include "dataset_io.h"
#include "tools_test_util.h"

using namespace tooltest;

namespace {

std::string parse_error(const std::string& line) {
  std::vector<int32_t> words;
  std::string err;
  EXPECT_FALSE(qtools::parse_text_line(line, words, err)) << line;
  EXPECT_TRUE(words.empty()) << "a rejected line must add no words: " << line;
  return err;
}

}  // namespace

TEST(ToolsTextLine, AcceptsSequencesEmptyOnesAndSkipsCommentsAndBlanks) {
  std::vector<int32_t> words;
  std::string err;
  for (const char* line : {"1 2 -1 3 -1 -2", "-2", "  7\t-1   -2  \r", "", "   ", "# note", "  # note",
                           "2147483647 -1 -2", "0 -1 -1 -2"}) {
    ASSERT_TRUE(qtools::parse_text_line(line, words, err)) << line << ": " << err;
  }
  EXPECT_EQ(words, (std::vector<int32_t>{1, 2, -1, 3, -1, -2, -2, 7, -1, -2, 2147483647, -1, -2, 0,
                                          -1, -1, -2}));
}

TEST(ToolsTextLine, RejectsMalformedLinesWithTheReason) {
  EXPECT_NE(parse_error("1 2 x -1 -2").find("'x' is not an integer"), std::string::npos);
  EXPECT_NE(parse_error("1 +2 -1 -2").find("not an integer"), std::string::npos);
  EXPECT_NE(parse_error("1 2.5 -1 -2").find("not an integer"), std::string::npos);
  EXPECT_NE(parse_error("1 - -1 -2").find("not an integer"), std::string::npos);
  EXPECT_NE(parse_error("2147483648 -1 -2").find("out of range"), std::string::npos);
  EXPECT_NE(parse_error("1 -3 -1 -2").find("invalid value -3"), std::string::npos);
  EXPECT_NE(parse_error("1 2 -1").find("does not end with -2"), std::string::npos);
  EXPECT_NE(parse_error("1 -1 -2 2 -1 -2").find("-2 before the end"), std::string::npos);
  EXPECT_NE(parse_error("-2 -2").find("-2 before the end"), std::string::npos);
  EXPECT_NE(parse_error("1 2 -2").find("-2 must follow -1"), std::string::npos);
}

TEST(ToolsBinary, WordsAreLittleEndianAndCheckedOnRead) {
  std::string bytes;
  qtools::append_le({258, -1, -2}, bytes);
  EXPECT_EQ(bytes, std::string("\x02\x01\x00\x00\xff\xff\xff\xff\xfe\xff\xff\xff", 12));

  std::string err;
  EXPECT_TRUE(qtools::check_words({-2, 1, -1, -2}, err));
  EXPECT_FALSE(qtools::check_words({1, -1}, err));  // last sequence unterminated
  EXPECT_FALSE(qtools::check_words({1, -2}, err));  // -2 right after an item
  EXPECT_FALSE(qtools::check_words({1, -1, -7, -2}, err));
}

TEST(ToolsConvert, TextBinaryTextRoundTrip) {
  const std::string dir = scratch_dir();
  write_file(dir + "/in.txt",
             "# a comment\n1 2 -1 3 -1 -2\n\n-2\n  5\t-1   -2\n0 -1 -1 2147483647 -1 -2\n");
  Outcome r = convert(dir, "tobin in.txt data.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir + "/data.bin").size(), 4u * 16);
  r = convert(dir, "totext data.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = "1 2 -1 3 -1 -2\n-2\n5 -1 -2\n0 -1 -1 2147483647 -1 -2\n";
  EXPECT_EQ(r.out, text);

  // The printed text converts back to the same bytes, also through stdin.
  r = convert(dir, "tobin - again.bin", text);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir + "/again.bin"), read_file(dir + "/data.bin"));
}

TEST(ToolsConvert, TobinSortsItemsetsAndDropsRepeats) {
  // What quivrel refuses (a code below the one before it) or reads as one
  // item (a run) comes out sorted and once: totext then tobin repairs a file.
  const std::string dir = scratch_dir();
  std::string bytes;
  qtools::append_le({3, 1, 3, 2, -1, -1, 9, 9, -1, -2, -2, 5, 0, 5, -1, -2}, bytes);
  write_file(dir + "/unsorted.bin", bytes);
  Outcome r = convert(dir, "totext unsorted.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  r = convert(dir, "tobin - sorted.bin", r.out);
  ASSERT_EQ(r.status, 0) << r.err;
  r = convert(dir, "totext sorted.bin");
  EXPECT_EQ(r.out, "1 2 3 -1 -1 9 -1 -2\n-2\n0 5 -1 -2\n");
}

TEST(ToolsConvert, TobinRejectsNamingTheLineAndLeavesNoFile) {
  const std::string dir = scratch_dir();
  struct Case {
    const char* text;
    const char* where;
  } cases[] = {
      {"1 -1 -2\n\n# c\n1 2 -2\n", "bad.txt:4: "},
      {"1 -1 -2\n1 -1 -2 3 -1 -2\n", "bad.txt:2: "},
      {"1 -1 -2\n1 -1\n", "bad.txt:2: "},
      {"oops\n", "bad.txt:1: "},
      {"1 -5 -1 -2\n", "bad.txt:1: "},
  };
  for (const Case& c : cases) {
    write_file(dir + "/bad.txt", c.text);
    const Outcome r = convert(dir, "tobin bad.txt out.bin");
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.err.rfind(c.where, 0), 0u) << "stderr: " << r.err;
    EXPECT_EQ(listing(dir), "bad.txt ") << "no output or temporary file may be left";
  }
  // Input from stdin is named "-".
  const Outcome r = convert(dir, "tobin - out.bin", "1 -1 -2\n2 -2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("-:2: ", 0), 0u) << r.err;
  EXPECT_FALSE(exists(dir + "/out.bin"));
}

TEST(ToolsConvert, TotextRejectsBrokenBinaries) {
  const std::string dir = scratch_dir();
  write_file(dir + "/odd.bin", std::string("\x01\x00\x00\x00\xff\xff", 6));
  Outcome r = convert(dir, "totext odd.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not a whole number of 32-bit words"), std::string::npos) << r.err;

  std::string bytes;
  qtools::append_le({1, -1, -2, 4, -1}, bytes);
  write_file(dir + "/cut.bin", bytes);
  r = convert(dir, "totext cut.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("does not end with -2"), std::string::npos) << r.err;

  r = convert(dir, "totext missing.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.bin: cannot open"), std::string::npos) << r.err;

  r = convert(dir, "totext");
  EXPECT_EQ(r.status, 2) << "a usage error";
}

TEST(ToolsOutputs, NoCommandOverwritesItsInputOrWritesTwoOutputsToOneFile) {
  const std::string dir = scratch_dir();
  const std::string text = "1 -1 -2\n";
  const std::string csv = "session,t,page\ns1,1,home\ns1,2,cart\n";
  write_file(dir + "/t.txt", text);
  write_file(dir + "/ev.csv", csv);
  write_file(dir + "/d.bin", std::string("\x01\0\0\0\xff\xff\xff\xff\xfe\xff\xff\xff", 12));
  const char* refused[] = {
      "tobin t.txt t.txt",
      "tobin t.txt ./t.txt",
      "fromcsv ev.csv ev.csv --seq session --order t --item page",
      "fromcsv ev.csv out.bin --seq session --order t --item page --items ev.csv",
      "fromcsv ev.csv out.bin --seq session --order t --item page --items out.bin",
      "renumber d.bin out.bin --items d.bin",
      "renumber d.bin d.bin",
  };
  for (const char* args : refused) {
    const Outcome r = convert(dir, args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find("quivrel-convert: "), std::string::npos) << args << ": " << r.err;
  }
  // Every input is as it was and no output appeared.
  EXPECT_EQ(read_file(dir + "/t.txt"), text);
  EXPECT_EQ(read_file(dir + "/ev.csv"), csv);
  EXPECT_EQ(read_file(dir + "/d.bin").size(), 12u);
  EXPECT_EQ(listing(dir), "d.bin ev.csv t.txt ");
}

TEST(ToolsOutputs, ADictionaryThatCannotBeWrittenLeavesNoNewDataset) {
  // The dictionary's place is a directory: neither output is written, and
  // an earlier out.bin stays as it was.
  const std::string dir = scratch_dir();
  write_file(dir + "/ev.csv", "session,t,page\ns1,1,home\n");
  write_file(dir + "/out.bin", "old");
  ASSERT_EQ(std::system(("mkdir '" + dir + "/out.items'").c_str()), 0);
  const Outcome r = convert(dir, "fromcsv ev.csv out.bin --seq session --order t --item page");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_file(dir + "/out.bin"), "old");
  EXPECT_EQ(listing(dir), "ev.csv out.bin out.items ");
}
