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

struct RandomCase {
    std::vector<int> words;
    int maxItem;
    double support;
};

// Three shapes of small data over a handful of codes, by `round`: a few
// sequences; the same with one item per itemset (the shape that the
// projection has shortcuts for); many sequences, half of them empty, so that
// the entries of a projection lie many sequences apart.
RandomCase MakeCase(std::mt19937& rng, int round) {
    static const double supports[] = {0.3, 0.5, 0.7, 1.0};
    const bool oneItemPerItemset = round % 3 == 1;
    const bool spread = round % 3 == 2;
    RandomCase c;
    c.maxItem = 2 + (int)(rng() % 4);
    c.support = supports[rng() % 4] * (spread ? 0.5 : 1.0);
    int sequences = spread ? 10 + (int)(rng() % 15) : 2 + (int)(rng() % 6);
    for (int s = 0; s < sequences; s++) {
        bool empty = spread ? rng() % 2 == 0 : rng() % 12 == 0;
        int itemsets = empty ? 0 : 1 + (int)(rng() % 5);
        for (int i = 0; i < itemsets; i++) {
            if (rng() % 15 != 0) {  // else an empty itemset
                std::set<int> items;
                int k = oneItemPerItemset ? 1 : 1 + (int)(rng() % 3);
                for (int j = 0; j < k; j++) items.insert((int)(rng() % (c.maxItem + 1)));
                for (int item : items) {
                    c.words.push_back(item);
                    if (!oneItemPerItemset && rng() % 6 == 0) c.words.push_back(item);  // a run
                }
            }
            c.words.push_back(-1);
        }
        c.words.push_back(-2);
    }
    return c;
}

std::string DatasetText(const std::vector<int>& words) {
    std::ostringstream o;
    for (int w : words) o << w << (w == -2 ? "\n" : " ");
    return o.str();
}

// Empty when the pattern lines of `result` are exactly the closed set of the
// dataset with true supports and itemset counts, else what differs.
std::string CompareWithClosedSet(const std::string& result, const RandomCase& c) {
    std::vector<int32_t> words(c.words.begin(), c.words.end());
    closed_oracle::Dataset db = closed_oracle::FromWords(words);
    std::map<Pattern, int> truth = closed_oracle::ClosedPatterns(db, c.support * (double)db.size());

    std::ostringstream diff;
    std::map<Pattern, int> printed;
    std::istringstream in(result);
    std::string line;
    while (std::getline(in, line)) {
        Pattern p;
        int support = 0, itemsets = 0;
        if (!closed_oracle::ParseResultLine(line, p, support, itemsets)) continue;
        if (itemsets != (int)p.size()) diff << "wrong itemset count: " << line << "\n";
        if (!printed.emplace(p, support).second) diff << "printed twice: " << line << "\n";
    }
    for (const auto& [p, support] : printed) {
        auto it = truth.find(p);
        if (it == truth.end())
            diff << "not closed: " << closed_oracle::Text(p) << " " << support << "\n";
        else if (it->second != support)
            diff << "support of " << closed_oracle::Text(p) << ": " << support << ", truth "
                 << it->second << "\n";
    }
    for (const auto& [p, support] : truth)
        if (printed.count(p) == 0) diff << "missing: " << closed_oracle::Text(p) << " " << support << "\n";
    if (diff.str().empty()) return "";
    return diff.str() + "support " + std::to_string(c.support) + ", dataset:\n" +
           DatasetText(c.words);
}

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
    // against the closed set.
    void CheckRandomRuns(const ProjectionStrategy& strategy, unsigned seed) {
        run.proj.SetProjectionStrategy(strategy);
        std::mt19937 rng(seed);
        for (int round = 0; round < 150; round++) {
            RandomCase c = MakeCase(rng, round);
            WriteDataset("data.bin", c.words);
            std::string support = std::to_string(c.support), items = std::to_string(c.maxItem);
            char prog[] = "quivrel", data[] = "data.bin";
            char* argv[] = {prog, data, support.data(), items.data(), nullptr};
            testing::internal::CaptureStdout();
            int status = QuivrelMain(4, argv, run);
            testing::internal::GetCapturedStdout();
            ASSERT_EQ(status, 0) << DatasetText(c.words);
            ASSERT_EQ(CompareWithClosedSet(ReadFile("ClosedMaxset.txt"), c), "") << "round " << round;
            ResetRun(run);
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

TEST_F(ForcedStrategy, GeneralScansOnEveryShape) {
    S s;
    s.generalItemsets = true;
    s.count = S::kCountMarks;
    s.fill = S::kFillScan;
    CheckRandomRuns(s, 6);
}

}  // namespace
