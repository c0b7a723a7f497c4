// Debugging dumps of the projection module.
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "test_projdb_fixture.h"

namespace {

class ProjDBDumpTest : public ProjDBTest {
protected:
    // Runs Test() inside the scratch directory; returns "Test.txt".
    std::string RunTest(const std::vector<int>& words) {
        Load(words);
        char cwd[PATH_MAX];
        EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
        EXPECT_EQ(chdir(dir.c_str()), 0);
        int status = AbortStatus([this] { ws.Test(); });
        EXPECT_EQ(chdir(cwd), 0);
        EXPECT_EQ(status, 0);
        return quivrel_test::ReadFile(dir + "/Test.txt");
    }
};

TEST_F(ProjDBDumpTest, TestWritesTheDataAndItsCounts) {
    EXPECT_EQ(RunTest({1, 2, -1, 3, -1, -2}),
              " 1  2  |  3  | \n"
              "Number of records = 1\n"
              "Number of ItemSets = 2\n"
              "Number of Items = 3\n"
              "Average number of ItemSets in a recored = 2\n"
              "Average number of Items in an itemset = 1\n");
}

TEST_F(ProjDBDumpTest, TestWritesEveryWordAndEmptyParts) {
    // Runs are not merged; an empty itemset and an empty sequence show.
    EXPECT_EQ(RunTest({4, -1, -2, 5, 5, -1, -1, -2, -2}),
              " 4  | \n"
              " 5  5  |  | \n"
              "\n"
              "Number of records = 3\n"
              "Number of ItemSets = 3\n"
              "Number of Items = 3\n"
              "Average number of ItemSets in a recored = 1\n"
              "Average number of Items in an itemset = 1\n");
}

TEST_F(ProjDBDumpTest, TestShowsZeroForAnAverageOverNothing) {
    EXPECT_EQ(RunTest({-2, -2}),
              "\n\n"
              "Number of records = 2\n"
              "Number of ItemSets = 0\n"
              "Number of Items = 0\n"
              "Average number of ItemSets in a recored = 0\n"
              "Average number of Items in an itemset = 0\n");
}

TEST_F(ProjDBDumpTest, PrintProjDBsShowsTheFirstRecordOnly) {
    ::testing::internal::CaptureStdout();
    ws.PrintProjDBs(nullptr, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nProjected databases:\n");

    int pattern[] = {1, 2, -1, 3};
    PROJ_DB records[2] = {};
    records[0].m_nPatLen = 4;
    records[0].m_pnPat = pattern;
    records[0].NumOfItems = 5;
    records[0].m_nSupport = 1;
    records[0].maxSupport = 2;
    records[1].m_nPatLen = 1;
    records[1].m_nPatItem = 9;
    ws.n_total_mem = 40;
    ws.n_max_mem = 64;
    ::testing::internal::CaptureStdout();
    ws.PrintProjDBs(records, 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\nProjected databases:\n"
              "Proj. DB. for (1 2) (3\n"
              " NumOfItems = 5 m_nSupport= 1  maxSupport= 2 totalmem= 40 maxmem= 64\n");

    ::testing::internal::CaptureStdout();
    ws.PrintProjDBs(records + 1, 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\nProjected databases:\n"
              "Proj. DB. for (9\n"
              " NumOfItems = 0 m_nSupport= 0  maxSupport= 0 totalmem= 40 maxmem= 64\n");
}

TEST_F(ProjDBDumpTest, OutputPatternCountsItemsNotWords) {
    ws.gnArrLargeCount = (int*)calloc(32, sizeof(int));
    ws.gMAX_PAT_LEN = 32;
    int pattern[] = {1, -1, 2, 3};
    EXPECT_EQ(ws.OutputPattern(pattern, 4), 1);
    EXPECT_EQ(ws.gnArrLargeCount[3], 1);
    EXPECT_EQ(ws.OutputPattern(pattern, 0), 1);
    EXPECT_EQ(ws.gnArrLargeCount[0], 1);
}

}  // namespace
