// Exactness: on small random datasets the printed patterns and supports must
// be exactly the closed frequent patterns that a brute-force miner finds.
// The datasets include runs of equal codes, empty itemsets and empty
// sequences.  The real binary is checked as it runs; then the miner runs
// in-process once per forced way of counting and filling a projection, so
// that every way is checked, not only the one that small data selects.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/1LPrefixSpan.h"
#include "tests/integration/random_cases.h"
#include "tests/integration/scratch_run.h"
#include "tests/unit/test_util.h"
#include "tests/oracle/closed_oracle.h"
#include "tree/ClosedSeqTree.h"

namespace {

using closed_oracle::Pattern;
using quivrel_test::MakeTempDir;
using quivrel_test::ReadFile;
using quivrel_test::RemoveDir;
using quivrel_test::WriteDataset;

TEST(BruteForce, BinaryPrintsExactlyTheClosedSet) {
    std::string dir = MakeTempDir("brute");
    ASSERT_FALSE(dir.empty());
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; round++) {
        RandomCase c = MakeCase(rng, round);
        WriteDataset(dir + "/data.bin", c.words);
        char cmd[1024];
        snprintf(cmd, sizeof cmd, "cd '%s' && '%s' data.bin %g %d > stdout.txt 2>&1", dir.c_str(),
                 QUIVREL_BIN_PATH, c.support, c.maxItem);
        ASSERT_EQ(system(cmd), 0) << DatasetText(c.words);
        ASSERT_EQ(CompareWithClosedSet(ReadFile(dir + "/ClosedMaxset.txt"), c), "")
            << "round " << round;
    }
    RemoveDir(dir);
}

// Whole runs in-process with a forced projection strategy.
class ForcedStrategy : public ScratchRunTest {
protected:
    ForcedStrategy() : ScratchRunTest("brute-strategy") {}
    // Mines random datasets of all three shapes and checks each result
    // against the closed set, with the data in half-width words (their
    // codes are small) and again in 32-bit words.
    void CheckRandomRuns(ProjectionStrategy strategy, unsigned seed) {
        std::mt19937 rng(seed);
        for (int round = 0; round < 150; round++) {
            RandomCase c = MakeCase(rng, round);
            WriteDataset("data.bin", c.words);
            std::string support = std::to_string(c.support), items = std::to_string(c.maxItem);
            for (bool fullWidth : {false, true}) {
                strategy.fullWidthWords = fullWidth;
                run.proj.SetProjectionStrategy(strategy);
                char prog[] = "quivrel", data[] = "data.bin";
                char* argv[] = {prog, data, support.data(), items.data(), nullptr};
                testing::internal::CaptureStdout();
                int status = QuivrelMain(4, argv, run);
                testing::internal::GetCapturedStdout();
                ASSERT_EQ(status, 0) << DatasetText(c.words);
                ASSERT_EQ(CompareWithClosedSet(ReadFile("ClosedMaxset.txt"), c), "")
                    << "round " << round << (fullWidth ? ", 32-bit words" : ", 16-bit words");
                ResetRun(run);
            }
        }
    }
};

using S = ProjectionStrategy;

TEST_F(ForcedStrategy, TableCountsTableFill) {
    S s;
    s.count = S::kCountTable;
    s.fill = S::kFillTables;
    CheckRandomRuns(s, 1);
}

TEST_F(ForcedStrategy, MaskCountsFillByItemWithTable) {
    S s;
    s.count = S::kCountMask;
    s.fill = S::kFillByItem;
    s.wholeIntra = 1;
    CheckRandomRuns(s, 2);
}

TEST_F(ForcedStrategy, CandidateMarksScanFillNotedIntraCodes) {
    S s;
    s.count = S::kCountMarks;
    s.fill = S::kFillScan;
    s.wholeIntra = -1;
    CheckRandomRuns(s, 3);
}

TEST_F(ForcedStrategy, AllCodesScanFillSequenceSearch) {
    S s;
    s.count = S::kCountAllCodes;
    s.fill = S::kFillScan;
    s.wholeIntra = 1;
    s.ignoreSeqHints = true;
    CheckRandomRuns(s, 4);
}

TEST_F(ForcedStrategy, NoTablesFillByItemOneRecordPerBatch) {
    S s;
    s.noTables = true;
    s.firstLevelBudget = 1;
    s.count = S::kCountMask;
    s.fill = S::kFillByItem;
    s.ignoreSeqHints = true;
    CheckRandomRuns(s, 5);
}

// The walks four words at a time, as on a CPU without AVX2: the walk of
// several items per rest (no tables), the search of one item per rest
// (with the table) and the first level's walk.
TEST_F(ForcedStrategy, FourWordComparesFillByItem) {
    S s;
    s.narrowCompares = true;
    s.noTables = true;
    s.fill = S::kFillByItem;
    CheckRandomRuns(s, 7);
    s.noTables = false;
    CheckRandomRuns(s, 8);
}

// Few candidates counted by compares: eight words at a time with the
// tables (where the CPU has AVX2), four at a time without them.  Rests near
// the data's start are shorter than a group before them.
TEST_F(ForcedStrategy, CandidateComparesOnBothWidths) {
    S s;
    s.count = S::kCountCompares;
    s.fill = S::kFillScan;
    CheckRandomRuns(s, 9);
    s.narrowCompares = true;
    s.noTables = true;
    CheckRandomRuns(s, 10);
}

// Every code counted by the in-itemset pass as it notes each rest (no
// tables), on itemsets of one item and of several.
TEST_F(ForcedStrategy, CountsInTheInItemsetPass) {
    S s;
    s.noTables = true;
    s.count = S::kCountInItemsetPass;
    CheckRandomRuns(s, 11);
    s.generalItemsets = true;
    s.ignoreSeqHints = true;
    CheckRandomRuns(s, 12);
}

TEST_F(ForcedStrategy, GeneralScansOnEveryShape) {
    S s;
    s.generalItemsets = true;
    s.count = S::kCountMarks;
    s.fill = S::kFillScan;
    CheckRandomRuns(s, 6);
}

}  // namespace
