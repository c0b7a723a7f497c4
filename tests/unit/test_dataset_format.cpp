// The shared dataset grammar and the whole-or-nothing file writer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/AtomicFile.h"
#include "support/DatasetFormat.h"
#include "test_util.h"

namespace {

DatasetFault Check(const std::vector<int>& words, int maxItem = INT_MAX, bool ascending = false,
                   DatasetShape* shape = nullptr) {
    DatasetRules rules;
    rules.maxItem = maxItem;
    rules.ascendingItemsets = ascending;
    return CheckDatasetWords(words.data(), words.size(), rules, shape);
}

}  // namespace

TEST(DatasetFormat, FirstFaultInFileOrderWithItsOffsetAndWords) {
    struct Case {
        std::vector<int> words;
        DatasetFault::Kind kind;
        long long offset;
        int value;
    };
    const std::vector<Case> cases = {
        {{}, DatasetFault::kNone, 0, 0},
        {{-2, -2}, DatasetFault::kNone, 0, 0},
        {{1, -1, -3, -2}, DatasetFault::kInvalidValue, 2, -3},
        {{1, -2}, DatasetFault::kMisplacedSequenceEnd, 1, -2},
        {{1, -1}, DatasetFault::kUnterminated, 2, 0},
        {{1, -1, -2, 5, -1, -2}, DatasetFault::kItemAboveMax, 3, 5},
        // The item bound is seen before a later structural fault.
        {{9, -2}, DatasetFault::kItemAboveMax, 0, 9},
        {{3, 2, -1, -2}, DatasetFault::kItemsetDescending, 1, 2},
    };
    for (const Case& c : cases) {
        DatasetFault fault = Check(c.words, 4, true);
        EXPECT_EQ(fault.kind, c.kind) << ::testing::PrintToString(c.words);
        EXPECT_EQ(fault.offset, c.offset) << ::testing::PrintToString(c.words);
        EXPECT_EQ(fault.value, c.value) << ::testing::PrintToString(c.words);
    }
    EXPECT_EQ(Check({3, 2, -1, -2}, 4, false).kind, DatasetFault::kNone);  // tools' rules
    EXPECT_EQ(Check({3, 2, -1, -2}, 4, true).previous, 3);
}

TEST(DatasetFormat, ShapeOfWellFormedData) {
    DatasetShape shape;
    ASSERT_EQ(Check({-2, 1, 1, -1, 7, -1, -2, 2, -1, -2}, INT_MAX, true, &shape).kind,
              DatasetFault::kNone);
    EXPECT_EQ(shape.maxItem, 7);
    EXPECT_EQ(shape.sequences, 3);
    EXPECT_EQ(shape.maxSeqItemWords, 3);
    EXPECT_TRUE(shape.hasContinued);
    ASSERT_EQ(Check({1, -1, 2, -1, -2}, INT_MAX, true, &shape).kind, DatasetFault::kNone);
    EXPECT_FALSE(shape.hasContinued);
}

TEST(AtomicFile, TargetReplacedOnlyOnCommit) {
    std::string dir = quivrel_test::MakeTempDir("quivrel-atomic");
    ASSERT_FALSE(dir.empty());
    std::string target = dir + "/out.txt";
    quivrel_test::WriteBytes(target, "old\n");
    {
        AtomicFile file;
        ASSERT_EQ(file.Open(target, ".XXXXXX"), 0);
        ASSERT_EQ(file.Write("new\n", 4), 0);
        EXPECT_EQ(quivrel_test::ReadFile(target), "old\n");
        // Not committed: the destructor removes the temporary file.
    }
    EXPECT_EQ(quivrel_test::ReadFile(target), "old\n");
    {
        AtomicFile file;
        ASSERT_EQ(file.Open(target, ".XXXXXX"), 0);
        ASSERT_NE(file.Stream(), nullptr);
        fputs("new\n", file.Stream());
        ASSERT_EQ(file.Commit(true), 0);
    }
    EXPECT_EQ(quivrel_test::ReadFile(target), "new\n");
    // A rename over a directory fails, leaves no temporary file behind.
    std::string sub = dir + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    quivrel_test::WriteBytes(sub + "/x", "x");
    AtomicFile file;
    ASSERT_EQ(file.Open(sub, ".XXXXXX"), 0);
    EXPECT_NE(file.Commit(false), 0);
    EXPECT_TRUE(file.TempName().empty());
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) entries += e.path().empty() ? 0 : 1;
    EXPECT_EQ(entries, 2u);  // out.txt and sub
    quivrel_test::RemoveDir(dir);
}
