// One pattern tree: its nodes and Children arrays (kept in the tree's own
// arena and released with it as a whole), the root and the node the
// recursion stands on, the equivalence table, the counters the result file
// reports, and the scratch that the insertion, pruning and printing walks
// reuse between calls.  Nothing of a tree lives outside it, so two trees
// can be built and mined at the same time, on two threads.
#ifndef QUIVREL_PATTERNTREE_H
#define QUIVREL_PATTERNTREE_H

#include <cstddef>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tree/ClosedSeqTree.h"

// Under AddressSanitizer every node and every Children array is a heap block
// of its own, so that a read of a freed node is reported as a use after free
// (a slot of a block would hide it); the arena frees what is left one by one
// when it is released.
#if defined(__SANITIZE_ADDRESS__)
#define QUIVREL_NODES_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIVREL_NODES_ON_HEAP 1
#endif
#endif

// Storage of one tree's nodes and Children arrays.  A run makes a node per
// pattern met, millions on large runs: nodes and array headers are cut from
// blocks, and everything goes when the arena does.  Freed slots are reused.
class NodeArena {
public:
    using ChildArray = std::vector<TreeNode*>;

    NodeArena() = default;
    NodeArena(const NodeArena&) = delete;  // owns its blocks
    NodeArena& operator=(const NodeArena&) = delete;
    ~NodeArena();

    // A node with an empty Children array of its own.
    TreeNode* NewNode(int item, bool isIntra, int support, TreeNode* parent);
    // A copy of `source` that shares its Children array (see TreeNode).
    TreeNode* CopyNode(TreeNode* source);
    // Gives a node's slot back; its Children array is not touched.
    void FreeNode(TreeNode* node);
    ChildArray* NewArray();
    void FreeArray(ChildArray* array);

private:
#ifdef QUIVREL_NODES_ON_HEAP
    std::unordered_set<TreeNode*> liveNodes;
    std::unordered_set<ChildArray*> liveArrays;
#else
    struct FreeSlot {
        FreeSlot* next;
    };
    static const size_t kNodesPerBlock = 4096;
    static const size_t kArraysPerBlock = 4096;
    FreeSlot* freeNodes = nullptr;
    std::vector<char*> nodeBlocks;
    size_t nodeBlockUsed = kNodesPerBlock;  // slots taken in the last block
    // Freed arrays stay constructed (empty, without a buffer) until reused.
    std::vector<ChildArray*> freeArrays;
    std::vector<char*> arrayBlocks;
    size_t arrayBlockUsed = kArraysPerBlock;
    void* NodeSlot();
#endif
};

class PatternTree {
public:
    PatternTree();
    PatternTree(const PatternTree&) = delete;  // owns every node of the tree
    PatternTree& operator=(const PatternTree&) = delete;
    ~PatternTree() = default;

    NodeArena arena;  // first: it outlives every pointer below
    TreeNode* root;
    TreeNode* currentLevel;            // the node of the pattern being mined
    EquivTable reverseTable;           // equivalence key -> nodes
    int zzz;                           // nodes made by plain insertion
    std::vector<int> closed_maxFreq;   // printed patterns by item count

    // ---- scratch of the walks, kept between calls ----
    // Insertion: one itemset of each pattern being compared, last item
    // first; the owned subtree of a node about to move, and the patterns of
    // a link and its owner after the move.
    std::vector<int> supSet;
    std::vector<int> subSet;
    std::vector<TreeNode*> moveStack;
    std::vector<std::pair<int, bool>> moveSteps;
    std::vector<std::vector<int>> linkedPattern, ownerPattern;
    // Counter walks.
    std::vector<TreeNode*> counterStack;
    // Pruning: pairs compared by closed_maxChecking, frames of
    // closed_maxPruning.
    struct CheckPair {
        TreeNode* node;
        TreeNode* parent;
        TreeNode* other;
    };
    struct PruneFrame {
        TreeNode* node;
        TreeNode* parent;
        size_t next;  // next Children slot of the first pass
    };
    std::vector<CheckPair> checkStack;
    std::vector<PruneFrame> pruneStack;
    // Printing: the pattern text, one output line, the walk's frames.
    struct PrintFrame {
        TreeNode* node;
        size_t next;  // next Children slot to look at
        size_t mark;  // text length before this node's step
    };
    std::string printText;
    std::string printLine;
    std::vector<PrintFrame> printStack;
};

// A fresh tree: a root (item -1), currentLevel on it, an empty table.
PatternTree* NewPatternTree();
// Frees the tree and every node and array in it, however arrays are shared.
void ReleasePatternTree(PatternTree* tree);

#endif
