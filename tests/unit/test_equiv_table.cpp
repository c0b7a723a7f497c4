// The equivalence table: bucket sizes, growth, and the order in which the
// entries of one key are visited (it decides which equivalent node wins).
#include "test_tree_support.h"

namespace {

// Distinct fake node addresses; the table never dereferences them.
TreeNode* Tag(int i)
{
    static TreeNode pool[8] = {{0, false, 0, nullptr, nullptr}, {1, false, 0, nullptr, nullptr},
                               {2, false, 0, nullptr, nullptr}, {3, false, 0, nullptr, nullptr},
                               {4, false, 0, nullptr, nullptr}, {5, false, 0, nullptr, nullptr},
                               {6, false, 0, nullptr, nullptr}, {7, false, 0, nullptr, nullptr}};
    return &pool[i];
}

std::vector<TreeNode*> Group(const EquivTable& t, int key)
{
    std::vector<TreeNode*> out;
    for (EquivTable::Entry* e = t.EqualRange(key); e != nullptr && e->key == key; e = e->next)
        out.push_back(e->node);
    return out;
}

TEST(EquivTableTest, EqualKeysVisitFirstThenNewestToOldest)
{
    EquivTable t;
    EXPECT_EQ(t.BucketCount(), 193u);
    EXPECT_EQ(t.EqualRange(5), nullptr);
    for (int i = 0; i < 4; i++)
        t.Insert(5, Tag(i));
    // Keys sharing the bucket of 5 (mod 193) stay in groups of their own;
    // the negative key is bucketed as unsigned: 2^32 - 103 = 5 (mod 193).
    t.Insert(5 + 193, Tag(4));
    t.Insert(-103, Tag(5));
    t.Insert(5 + 193, Tag(6));
    EXPECT_EQ(Group(t, 5), (std::vector<TreeNode*>{Tag(0), Tag(3), Tag(2), Tag(1)}));
    EXPECT_EQ(Group(t, 5 + 193), (std::vector<TreeNode*>{Tag(4), Tag(6)}));
    EXPECT_EQ(Group(t, -103), (std::vector<TreeNode*>{Tag(5)}));
    EXPECT_EQ(t.EqualRange(5 + 2 * 193), nullptr);
    EXPECT_EQ(t.Size(), 7u);
}

TEST(EquivTableTest, GrowthAtTheHundredNinetyFourthEntryReversesEachGroup)
{
    EquivTable t;
    for (int i = 0; i < 3; i++)
        t.Insert(-7, Tag(i));  // visited 0, 2, 1
    for (int k = 0; k < 190; k++)
        t.Insert(1000 + k, Tag(7));
    EXPECT_EQ(t.Size(), 193u);
    EXPECT_EQ(t.BucketCount(), 193u);  // 193 buckets hold 193 entries
    EXPECT_EQ(Group(t, -7), (std::vector<TreeNode*>{Tag(0), Tag(2), Tag(1)}));

    t.Insert(-7, Tag(3));  // grows first, then links behind the new first
    EXPECT_EQ(t.BucketCount(), 389u);
    EXPECT_EQ(Group(t, -7), (std::vector<TreeNode*>{Tag(1), Tag(3), Tag(2), Tag(0)}));
    for (int k = 0; k < 190; k++)
        ASSERT_EQ(Group(t, 1000 + k).size(), 1u) << k;

    while (t.Size() < 389)
        t.Insert(5000 + static_cast<int>(t.Size()), Tag(7));
    EXPECT_EQ(t.BucketCount(), 389u);
    t.Insert(1, Tag(7));
    EXPECT_EQ(t.BucketCount(), 769u);
    EXPECT_EQ(Group(t, -7), (std::vector<TreeNode*>{Tag(0), Tag(2), Tag(3), Tag(1)}));
}

TEST(EquivTableTest, LevelNodeReleasesItsTable)
{
    LevelNode empty;
    EXPECT_EQ(empty.table, nullptr);
    LevelNode holder;
    holder.table = new EquivTable();
    for (int i = 0; i < 300; i++)
        holder.table->Insert(i % 17, Tag(i % 8));
}  // the sanitizer build reports any entry left behind

}  // namespace
