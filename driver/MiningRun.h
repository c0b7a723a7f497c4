// One mining run: the dataset, its projection workspace, the pattern tree,
// the run's counters, its clock and the streams its reports go to.  Every
// piece of a run's state lives here, so two runs in one process share
// nothing but the process services of support/Global.
//
// Tested by tests/integration/test_mining_run.cpp.
#ifndef QUIVREL_MINING_RUN_H
#define QUIVREL_MINING_RUN_H

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "projdb/Dataset.h"
#include "projdb/ProjDB.h"
#include "support/Global.h"
#include "support/SupportFraction.h"

class PatternTree;

class MiningRun {
public:
    // statusFile: banner and progress lines; resultFile: the end-of-run
    // statistics.  Both default to standard output; the run never closes them.
    explicit MiningRun(FILE* statusFile = stdout, FILE* resultFile = stdout);
    // A run that mines over the dataset of another run, already set up and
    // projected at the first level (a mining thread of that run): its
    // workspace reads `shared` and never changes or releases it.
    MiningRun(Dataset& shared, FILE* statusFile, FILE* resultFile);
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
    // The trees of the mining threads, whose first-level nodes now hang
    // under `tree`'s root: kept until Release.
    std::vector<PatternTree*> threadTrees;
    // Tasks mined on several threads: their number and the mining seconds
    // of all and of the largest (how far more threads could take the run).
    int tasks = 0;
    double taskSeconds = 0;
    double largestTaskSeconds = 0;
    int n_proj_db = 0;            // expandable records met
    TimerSlot start = {0, 0};
    // In-process runs leave the process-wide progress counters alone.
    bool countProgress = true;
    // Checked between first-level items: once set, the rest of the mining is
    // skipped and `cancelled` tells the caller.
    const std::atomic<bool>* cancel = nullptr;
    bool cancelled = false;
    FILE* statusFile;
    FILE* resultFile;
};

// One closed pattern as the result file lists it.
struct ResultPattern {
    std::vector<std::vector<int>> itemsets;
    int num;      // the Num= key
    int support;  // sequences that contain the pattern
};

// Status of MineToPatterns when the cancel flag ended the run early.
const int kMineCancelled = 2;

// Mines the dataset at `path` in-process and returns in `out` the closed
// patterns in the order of the result file.  No file is written, no signal
// handler installed and no progress counted; the dataset is read into
// private memory whatever its size (a mapped one could change under the
// run).  Returns 0, or the command line's status of the failure (1 bad
// dataset, -1 other failures) with its text in `message`, or
// kMineCancelled.  `itemcount` kItemCountAuto takes the largest code;
// `cancel` may be null.  Safe to call on several threads at once.
int MineToPatterns(const char* path, const SupportFraction& support, int itemcount,
                   std::vector<ResultPattern>* out, const std::atomic<bool>* cancel,
                   std::string* message);

#endif
