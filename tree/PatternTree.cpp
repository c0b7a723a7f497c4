// The pattern tree object and the arena of its nodes and Children arrays.
// Nothing in a tree is freed node by node at the end: the arena gives back
// its blocks, and with them every node, shared arrays included, once.
//
// Tested by tests/unit/test_tree_nodes.cpp (storage, release) and, for two
// trees mined at once, tests/integration/test_mining_run.cpp.
#include "tree/PatternTree.h"

#include <new>

#ifdef QUIVREL_NODES_ON_HEAP

// Sanitizer builds: one heap block per node and per array, and the sets of
// those still alive, freed one by one when the arena goes.

// Notes a new block in its set.  Should the set fail to grow (a failed
// allocation ends the run, and an in-process caller goes on), the block goes
// back rather than being lost.
template <class T>
static T* Keep(std::unordered_set<T*>& live, T* block)
{
    try {
        live.insert(block);
    } catch (...) {
        delete block;
        throw;
    }
    return block;
}

NodeArena::~NodeArena()
{
    for (TreeNode* node : liveNodes) {
        node->~TreeNode();
        ::operator delete(node);
    }
    for (ChildArray* array : liveArrays)
        delete array;
}

TreeNode* NodeArena::NewNode(int item, bool isIntra, int support, TreeNode* parent)
{
    ChildArray* children = NewArray();
    return Keep(liveNodes, new TreeNode(item, isIntra, support, parent, children));
}

TreeNode* NodeArena::CopyNode(TreeNode* source)
{
    return Keep(liveNodes, new TreeNode(source));
}

void NodeArena::FreeNode(TreeNode* node)
{
    if (node != nullptr && liveNodes.erase(node) == 1)
        delete node;
}

NodeArena::ChildArray* NodeArena::NewArray()
{
    return Keep(liveArrays, new ChildArray());
}

void NodeArena::FreeArray(ChildArray* array)
{
    if (array != nullptr && liveArrays.erase(array) == 1)
        delete array;
}

#else

// Blocks of slots.  Node slots hold no resources, so a block is given back
// as it is; array slots are constructed vectors (a freed one is emptied and
// kept for reuse) and each is destroyed before its block goes.
NodeArena::~NodeArena()
{
    for (size_t b = 0; b < arrayBlocks.size(); b++) {
        size_t used = b + 1 < arrayBlocks.size() ? kArraysPerBlock : arrayBlockUsed;
        ChildArray* arrays = reinterpret_cast<ChildArray*>(arrayBlocks[b]);
        for (size_t i = 0; i < used; i++)
            arrays[i].~ChildArray();
        ::operator delete(arrayBlocks[b]);
    }
    for (char* block : nodeBlocks)
        ::operator delete(block);
}

// A freed slot if there is one, else the next one of the last block.
void* NodeArena::NodeSlot()
{
    if (freeNodes != nullptr) {
        FreeSlot* slot = freeNodes;
        freeNodes = slot->next;
        return slot;
    }
    if (nodeBlockUsed == kNodesPerBlock) {
        nodeBlocks.reserve(nodeBlocks.size() + 1);
        nodeBlocks.push_back(static_cast<char*>(::operator new(sizeof(TreeNode) * kNodesPerBlock)));
        nodeBlockUsed = 0;
    }
    return nodeBlocks.back() + sizeof(TreeNode) * nodeBlockUsed++;
}

TreeNode* NodeArena::NewNode(int item, bool isIntra, int support, TreeNode* parent)
{
    static_assert(sizeof(TreeNode) >= sizeof(FreeSlot), "a free slot must fit a node");
    ChildArray* children = NewArray();
    void* slot = NodeSlot();
    return new (slot) TreeNode(item, isIntra, support, parent, children);
}

TreeNode* NodeArena::CopyNode(TreeNode* source)
{
    void* slot = NodeSlot();
    return new (slot) TreeNode(source);
}

void NodeArena::FreeNode(TreeNode* node)
{
    if (node == nullptr)
        return;
    node->~TreeNode();
    FreeSlot* slot = reinterpret_cast<FreeSlot*>(node);
    slot->next = freeNodes;
    freeNodes = slot;
}

NodeArena::ChildArray* NodeArena::NewArray()
{
    if (!freeArrays.empty()) {
        ChildArray* array = freeArrays.back();
        freeArrays.pop_back();
        return array;
    }
    if (arrayBlockUsed == kArraysPerBlock) {
        // Reserved first, so that a failed allocation leaves the block list
        // and the count of constructed slots in step.
        arrayBlocks.reserve(arrayBlocks.size() + 1);
        arrayBlocks.push_back(
            static_cast<char*>(::operator new(sizeof(ChildArray) * kArraysPerBlock)));
        arrayBlockUsed = 0;
    }
    void* slot = arrayBlocks.back() + sizeof(ChildArray) * arrayBlockUsed++;
    return new (slot) ChildArray();
}

void NodeArena::FreeArray(ChildArray* array)
{
    if (array == nullptr)
        return;
    ChildArray().swap(*array);  // its buffer goes now; the header waits
    freeArrays.push_back(array);
}

#endif

PatternTree::PatternTree()
    : root(nullptr), currentLevel(nullptr), zzz(0), closed_maxFreq(256, 0)
{
    root = arena.NewNode(-1, false, 0, nullptr);
    currentLevel = root;
}

PatternTree* NewPatternTree()
{
    return new PatternTree();
}

void ReleasePatternTree(PatternTree* tree)
{
    delete tree;
}
