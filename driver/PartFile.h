// Partial results of a split run and their merge.
//
// `quivrel --part K/M ...` writes "ClosedMaxset.K-of-M.part": a header that
// identifies the run (dataset size, sequence count and checksum, absolute
// threshold, item count) and the partition, the partition's statistics, and
// the patterns that are closed among the partition's own patterns, as
// ClosedMaxset.txt lines (pattern, Num=, support, itemsets), then an end
// line with their count.
//
// `quivrel merge OUT PART...` checks that the parts are exactly partitions
// 1 to M of one run, takes the union of their patterns and drops every
// pattern that a longer one of the same support contains.  A pattern closed
// in the whole result is closed among its partition's patterns, so the
// union holds every closed pattern; a pattern that is not closed has a
// closed super-pattern of the same support, which is in the union too.
// The survivors are exactly the closed set; they are written in the order
// of a whole run's result file, which is a function of the patterns alone.
//
// Tested by tests/integration/test_parallel.cpp and the merge_* and part_*
// end-to-end cases.
#ifndef QUIVREL_DRIVER_PARTFILE_H
#define QUIVREL_DRIVER_PARTFILE_H

#include <string>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/MiningRun.h"

// "ClosedMaxset.K-of-M.part".
std::string PartFileName(int part, int parts);

// Writes the partial result of a pruned partition run, whole or not at all
// (the run ends with -1 when it cannot).  `itemcount` as the banner shows it.
void WritePartFile(MiningRun& run, const RunOptions& options, int itemcount, double seconds);

// `quivrel merge OUT PART...`: argv[0] is "merge".  Returns the exit status;
// failures end through FatalExit with their message in "error.tmp".
int RunMerge(int argc, char** argv);

// One pattern line of a result: its itemsets, support and the line itself.
struct MergedPattern {
    std::vector<std::vector<int>> itemsets;
    int support = 0;
    int items = 0;
    std::string line;
};
// Drops from `patterns` every one that a longer pattern of the same support
// contains, and puts the rest in the order of a result file.
void KeepClosed(std::vector<MergedPattern>* patterns);
// Reads a result line "<(1 2)(3)>  Num= 4 Support = 2   ItemsetNumber = 2".
bool ParseResultLine(const std::string& line, MergedPattern* p);

#endif
