// Printing the closed patterns: a walk over each owned subtree that builds
// the pattern text step by step and writes one line per node whose
// IsClosed flag survived pruning, deepest first, with its equivalence key,
// support and itemset count.
//
// Tested by tests/unit/test_tree_nodes.cpp and, byte for byte, by the
// expected ClosedMaxset.txt of the end-to-end cases.
#include "tree/ClosedSeqTree.h"

#include <charconv>
#include <string>
#include <vector>

#include "tree/PatternTree.h"

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
// and patterns of any length print whole.  The buffers and the stack are
// the tree's scratch.
void TreeNode::Print(PatternTree& tree, char* prefix, FILE* file)
{
    using Frame = PatternTree::PrintFrame;
    std::string& text = tree.printText;
    std::string& line = tree.printLine;
    std::vector<Frame>& stack = tree.printStack;
    std::vector<int>& closed_maxFreq = tree.closed_maxFreq;

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
