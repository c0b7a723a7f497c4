// Pattern insertion through the equivalence table: plain insertion,
// shared-children insertion and the move of an equivalent node.
#include "test_tree_support.h"

#include <climits>
#include <random>
#include <string>
#include <thread>

namespace {

class AddSequenceTest : public TreeFixture {
protected:
    // Offers the pattern of `at` extended by `item` with this support and
    // equivalence key; leaves currentLevel where insertion put it.
    int Offer(TreeNode* at, int item, bool intra, int support, unsigned key,
              uint64_t fingerprint = 0)
    {
        currentLevel = at;
        PROJ_DB db = Record(item, intra, support, static_cast<int>(key - support));
        db.m_nPosFingerprint = fingerprint;
        return addSequence(tree, &db);
    }
    // A node made by plain insertion.
    TreeNode* Node(TreeNode* at, int item, bool intra, int support, unsigned key)
    {
        EXPECT_EQ(Offer(at, item, intra, support, key), 1);
        EXPECT_EQ(currentLevel->Parent, at);
        return currentLevel;
    }
    std::vector<TreeNode*> Group(int key)
    {
        std::vector<TreeNode*> out;
        for (auto* e = reverseTable.EqualRange(key); e && e->key == key; e = e->next)
            out.push_back(e->node);
        return out;
    }
};

TEST_F(AddSequenceTest, PlainInsertionMovesCursorAndEntersTable)
{
    PROJ_DB db = Record(4, false, 3, 10);
    EXPECT_EQ(addSequence(tree, &db), 1);
    TreeNode* a = currentLevel;
    ASSERT_NE(a, root);
    EXPECT_EQ(a->Parent, root);
    EXPECT_EQ((*root->Children)[0], a);
    EXPECT_EQ(a->Item, 4);
    EXPECT_EQ(a->Items, 1);
    EXPECT_EQ(a->ItemsetNumber, 1);
    EXPECT_EQ(a->Support, 3);
    EXPECT_EQ(a->ProjDBSize, 13u);
    EXPECT_EQ(zzz, 1);
    EXPECT_EQ(Group(13), std::vector<TreeNode*>{a});
    // The record is only read.
    EXPECT_EQ(db.m_nLastItem, 4);
    EXPECT_EQ(db.maxSupport, 3);
    EXPECT_EQ(db.NumOfItems, 10);

    TreeNode* ab = Node(a, 6, true, 3, 50);
    EXPECT_EQ(ab->Items, 2);
    EXPECT_EQ(ab->ItemsetNumber, 1);
    EXPECT_TRUE(ab->ItemIsIntra);

    // The key is the 32-bit sum with wrap-around.
    db = Record(1, false, 5, INT_MAX);
    currentLevel = root;
    EXPECT_EQ(addSequence(tree, &db), 1);
    EXPECT_EQ(currentLevel->ProjDBSize, 2147483652u);
    EXPECT_EQ(zzz, 3);
}

TEST_F(AddSequenceTest, CandidatesWithOtherSupportItemOrLengthAreIgnored)
{
    TreeNode* a = Node(root, 1, false, 9, 100);
    TreeNode* q = Node(a, 5, false, 3, 7);
    TreeNode* b = Node(root, 2, false, 9, 101);
    EXPECT_EQ(Offer(root, 5, false, 4, 7), 1);  // other support
    EXPECT_EQ(Offer(root, 6, false, 3, 7), 1);  // other last item
    EXPECT_EQ(Offer(b, 5, false, 3, 7), 1);     // same length as q
    // Even the very same pattern offered again is not compared with q.
    EXPECT_EQ(Offer(a, 5, false, 3, 7), 1);
    EXPECT_EQ(q->Parent, a);
    EXPECT_EQ(Group(7).size(), 5u);
    EXPECT_EQ(zzz, 7);
}

TEST_F(AddSequenceTest, ContainedPatternSharesCandidateChildren)
{
    // A one-item pattern: shared at once, without comparing itemsets.
    TreeNode* a = Node(root, 1, false, 9, 100);
    TreeNode* q = Node(a, 5, false, 3, 7);
    Node(q, 8, false, 2, 300);
    EXPECT_EQ(Offer(root, 5, false, 3, 7), 0);
    EXPECT_EQ(currentLevel, root);
    TreeNode* x = FindChild(root->Children, 5, false);
    ASSERT_NE(x, nullptr);
    EXPECT_NE(x, q);
    EXPECT_EQ(x->Parent, root);
    EXPECT_EQ(x->Children, q->Children);
    EXPECT_EQ(x->Items, 1);
    EXPECT_EQ(x->ItemsetNumber, 1);
    EXPECT_EQ(x->Support, 3);
    EXPECT_EQ(x->ProjDBSize, 7u);
    EXPECT_EQ(zzz, 3);
    EXPECT_EQ(reverseTable.Size(), 3u);
    // The shared child is printed once, under its own parent.
    EXPECT_EQ(PrintTree(root),
              "<(1)(5)(8)>  Num= 300 Support = 2   ItemsetNumber = 3\n"
              "<(1)(5)>  Num= 7 Support = 3   ItemsetNumber = 2\n"
              "<(1)>  Num= 100 Support = 9   ItemsetNumber = 1\n"
              "<(5)>  Num= 7 Support = 3   ItemsetNumber = 1\n");

    // (2)(5) inside (2)(3 5), found by the itemset walk: x closes an
    // itemset in the candidate but opens one in the new pattern.
    TreeNode* p = Node(root, 2, false, 9, 200);
    TreeNode* g = Node(p, 3, false, 5, 201);
    TreeNode* q2 = Node(g, 5, true, 3, 17);
    EXPECT_EQ(Offer(p, 5, false, 3, 17), 0);
    EXPECT_EQ(FindChild(p->Children, 5, false)->Children, q2->Children);
    EXPECT_EQ(q2->Parent, g);
}

TEST_F(AddSequenceTest, ContainedCandidateMovesWithItsSubtree)
{
    // (1)(2) with subtree (1)(2 4) and (1)(2 4)(6) is found inside the new
    // pattern (1)(3)(2) and moves there.
    TreeNode* a = Node(root, 1, false, 9, 100);
    TreeNode* b = Node(a, 2, false, 3, 7);
    TreeNode* c = Node(b, 4, true, 3, 301);
    TreeNode* d = Node(c, 6, false, 2, 302);
    TreeNode* m = Node(a, 3, false, 5, 400);
    b->IsClosed = false;
    EXPECT_EQ(Offer(m, 2, false, 3, 7), 0);
    EXPECT_EQ(currentLevel, m);

    EXPECT_EQ(b->Parent, m);
    EXPECT_EQ(FindChild(m->Children, 2, false), b);
    EXPECT_EQ(b->Items, 3);
    EXPECT_EQ(b->ItemsetNumber, 3);
    EXPECT_FALSE(b->ItemIsIntra);
    EXPECT_EQ(b->Support, 3);
    EXPECT_EQ(b->ProjDBSize, 7u);
    EXPECT_FALSE(b->IsClosed);
    EXPECT_EQ(c->Items, 4);
    EXPECT_EQ(c->ItemsetNumber, 3);
    EXPECT_EQ(d->Items, 5);
    EXPECT_EQ(d->ItemsetNumber, 4);
    EXPECT_EQ(c->Parent, b);

    // A copy keeps the old place, sharing the moved node's children.
    TreeNode* copy = FindChild(a->Children, 2, false);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, b);
    EXPECT_EQ(copy->Parent, a);
    EXPECT_EQ(copy->Children, b->Children);
    EXPECT_EQ(copy->Items, 2);
    EXPECT_EQ(copy->ItemsetNumber, 2);
    EXPECT_EQ(copy->Support, 3);
    EXPECT_EQ(copy->ProjDBSize, 7u);
    EXPECT_FALSE(copy->ItemIsIntra);
    EXPECT_TRUE(copy->IsClosed);

    EXPECT_EQ(zzz, 5);
    EXPECT_EQ(Group(7), std::vector<TreeNode*>{b});
    testing::internal::CaptureStdout();
    checkNodeInfo(a);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(PrintTree(root).find("<(1)(3)(2 4)(6)>  Num= 302"), std::string::npos);
}

TEST_F(AddSequenceTest, RepeatedItemOfContainedItemsetMatchesSameItem)
{
    // (5 5)(7) inside (1)(3 5)(7): both 5s of (5 5) are found at the one 5
    // of (3 5), since a match does not advance the search.
    TreeNode* a = Node(root, 5, false, 9, 100);
    TreeNode* aa = Node(a, 5, true, 8, 101);
    TreeNode* q = Node(aa, 7, false, 3, 7);
    TreeNode* b = Node(root, 1, false, 9, 102);
    TreeNode* n = Node(Node(b, 3, false, 8, 103), 5, true, 7, 104);
    EXPECT_EQ(Offer(n, 7, false, 3, 7), 0);
    EXPECT_EQ(q->Parent, n);
    EXPECT_EQ(q->Items, 4);
    EXPECT_EQ(q->ItemsetNumber, 3);
}

TEST_F(AddSequenceTest, CandidateOpeningItsItemsetIsComparedFromItself)
{
    TreeNode* a = Node(root, 1, false, 9, 100);
    TreeNode* q = Node(a, 5, false, 3, 7);
    TreeNode* b = Node(a, 2, false, 8, 101);
    TreeNode* c = Node(b, 3, false, 6, 102);
    TreeNode* e = Node(b, 5, false, 4, 103);
    TreeNode* f = Node(e, 3, false, 4, 104);

    // (1)(5) is not inside (1)(2), the new pattern (1)(2)(3 5) without its
    // last itemset, although (1) is.
    EXPECT_EQ(Offer(c, 5, true, 3, 7), 1);
    EXPECT_EQ(q->Parent, a);

    // (1)(5) is inside (1)(2)(5): q moves to (1)(2)(5)(3 5), joining the
    // itemset now.
    EXPECT_EQ(Offer(f, 5, true, 3, 7), 0);
    EXPECT_EQ(q->Parent, f);
    EXPECT_TRUE(q->ItemIsIntra);
    EXPECT_EQ(q->Items, 5);
    EXPECT_EQ(q->ItemsetNumber, 4);
    EXPECT_EQ(FindChild(f->Children, 5, true), q);
}

TEST_F(AddSequenceTest, CurrentNodeAndAncestorsAreNeverMoved)
{
    // In-itemset extension by the same item: (3 5) offered (3 5 5).
    TreeNode* a = Node(root, 3, false, 9, 100);
    TreeNode* q = Node(a, 5, true, 3, 7);
    ASSERT_EQ(Offer(q, 5, true, 3, 7), 1);  // a move here would make a cycle
    EXPECT_EQ(currentLevel->Parent, q);
    EXPECT_EQ(q->Parent, a);
    EXPECT_EQ(FindChild(a->Children, 5, true), q);

    // (1)(5) offered below its own descendant (1)(5)(2).
    TreeNode* a2 = Node(root, 1, false, 9, 200);
    TreeNode* q2 = Node(a2, 5, false, 3, 8);
    TreeNode* n2 = Node(q2, 2, false, 3, 201);
    ASSERT_EQ(Offer(n2, 5, false, 3, 8), 1);
    EXPECT_EQ(q2->Parent, a2);
    EXPECT_EQ(currentLevel->Parent, n2);

    // The same containment from a node off q2's path does move it.
    TreeNode* p = Node(a2, 2, false, 5, 202);
    EXPECT_EQ(Offer(p, 5, false, 3, 8), 0);
    EXPECT_EQ(q2->Parent, p);
}

TEST_F(AddSequenceTest, FirstCandidateInTableOrderDecides)
{
    TreeNode* a = Node(root, 1, false, 9, 100);
    TreeNode* q1 = Node(a, 5, false, 3, 7);
    TreeNode* b = Node(root, 2, false, 9, 101);
    TreeNode* q2 = Node(b, 5, false, 3, 7);
    TreeNode* n = Node(a, 2, false, 4, 102);
    // Both (1)(5) and (2)(5) lie inside (1)(2)(5); (1)(5) was entered first.
    EXPECT_EQ(Offer(n, 5, false, 3, 7), 0);
    EXPECT_EQ(q1->Parent, n);
    EXPECT_EQ(q2->Parent, b);
}

// Candidates that pass key, support, item and length but must not serve the
// new pattern: another position fingerprint (the further positions differ);
// a false containment through the itemsets that hold x; a move after which a
// node linked to another node's array would no longer lie inside it.
TEST_F(AddSequenceTest, UnsoundCandidatesGivePlainInsertion)
{
    TreeNode* a = Node(root, 1, false, 9, 100);
    Node(a, 3, false, 3, 7);
    EXPECT_EQ(Offer(root, 3, false, 3, 7, 42), 1);
    EXPECT_EQ(reverseTable.EqualRange(7)->next->fingerprint, 42u);
    EXPECT_EQ(Offer(a, 8, false, 2, 60), 1);  // entered with fingerprint 0
    EXPECT_EQ(Offer(root, 8, false, 2, 60), 0);  // same fingerprint: shared

    // (1 6) is not inside (1)(2 6), although (1) fits the first itemset.
    TreeNode* q16 = Node(a, 6, true, 4, 70);
    TreeNode* n12 = Node(a, 2, false, 5, 71);
    EXPECT_EQ(Offer(n12, 6, true, 4, 70), 1);
    EXPECT_EQ(q16->Parent, a);

    // (5)(7) shares the array of (1)(5)(7); moving (5) under (2) would make
    // it (2)(5)(7), which (1)(5)(7) does not contain.
    TreeNode* q = Node(a, 5, false, 3, 75);
    TreeNode* o = Node(q, 7, false, 2, 80);
    Node(o, 9, false, 1, 85);  // a link to an empty array would link nothing
    TreeNode* top5 = Node(root, 5, false, 6, 81);
    EXPECT_EQ(Offer(top5, 7, false, 2, 80), 0);
    EXPECT_EQ(FindChild(top5->Children, 7, false)->Children, o->Children);
    TreeNode* two = Node(root, 2, false, 7, 90);
    EXPECT_EQ(Offer(two, 5, false, 6, 81), 1);
    EXPECT_EQ(top5->Parent, root);
}

// Grows a made-up tree the way the driver does: depth first, each pattern
// that gets a node of its own mined below and stepped back from once.  Keys
// and supports repeat often, so nodes are moved and arrays shared.
void GrowMadeUpTree(PatternTree& tree, std::mt19937& rng, int depth, int parentSupport,
                    int* equivalent)
{
    for (int item = 0; item < 6; item++) {
        for (bool intra : {true, false}) {
            if (depth == 0 ? intra : rng() % 4 != 0)
                continue;
            int support = 1 + static_cast<int>(rng() % parentSupport);
            PROJ_DB db = Record(item, intra, support, support + static_cast<int>(rng() % 3));
            if (addSequence(tree, &db) == 0) {
                ++*equivalent;
                continue;
            }
            if (depth < 6)
                GrowMadeUpTree(tree, rng, depth + 1, support, equivalent);
            tree.currentLevel = tree.currentLevel->Parent;
        }
    }
}

// The closed patterns of a made-up tree, pruned and printed, as text.
std::string MineMadeUpTree(unsigned seed, int* equivalent)
{
    PatternTree* tree = NewPatternTree();
    std::mt19937 rng(seed);
    GrowMadeUpTree(*tree, rng, 0, 6, equivalent);
    EXPECT_EQ(tree->currentLevel, tree->root);
    for (TreeNode* c : *tree->root->Children)
        closed_maxPruning(*tree, c, tree->root);
    std::string out = WrittenBy([tree](FILE* f) {
        char prefix[] = "(";
        for (TreeNode* c : *tree->root->Children)
            if (c->Parent == tree->root)
                c->Print(*tree, prefix, f);
    });
    out += "nodes " + std::to_string(tree->zzz);
    ReleasePatternTree(tree);
    return out;
}

// Two trees built, pruned and printed at the same time on two threads come
// out as they do one after the other: no tree reads another's state (the
// thread sanitizer build reports any shared write).
TEST(PatternTreeThreads, TwoTreesOnTwoThreadsMatchOneAfterTheOther)
{
    int equivalent[2] = {0, 0}, ignored[2] = {0, 0};
    std::string alone[2] = {MineMadeUpTree(11, &equivalent[0]), MineMadeUpTree(12, &equivalent[1])};
    EXPECT_GT(equivalent[0], 0);  // the equivalence paths ran
    EXPECT_GT(equivalent[1], 0);
    std::string together[2];
    std::thread first([&] { together[0] = MineMadeUpTree(11, &ignored[0]); });
    std::thread second([&] { together[1] = MineMadeUpTree(12, &ignored[1]); });
    first.join();
    second.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
    EXPECT_NE(alone[0], alone[1]);
}

}  // namespace
