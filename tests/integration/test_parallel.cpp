// Threads and partitions: with any number of threads, and with a run split
// into partitions and merged, the result is exactly the brute-force closed
// set; the threaded order never depends on timing.
#include <gtest/gtest.h>

#include <cstdlib>

#include <memory>
#include <string>
#include <vector>

#include "driver/1LPrefixSpan.h"
#include "driver/PartFile.h"
#include "driver/TaskPlan.h"
#include "tests/integration/random_cases.h"
#include "tests/integration/scratch_run.h"

namespace {

using quivrel_test::ReadFile;
using quivrel_test::WriteDataset;

// Every first-level task is split into its children's tasks while alive.
struct ForcedSplit {
    ForcedSplit() { setenv("QUIVREL_SPLIT_SHARE", "0", 1); }
    ~ForcedSplit() { unsetenv("QUIVREL_SPLIT_SHARE"); }
};

// Every expandable first-level record is a batch of its own while alive.
struct BatchPerRecord {
    BatchPerRecord() { setenv("QUIVREL_FIRST_LEVEL_BUDGET", "1", 1); }
    ~BatchPerRecord() { unsetenv("QUIVREL_FIRST_LEVEL_BUDGET"); }
};

class Parallel : public ScratchRunTest {
protected:
    Parallel() : ScratchRunTest("parallel") {}

    // One in-process command line; the run is reset afterwards.
    int Quivrel(std::vector<std::string> args) {
        args.insert(args.begin(), "quivrel");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        int status = QuivrelMain((int)args.size(), argv.data(), run);
        testing::internal::GetCapturedStdout();
        ResetRun(run);
        return status;
    }

    // The pattern lines of a result file, in file order.
    static std::string PatternLines(const std::string& text) {
        std::string lines;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            if (text[at] == '<') lines += text.substr(at, end - at + 1);
            at = end + 1;
        }
        return lines;
    }
};

TEST_F(Parallel, ThreadsAndMergedPartitionsGiveTheClosedSet) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 240; round++) {
        RandomCase c = MakeCase(rng, round);
        WriteDataset("data.bin", c.words);
        auto truth = ClosedSetOf(c);
        std::string support = std::to_string(c.support), items = std::to_string(c.maxItem);
        std::string oneThreadOrder;
        for (int n : {1, 2, 3, 8}) {
            ASSERT_EQ(Quivrel({"--quiet", "--threads", std::to_string(n), "data.bin", support,
                               items}),
                      0);
            std::string result = ReadFile("ClosedMaxset.txt");
            ASSERT_EQ(CompareWithClosedSet(result, c, truth), "")
                << "round " << round << ", " << n << " threads";
            // Every run lists the patterns in the order of one thread.
            if (n == 1) oneThreadOrder = PatternLines(result);
            if (n > 1) {
                ASSERT_TRUE(PatternLines(result) == oneThreadOrder) << "round " << round;
            }
        }
        // Split deeper on 2 and 8 threads; then a batch per first-level
        // record, whole and split.
        for (int variant = 0; variant < 4; variant++) {
            int n = variant % 2 ? 8 : 2;
            std::unique_ptr<ForcedSplit> split(variant != 2 ? new ForcedSplit : nullptr);
            std::unique_ptr<BatchPerRecord> batches(variant >= 2 ? new BatchPerRecord : nullptr);
            ASSERT_EQ(Quivrel({"--quiet", "--threads", std::to_string(n), "data.bin", support,
                               items}),
                      0);
            std::string result = ReadFile("ClosedMaxset.txt");
            ASSERT_EQ(CompareWithClosedSet(result, c, truth), "")
                << "round " << round << ", " << n << " threads, variant " << variant;
            ASSERT_TRUE(PatternLines(result) == oneThreadOrder)
                << "round " << round << ", variant " << variant;
        }
        for (int m : {1, 2, 5}) {
            std::vector<std::string> merge = {"merge", "merged.txt"};
            for (int k = m; k >= 1; k--) {  // any order of the parts
                std::string part = std::to_string(k) + "/" + std::to_string(m);
                ASSERT_EQ(Quivrel({"--quiet", "--part", part, "--threads", "2", "data.bin",
                                   support, items}),
                          0);
                merge.push_back(PartFileName(k, m));
            }
            ASSERT_EQ(Quivrel(merge), 0) << ReadFile("error.tmp");
            std::string merged = ReadFile("merged.txt");
            ASSERT_EQ(CompareWithClosedSet(merged, c, truth), "")
                << "round " << round << ", " << m << " parts";
            ASSERT_TRUE(PatternLines(merged) == oneThreadOrder) << "round " << round;
        }
    }
}

// 99 first-level items, many tasks of unequal size on 8 threads.
TEST_F(Parallel, EightThreadsGiveTheSameFileEveryTime) {
    std::string sample = std::string(QUIVREL_SOURCE_DIR) + "/data/sample.bin";
    std::string firstOf[3];
    double memoryOf[3] = {0, 0, 0};
    for (int i = 0; i < 42; i++) {
        // Whole first-level tasks, tasks split deeper, and split tasks in a
        // batch per first-level record, in turn.
        std::unique_ptr<ForcedSplit> split(i % 3 ? new ForcedSplit : nullptr);
        std::unique_ptr<BatchPerRecord> batches(i % 3 == 2 ? new BatchPerRecord : nullptr);
        std::string& first = firstOf[i % 3];
        ASSERT_EQ(Quivrel({"--quiet", "--threads", "8", sample, "0.04", "99"}), 0);
        std::string result = ReadFile("ClosedMaxset.txt");
        std::string lines = PatternLines(result);
        // Everything but the time lines.
        std::string rest = result.substr(result.find("Total # of TreeNode"));
        rest = rest.substr(0, rest.rfind("\n", rest.size() - 2));
        if (i < 3) {
            first = lines + rest;
            ASSERT_GT(lines.size(), 1000u);
            size_t at = result.find("Maximum memory usage: ");
            ASSERT_NE(at, std::string::npos);
            memoryOf[i] = atof(result.c_str() + at + 22);
        }
        ASSERT_TRUE(lines + rest == first) << "run " << i << ":\n" << rest;
    }
    ASSERT_EQ(firstOf[2].substr(0, firstOf[2].find("Total # of TreeNode")),
              firstOf[1].substr(0, firstOf[1].find("Total # of TreeNode")));
    // Batches hold one record's entries at a time, never more than all.
    EXPECT_GT(memoryOf[2], 0);
    EXPECT_LT(memoryOf[2], memoryOf[1]);
}

// The merge keeps a pattern unless a longer one of equal support contains it.
TEST(MergeParts, KeepsOnlyPatternsWithoutAnEqualSuperPattern) {
    std::vector<MergedPattern> all;
    for (const char* line : {"<(1)(2)>  Num= 1 Support = 3   ItemsetNumber = 2",
                             "<(1 3)(2)>  Num= 2 Support = 3   ItemsetNumber = 2",
                             "<(2)>  Num= 3 Support = 3   ItemsetNumber = 1",
                             "<(1)>  Num= 4 Support = 4   ItemsetNumber = 1",
                             "<(2)(1)>  Num= 5 Support = 3   ItemsetNumber = 2",
                             "<(3)(2)>  Num= 6 Support = 2   ItemsetNumber = 2"}) {
        MergedPattern p;
        ASSERT_TRUE(ParseResultLine(line, &p)) << line;
        all.push_back(p);
    }
    KeepClosed(&all);
    std::vector<std::string> kept;
    for (const MergedPattern& p : all) kept.push_back(p.line.substr(0, p.line.find('>') + 1));
    EXPECT_EQ(kept, (std::vector<std::string>{"<(1 3)(2)>", "<(1)>", "<(2)(1)>", "<(3)(2)>"}));
    for (const char* bad : {"<(2 1)>  Num= 1 Support = 3   ItemsetNumber = 1",
                            "<(1)>  Num= 1 Support = 3   ItemsetNumber = 2",
                            "<(1)>  Num= 1 Support = 3   ItemsetNumber = 1 x", "<>  Num= 1"}) {
        MergedPattern p;
        EXPECT_FALSE(ParseResultLine(bad, &p)) << bad;
    }
}

}  // namespace
