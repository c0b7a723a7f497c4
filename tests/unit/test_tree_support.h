// Helpers shared by the pattern tree tests: a fixture that gives every test
// fresh run-wide tree state, hand-made nodes and records, and a release of
// trees whose nodes share Children arrays.
#ifndef QUIVREL_TEST_TREE_SUPPORT_H
#define QUIVREL_TEST_TREE_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tree/ClosedSeqTree.h"

// Frees every node and array reachable from `top` through any Children entry,
// each exactly once (the tree's own destructor assumes nothing is shared).
inline void FreeSharedTree(TreeNode* top)
{
    std::set<TreeNode*> nodes;
    std::set<std::vector<TreeNode*>*> arrays;
    std::vector<TreeNode*> work{top};
    while (!work.empty()) {
        TreeNode* n = work.back();
        work.pop_back();
        if (!nodes.insert(n).second)
            continue;
        if (n->Children != nullptr && arrays.insert(n->Children).second)
            for (TreeNode* c : *n->Children)
                work.push_back(c);
    }
    for (TreeNode* n : nodes) {
        n->Children = nullptr;
        delete n;
    }
    for (auto* a : arrays)
        delete a;
}

// A child made the way the tree makes them, with its equivalence key.
inline TreeNode* Kid(TreeNode* parent, int item, bool intra, int support, unsigned key = 0)
{
    TreeNode* n = parent->AddChild(item, intra, support);
    n->ProjDBSize = key;
    return n;
}

// Only the four fields that pattern insertion reads matter.
inline PROJ_DB Record(int lastItem, bool intra, int support, int numOfItems)
{
    PROJ_DB db{};
    db.m_nLastItem = lastItem;
    db.m_bIsIntra = intra;
    db.maxSupport = support;
    db.NumOfItems = numOfItems;
    return db;
}

// Everything written to a stream by `write`.
template <class F>
std::string WrittenBy(F write)
{
    FILE* f = tmpfile();
    write(f);
    std::string out;
    rewind(f);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

// The lines the driver would write for the whole tree.
inline std::string PrintTree(TreeNode* top)
{
    return WrittenBy([top](FILE* f) {
        char prefix[] = "(";
        for (TreeNode* c : *top->Children)
            if (c->Parent == top)
                c->Print(prefix, f);
    });
}

// Fresh run-wide tree state for each test, released afterwards.
class TreeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = new TreeNode(-1, false, 0, nullptr);
        currentLevel = root;
        reverseTable = new EquivTable();
        zzz = 0;
        closed_maxFreq.assign(256, 0);
    }
    void TearDown() override
    {
        FreeSharedTree(root);
        delete reverseTable;
        root = currentLevel = nullptr;
        reverseTable = nullptr;
    }
    void PruneAll()
    {
        for (TreeNode* c : *root->Children)
            closed_maxPruning(c, root);
    }
};

#endif
