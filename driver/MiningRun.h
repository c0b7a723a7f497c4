// One mining run: the dataset, its projection workspace, the pattern tree,
// the run's counters and progress counters, its clock, its diagnostics
// (error log, capture) and the streams its reports go to.  Every piece of a
// run's state lives here, so two runs in one process share nothing but the
// stateless services of support/Global and the command line's signal state
// (support/RunSignals.h).  A run's diagnostics reach LogError through the
// binding that the run sets on each thread mining for it.
//
// Tested by tests/integration/test_mining_run.cpp.
#ifndef QUIVREL_MINING_RUN_H
#define QUIVREL_MINING_RUN_H

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "projdb/Dataset.h"
#include "driver/Progress.h"
#include "projdb/ProjDB.h"
#include "support/Diagnostics.h"
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
    // counters (the error log stays open), whether the run completed or
    // ended early; the run can then be built again.  The projection
    // strategy is kept.
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
    TimerSlot start = {0, 0};     // the run's clock
    // What the progress line shows; counted in every run, shown only by the
    // command line's.
    ProgressCounters progress;
    // The counters this run's mining bumps: its own, or those of the run it
    // mines a task for on another thread.
    ProgressCounters* progressOf = &progress;
    // The run's error log and message routing; bound to its mining threads.
    Diagnostics diagnostics;
    // Checked before every projection step: once set, the rest of the mining
    // is skipped and `cancelled` tells the caller.
    const std::atomic<bool>* cancel = nullptr;
    bool cancelled = false;
    // Called by the command-line run once its command line asks for a run,
    // with the dataset's path, before anything is opened or written: the
    // command starts itself again there (driver/main.cpp).  Null: nothing.
    void (*beforeRun)(const char* datasetPath) = nullptr;
    FILE* statusFile;
    FILE* resultFile;
};

// One closed pattern as the result file lists it.
struct ResultPattern {
    std::vector<std::vector<int>> itemsets;
    int num;      // the Num= key
    int support;  // sequences that contain the pattern
};

// Statuses of an in-process run beyond the command line's (0, 1, -1): the
// cancel flag ended it early, or an allocation failed.
const int kMineCancelled = 2;
const int kMineOutOfMemory = 3;

// What to mine in-process: a dataset file, or dataset words already in
// memory (`path` null), at a support fraction or an absolute count.
struct MineRequest {
    const char* path = nullptr;
    const int* words = nullptr;  // when `path` is null: `wordCount` words,
    size_t wordCount = 0;        // copied before mining
    const char* name = "<memory>";  // the words' name in messages
    SupportFraction support = {"1", 0, 1.0};
    // Above 0: the threshold is this many sequences, and `support` is unused.
    long long supportCount = 0;
    int itemcount = -1;  // the largest code allowed; -1 (kItemCountAuto) for any
    // Mining threads; above 1 the first-level tasks are shared out as with
    // the command line's --threads.
    int threads = 1;
    const std::atomic<bool>* cancel = nullptr;  // may be null
};

struct MineResult {
    std::vector<ResultPattern> patterns;  // in the order of the result file
    long long sequences = 0;              // the number of sequences mined
    std::string message;                  // the failure's text, as "error.tmp" gets it
    long long faultWord = -1;             // word offset of a malformed dataset's fault
};

// Mines in-process and fills `result`.  No file is written, no signal
// handler installed; the run's messages are captured for the result; a file is read into private
// memory whatever its size (a mapped one could change under the run).
// Returns 0, or the command line's status of the failure (1 bad dataset,
// -1 other failures), kMineOutOfMemory or kMineCancelled.  Safe to call on
// several threads at once.
int MinePatterns(const MineRequest& request, MineResult* result);

// MinePatterns on the file at `path` at a support fraction.
int MineToPatterns(const char* path, const SupportFraction& support, int itemcount,
                   std::vector<ResultPattern>* out, const std::atomic<bool>* cancel,
                   std::string* message);

#endif
