// Set-up of the projection module: which dataset files are rejected (with
// which message), and what a good file leaves behind.
#include <string>
#include <vector>

#include "test_projdb_fixture.h"

namespace {

class ProjDBInitTest : public ProjDBTest {
protected:
    // Loads `words` expecting a rejection; returns the error log, which is
    // emptied first, and leaves the module reset.
    std::string Reject(const std::vector<int>& words, int itemcount) {
        EXPECT_NE(freopen(errPath.c_str(), "w", diag.ErrorLog()), nullptr);
        std::string path = WriteData(words);
        EXPECT_EQ(AbortStatus([&] { ws.InitProjDB(path.c_str(), itemcount); }), 1);
        std::string log = ErrorLog();
        ResetModule();
        return log;
    }
    std::string Path() const { return dir + "/data.bin"; }
};

TEST_F(ProjDBInitTest, RejectsSizeNotAWholeNumberOfWords) {
    std::string path = Path();
    // Two whole words (a well-formed sequence end) and one stray byte.
    quivrel_test::WriteBytes(path, std::string("\xff\xff\xff\xff\xfe\xff\xff\xff\x07", 9));
    EXPECT_THROW(ws.InitProjDB(path.c_str(), 10), RunAbort);
    EXPECT_EQ(ErrorLog(),
              "Malformed dataset '" + path + "': size of 9 bytes is not a multiple of 4.\n");
}

TEST_F(ProjDBInitTest, RejectsEachKindOfMalformedWord) {
    EXPECT_EQ(Reject({1, -1, -2, 5, -1, -2}, 4),
              "Malformed dataset '" + Path() +
                  "': item code 5 at word 3 is above the item count 4.\n");
    EXPECT_EQ(Reject({1, -3, -1, -2}, 4),
              "Malformed dataset '" + Path() +
                  "': invalid value -3 at word 1 (only item codes, -1 and -2 may occur).\n");
    EXPECT_EQ(Reject({1, -1, -2, 1, 2, -2}, 4),
              "Malformed dataset '" + Path() +
                  "': sequence end -2 at word 5 does not follow an itemset end -1.\n");
    EXPECT_EQ(Reject({1, -1, -2, 2, -1}, 4),
              "Malformed dataset '" + Path() +
                  "': the data does not end with -2 (the last sequence is not terminated).\n");
}

TEST_F(ProjDBInitTest, ReportsOnlyTheFirstFaultInFileOrder) {
    // An invalid value comes before an item above the count, and the data is
    // also unterminated: only the first fault is reported.
    EXPECT_EQ(Reject({1, -1, -2, 2, -9, 99, -1}, 4),
              "Malformed dataset '" + Path() +
                  "': invalid value -9 at word 4 (only item codes, -1 and -2 may occur).\n");
    // A bad size is reported before any word is looked at.
    EXPECT_NE(freopen(errPath.c_str(), "w", diag.ErrorLog()), nullptr);
    std::string path = Path();
    quivrel_test::WriteBytes(path, std::string("\x63\x00\x00\x00\xf0", 5));
    EXPECT_EQ(AbortStatus([&] { ws.InitProjDB(path.c_str(), 4); }), 1);
    EXPECT_EQ(ErrorLog(),
              "Malformed dataset '" + path + "': size of 5 bytes is not a multiple of 4.\n");
}

TEST_F(ProjDBInitTest, WritesToStandardOutputWithoutErrorLog) {
    std::string path = WriteData({3, -2});
    diag.CloseErrorLog();
    ::testing::internal::CaptureStdout();
    int status = AbortStatus([&] { ws.InitProjDB(path.c_str(), 4); });
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "Malformed dataset '" + path +
                       "': sequence end -2 at word 1 does not follow an itemset end -1.\n");
}

TEST_F(ProjDBInitTest, AcceptsEmptySequencesAndEmptyItemsets) {
    // An empty sequence at the start and after another one, empty itemsets,
    // an item equal to the item count, and repeated codes.
    std::vector<int> words = {-2, 3, -1, -1, -2, -2, -1, -2, 2, 2, 3, -1, 1, -1, -2};
    EXPECT_EQ(Load(words, 3), (long long)words.size() * 4);
    EXPECT_EQ(ErrorLog(), "");
    EXPECT_EQ(data.gDatasetShape.maxItem, 3);
    EXPECT_EQ(data.gDatasetShape.sequences, 5);
    EXPECT_EQ(data.gDatasetShape.maxSeqItemWords, 4);
    // The tables have one row per code up to the largest one present, not
    // up to the item count given.
    EXPECT_EQ(data.gN_ITEMS, 4);
    EXPECT_NE(ws.inter, nullptr);
    EXPECT_NE(ws.intra, nullptr);
    EXPECT_NE(ws.inter_freq_idx, nullptr);
    EXPECT_NE(ws.intra_freq_idx, nullptr);
    EXPECT_NE(data.pDatasetMemMap, nullptr);

    ws.CloseProjDB();
    EXPECT_EQ(ws.inter, nullptr);
    EXPECT_EQ(ws.intra, nullptr);
    EXPECT_EQ(ws.inter_freq_idx, nullptr);
    EXPECT_EQ(ws.intra_freq_idx, nullptr);
    EXPECT_EQ(data.pDatasetMemMap, nullptr);
}

TEST_F(ProjDBInitTest, SizesTablesByLargestCodePresent) {
    Load({2, -1, -2}, 1000000);
    EXPECT_EQ(data.gN_ITEMS, 3);
}

// Codes up to 32767 are held in half-width words of the same values; a
// larger code, a mapped file or the forced 32-bit words keep the file's.
TEST_F(ProjDBInitTest, HalfWidthWordsExactlyWhenEveryCodeFits) {
    const std::vector<int> words = {32767, -1, 0, 7, -1, -2, -1, -2};
    Load(words, 40000);
    ASSERT_TRUE(data.HalfWords);
    EXPECT_EQ(GetStartOfMap(data.pDatasetMemMap), nullptr);  // the 32-bit words are gone
    ASSERT_EQ(data.WordsEnd<int16_t>() - data.Words<int16_t>(), (long)words.size());
    for (size_t i = 0; i < words.size(); ++i) EXPECT_EQ(data.Words<int16_t>()[i], words[i]);
    ResetModule();

    Load({32768, -1, -2}, 40000);
    EXPECT_FALSE(data.HalfWords);
    EXPECT_EQ(data.Words<int>()[0], 32768);
    ResetModule();

    std::string path = WriteData({5, -1, -2, 6, -1, -2});
    ws.InitProjDBWithLimit(path.c_str(), 9, 12);  // mapped, unless no lease can be had
    EXPECT_EQ(data.HalfWords, data.pDatasetMemMap->Snapshot);
    ResetModule();

    ProjectionStrategy full;
    full.fullWidthWords = true;
    ws.SetProjectionStrategy(full);
    Load({5, -1, -2}, 9);
    EXPECT_FALSE(data.HalfWords);
}

TEST_F(ProjDBInitTest, DataWithoutItemsHasNoTablesAndNoRecords) {
    Load({-2, -2}, 5);
    EXPECT_EQ(data.gN_ITEMS, 0);
    EXPECT_EQ(ws.inter, nullptr);
    EXPECT_EQ(ws.intra_freq_idx, nullptr);
    int count = -1;
    std::string out;
    EXPECT_EQ(FirstLevel(0.5, &count, &out), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(data.gnCustCount, 2);
    EXPECT_EQ(ws.buf_idx, nullptr);
    EXPECT_EQ(out, "\tCounting 1-Item sets ... \n");
}

TEST_F(ProjDBInitTest, ChecksEveryWordAlsoWhenMapped) {
    // Mapped, not read (limit 24 bytes, below the file's size): the bad
    // value in the last sequence is still found, and every sequence counts.
    std::string path = WriteData({1, -1, -2, 2, -7, -1, -2});
    EXPECT_EQ(AbortStatus([&] { ws.InitProjDBWithLimit(path.c_str(), 9, 24); }), 1);
    EXPECT_EQ(ErrorLog(), "Malformed dataset '" + path +
                              "': invalid value -7 at word 4 (only item codes, -1 and -2 may "
                              "occur).\n");
    ResetModule();
    path = WriteData({1, -1, -2, 2, 3, -1, -1, -2});
    EXPECT_EQ(ws.InitProjDBWithLimit(path.c_str(), 9, 24), 32);
    EXPECT_EQ(data.gDatasetShape.sequences, 2);
    EXPECT_EQ(data.gN_ITEMS, 4);
}

}  // namespace
