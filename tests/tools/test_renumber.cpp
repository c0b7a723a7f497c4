// quivrel-convert renumber: dense item codes, their dictionary, and quivrel's
// results on the renumbered dataset.
#include <gtest/gtest.h>

#include <climits>

#include "dataset_io.h"
#include "renumber.h"
#include "tools_test_util.h"

using namespace tooltest;

namespace {

void write_words(const std::string& path, const std::vector<int32_t>& words) {
  std::string bytes;
  qtools::append_le(words, bytes);
  write_file(path, bytes);
}

std::vector<int32_t> read_words(const std::string& path) {
  std::vector<int32_t> words;
  std::string err;
  EXPECT_TRUE(qtools::read_binary(path, words, err)) << err;
  return words;
}

}  // namespace

TEST(ToolsRenumber, RanksCodesAscendingAndKeepsItemsetOrderAndRuns) {
  // Codes at both ends of the range, a run of equal codes, empty itemsets
  // and sequences; every itemset ascending.
  std::vector<int32_t> words = {0,  7, 7, INT32_MAX, -1, -1, -2, -2, 2000000000, -1,
                                5, 2000000000, -1, -2};
  const std::vector<int32_t> codes = qtools::distinct_codes(words);
  EXPECT_EQ(codes, (std::vector<int32_t>{0, 5, 7, 2000000000, INT32_MAX}));
  qtools::renumber_words(words, codes);
  EXPECT_EQ(words, (std::vector<int32_t>{0, 2, 2, 4, -1, -1, -2, -2, 3, -1, 1, 3, -1, -2}));
  EXPECT_EQ(qtools::renumber_dictionary(codes),
            "0\t0\n1\t5\n2\t7\n3\t2000000000\n4\t2147483647\n");

  std::vector<int32_t> none = {-2, -2};
  EXPECT_TRUE(qtools::distinct_codes(none).empty());
  EXPECT_EQ(qtools::renumber_dictionary({}), "");
}

TEST(ToolsRenumber, SparseCodesBecomeDenseWithTheirDictionary) {
  const std::string dir = scratch_dir();
  write_words(dir + "/sparse.bin", {2000000000, -1, 7, -1, -2, 5, 2000000000, -1, -2, -2});
  Outcome r = convert(dir, "renumber sparse.bin dense.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2\n") << "the largest new code";
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_words(dir + "/dense.bin"),
            (std::vector<int32_t>{2, -1, 1, -1, -2, 0, 2, -1, -2, -2}));
  EXPECT_EQ(read_file(dir + "/dense.items"), "0\t5\n1\t7\n2\t2000000000\n");

  // --items chooses the dictionary.
  r = convert(dir, "renumber sparse.bin other.bin --items old-codes.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir + "/other.bin"), read_file(dir + "/dense.bin"));
  EXPECT_EQ(read_file(dir + "/old-codes.txt"), read_file(dir + "/dense.items"));
  EXPECT_EQ(listing(dir), "dense.bin dense.items old-codes.txt other.bin sparse.bin ");

  // A dataset without items: no codes, an empty dictionary and a warning.
  write_words(dir + "/empty.bin", {-2, -2});
  r = convert(dir, "renumber empty.bin e.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n");
  EXPECT_NE(r.err.find("warning: no item codes"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir + "/e.items"), "");
}

TEST(ToolsRenumber, DecodeGivesBackTheOldCodes) {
  const std::string dir = scratch_dir();
  write_words(dir + "/in.bin", {900, 2000000000, -1, 31, -1, -2, 31, -1, 900, -1, -2});
  Outcome r = convert(dir, "renumber in.bin out.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out, "2\n");
  // A result file in quivrel's layout, written with the new codes.
  write_file(dir + "/ClosedMaxset.txt",
             "CLOSED\n"
             "<(1 2)(0)>  Num= 3 Support = 1   ItemsetNumber = 2\n"
             "<(0)(1)>  Num= 9 Support = 2   ItemsetNumber = 2\n");
  r = convert(dir, "decode ClosedMaxset.txt out.items");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "pattern\tsupport\titemsets\n"
            "(900 2000000000)(31)\t1\t2\n"
            "(31)(900)\t2\t2\n");
}

TEST(ToolsRenumber, MalformedInputIsRejectedWithoutOutput) {
  const std::string dir = scratch_dir();
  write_file(dir + "/odd.bin", std::string("\x01\x00\x00\x00\xff\xff", 6));
  write_words(dir + "/cut.bin", {1, -1, -2, 4, -1});
  write_words(dir + "/neg.bin", {1, -3, -1, -2});
  write_words(dir + "/noend.bin", {1, 2, -2});
  // An earlier good result must survive a failed run unchanged.
  write_file(dir + "/out.bin", "old");
  struct Case {
    const char* file;
    const char* message;
  } cases[] = {
      {"odd.bin", "odd.bin: size 6 bytes is not a whole number of 32-bit words"},
      {"cut.bin", "cut.bin: the last sequence does not end with -2"},
      {"neg.bin", "neg.bin: word 1: invalid value -3"},
      {"noend.bin", "noend.bin: word 2: -2 must follow -1 or stand alone"},
      {"missing.bin", "missing.bin: cannot open"},
  };
  const std::string before = listing(dir);
  for (const Case& c : cases) {
    const Outcome r = convert(dir, std::string("renumber ") + c.file + " out.bin");
    EXPECT_EQ(r.status, 1) << c.file;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.file;
    EXPECT_EQ(listing(dir), before) << "no output, dictionary or temporary file may be left";
    EXPECT_EQ(read_file(dir + "/out.bin"), "old");
  }

  // Neither output may overwrite the input, nor the dictionary the dataset
  // being written.
  write_words(dir + "/good.bin", {3, -1, -2});
  Outcome r = convert(dir, "renumber good.bin new.bin --items new.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("new.bin: is also the output new.bin"), std::string::npos) << r.err;
  r = convert(dir, "renumber good.bin new.bin --items ./good.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("./good.bin: is the input good.bin; refusing"), std::string::npos) << r.err;
  r = convert(dir, "renumber good.bin ./good.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quivrel-convert: ./good.bin: is the input good.bin; refusing to overwrite it\n");
  EXPECT_FALSE(exists(dir + "/good.items")) << "no dictionary either";
  EXPECT_EQ(read_words(dir + "/good.bin"), (std::vector<int32_t>{3, -1, -2}));
  EXPECT_FALSE(exists(dir + "/new.bin"));

  EXPECT_EQ(convert(dir, "renumber good.bin").status, 2) << "a usage error";
}

TEST(ToolsRenumber, QuivrelFindsThePatternsOfTheOriginalUnderTheNewNames) {
  // A dense dataset shifted to the codes 100..104; mined as it is and
  // renumbered, the decoded patterns, supports and itemset counts agree.
  const std::string dir = scratch_dir();
  write_file(dir + "/shifted.txt",
             "100 102 -1 103 -1 -2\n"
             "100 -1 102 103 -1 104 -1 -2\n"
             "101 -1 100 102 -1 103 -1 -2\n"
             "100 102 -1 104 -1 -2\n");
  ASSERT_EQ(convert(dir, "tobin shifted.txt shifted.bin").status, 0);
  Outcome r = convert(dir, "renumber shifted.bin dense.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out, "4\n");
  // The original codes name themselves.
  std::string identity;
  for (int code = 100; code <= 104; ++code) {
    identity += std::to_string(code) + "\t" + std::to_string(code) + "\n";
  }
  write_file(dir + "/shifted.items", identity);

  ASSERT_EQ(run(dir, "/bin/sh", "-c 'mkdir a b'").status, 0);
  r = run(dir + "/a", QUIVREL_BIN, "../shifted.bin 0.5 104");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(dir + "/b", QUIVREL_BIN, "../dense.bin 0.5 4");
  ASSERT_EQ(r.status, 0) << r.err;

  const Outcome original = convert(dir, "decode a/ClosedMaxset.txt shifted.items");
  const Outcome renumbered = convert(dir, "decode b/ClosedMaxset.txt dense.items");
  ASSERT_EQ(original.status, 0) << original.err;
  ASSERT_EQ(renumbered.status, 0) << renumbered.err;
  EXPECT_NE(original.out.find("(100 102)(103)\t2\t2\n"), std::string::npos) << original.out;
  EXPECT_EQ(renumbered.out, original.out);
}
