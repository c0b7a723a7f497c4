// Whole runs in-process: the tree that mining leaves behind, and a second run
// in the same process after ResetRun.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "driver/1LPrefixSpan.h"
#include "tests/unit/test_util.h"
#include "tree/PatternTree.h"

namespace {

using quivrel_test::MakeTempDir;
using quivrel_test::ReadFile;
using quivrel_test::RemoveDir;
using quivrel_test::WriteDataset;

// Runs quivrel with `args` inside a scratch directory holding data.bin.
class InProcessRun : public ::testing::Test {
protected:
    std::string dir, oldCwd;
    MiningRun run;
    void SetUp() override {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldCwd = buf;
        dir = MakeTempDir("mining-run");
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        ResetRun(run);
        ASSERT_EQ(chdir(oldCwd.c_str()), 0);
        RemoveDir(dir);
    }
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
    ResetRun(run);
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
    ResetRun(run);
    EXPECT_EQ(Run({1, -1, -2}, "0.5", "3"), 0);
    EXPECT_EQ(ReadFile("error.tmp"), "");
}

}  // namespace
