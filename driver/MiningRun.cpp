// Building and releasing a run's state.
//
// Tested by tests/integration/test_mining_run.cpp.
#include "driver/MiningRun.h"

#include "tree/PatternTree.h"

MiningRun::MiningRun(FILE* status, FILE* result)
    : proj(dataset), statusFile(status), resultFile(result) {}

MiningRun::MiningRun(Dataset& shared, FILE* status, FILE* result)
    : proj(shared), statusFile(status), resultFile(result) {}

void MiningRun::Build() {
    if (tree == nullptr) tree = NewPatternTree();
}

void MiningRun::Release() {
    ReleasePatternTree(tree);
    tree = nullptr;
    for (PatternTree* t : threadTrees) ReleasePatternTree(t);
    threadTrees.clear();
    n_proj_db = 0;
    progress.Reset();
    tasks = 0;
    taskSeconds = largestTaskSeconds = 0;
    proj.ReleaseProjDB();
}

double MiningRun::Seconds() const {
    TimerSlot now;
    ReadClock(&now);
    return (double)TimeBetween(start, now);
}
