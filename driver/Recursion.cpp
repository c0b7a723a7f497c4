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
// after the pattern for an extension to reach the threshold.
static bool IsExpandable(const ProjWorkspace& proj, const PROJ_DB* r) {
    return (double)r->m_nSupport >= proj.gSUP;
}

static void FreeRecordArray(ProjWorkspace& proj, PROJ_DB* records, int count) {
    proj.ReleaseRecordsArray(count);
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
static void GrowRecord(MiningRun& run, PROJ_DB* db, std::vector<GrowthFrame>& stack) {
    ProjWorkspace& proj = run.proj;
    PatternTree& tree = *run.tree;
    // Cancelled: no more projection steps.  The records still on the stack
    // only give their buffers back, so the run unwinds within one step.
    if (run.cancelled || (run.cancel != nullptr && run.cancel->load(std::memory_order_relaxed))) {
        run.cancelled = true;
        proj.clean_projcted_db(db);
        return;
    }
    if (addSequence(tree, db) == 0) {
        // An equivalent subtree already serves this pattern.
        proj.clean_projcted_db(db);
        return;
    }
    int count = 0;
    PROJ_DB* children = proj.make_projdb_from_projected_db(db, &count);
    if (count > 0) BumpProgress(run.progressOf->patterns, (long long)count);
    if (count <= 0) {
        tree.currentLevel = tree.currentLevel->Parent;
        return;
    }
    for (int i = 0; i < count; i++) {
        if (IsExpandable(proj, &children[i]))
            run.n_proj_db++;
        else
            proj.release_projdb_buffers(&children[i]);  // inserted later, in order
    }
    try {
        stack.push_back(GrowthFrame{children, count, 0});
    } catch (...) {
        // No frame holds the children: they go here (PrefixSpan's failure
        // path gives back what the stack holds).
        for (int i = 0; i < count; i++) proj.release_projdb_buffers(&children[i]);
        FreeRecordArray(proj, children, count);
        throw;
    }
}

void PrefixSpan(MiningRun& run, PROJ_DB* db) {
    ProjWorkspace& proj = run.proj;
    PatternTree& tree = *run.tree;
    TreeNode* const level = tree.currentLevel;
    std::vector<GrowthFrame> stack;
    try {
        GrowRecord(run, db, stack);
        while (!stack.empty()) {
            GrowthFrame& frame = stack.back();
            if (frame.next < frame.count) {
                PROJ_DB* rec = &frame.records[frame.next++];
                if (IsExpandable(proj, rec)) {
                    GrowRecord(run, rec, stack);  // may push: `frame` is not used after
                } else if (!run.cancelled && addSequence(tree, rec) != 0) {
                    tree.currentLevel = tree.currentLevel->Parent;
                }
            } else {
                FreeRecordArray(proj, frame.records, frame.count);
                stack.pop_back();
                tree.currentLevel = tree.currentLevel->Parent;  // back from this frame's pattern
            }
        }
    } catch (...) {
        // A failed step or insertion (a failed allocation) ends the run.
        // Before the failure goes on, the growth gives back what it holds:
        // the buffers of `db` and of every record on the stack (a record
        // already grown or inserted holds none, and releasing it again
        // changes nothing), and the frames' arrays.  currentLevel goes back
        // to where the growth started, as after a whole growth.
        proj.release_projdb_buffers(db);
        for (GrowthFrame& frame : stack) {
            for (int i = 0; i < frame.count; i++) proj.release_projdb_buffers(&frame.records[i]);
            FreeRecordArray(proj, frame.records, frame.count);
        }
        tree.currentLevel = level;
        throw;
    }
}

void MineFirstLevel(MiningRun& run, PROJ_DB* records, int count) {
    ProjWorkspace& proj = run.proj;
    if (count <= 0 || records == nullptr) return;
    run.progress.firstTotal.store(count, std::memory_order_relaxed);
    BumpProgress(run.progress.patterns, (long long)count);
    PatternTree& tree = *run.tree;
    try {
        // All first-level leaves enter the tree before any pattern is mined.
        int leaves = 0;
        for (int i = 0; i < count; i++) {
            if (IsExpandable(proj, &records[i])) {
                run.n_proj_db++;
            } else {
                if (addSequence(tree, &records[i]) != 0)
                    tree.currentLevel = tree.currentLevel->Parent;
                proj.release_projdb_buffers(&records[i]);
                leaves++;
            }
        }
        run.progress.firstDone.store(leaves, std::memory_order_relaxed);
        // The records get their entries in batches, when their turn comes:
        // the records before `filledTo` have had theirs.  Once cancelled, no
        // batch is filled; the growth gives each remaining record's buffers
        // back.
        int filledTo = 0;
        for (int i = 0; i < count; i++) {
            if (!IsExpandable(proj, &records[i])) continue;
            bool cancelled = run.cancelled || (run.cancel != nullptr &&
                                               run.cancel->load(std::memory_order_relaxed));
            if (i >= filledTo && !cancelled) filledTo = proj.FillFirstLevelBatch(records, count, i);
            PrefixSpan(run, &records[i]);
            BumpProgress(run.progress.firstDone, 1);
        }
    } catch (...) {
        // A failed insertion or growth (a failed allocation) ends the run:
        // the records not grown give their buffers back and the array goes,
        // as at the end of a whole run (the growth that failed gave back
        // what it held).
        for (int i = 0; i < count; i++) proj.release_projdb_buffers(&records[i]);
        FreeRecordArray(proj, records, count);
        throw;
    }
    FreeRecordArray(proj, records, count);
}
