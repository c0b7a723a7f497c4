// Pattern tree nodes: child order, the two AddChild forms, printing, and
// walks over a chain far deeper than any call stack would allow.
#include "test_tree_support.h"

#include <algorithm>
#include <climits>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using TreeNodeTest = TreeFixture;

TEST_F(TreeNodeTest, ChildOrderPutsInItemsetChildrenFirstThenAscendingItems)
{
    EXPECT_EQ(FindChild(root->Children, 2, false), nullptr);  // empty array
    Kid(root, 10, true, 1);
    Kid(root, 2, false, 1);
    Kid(root, 3, true, 1);
    Kid(root, 7, false, 1);
    std::vector<std::pair<bool, int>> order;
    for (TreeNode* c : *root->Children)
        order.push_back({c->ItemIsIntra, c->Item});
    std::vector<std::pair<bool, int>> want{{true, 3}, {true, 10}, {false, 2}, {false, 7}};
    EXPECT_EQ(order, want);
    EXPECT_EQ(FindChild(root->Children, 3, false), nullptr);
    EXPECT_EQ(FindChild(root->Children, 10, true), (*root->Children)[1]);

    // Signed comparison of codes, and the three-way form used for searches.
    TreeNode* neg = Kid(root, -5, false, 1);
    EXPECT_EQ((*root->Children)[2], neg);
    TreeNode* a = (*root->Children)[0];
    TreeNode* b = (*root->Children)[3];
    EXPECT_EQ(TreeNodeCompare(&a, &b), -1);
    EXPECT_EQ(TreeNodeCompare(&b, &a), 1);
    EXPECT_EQ(TreeNodeCompare(&a, &a), 0);
    EXPECT_TRUE(TreeNodeLess(a, b));
    EXPECT_FALSE(TreeNodeLess(a, a));
}

TEST_F(TreeNodeTest, ConstructorsAndQueries)
{
    TreeNode* a = Kid(root, 4, false, 6, 77);
    TreeNode* ab = Kid(a, 9, true, 2);
    EXPECT_EQ(a->Items, 1);
    EXPECT_EQ(a->ItemsetNumber, 1);
    EXPECT_EQ(ab->Items, 2);
    EXPECT_EQ(ab->ItemsetNumber, 1);
    EXPECT_EQ(Kid(ab, 1, false, 1)->ItemsetNumber, 2);
    EXPECT_TRUE(root->isRoot());
    EXPECT_FALSE(a->isRoot());

    // The copy shares the array and is always flagged.
    a->IsClosed = false;
    TreeNode copy(a);
    EXPECT_EQ(copy.Children, a->Children);
    EXPECT_EQ(copy.Parent, root);
    EXPECT_EQ(copy.ProjDBSize, 77u);
    EXPECT_TRUE(copy.IsClosed);

    EXPECT_TRUE(a->LastItemOfSequence());  // 6 > 2
    ab->Support = 6;
    EXPECT_FALSE(a->LastItemOfSequence());
    TreeNode* lone = tree.arena.NewNode(1, false, 0, nullptr);
    EXPECT_FALSE(lone->LastItemOfSequence());  // empty array, support 0
    lone->Support = 1;
    EXPECT_TRUE(lone->LastItemOfSequence());
}

TEST_F(TreeNodeTest, AddChildByValueRaisesSupportAndReportsIt)
{
    TreeNode* p = Kid(root, 1, false, 4);
    TreeNode* c = Kid(p, 5, false, 2);
    CaptureStdout();
    EXPECT_EQ(p->AddChild(tree, 5, false, 1), c);
    EXPECT_EQ(p->AddChild(tree, 5, false, 2), c);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(c->Support, 2);

    CaptureStdout();
    EXPECT_EQ(p->AddChild(tree, 5, false, 7), c);
    EXPECT_EQ(GetCapturedStdout(), "Item: 5 2 7\nParentItem: 1 4\n");
    EXPECT_EQ(c->Support, 7);
    EXPECT_EQ(p->Children->size(), 1u);
}

TEST_F(TreeNodeTest, AddChildByNodeAdoptsOrMergesDuplicate)
{
    TreeNode* p = Kid(root, 1, false, 4);
    TreeNode* c = Kid(p, 5, true, 3);

    // A new child is linked; the nodes below it keep their counters.
    TreeNode* adopted = tree.arena.NewNode(8, false, 2, nullptr);
    TreeNode* below = adopted->AddChild(tree, 9, true, 1);
    EXPECT_EQ(p->AddChild(tree, adopted), adopted);
    EXPECT_EQ(adopted->Parent, p);
    EXPECT_EQ(adopted->Items, 2);
    EXPECT_EQ(adopted->ItemsetNumber, 2);
    EXPECT_EQ(below->Items, 1);
    EXPECT_EQ((*p->Children)[1], adopted);

    // Duplicates (with a subtree of their own) are destroyed, keeping the
    // larger support and printing nothing.
    CaptureStdout();
    for (int support : {1, 3, 9}) {
        TreeNode* dup = tree.arena.NewNode(5, true, support, nullptr);
        dup->AddChild(tree, 2, false, 1)->AddChild(tree, 3, false, 1);
        EXPECT_EQ(p->AddChild(tree, dup), c);
    }
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(c->Support, 9);
    EXPECT_EQ(p->Children->size(), 2u);
    EXPECT_EQ(p->AddChild(tree, c), c);  // already a child: left alone
}

TEST_F(TreeNodeTest, PrintWritesFlaggedOwnedNodesInPostOrder)
{
    TreeNode* n1 = Kid(root, 1, false, 5, 11);
    TreeNode* n12 = Kid(n1, 2, true, 4, 42);
    TreeNode* n123 = Kid(n12, 3, false, 3, 4294967295u);
    Kid(n1, 4, false, 2, 9);
    // A linked entry: printed only under its own parent.
    TreeNode* other = Kid(root, 7, false, 2, 5);
    TreeNode* linked = Kid(other, 8, false, 2, 6);
    InsertChild(n12->Children, linked);
    n12->IsClosed = false;  // skipped, but its children are still visited
    (void)n123;

    EXPECT_EQ(PrintTree(root),
              "<(1 2)(3)>  Num= -1 Support = 3   ItemsetNumber = 2\n"
              "<(1)(4)>  Num= 9 Support = 2   ItemsetNumber = 2\n"
              "<(1)>  Num= 11 Support = 5   ItemsetNumber = 1\n"
              "<(7)(8)>  Num= 6 Support = 2   ItemsetNumber = 2\n"
              "<(7)>  Num= 5 Support = 2   ItemsetNumber = 1\n");
    EXPECT_EQ(closed_maxFreq[1], 2);
    EXPECT_EQ(closed_maxFreq[2], 2);
    EXPECT_EQ(closed_maxFreq[3], 1);
}

TEST_F(TreeNodeTest, PrintWritesPatternsBeyondTheOldLimitsWhole)
{
    // 300 items of 6 characters each: well past 255 items and 256 bytes.
    TreeNode* n = root;
    std::string want = "(100000";
    n = Kid(n, 100000, false, 1);
    for (int i = 1; i < 300; i++) {
        n->IsClosed = false;
        bool intra = i % 2 == 1;
        n = Kid(n, 100000 + i, intra, 1);
        want += (intra ? " " : ")(") + std::to_string(100000 + i);
    }
    std::string out = PrintTree(root);
    EXPECT_EQ(out, "<" + want + ")>  Num= 0 Support = 1   ItemsetNumber = 150\n");
    ASSERT_GE(closed_maxFreq.size(), 301u);
    EXPECT_EQ(closed_maxFreq[300], 1);
}

// The tree goes as a whole: shared arrays, copies, detached nodes and
// reused slots are each freed once (the sanitizer build reports a double
// free or anything left behind), and a second tree beside the first one
// shares nothing with it.
TEST_F(TreeNodeTest, ReleaseFreesEverythingOnceAndTreesShareNothing)
{
    PatternTree* second = NewPatternTree();
    ASSERT_NE(second->root, root);
    TreeNode* a = Kid(root, 1, false, 3);
    Kid(Kid(a, 2, true, 3), 4, false, 3);
    TreeNode* copy = tree.arena.CopyNode(a);  // shares a's array
    InsertChild(Kid(root, 2, false, 3)->Children, copy);
    TreeNode* loose = tree.arena.NewNode(9, false, 1, nullptr);
    Kid(loose, 3, false, 1);  // hangs below a node that is freed next
    tree.arena.FreeNode(loose);
    tree.arena.FreeArray(tree.arena.NewArray());
    for (int i = 0; i < 5000; i++)  // past one block of slots
        Kid(second->root, i, false, 1);
    EXPECT_EQ(second->root->Children->size(), 5000u);
    EXPECT_EQ(root->Children->size(), 2u);
    ReleasePatternTree(second);
    EXPECT_EQ(PrintTree(root), "<(1 2)(4)>  Num= 0 Support = 3   ItemsetNumber = 2\n"
                               "<(1 2)>  Num= 0 Support = 3   ItemsetNumber = 1\n"
                               "<(1)>  Num= 0 Support = 3   ItemsetNumber = 1\n"
                               "<(2)>  Num= 0 Support = 3   ItemsetNumber = 1\n");
}

// A chain of 100,000 nodes: each walk must use its own stack, not the call
// stack (this also runs under the sanitizers, whose frames are larger).
TEST_F(TreeNodeTest, HundredThousandDeepChainIsPrintedPrunedAndShifted)
{
    const int depth = 100000;
    std::vector<TreeNode*> chain;
    TreeNode* n = root;
    for (int i = 0; i < depth; i++) {
        n = Kid(n, i, false, 2);  // distinct items: no pruning counterparts
        chain.push_back(n);
    }
    PruneAll();  // every parent has a child of equal support
    for (int i = 0; i + 1 < depth; i++)
        ASSERT_FALSE(chain[i]->IsClosed) << i;
    EXPECT_TRUE(chain.back()->IsClosed);

    std::string out = PrintTree(root);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_EQ(out.compare(0, 8, "<(0)(1)("), 0);
    EXPECT_NE(out.find("(99999)>  Num= 0 Support = 2   ItemsetNumber = 100000\n"),
              std::string::npos);
    EXPECT_EQ(closed_maxFreq[depth], 1);

    CaptureStdout();
    checkNodeInfo(chain[0]);
    updateNodeInfo(tree, chain[0], 2, 1);
    checkNodeInfo(chain[0]);  // only the top breaks the rule now
    EXPECT_EQ(GetCapturedStdout(), "Node Info: Items or ItemsetNumber Error");
    EXPECT_EQ(chain.back()->Items, depth + 2);
    EXPECT_EQ(chain.back()->ItemsetNumber, depth + 1);

    // Two parallel chains compared step by step down to the bottom.
    TreeNode* other = tree.arena.NewNode(-1, false, 0, nullptr);
    TreeNode* o = other;
    for (int i = 0; i < depth; i++)
        o = o->AddChild(tree, i, false, 2);
    chain.back()->IsClosed = true;
    closed_maxChecking(tree, chain[1], chain[0], (*other->Children)[0]->Children->front());
    EXPECT_FALSE(chain.back()->IsClosed);
}

}  // namespace

// In a sanitizer build every node is a heap block of its own: a read of a
// deleted node must be caught, not hidden in a pool slot.
#if defined(__SANITIZE_ADDRESS__)
TEST(TreeNodeStorage, ReadOfADeletedNodeIsCaughtUnderTheSanitizer) {
    EXPECT_DEATH(
        {
            NodeArena arena;
            TreeNode* node = arena.NewNode(7, false, 1, nullptr);
            arena.FreeArray(node->Children);
            arena.FreeNode(node);
            volatile int item = node->Item;
            (void)item;
        },
        "heap-use-after-free");
}
#endif
