// Mining the first-level tasks on several threads, or only the tasks of one
// partition of a split run.
//
// Tested by tests/integration/test_parallel.cpp.
#ifndef QUIVREL_DRIVER_PARALLELMINING_H
#define QUIVREL_DRIVER_PARALLELMINING_H

#include "driver/MiningRun.h"

struct TaskSplit {
    int threads = 1;  // mining threads
    int part = 0;     // partition mined, 1 to parts; 0: the whole run
    int parts = 0;
    // The share of all the estimated work above which a first-level task is
    // handed out as its children's tasks (0: every task); below 0, the
    // default of TasksToSplit.  The command line takes it from the
    // environment variable QUIVREL_SPLIT_SHARE, which tests use to force
    // the split on small datasets.
    double splitShare = -1;
};

// Mines the first-level records (one per frequent item) as tasks and frees
// the array.  Each thread has its own workspace over run.dataset and its
// own pattern tree, takes the largest remaining task and mines it with an
// emptied equivalence table, so nothing is shared between tasks and each
// task's subtree is the same whichever thread mines it and when.  At the
// end every task's first-level node is moved under run.tree's root, in
// child order beside the first-level leaves, and the threads' counters are
// added to the run's.  In a partition only its tasks are mined, and the
// first-level leaves only by partition 1.  On several threads, a
// first-level task whose estimate stands out (TasksToSplit) is split: its
// node and its children's projection are made before the threads start,
// and each expandable child is a task of its own whose subtree joins that
// node afterwards, in child order, so the result file keeps the order of
// one thread.  Returns the number of first-level tasks mined.
int MineInTasks(MiningRun& run, PROJ_DB* records, int count, const TaskSplit& split);

// The pruning pass over run.tree's first-level entries, on as many threads
// as there are thread trees (their scratch is used), at most `threads`
// (one: on the calling thread alone).  The flags cleared do not depend on
// the order of the entries.  Counts the entries done in run.progress.
void PruneToClosed(MiningRun& run, int threads);

#endif
