// The run driver: command line, set-up and tear-down of the run-wide state,
// the depth-first growth of patterns and the end-of-run reports.
#ifndef QUIVREL_1LPREFIXSPAN_H
#define QUIVREL_1LPREFIXSPAN_H

#include <cstdio>

#include "projdb/ProjDB.h"

extern FILE* gpStatusFile;  // banner and progress lines (standard output)
extern FILE* gpResultFile;  // end-of-run statistics (standard output)
extern int n_proj_db;       // expandable records met

class PatternTree;
// The run's pattern tree, from InitApp until ResetRun releases it.
extern PatternTree* gPatternTree;

// One whole run with the given command line; returns the exit status
// (0 after a complete run, -1 for usage and argument errors and failed
// allocations, 1 for a dataset that cannot be opened, mapped or read).
int QuivrelMain(int argc, char** argv);

// The run's dataset and projection workspace: one per process until a run
// object owns them.
ProjWorkspace& RunProj();

// Gives back everything a run holds, whether it completed or ended early,
// and resets the run-wide counters, so that the same process can start
// another run (tests and fuzzing do; the command line never needs to).
void ResetRun();

// `itemcount` kItemCountAuto (driver/CommandLine.h) takes the largest item
// code of the dataset, which the banner then shows.
void InitApp(const char* path, double support, int itemcount);
void CloseApp();

// Mines the first-level records (one per frequent item) depth first and
// frees the array.
void MineFirstLevel(ProjWorkspace& proj, PROJ_DB* records, int count);
// Inserts an expandable record's pattern and mines everything grown from it.
void PrefixSpan(ProjWorkspace& proj, PROJ_DB* db);

#endif
