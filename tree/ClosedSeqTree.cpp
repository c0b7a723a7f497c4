// The closed pattern tree: nodes and their child order, output of the tree,
// the equivalence table, pattern insertion, the counter walks and the final
// pruning pass.
//
// Patterns can be as deep as the data allows (a chain of 100,000 nodes is a
// valid tree), so no walk here recurses once per tree level: every walk keeps
// its own explicit stack in a std::vector.  The stacks and scratch buffers are
// function-local statics that keep their capacity between calls, so the walks
// allocate only while they grow to the deepest tree seen so far.

#include "tree/ClosedSeqTree.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

// ---- run-wide state of the tree ----
TreeNode* root = nullptr;
TreeNode* currentLevel = nullptr;
EquivTable* reverseTable = nullptr;
int zzz = 0;
std::vector<int> closed_maxFreq;

// ---------------------------------------------------------------------------
// Child order and lookups

// Orders a key (isIntra, item) against a node: in-itemset children first, then
// ascending item code.  Returns -1, 0 or +1 as the key comes before, ties with
// or comes after the node.
static int CompareKey(bool isIntra, int item, const TreeNode* node)
{
    if (isIntra != node->ItemIsIntra)
        return isIntra ? -1 : 1;
    if (item < node->Item)
        return -1;
    return item > node->Item ? 1 : 0;
}

bool TreeNodeLess(TreeNode* a, TreeNode* b)
{
    return CompareKey(a->ItemIsIntra, a->Item, b) < 0;
}

int TreeNodeCompare(TreeNode** a, TreeNode** b)
{
    return CompareKey((*a)->ItemIsIntra, (*a)->Item, *b);
}

// Binary search of a sorted Children array; returns the slot holding the
// child with this (item, isIntra), or null.  The key lives in two registers,
// so a lookup allocates nothing.
static TreeNode** FindSlot(std::vector<TreeNode*>* children, int item, bool isIntra)
{
    if (children == nullptr || children->empty())
        return nullptr;
    TreeNode** base = children->data();
    size_t lo = 0, hi = children->size();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        int c = CompareKey(isIntra, item, base[mid]);
        if (c == 0)
            return base + mid;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

TreeNode* FindChild(std::vector<TreeNode*>* children, int item, bool isIntra)
{
    TreeNode** slot = FindSlot(children, item, isIntra);
    return slot ? *slot : nullptr;
}

// Append, then move the new pointer back to just after the last element that
// does not come after it: a stable merge of one element into the sorted part.
void InsertChild(std::vector<TreeNode*>* children, TreeNode* node)
{
    children->push_back(node);
    auto last = children->end() - 1;
    auto pos = std::upper_bound(children->begin(), last, node, TreeNodeLess);
    std::rotate(pos, last, children->end());
}

// ---------------------------------------------------------------------------
// TreeNode

// Node storage: blocks of nodes that live until the process ends, and a list
// of the slots of deleted nodes for reuse.  One node per pattern met makes
// millions on large runs; a block allocation for many of them saves the
// heap's per-call work and header.
namespace {
struct FreeSlot {
    FreeSlot* next;
};
const size_t kNodesPerBlock = 4096;
FreeSlot* gFreeNodes = nullptr;
char* gNodeBlock = nullptr;     // current block
size_t gNodeBlockUsed = kNodesPerBlock;
std::vector<char*> gNodeBlocks;  // every block, kept reachable
}  // namespace

// Under AddressSanitizer every node is a heap block of its own, so that a
// read of a deleted node and a node never deleted are reported as a use after
// free and a leak: slots of a pool would hide both.
#if defined(__SANITIZE_ADDRESS__)
#define QUIVREL_NODES_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIVREL_NODES_ON_HEAP 1
#endif
#endif

void* TreeNode::operator new(std::size_t size)
{
    static_assert(sizeof(TreeNode) >= sizeof(FreeSlot), "a free slot must fit a node");
#ifdef QUIVREL_NODES_ON_HEAP
    return ::operator new(size);
#endif
    if (size != sizeof(TreeNode))
        return ::operator new(size);
    if (gFreeNodes != nullptr) {
        FreeSlot* slot = gFreeNodes;
        gFreeNodes = slot->next;
        return slot;
    }
    if (gNodeBlockUsed == kNodesPerBlock) {
        gNodeBlock = static_cast<char*>(::operator new(sizeof(TreeNode) * kNodesPerBlock));
        gNodeBlocks.push_back(gNodeBlock);
        gNodeBlockUsed = 0;
    }
    return gNodeBlock + sizeof(TreeNode) * gNodeBlockUsed++;
}

void TreeNode::operator delete(void* node) noexcept
{
    if (node == nullptr)
        return;
#ifdef QUIVREL_NODES_ON_HEAP
    ::operator delete(node);
    return;
#endif
    FreeSlot* slot = static_cast<FreeSlot*>(node);
    slot->next = gFreeNodes;
    gFreeNodes = slot;
}

TreeNode::TreeNode(int item, bool isIntra, int support, TreeNode* parent)
    : Item(item), ItemIsIntra(isIntra), ItemsetNumber(0), Items(0),
      Support(support), ProjDBSize(0), IsClosed(true),
      Children(new std::vector<TreeNode*>()), Parent(parent)
{
}

TreeNode::TreeNode(TreeNode* source)
    : Item(source->Item), ItemIsIntra(source->ItemIsIntra),
      ItemsetNumber(source->ItemsetNumber), Items(source->Items),
      Support(source->Support), ProjDBSize(source->ProjDBSize), IsClosed(true),
      Children(source->Children), Parent(source->Parent)
{
}

// Destroys every node in the Children array (owned and linked alike) and
// everything below it, then the array.  Only valid for a subtree that shares
// no array and no node with the rest of the tree.  Children arrays are
// detached from their nodes and freed from a work list, so a deep subtree
// does not nest destructor calls.
TreeNode::~TreeNode()
{
    if (Children == nullptr)
        return;
    if (Children->empty()) {
        delete Children;
        Children = nullptr;
        return;
    }
    std::vector<std::vector<TreeNode*>*> pending{Children};
    Children = nullptr;
    while (!pending.empty()) {
        std::vector<TreeNode*>* array = pending.back();
        pending.pop_back();
        for (TreeNode* child : *array) {
            if (child == nullptr)
                continue;
            if (child->Children != nullptr) {
                pending.push_back(child->Children);
                child->Children = nullptr;
            }
            delete child;
        }
        delete array;
    }
}

bool TreeNode::isRoot()
{
    return Parent == nullptr;
}

bool TreeNode::LastItemOfSequence()
{
    if (Children == nullptr)
        return true;
    int best = 0;
    for (TreeNode* child : *Children)
        if (child->Support > best)
            best = child->Support;
    return Support > best;
}

// Links a freshly inserted child under this node with counters one item
// deeper (and one itemset more when it starts a new itemset).
static void SetChildCounters(TreeNode* parent, TreeNode* child)
{
    child->Parent = parent;
    child->ItemsetNumber = parent->ItemsetNumber + (child->ItemIsIntra ? 0 : 1);
    child->Items = parent->Items + 1;
}

TreeNode* TreeNode::AddChild(int item, bool isIntra, int support)
{
    TreeNode* found = FindChild(Children, item, isIntra);
    if (found != nullptr) {
        if (found->Support < support) {
            printf("Item: %d %d %d\n", item, found->Support, support);
            printf("ParentItem: %d %d\n", Item, Support);
            found->Support = support;
        }
        return found;
    }
    TreeNode* child = new TreeNode(item, isIntra, support, nullptr);
    InsertChild(Children, child);
    SetChildCounters(this, child);
    return child;
}

TreeNode* TreeNode::AddChild(TreeNode* child)
{
    TreeNode* found = FindChild(Children, child->Item, child->ItemIsIntra);
    if (found != nullptr) {
        if (found == child)  // already our child: nothing to merge or free
            return found;
        if (child->Support > found->Support)
            found->Support = child->Support;
        delete child;
        return found;
    }
    InsertChild(Children, child);
    SetChildCounters(this, child);
    return child;
}

// Appends one node's step to a pattern text: " item" when the item joins the
// last itemset, ")(item" when it starts a new one.
static void AppendStep(std::string& text, const TreeNode* node)
{
    char digits[16];
    auto res = std::to_chars(digits, digits + sizeof digits, node->Item);
    text.append(node->ItemIsIntra ? " " : ")(");
    text.append(digits, res.ptr);
}

// Appends a number as printf's %d writes it.
static void AppendInt(std::string& out, int value)
{
    char digits[16];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, res.ptr);
}

// Post-order walk of the owned subtree.  One text buffer serves the whole
// walk: a node's step is appended when the walk descends to it and cut off
// again when its line has been written, so each node's text is built once
// and patterns of any length print whole.
void TreeNode::Print(char* prefix, FILE* file)
{
    struct Frame {
        TreeNode* node;
        size_t next;  // next Children slot to look at
        size_t mark;  // text length before this node's step
    };
    static std::string text;
    static std::string line;
    static std::vector<Frame> stack;

    text.assign(prefix != nullptr ? prefix : "");
    stack.clear();
    stack.push_back({this, 0, text.size()});
    AppendStep(text, this);

    while (!stack.empty()) {
        Frame& f = stack.back();
        std::vector<TreeNode*>* children = f.node->Children;
        size_t count = children != nullptr ? children->size() : 0;
        while (f.next < count && (*children)[f.next]->Parent != f.node)
            ++f.next;  // linked children print under their own parent
        if (f.next < count) {
            TreeNode* child = (*children)[f.next++];
            stack.push_back({child, 0, text.size()});  // f is invalid now
            AppendStep(text, child);
            continue;
        }
        TreeNode* node = f.node;
        if (node->IsClosed) {
            if (node->Items >= 0) {
                if (static_cast<size_t>(node->Items) >= closed_maxFreq.size())
                    closed_maxFreq.resize(static_cast<size_t>(node->Items) + 1, 0);
                closed_maxFreq[node->Items]++;
            }
            // "<%s)>  Num= %d Support = %d   ItemsetNumber = %d\n", formatted
            // here: the result file has a line per closed pattern.
            line.assign("<");
            line.append(text, 2, std::string::npos);
            line.append(")>  Num= ");
            AppendInt(line, static_cast<int>(node->ProjDBSize));
            line.append(" Support = ");
            AppendInt(line, node->Support);
            line.append("   ItemsetNumber = ");
            AppendInt(line, node->ItemsetNumber);
            line.push_back('\n');
            fwrite(line.data(), 1, line.size(), file);
        }
        text.resize(f.mark);
        stack.pop_back();
    }
}

// ---------------------------------------------------------------------------
// Equivalence table

// Bucket counts the table may take; it always uses the first one that is not
// below the size it needs.
static const size_t kPrimes[28] = {
    53ul,         97ul,         193ul,       389ul,       769ul,
    1543ul,       3079ul,       6151ul,      12289ul,     24593ul,
    49157ul,      98317ul,      196613ul,    393241ul,    786433ul,
    1572869ul,    3145739ul,    6291469ul,   12582917ul,  25165843ul,
    50331653ul,   100663319ul,  201326611ul, 402653189ul, 805306457ul,
    1610612741ul, 3221225473ul, 4294967291ul};

static size_t NextPrime(size_t n)
{
    const size_t* end = kPrimes + 28;
    const size_t* p = std::lower_bound(kPrimes, end, n);
    return p == end ? *(end - 1) : *p;
}

static const size_t kEntriesPerBlock = 4096;

static size_t BucketOf(int key, size_t nBuckets)
{
    return static_cast<uint32_t>(key) % nBuckets;
}

EquivTable::EquivTable()
    : buckets(nullptr), nBuckets(NextPrime(100)), nElements(0), blockUsed(kEntriesPerBlock)
{
    buckets = new Entry*[nBuckets]();
}

EquivTable::~EquivTable()
{
    for (size_t i = 0; i < nBuckets; i++)
        buckets[i] = nullptr;
    for (Entry* block : blocks)
        delete[] block;
    nElements = 0;
    delete[] buckets;
}

// Rebuilds the chains in a larger bucket array.  Old buckets are walked in
// index order and each chain from its head, every entry going to the head of
// its new chain; this reverses the order of the entries of each key, which
// decides which equivalent node later insertions meet first.
void EquivTable::Grow(size_t minBuckets)
{
    size_t n = NextPrime(minBuckets);
    if (n <= nBuckets)
        return;
    Entry** fresh = new Entry*[n]();
    for (size_t i = 0; i < nBuckets; i++) {
        Entry* e = buckets[i];
        while (e != nullptr) {
            Entry* next = e->next;
            size_t b = BucketOf(e->key, n);
            e->next = fresh[b];
            fresh[b] = e;
            e = next;
        }
    }
    delete[] buckets;
    buckets = fresh;
    nBuckets = n;
}

void EquivTable::Insert(int key, TreeNode* node, uint64_t fingerprint)
{
    if (nElements + 1 > nBuckets)
        Grow(nElements + 1);
    size_t b = BucketOf(key, nBuckets);
    Entry* e = NewEntry();
    *e = Entry{nullptr, key, node, fingerprint};
    Entry* first = buckets[b];
    while (first != nullptr && first->key != key)
        first = first->next;
    if (first != nullptr) {
        // Keep equal keys together: directly behind the first of them.
        e->next = first->next;
        first->next = e;
    } else {
        e->next = buckets[b];
        buckets[b] = e;
    }
    nElements++;
}

EquivTable::Entry* EquivTable::NewEntry()
{
    if (blockUsed == kEntriesPerBlock) {
        blocks.push_back(new Entry[kEntriesPerBlock]);
        blockUsed = 0;
    }
    return &blocks.back()[blockUsed++];
}

EquivTable::Entry* EquivTable::EqualRange(int key) const
{
    for (Entry* e = buckets[BucketOf(key, nBuckets)]; e != nullptr; e = e->next)
        if (e->key == key)
            return e;
    return nullptr;
}

LevelNode::LevelNode() : table(nullptr) {}

LevelNode::~LevelNode()
{
    delete table;
}

// ---------------------------------------------------------------------------
// Subtree counter walks

// Visits `node` and every node below it reached through owned children, in
// pre-order and array order, without recursion.  Linked children are left
// out: they belong to the subtree of their own parent.
template <typename Visit>
static void VisitOwnedSubtree(TreeNode* node, Visit visit)
{
    std::vector<TreeNode*> stack{node};
    while (!stack.empty()) {
        TreeNode* n = stack.back();
        stack.pop_back();
        visit(n);
        if (n->Children == nullptr)
            continue;
        // Pushed last to first so that children are visited in array order.
        for (size_t i = n->Children->size(); i-- > 0;) {
            TreeNode* child = (*n->Children)[i];
            if (child->Parent == n)
                stack.push_back(child);
        }
    }
}

void updateNodeInfo(TreeNode* node, int itemsDelta, int itemsetDelta)
{
    VisitOwnedSubtree(node, [=](TreeNode* n) {
        n->Items += itemsDelta;
        n->ItemsetNumber += itemsetDelta;
    });
}

void updateOldNodeInfo(TreeNode* parent, TreeNode* oldNode, TreeNode* newNode)
{
    TreeNode** slot = FindSlot(parent->Children, oldNode->Item, oldNode->ItemIsIntra);
    if (slot != nullptr)
        *slot = newNode;
}

// Pre-order check of the counter rule between each owned node and its parent.
void checkNodeInfo(TreeNode* node)
{
    if (node == nullptr || node->Parent == nullptr)
        return;
    VisitOwnedSubtree(node, [](TreeNode* n) {
        TreeNode* p = n->Parent;
        int expectedSets = p->ItemsetNumber + (n->ItemIsIntra ? 0 : 1);
        if (n->Items != p->Items + 1 || n->ItemsetNumber != expectedSets)
            printf("Node Info: Items or ItemsetNumber Error");
    });
}

// ---------------------------------------------------------------------------
// Pattern insertion

namespace {

enum Verdict { kReject, kShareChildren, kMoveCandidate };

// One itemset of a pattern, last item first.  Growable, and reused between
// calls so that a comparison normally allocates nothing.
std::vector<int> supSet;
std::vector<int> subSet;

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
bool Fits()
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
// the fingerprint that q was entered with.
Verdict JudgeCandidate(TreeNode* q, uint64_t qfp, TreeNode* n, int x, bool isIntra, int s,
                       uint64_t fp)
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
    containing = LoadItemset(supSet, containing);
    contained = LoadItemset(subSet, contained);
    // When x joins an itemset on both sides, the two first loads are the
    // itemsets that hold x, less x: they must match each other, or the
    // contained itemset could be matched to an earlier one without x.
    if (q->ItemIsIntra && isIntra && !Fits())
        return kReject;
    for (;;) {
        if (containing == nullptr || contained == nullptr)
            return kReject;
        if (Fits()) {
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
// of each ascending.
void PatternAfterMove(const TreeNode* node, const TreeNode* moved, const TreeNode* newParent,
                      bool intra, ItemsetList& out)
{
    static std::vector<std::pair<int, bool>> steps;  // (item, joins its itemset), deepest first
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
bool MoveKeepsLinks(TreeNode* q, TreeNode* n, bool intra)
{
    static std::vector<TreeNode*> stack;
    static ItemsetList linked, owner;
    stack.assign(1, q);
    while (!stack.empty()) {
        TreeNode* node = stack.back();
        stack.pop_back();
        if (TreeNode* arrayOwner = ArrayOwner(node)) {
            PatternAfterMove(node, q, n, intra, linked);
            PatternAfterMove(arrayOwner, q, n, intra, owner);
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

int addSequence(PROJ_DB* db, TreeNode** level, EquivTable* table)
{
    TreeNode* n = *level;
    const int x = db->m_nLastItem;
    const bool isIntra = db->m_bIsIntra;
    const int s = db->maxSupport;
    const unsigned int key =
        static_cast<unsigned int>(db->maxSupport) + static_cast<unsigned int>(db->NumOfItems);
    const uint64_t fp = db->m_nPosFingerprint;
    const int newItems = n->Items + 1;
    const int newItemsets = n->ItemsetNumber + (isIntra ? 0 : 1);

    for (EquivTable::Entry* e = table->EqualRange(static_cast<int>(key));
         e != nullptr && e->key == static_cast<int>(key); e = e->next) {
        TreeNode* q = e->node;
        Verdict v = JudgeCandidate(q, e->fingerprint, n, x, isIntra, s, fp);
        if (v == kMoveCandidate && !MoveKeepsLinks(q, n, isIntra))
            continue;
        if (v == kShareChildren) {
            // The new pattern lies inside q's: its extensions are q's, so the
            // new node reads q's Children array instead of being mined.
            // (A copy of q already shares its array; q's Item and Support
            // equal x and s, and the rest is set for the new place.)
            TreeNode* node = new TreeNode(q);
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
                *slot = new TreeNode(q);
            int itemsDelta = newItems - q->Items;
            int itemsetDelta = newItemsets - q->ItemsetNumber;
            q->Items = newItems;
            q->ItemsetNumber = newItemsets;
            if (itemsDelta != 0 || itemsetDelta != 0)
                for (TreeNode* child : *q->Children)
                    if (child->Parent == q)
                        updateNodeInfo(child, itemsDelta, itemsetDelta);
            q->ItemIsIntra = isIntra;
            q->Parent = n;
            InsertChild(n->Children, q);
            return 0;
        }
    }

    // No equivalent node: a node of its own, entered into the table, and the
    // recursion continues below it.
    zzz++;
    TreeNode* node = new TreeNode(x, isIntra, s, nullptr);
    InsertChild(n->Children, node);
    node->Parent = n;
    node->ItemsetNumber = newItemsets;
    node->Items = newItems;
    node->ProjDBSize = key;
    *level = node;
    table->Insert(static_cast<int>(key), node, fp);
    return 1;
}

// Every node is an owned child of exactly one node (its Parent), so walking
// the owned edges from the top reaches each node once; arrays can be shared
// by several nodes and are collected first, then freed once each.
void ReleaseTree(TreeNode* top)
{
    if (top == nullptr)
        return;
    std::vector<TreeNode*> nodes{top};
    std::unordered_set<std::vector<TreeNode*>*> arrays;
    for (size_t i = 0; i < nodes.size(); i++) {
        TreeNode* n = nodes[i];
        if (n->Children == nullptr)
            continue;
        arrays.insert(n->Children);
        for (TreeNode* child : *n->Children) {
            if (child != nullptr && child->Parent == n)
                nodes.push_back(child);
        }
    }
    for (TreeNode* n : nodes) {
        n->Children = nullptr;  // the arrays are freed below, once each
        delete n;
    }
    for (std::vector<TreeNode*>* array : arrays)
        delete array;
}

// ---------------------------------------------------------------------------
// Pruning

// Walks other's subtree (through every Children entry) against node's owned
// subtree, pairing children reached by the same steps, and clears IsClosed on
// each node-side pattern whose support equals its longer counterpart's.
// Pre-order: a pair is compared before any pair below it.
void closed_maxChecking(TreeNode* node, TreeNode* parent, TreeNode* other)
{
    struct Pair {
        TreeNode* node;
        TreeNode* parent;
        TreeNode* other;
    };
    static std::vector<Pair> stack;
    const size_t base = stack.size();
    stack.push_back({node, parent, other});
    while (stack.size() > base) {
        Pair p = stack.back();
        stack.pop_back();
        if (p.node == nullptr || p.node->Parent != p.parent)
            continue;  // missing, or only linked here: nothing to compare
        if (p.node->Support == p.other->Support)
            p.node->IsClosed = false;
        std::vector<TreeNode*>* others = p.other->Children;
        std::vector<TreeNode*>* mine = p.node->Children;
        if (others == nullptr || others->empty() || mine == nullptr || mine->empty())
            continue;  // no child on one side: no pair below
        // Both arrays are in child order, so the pairs are found by walking
        // them together from the end; pushed last to first, the pairs are
        // visited in array order.
        size_t j = mine->size();
        for (size_t i = others->size(); i-- > 0 && j > 0;) {
            TreeNode* child = (*others)[i];
            int c = 1;
            while (j > 0 && (c = CompareKey(child->ItemIsIntra, child->Item, (*mine)[j - 1])) < 0)
                --j;
            if (j > 0 && c == 0) {
                TreeNode* match = (*mine)[j - 1];
                if (match->Parent == p.node)
                    stack.push_back({match, p.node, child});
            }
        }
    }
}

// For every owned node: its parent is not closed when their supports are
// equal; then, once its owned children are done, each child (owned or
// linked) is checked against the pattern without the node's item, found
// among the parent's children.
void closed_maxPruning(TreeNode* node, TreeNode* parent)
{
    struct Frame {
        TreeNode* node;
        TreeNode* parent;
        size_t next;  // next Children slot of the first pass
    };
    static std::vector<Frame> stack;
    const size_t base = stack.size();

    auto enter = [](TreeNode* n, TreeNode* p) {
        if (p->Support == n->Support)
            p->IsClosed = false;
        if (n->Children != nullptr && !n->Children->empty())
            stack.push_back({n, p, 0});
    };

    enter(node, parent);
    while (stack.size() > base) {
        Frame& f = stack.back();
        std::vector<TreeNode*>* children = f.node->Children;
        while (f.next < children->size() && (*children)[f.next]->Parent != f.node)
            ++f.next;
        if (f.next < children->size()) {
            TreeNode* child = (*children)[f.next++];
            enter(child, f.node);  // may reallocate: f is not used after this
            continue;
        }
        TreeNode* n = f.node;
        TreeNode* p = f.parent;
        stack.pop_back();
        // Second pass: child = P x y against the pattern P y, which joins
        // P's last itemset only when both x and y joined theirs.
        for (TreeNode* child : *children) {
            TreeNode* counterpart = FindChild(p->Children, child->Item,
                                              child->ItemIsIntra && n->ItemIsIntra);
            closed_maxChecking(counterpart, p, child);
        }
    }
}
