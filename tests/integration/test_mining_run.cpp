// Whole runs in-process: the tree and the progress counters that mining
// leaves behind, and a second run in the same process after ResetRun.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/CommandLine.h"
#include "support/SupportFraction.h"

#include "driver/1LPrefixSpan.h"
#include "tests/integration/scratch_run.h"
#include "tests/unit/test_util.h"
#include "tree/PatternTree.h"

namespace {

using quivrel_test::MakeTempDir;
using quivrel_test::ReadFile;
using quivrel_test::RemoveDir;
using quivrel_test::WriteDataset;

// Runs quivrel with `args` inside a scratch directory holding data.bin.
class InProcessRun : public ScratchRunTest {
protected:
    InProcessRun() : ScratchRunTest("mining-run") {}
    int Run(const std::vector<int>& words, const char* support, const char* itemcount) {
        WriteDataset("data.bin", words);
        char prog[] = "quivrel", data[] = "data.bin";
        std::string s = support, c = itemcount;
        char* argv[] = {prog, data, s.data(), c.data(), nullptr};
        testing::internal::CaptureStdout();
        int status = QuivrelMain(4, argv, run);
        testing::internal::GetCapturedStdout();
        return status;
    }
};

TreeNode* Child(TreeNode* n, int item, bool intra) {
    return FindChild(n->Children, item, intra);
}

// (3)(4)(5) twice: (5) is a first-level leaf and enters the tree first; the
// pattern (3)(4)(5) then has its key and contains it, so (5) is moved under
// (3)(4) with a copy left under the root; (3)(5) and (4) are contained in
// longer nodes with their keys and get nodes that share those nodes' children.
TEST_F(InProcessRun, MoveAndSharedChildrenInsertionInARealRun) {
    ASSERT_EQ(Run({3, -1, 4, -1, 5, -1, -2, 3, -1, 4, -1, 5, -1, -2}, "1.0", "6"), 0);
    EXPECT_EQ(run.tree->zzz, 3);
    TreeNode* root = run.tree->root;
    ASSERT_EQ(root->Children->size(), 3u);
    TreeNode* n3 = Child(root, 3, false);
    TreeNode* n4 = Child(root, 4, false);
    TreeNode* copy5 = Child(root, 5, false);
    ASSERT_TRUE(n3 && n4 && copy5);
    TreeNode* n34 = Child(n3, 4, false);
    ASSERT_NE(n34, nullptr);
    ASSERT_EQ(n34->Children->size(), 1u);
    TreeNode* moved = (*n34->Children)[0];

    // Move: the original node of (5) now stands for (3)(4)(5).
    EXPECT_EQ(moved->Parent, n34);
    EXPECT_EQ(moved->Item, 5);
    EXPECT_EQ(moved->Items, 3);
    EXPECT_EQ(moved->ItemsetNumber, 3);
    EXPECT_EQ(copy5->Parent, root);
    EXPECT_EQ(copy5->Items, 1);
    EXPECT_EQ(copy5->Children, moved->Children);

    // Shared children: (4) shares (3)(4)'s array, (3)(5) shares (3)(4)(5)'s.
    EXPECT_EQ(n4->Parent, root);
    EXPECT_EQ(n4->Children, n34->Children);
    TreeNode* n35 = Child(n3, 5, false);
    ASSERT_NE(n35, nullptr);
    EXPECT_NE(n35, moved);
    EXPECT_EQ(n35->Children, moved->Children);

    EXPECT_EQ(ReadFile("error.tmp"), "");
    EXPECT_NE(ReadFile("ClosedMaxset.txt").find("<(3)(4)(5)>  Num= 2 Support = 2   ItemsetNumber = 3\n"),
              std::string::npos);
}

TEST_F(InProcessRun, SecondRunInTheSameProcessMatchesTheFirst) {
    std::vector<int> words = {1, 2, -1, 3, -1, -2, 1, -1, 2, 3, -1, -2, 1, 2, 3, -1, -2};
    ASSERT_EQ(Run(words, "0.6", "3"), 0);
    std::string first = ReadFile("ClosedMaxset.txt");
    // The run counted its own progress: every first-level item finished.
    EXPECT_GT(run.progress.firstTotal.load(), 0);
    EXPECT_EQ(run.progress.firstDone.load(), run.progress.firstTotal.load());
    EXPECT_GE(run.progress.patterns.load(), run.progress.firstTotal.load());
    // And its pruning: every first-level entry of the tree.
    EXPECT_EQ(run.progress.pruneTotal.load(), (int)run.tree->root->Children->size());
    EXPECT_GT(run.progress.pruneTotal.load(), 0);
    EXPECT_EQ(run.progress.pruneDone.load(), run.progress.pruneTotal.load());
    ResetRun(run);
    EXPECT_EQ(run.progress.patterns.load(), 0);
    EXPECT_EQ(run.progress.pruneTotal.load(), 0);
    ASSERT_EQ(Run(words, "0.6", "3"), 0);
    std::string second = ReadFile("ClosedMaxset.txt");
    // The pattern lines: everything before the line of the first time figure.
    auto patterns = [](const std::string& text) {
        return text.substr(0, text.rfind('\n', text.find(" seconds")) + 1);
    };
    EXPECT_EQ(patterns(first), patterns(second));
    EXPECT_NE(patterns(first).find("<(1 2)>"), std::string::npos);
    EXPECT_EQ(run.proj.n_total_mem, 0);
}

TEST_F(InProcessRun, AbortedRunLeavesNothingBehindForTheNext) {
    EXPECT_EQ(Run({1, -1, 2}, "0.5", "3"), 1);  // malformed: no -2 at the end
    EXPECT_EQ(ReadFile("error.tmp"),
              "Malformed dataset 'data.bin': the data does not end with -2 "
              "(the last sequence is not terminated).\n");
    // The handlers are off again: a late signal cannot overwrite the message.
    struct sigaction interrupt;
    sigaction(SIGINT, nullptr, &interrupt);
    EXPECT_EQ(interrupt.sa_handler, SIG_DFL);
    ResetRun(run);
    EXPECT_EQ(Run({1, -1, -2}, "0.5", "3"), 0);
    EXPECT_EQ(ReadFile("error.tmp"), "");
}

// In-memory runs: the patterns as result-file lines, to compare with the
// binary's ClosedMaxset.txt.
std::string PatternLines(const std::vector<ResultPattern>& patterns) {
    std::ostringstream out;
    for (const ResultPattern& p : patterns) {
        out << '<';
        for (const std::vector<int>& set : p.itemsets) {
            out << '(';
            for (size_t i = 0; i < set.size(); i++) out << (i ? " " : "") << set[i];
            out << ')';
        }
        out << ">  Num= " << p.num << " Support = " << p.support
            << "   ItemsetNumber = " << p.itemsets.size() << '\n';
    }
    return out.str();
}

struct InMemoryCase {
    InMemoryCase(std::string p, std::string s) : path(std::move(p)), support(std::move(s)) {}
    std::string path, support;
    std::vector<ResultPattern> patterns;
    int status = -99;
    std::string message;
    void Mine(const std::atomic<bool>* cancel = nullptr) {
        SupportFraction f;
        ASSERT_TRUE(ParseSupportFraction(support.c_str(), &f));
        status = MineToPatterns(path.c_str(), f, kItemCountAuto, &patterns, cancel, &message);
    }
};

// The pattern lines of the binary's result file for the same input.
std::string BinaryPatterns(const std::string& dir, const std::string& path,
                           const std::string& support) {
    std::string cmd = "cd '" + dir + "' && '" QUIVREL_BIN_PATH "' --quiet '" + path + "' " +
                      support + " auto >/dev/null 2>&1";
    EXPECT_EQ(system(cmd.c_str()), 0);
    std::istringstream in(ReadFile(dir + "/ClosedMaxset.txt"));
    std::string line, lines;
    while (std::getline(in, line))
        if (!line.empty() && line[0] == '<') lines += line + "\n";
    return lines;
}

TEST(InMemoryRun, TwoRunsOnTwoThreadsMatchSingleRunsAndTheBinary) {
    std::string dir = MakeTempDir("in-memory");
    std::mt19937 rng(14);
    std::vector<int> words;
    for (int s = 0; s < 60; s++) {
        for (int e = 0, n = 2 + (int)(rng() % 6); e < n; e++) {
            int base = 1 + (int)(rng() % 4) * 3;
            for (int i = 0, m = 1 + (int)(rng() % 3); i < m; i++) words.push_back(base + i);
            words.push_back(-1);
        }
        words.push_back(-2);
    }
    WriteDataset(dir + "/gen.bin", words);

    InMemoryCase a{QUIVREL_SOURCE_DIR "/data/sample.bin", "0.05"}, b{dir + "/gen.bin", "0.3"};
    InMemoryCase aloneA = a, aloneB = b;
    testing::internal::CaptureStdout();
    aloneA.Mine();
    aloneB.Mine();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // an in-process run prints nothing
    ASSERT_EQ(aloneA.status, 0) << aloneA.message;
    ASSERT_EQ(aloneB.status, 0) << aloneB.message;
    std::thread ta([&] { a.Mine(); }), tb([&] { b.Mine(); });
    ta.join();
    tb.join();
    ASSERT_EQ(a.status, 0) << a.message;
    ASSERT_EQ(b.status, 0) << b.message;
    std::string linesA = PatternLines(a.patterns), linesB = PatternLines(b.patterns);
    EXPECT_GT(a.patterns.size(), 10u);
    EXPECT_GT(b.patterns.size(), 10u);
    EXPECT_EQ(linesA, PatternLines(aloneA.patterns));
    EXPECT_EQ(linesB, PatternLines(aloneB.patterns));
    EXPECT_EQ(linesA, BinaryPatterns(dir, a.path, a.support));
    EXPECT_EQ(linesB, BinaryPatterns(dir, b.path, b.support));
    RemoveDir(dir);
}

// Failures and cancellation come back as a status; no file appears.
TEST(InMemoryRun, BadDatasetAndCancelReturnStatusAndWriteNothing) {
    std::string dir = MakeTempDir("in-memory-fail");
    char buf[4096];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    std::string oldCwd = buf;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    WriteDataset("bad.bin", {1, -1, 2});
    InMemoryCase bad{"bad.bin", "0.5"};
    bad.Mine();
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.message,
              "Malformed dataset 'bad.bin': the data does not end with -2 "
              "(the last sequence is not terminated).\n");
    EXPECT_TRUE(bad.patterns.empty());

    std::atomic<bool> cancel{true};
    InMemoryCase cancelled{QUIVREL_SOURCE_DIR "/data/sample.bin", "0.05"};
    cancelled.Mine(&cancel);
    EXPECT_EQ(cancelled.status, kMineCancelled);
    EXPECT_TRUE(cancelled.patterns.empty());

    // Cancelled before the growth starts and in the middle of it (data that
    // take far longer than the wait), on one thread and on several: each
    // record's buffers are given back, or the status is an internal error.
    std::mt19937 rng(3);
    std::vector<int> words;
    for (int s = 0; s < 400; s++) {
        for (int e = 0; e < 15; e++) {
            for (int item = 0, n = 1 + (int)(rng() % 4); item < 12; item++)
                if ((int)(rng() % 12) < n) words.push_back(item);
            words.push_back(-1);
        }
        words.push_back(-2);
    }
    for (int threads : {1, 3}) {
        for (int waitMs : {0, 20}) {
            std::atomic<bool> stop{waitMs == 0};
            MineRequest request;
            request.words = words.data();
            request.wordCount = words.size();
            ASSERT_TRUE(ParseSupportFraction("0.2", &request.support));
            request.threads = threads;
            request.cancel = &stop;
            std::thread canceller([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
                stop = true;
            });
            MineResult result;
            EXPECT_EQ(MinePatterns(request, &result), kMineCancelled)
                << threads << " threads, " << waitMs << " ms: " << result.message;
            canceller.join();
        }
    }

    EXPECT_EQ(system("test -z \"$(ls -A)\" || test \"$(ls -A)\" = bad.bin"), 0);
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
    RemoveDir(dir);
}

// Words handed over in memory: an absolute count as threshold, and a
// malformed buffer refused by the dataset check with the file's message and
// the fault's word offset.
TEST(InMemoryRun, CountThresholdsAreExactAndBadWordsGiveTheFaultOffset) {
    MineResult result;
    // n sequences (0)(1), of which m hold item 2 too: (0 2)(1) is closed at
    // a count k exactly when k <= m, whatever the fraction k / n in decimals.
    for (int n : {3, 7, 10, 999, 1001, 30011}) {
        int m = n * 2 / 3;
        std::vector<int> data;
        for (int j = 0; j < n; j++) {
            data.push_back(0);
            if (j < m) data.push_back(2);
            data.insert(data.end(), {-1, 1, -1, -2});
        }
        for (int k : {m - 1, m, m + 1, n + 1}) {
            if (k < 1) continue;
            MineRequest r;
            r.words = data.data();
            r.wordCount = data.size();
            r.supportCount = k;
            ASSERT_EQ(MinePatterns(r, &result), 0) << result.message;
            bool found = PatternLines(result.patterns).find("<(0 2)(1)>") != std::string::npos;
            EXPECT_EQ(found, k <= m) << n << " " << k;
            if (k > n) {
                EXPECT_TRUE(result.patterns.empty());
            }
        }
    }

    std::vector<int> bad = {1, -1, -2, 5, 3, -1, -2};
    MineRequest request;
    request.threads = 4;  // accepted, one thread mines
    request.words = bad.data();
    request.wordCount = bad.size();
    request.name = "<sequences>";
    EXPECT_EQ(MinePatterns(request, &result), 1);
    EXPECT_EQ(result.faultWord, 4);
    // The file's message without its advice to rewrite a file: there is none.
    EXPECT_EQ(result.message,
              "Malformed dataset '<sequences>': item code 3 at word 4 is lower than the code 5 "
              "before it; the items of an itemset must be ascending.\n");
    EXPECT_TRUE(result.patterns.empty());
}

}  // namespace
