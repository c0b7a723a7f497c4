// Helpers shared by the pattern tree tests: a fixture that gives every test
// a fresh tree, hand-made nodes and records.
#ifndef QUIVREL_TEST_TREE_SUPPORT_H
#define QUIVREL_TEST_TREE_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tree/PatternTree.h"

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

// A fresh tree for each test, released afterwards (the sanitizer build
// reports anything the release leaves behind).  Its fields are reachable
// under their own names.
class TreeFixture : public ::testing::Test {
protected:
    TreeFixture()
        : owned(NewPatternTree()), tree(*owned), root(tree.root),
          currentLevel(tree.currentLevel), reverseTable(tree.reverseTable), zzz(tree.zzz),
          closed_maxFreq(tree.closed_maxFreq)
    {
    }
    ~TreeFixture() override { ReleasePatternTree(owned); }

    PatternTree* owned;
    PatternTree& tree;
    TreeNode*& root;
    TreeNode*& currentLevel;
    EquivTable& reverseTable;
    int& zzz;
    std::vector<int>& closed_maxFreq;

    // A child made the way the tree makes them, with its equivalence key.
    TreeNode* Kid(TreeNode* parent, int item, bool intra, int support, unsigned key = 0)
    {
        TreeNode* n = parent->AddChild(tree, item, intra, support);
        n->ProjDBSize = key;
        return n;
    }
    // The lines the driver would write for the whole tree.
    std::string PrintTree(TreeNode* top)
    {
        return WrittenBy([this, top](FILE* f) {
            char prefix[] = "(";
            for (TreeNode* c : *top->Children)
                if (c->Parent == top)
                    c->Print(tree, prefix, f);
        });
    }
    void PruneAll()
    {
        for (TreeNode* c : *root->Children)
            closed_maxPruning(tree, c, root);
    }
};

#endif
