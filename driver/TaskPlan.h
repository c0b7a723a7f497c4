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

#endif
