// One mining run: the dataset, its projection workspace, the pattern tree,
// the run's counters, its clock and the streams its reports go to.  Every
// piece of a run's state lives here, so two runs in one process share
// nothing but the process services of support/Global.
//
// Tested by tests/integration/test_mining_run.cpp.
#ifndef QUIVREL_MINING_RUN_H
#define QUIVREL_MINING_RUN_H

#include <cstdio>

#include "projdb/Dataset.h"
#include "projdb/ProjDB.h"
#include "support/Global.h"

class PatternTree;

class MiningRun {
public:
    // statusFile: banner and progress lines; resultFile: the end-of-run
    // statistics.  Both default to standard output; the run never closes them.
    explicit MiningRun(FILE* statusFile = stdout, FILE* resultFile = stdout);
    ~MiningRun() { Release(); }
    MiningRun(const MiningRun&) = delete;
    MiningRun& operator=(const MiningRun&) = delete;

    // Creates the empty pattern tree (again after Release).
    void Build();
    // Gives back the tree and every projection buffer and resets the
    // counters, whether the run completed or ended early; the run can then
    // be built again.  The projection strategy is kept.
    void Release();

    // Starts the run's clock; Seconds() is the time since.
    void StartClock() { ReadClock(&start); }
    double Seconds() const;

    Dataset dataset;
    ProjWorkspace proj;
    PatternTree* tree = nullptr;  // from Build until Release
    int n_proj_db = 0;            // expandable records met
    TimerSlot start = {0, 0};
    FILE* statusFile;
    FILE* resultFile;
};

#endif
