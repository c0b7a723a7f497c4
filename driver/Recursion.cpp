// The depth-first growth of patterns.  Each expandable record is inserted
// into the tree and, when the tree asks for it, projected one item
// further; its children are handled the same way, in array order.  The
// recursion keeps its frames on an explicit stack, so the depth of a
// pattern is limited by memory, not by the call stack.  currentLevel
// follows the recursion: every successful insertion moves it down, and it
// steps back up exactly once for each.
//
// Tested by tests/integration/test_mining_run.cpp, tests/integration/test_bruteforce_closed.cpp
// and the deep_chain_* and repeated_codes_* end-to-end cases.
#include "driver/1LPrefixSpan.h"

#include <cstdlib>
#include <vector>

#include "driver/Progress.h"
#include "tree/PatternTree.h"

// A record is grown further only when enough sequences still have something
// A record is grown further only when enough sequences still have something
// after the pattern for an extension to reach the threshold.
static bool IsExpandable(const PROJ_DB* r) {
    return (double)r->m_nSupport >= gSUP;
}

static void FreeRecordArray(PROJ_DB* records, int count) {
    n_total_mem -= count * (int)sizeof(PROJ_DB);
    free(records);
}

// The children of one projected pattern, handled in array order.  The growth
// keeps one frame per level of the current path on an explicit stack, so the
// depth of a pattern is limited by memory, not by the call stack.
struct GrowthFrame {
    PROJ_DB* records;
    int count;
    int next;
};

// Inserts an expandable record and, when the tree asks for it, projects it
// one item further.  Leaf children give their buffers back at once; the
// children's frame is pushed for the caller's loop.  Every successful
// insertion is matched by exactly one step of currentLevel back up: here
// when nothing is projected, or when the pushed frame is finished.
static void GrowRecord(PROJ_DB* db, std::vector<GrowthFrame>& stack) {
    PatternTree& tree = *gPatternTree;
    if (addSequence(tree, db) == 0) {
        // An equivalent subtree already serves this pattern.
        clean_projcted_db(db);
        return;
    }
    int count = 0;
    PROJ_DB* children = make_projdb_from_projected_db(db, &count);
    if (count > 0) BumpProgress(gProgressPatterns, (long long)count);
    if (count <= 0) {
        tree.currentLevel = tree.currentLevel->Parent;
        return;
    }
    for (int i = 0; i < count; i++) {
        if (IsExpandable(&children[i]))
            n_proj_db++;
        else
            release_projdb_buffers(&children[i]);  // inserted later, in order
    }
    stack.push_back(GrowthFrame{children, count, 0});
}

void PrefixSpan(PROJ_DB* db) {
    PatternTree& tree = *gPatternTree;
    std::vector<GrowthFrame> stack;
    GrowRecord(db, stack);
    while (!stack.empty()) {
        GrowthFrame& frame = stack.back();
        if (frame.next < frame.count) {
            PROJ_DB* rec = &frame.records[frame.next++];
            if (IsExpandable(rec)) {
                GrowRecord(rec, stack);  // may push: `frame` is not used after
            } else if (addSequence(tree, rec) != 0) {
                tree.currentLevel = tree.currentLevel->Parent;
            }
        } else {
            FreeRecordArray(frame.records, frame.count);
            stack.pop_back();
            tree.currentLevel = tree.currentLevel->Parent;  // back from the pattern of this frame
        }
    }
}

void MineFirstLevel(PROJ_DB* records, int count) {
    if (count <= 0 || records == nullptr) return;
    gProgressFirstTotal.store(count, std::memory_order_relaxed);
    BumpProgress(gProgressPatterns, (long long)count);
    // All first-level leaves enter the tree before any pattern is mined.
    int leaves = 0;
    PatternTree& tree = *gPatternTree;
    for (int i = 0; i < count; i++) {
        if (IsExpandable(&records[i])) {
            n_proj_db++;
        } else {
            if (addSequence(tree, &records[i]) != 0)
                tree.currentLevel = tree.currentLevel->Parent;
            release_projdb_buffers(&records[i]);
            leaves++;
        }
    }
    gProgressFirstDone.store(leaves, std::memory_order_relaxed);
    for (int i = 0; i < count; i++) {
        if (IsExpandable(&records[i])) {
            PrefixSpan(&records[i]);
            BumpProgress(gProgressFirstDone, 1);
        }
    }
    FreeRecordArray(records, count);
}
