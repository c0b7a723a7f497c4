// Pattern insertion: a pattern met by the recursion becomes a node under
// currentLevel, unless the equivalence table knows a pattern with the same
// key and fingerprint that contains it or is contained in it; then the
// existing subtree is shared or moved and the new pattern is not mined
// again.  The containment tests compare itemsets last item first, with
// scratch kept between calls so that a comparison normally allocates
// nothing.
//
// Tested by tests/unit/test_add_sequence.cpp and, over whole runs, by
// tests/integration/test_bruteforce_closed.cpp and the closed_* end-to-end cases.
#include "tree/ClosedSeqTree.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tree/PatternTree.h"

namespace {

enum Verdict { kReject, kShareChildren, kMoveCandidate };

// Loads the itemset that ends at `node` into `set` and returns the rest: the
// node of the pattern without this itemset (null only on a malformed tree).
TreeNode* LoadItemset(std::vector<int>& set, TreeNode* node)
{
    set.clear();
    set.push_back(node->Item);
    while (node->ItemIsIntra && node->Parent != nullptr) {
        node = node->Parent;
        set.push_back(node->Item);
    }
    return node->Parent;
}

// The node of a pattern without its last itemset.
TreeNode* WithoutLastItemset(TreeNode* node)
{
    while (node->ItemIsIntra && node->Parent != nullptr)
        node = node->Parent;
    return node->Parent;
}

// Whether subSet's items occur in supSet in the same relative order.  The
// search for an item starts where the previous one was found, and gives up
// as soon as fewer items remain in supSet than are still sought.
bool Fits(const std::vector<int>& supSet, const std::vector<int>& subSet)
{
    size_t supCount = supSet.size(), subCount = subSet.size();
    if (supCount < subCount)
        return false;
    size_t pos = 0;
    for (size_t j = 0; j < subCount; j++) {
        for (;;) {
            if (supCount - pos < subCount - j)
                return false;
            if (supSet[pos] == subSet[j])
                break;
            pos++;
        }
    }
    return true;
}

// True when q is n itself or one of n's ancestors.  Only a node with no more
// items than n can be one; the walk goes up no further than q's depth.
bool IsSelfOrAncestor(const TreeNode* q, const TreeNode* n)
{
    if (q->Items > n->Items)
        return false;
    for (const TreeNode* a = n; a != nullptr && a->Items >= q->Items; a = a->Parent)
        if (a == q)
            return true;
    return false;
}

// Decides whether candidate q (same key as the new pattern) is equivalent to
// the new pattern: the current node n extended by item x (into its last
// itemset when isIntra), with support s and position fingerprint fp; qfp is
// the fingerprint that q was entered with.  The itemsets compared are loaded
// into the tree's supSet and subSet (one itemset each, last item first).
Verdict JudgeCandidate(PatternTree& tree, TreeNode* q, uint64_t qfp, TreeNode* n, int x,
                       bool isIntra, int s, uint64_t fp)
{
    // Cheap filters first.  Patterns of the same length are never compared.
    // The key pins down only the first positions of a projection; the
    // fingerprint covers all of them, so two patterns whose further
    // positions differ (and so their in-itemset extensions) never share.
    // Moving q under its own descendant (or itself) would cut the current
    // path loose and make a cycle, so such a candidate never qualifies.
    if (q->Support != s || q->Item != x || q->Items == n->Items + 1 || qfp != fp)
        return kReject;
    if (IsSelfOrAncestor(q, n))
        return kReject;
    bool candidateLonger = q->Items > n->Items + 1;

    // Both patterns end with x; start each side so that x is accounted for.
    TreeNode* candStart;
    TreeNode* newStart;
    if (q->ItemIsIntra == isIntra) {
        candStart = q->Parent;
        newStart = n;
    } else if (q->ItemIsIntra) {
        // x closes an itemset in q but opens one in the new pattern: drop
        // q's whole last itemset.
        candStart = WithoutLastItemset(q);
        newStart = n;
        if (candStart == nullptr || candStart->Items < n->Items ||
            candStart->ItemsetNumber < n->ItemsetNumber)
            return kReject;
    } else {
        // x opens an itemset in q but joins one in the new pattern: all of
        // q, x included, must lie before the new pattern's last itemset.
        candStart = q;
        newStart = WithoutLastItemset(n);
        if (newStart == nullptr || q->Items > newStart->Items ||
            q->ItemsetNumber > newStart->ItemsetNumber)
            return kReject;
    }
    if (candStart == nullptr)
        return kReject;

    if (newStart->Items == 0)
        return kShareChildren;
    if (candStart->Items == 0)
        return kMoveCandidate;

    // Walk back one itemset at a time, matching each itemset of the
    // contained side into an itemset of the containing side.
    TreeNode* containing = candidateLonger ? candStart : newStart;
    TreeNode* contained = candidateLonger ? newStart : candStart;
    std::vector<int>& supSet = tree.supSet;
    std::vector<int>& subSet = tree.subSet;
    containing = LoadItemset(supSet, containing);
    contained = LoadItemset(subSet, contained);
    // When x joins an itemset on both sides, the two first loads are the
    // itemsets that hold x, less x: they must match each other, or the
    // contained itemset could be matched to an earlier one without x.
    if (q->ItemIsIntra && isIntra && !Fits(supSet, subSet))
        return kReject;
    for (;;) {
        if (containing == nullptr || contained == nullptr)
            return kReject;
        if (Fits(supSet, subSet)) {
            if (contained->Items == 0)
                return candidateLonger ? kShareChildren : kMoveCandidate;
            if (contained->Items > containing->Items ||
                containing->ItemsetNumber < contained->ItemsetNumber)
                return kReject;
            containing = LoadItemset(supSet, containing);
            contained = LoadItemset(subSet, contained);
        } else {
            if (containing->Items == 0 || containing->Items < contained->Items ||
                containing->ItemsetNumber < contained->ItemsetNumber)
                return kReject;
            containing = LoadItemset(supSet, containing);
        }
    }
}

using ItemsetList = std::vector<std::vector<int>>;

// The pattern of `node` as it reads once `moved` hangs under `newParent`,
// its item joining the last itemset when `intra`: itemsets in order, items
// of each ascending.  `steps` is scratch: (item, joins its itemset), deepest
// first.
void PatternAfterMove(const TreeNode* node, const TreeNode* moved, const TreeNode* newParent,
                      bool intra, std::vector<std::pair<int, bool>>& steps, ItemsetList& out)
{
    steps.clear();
    for (const TreeNode* a = node; a != nullptr && a->Parent != nullptr;) {
        if (a == moved) {
            steps.push_back({a->Item, intra});
            a = newParent;
        } else {
            steps.push_back({a->Item, a->ItemIsIntra});
            a = a->Parent;
        }
    }
    out.clear();
    for (size_t i = steps.size(); i-- > 0;) {
        if (!steps[i].second || out.empty())
            out.emplace_back();
        out.back().push_back(steps[i].first);
    }
    for (std::vector<int>& set : out)
        std::sort(set.begin(), set.end());
}

// Whether every itemset of `small`, in order, is a subset of its own itemset
// of `big`; matching each as early as possible decides it.
bool ContainsPattern(const ItemsetList& big, const ItemsetList& small)
{
    size_t k = 0;
    for (size_t i = 0; i < big.size() && k < small.size(); i++) {
        if (std::includes(big[i].begin(), big[i].end(), small[k].begin(), small[k].end()))
            k++;
    }
    return k == small.size();
}

// The node whose Children array `node` holds when it is not its own (a node
// made by a shared-children insertion, or the copy left behind by a move),
// else null.  Every entry of an array is an owned child of the node that
// made the array: nodes are inserted only under the current node, whose
// array is its own, and a moved node's slot gets a copy with the same
// Parent.  So the owner is the Parent of any entry.  An empty array links
// nothing.
TreeNode* ArrayOwner(const TreeNode* node)
{
    if (node->Children == nullptr || node->Children->empty())
        return nullptr;
    TreeNode* owner = node->Children->front()->Parent;
    return owner != node ? owner : nullptr;
}

// A node that holds another node's Children array stands, through that
// array, for the extensions of its owner; that is sound only while its
// pattern is contained in the owner's.  Moving q under n changes the pattern
// of every node in q's owned subtree (and of an owner inside it).  True when
// each such link still holds after the move.
bool MoveKeepsLinks(PatternTree& tree, TreeNode* q, TreeNode* n, bool intra)
{
    std::vector<TreeNode*>& stack = tree.moveStack;
    ItemsetList& linked = tree.linkedPattern;
    ItemsetList& owner = tree.ownerPattern;
    stack.assign(1, q);
    while (!stack.empty()) {
        TreeNode* node = stack.back();
        stack.pop_back();
        if (TreeNode* arrayOwner = ArrayOwner(node)) {
            PatternAfterMove(node, q, n, intra, tree.moveSteps, linked);
            PatternAfterMove(arrayOwner, q, n, intra, tree.moveSteps, owner);
            if (!ContainsPattern(owner, linked))
                return false;
        }
        if (node->Children == nullptr)
            continue;
        for (TreeNode* child : *node->Children)
            if (child->Parent == node)
                stack.push_back(child);
    }
    return true;
}

}  // namespace

int addSequence(PatternTree& tree, PROJ_DB* db)
{
    TreeNode* n = tree.currentLevel;
    const int x = db->m_nLastItem;
    const bool isIntra = db->m_bIsIntra;
    const int s = db->maxSupport;
    const unsigned int key =
        static_cast<unsigned int>(db->maxSupport) + static_cast<unsigned int>(db->NumOfItems);
    const uint64_t fp = db->m_nPosFingerprint;
    const int newItems = n->Items + 1;
    const int newItemsets = n->ItemsetNumber + (isIntra ? 0 : 1);

    for (EquivTable::Entry* e = tree.reverseTable.EqualRange(static_cast<int>(key));
         e != nullptr && e->key == static_cast<int>(key); e = e->next) {
        TreeNode* q = e->node;
        Verdict v = JudgeCandidate(tree, q, e->fingerprint, n, x, isIntra, s, fp);
        if (v == kMoveCandidate && !MoveKeepsLinks(tree, q, n, isIntra))
            continue;
        if (v == kShareChildren) {
            // The new pattern lies inside q's: its extensions are q's, so the
            // new node reads q's Children array instead of being mined.
            // (A copy of q already shares its array; q's Item and Support
            // equal x and s, and the rest is set for the new place.)
            TreeNode* node = tree.arena.CopyNode(q);
            node->Item = x;
            node->ItemIsIntra = isIntra;
            node->Support = s;
            node->ProjDBSize = key;
            InsertChild(n->Children, node);
            node->Parent = n;
            node->Items = newItems;
            node->ItemsetNumber = newItemsets;
            return 0;
        }
        if (v == kMoveCandidate) {
            // q's pattern lies inside the new one: q and its mined subtree
            // move to the new pattern's place, and a copy sharing q's
            // Children array stays in q's old place.
            TreeNode* oldParent = q->Parent;
            TreeNode** slot = FindSlot(oldParent->Children, q->Item, q->ItemIsIntra);
            if (slot != nullptr)
                *slot = tree.arena.CopyNode(q);
            int itemsDelta = newItems - q->Items;
            int itemsetDelta = newItemsets - q->ItemsetNumber;
            q->Items = newItems;
            q->ItemsetNumber = newItemsets;
            if (itemsDelta != 0 || itemsetDelta != 0)
                for (TreeNode* child : *q->Children)
                    if (child->Parent == q)
                        updateNodeInfo(tree, child, itemsDelta, itemsetDelta);
            q->ItemIsIntra = isIntra;
            q->Parent = n;
            InsertChild(n->Children, q);
            return 0;
        }
    }

    // No equivalent node: a node of its own, entered into the table, and the
    // recursion continues below it.
    tree.zzz++;
    TreeNode* node = tree.arena.NewNode(x, isIntra, s, nullptr);
    InsertChild(n->Children, node);
    node->Parent = n;
    node->ItemsetNumber = newItemsets;
    node->Items = newItems;
    node->ProjDBSize = key;
    tree.currentLevel = node;
    tree.reverseTable.Insert(static_cast<int>(key), node, fp);
    return 1;
}
