// The shared dataset grammar and the whole-or-nothing file writer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
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

// Long streams go through the check eight words at a time: a fault planted
// at each offset of a well-formed stream (so at every lane of a group and in
// the last, partial group) is still the one reported, and the shape of the
// stream is counted across group borders.
TEST(DatasetFormat, LongStreamsFaultsAtEveryOffsetAndShape) {
    std::vector<int> words;
    DatasetShape expected;
    expected.maxItem = -1;
    unsigned state = 12345;
    auto next = [&](unsigned n) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    };
    for (int seq = 0; seq < 40; ++seq) {
        long long items = 0;
        const unsigned itemsets = next(4);  // some sequences empty
        for (unsigned k = 0; k < itemsets; ++k) {
            int code = (int)next(3);
            const unsigned n = 1 + next(3);
            for (unsigned j = 0; j < n; ++j, code += (int)next(3)) {
                words.push_back(code);  // ascending, with repeats
                expected.maxItem = std::max(expected.maxItem, code);
                ++items;
            }
            expected.hasContinued = expected.hasContinued || n > 1;
            words.push_back(-1);
        }
        words.push_back(-2);
        ++expected.sequences;
        expected.maxSeqItemWords = std::max(expected.maxSeqItemWords, items);
    }
    const int maxItem = expected.maxItem;
    for (size_t length = 9; length <= words.size(); ++length) {
        if (words[length - 1] != -2) continue;
        const std::vector<int> prefix(words.begin(), words.begin() + (long)length);
        DatasetShape shape;
        ASSERT_EQ(Check(prefix, maxItem, true, &shape).kind, DatasetFault::kNone) << length;
        DatasetShape byWord;
        long long items = 0;
        byWord.maxItem = -1;
        for (size_t i = 0; i < length; ++i) {
            if (prefix[i] >= 0) {
                ++items;
                byWord.maxItem = std::max(byWord.maxItem, prefix[i]);
                byWord.hasContinued = byWord.hasContinued || (i > 0 && prefix[i - 1] >= 0);
            } else if (prefix[i] == -2) {
                ++byWord.sequences;
                byWord.maxSeqItemWords = std::max(byWord.maxSeqItemWords, items);
                items = 0;
            }
        }
        EXPECT_EQ(shape.maxItem, byWord.maxItem) << length;
        EXPECT_EQ(shape.sequences, byWord.sequences) << length;
        EXPECT_EQ(shape.maxSeqItemWords, byWord.maxSeqItemWords) << length;
        EXPECT_EQ(shape.hasContinued, byWord.hasContinued) << length;
    }
    EXPECT_EQ(Check(words, maxItem, true).kind, DatasetFault::kNone);
    for (size_t at = 0; at < words.size(); ++at) {
        std::vector<int> bad = words;
        DatasetFault::Kind kind;
        if (bad[at] >= 0) {
            bad[at] = maxItem + 1;
            kind = DatasetFault::kItemAboveMax;
        } else if (bad[at] == -2 && at > 0 && bad[at - 1] == -1) {
            bad[at - 1] = maxItem;  // the itemset no longer ends before the -2
            kind = DatasetFault::kMisplacedSequenceEnd;
        } else {
            bad[at] = -3;
            kind = DatasetFault::kInvalidValue;
        }
        const DatasetFault fault = Check(bad, maxItem, true);
        EXPECT_EQ(fault.kind, kind) << at;
        EXPECT_EQ(fault.offset, (long long)at) << at;
    }
    // A code below the one before it, in every lane.
    for (size_t at = 1; at < words.size(); ++at) {
        if (words[at] < 0 || words[at - 1] < 0 || words[at - 1] == 0) continue;
        std::vector<int> bad = words;
        bad[at] = words[at - 1] - 1;
        const DatasetFault fault = Check(bad, maxItem, true);
        EXPECT_EQ(fault.kind, DatasetFault::kItemsetDescending) << at;
        EXPECT_EQ(fault.offset, (long long)at) << at;
        EXPECT_EQ(Check(bad, maxItem, false).kind, DatasetFault::kNone) << at;
    }
    std::vector<int> open = words;
    open.back() = -1;
    EXPECT_EQ(Check(open, maxItem, true).kind, DatasetFault::kUnterminated);
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
    for (const auto& e : std::filesystem::directory_iterator(dir))
        entries += e.path().empty() ? 0 : 1;
    EXPECT_EQ(entries, 2u);  // out.txt and sub
    quivrel_test::RemoveDir(dir);
}
