// The equivalence table: a chained hash multimap from the equivalence key
// (support plus projection size) to tree nodes, with the position
// fingerprint of each node's projection.  Its growth and the visiting order
// of equal keys follow fixed rules, because the outcome of an insertion
// depends on which candidate is visited first.  Entries are cut from
// blocks and never removed singly.
//
// Tested by tests/unit/test_equiv_table.cpp.
#include "tree/ClosedSeqTree.h"

#include <cstdlib>
#include <vector>

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

void EquivTable::Clear()
{
    // The fresh buckets first: when the allocation fails, the table still
    // owns a whole bucket array (the run ends; the destructor walks it).
    size_t n = NextPrime(100);
    Entry** fresh = new Entry*[n]();
    delete[] buckets;
    buckets = fresh;
    nBuckets = n;
    nElements = 0;
    // The first block is kept for the entries to come.
    for (size_t i = 1; i < blocks.size(); i++)
        delete[] blocks[i];
    if (blocks.size() > 1)
        blocks.resize(1);
    blockUsed = blocks.empty() ? kEntriesPerBlock : 0;
}

EquivTable::Entry* EquivTable::NewEntry()
{
    if (blockUsed == kEntriesPerBlock) {
        // Room in the list first, so that a failed allocation never leaves
        // a block without its owner.
        blocks.reserve(blocks.size() + 1);
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
