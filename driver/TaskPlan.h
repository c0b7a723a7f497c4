// The hand-out of first-level work: which expandable first-level records a
// run mines, in which order, and which partition of a split run each
// belongs to.  Everything that decides the split lives here.
//
// Tested by tests/integration/test_parallel.cpp.
#ifndef QUIVREL_DRIVER_TASKPLAN_H
#define QUIVREL_DRIVER_TASKPLAN_H

#include <vector>

#include "projdb/ProjDB.h"

// One unit of mining work: the patterns that begin with one first-level item.
struct MiningTask {
    int record;      // index into the first-level records
    long long size;  // estimated work: words from the entries' positions to
                     // their sequences' ends
};

// The expandable records among `records`, largest estimate first (ties in
// record order).  With `parts` > 0 only those of partition `part` (1 to
// parts): the tasks are dealt, largest first, each to the partition with the
// least estimated work so far (ties to the lowest number), so that the
// partition is a function of the dataset and the threshold alone and every
// task belongs to exactly one partition.
std::vector<MiningTask> PlanTasks(const ProjWorkspace& proj, const PROJ_DB* records, int count,
                                  int part, int parts);

// The estimated work of one projected record (see MiningTask::size).
long long EstimateTaskWork(const ProjWorkspace& proj, const PROJ_DB* record);

// Which of `tasks` (as PlanTasks orders them) are handed out one level
// deeper, as the tasks of their children, on `threads` threads: those whose
// estimate is above a share of all the estimates.  One task that large
// would keep a thread busy after the others ran dry.  The share is
// `share` when it is 0 or more (0: every task with a nonzero estimate),
// else 1/(10 x threads); one thread never splits.  A function of the
// estimates alone, so of the dataset.
std::vector<char> TasksToSplit(const std::vector<MiningTask>& tasks, int threads, double share);

#endif
