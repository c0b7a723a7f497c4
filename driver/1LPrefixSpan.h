// The run driver: command line, set-up and tear-down of the run-wide state,
// the depth-first growth of patterns and the end-of-run reports.
#ifndef QUIVREL_1LPREFIXSPAN_H
#define QUIVREL_1LPREFIXSPAN_H

#include "driver/MiningRun.h"

// One whole run with the given command line; returns the exit status
// (0 after a complete run, -1 for usage and argument errors and failed
// allocations, 1 for a dataset that cannot be opened, mapped or read).
int QuivrelMain(int argc, char** argv);
// The same in the caller's run, which keeps the tree and the counters for
// inspection afterwards (tests and fuzzing); Release it before reusing it.
int QuivrelMain(int argc, char** argv, MiningRun& run);

// `itemcount` kItemCountAuto (driver/CommandLine.h) takes the largest item
// code of the dataset, which the banner then shows.  `resultName` is the
// file the run will write its patterns to ("ClosedMaxset.txt", or a part
// run's own file): that file, and no other, is checked before mining.
void InitApp(MiningRun& run, const char* path, double support, int itemcount,
             const char* resultName);
void CloseApp(MiningRun& run);
// Closes what the process holds for a run (error log, signal handlers) and
// releases the run, whether it completed or ended early, so that the same
// process can start another run (tests and fuzzing do; the command line
// never needs to).
void ResetRun(MiningRun& run);

// Mines the first-level records (one per frequent item) depth first and
// frees the array.
void MineFirstLevel(MiningRun& run, PROJ_DB* records, int count);
// Inserts an expandable record's pattern and mines everything grown from it.
void PrefixSpan(MiningRun& run, PROJ_DB* db);

#endif
