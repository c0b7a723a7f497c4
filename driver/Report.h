// The end-of-run reports, internal to driver/.
#ifndef QUIVREL_DRIVER_REPORT_H
#define QUIVREL_DRIVER_REPORT_H

#include <cstdio>

class AtomicFile;
class MiningRun;

const char kResultFileName[] = "ClosedMaxset.txt";
const char kErrorLogName[] = "error.tmp";
const double kBytesPerMB = 1048576.0;

// Opens `out` for writing `name` whole or not at all and returns its
// stream; when it cannot, logs why and ends the run with -1.
FILE* OpenResultOrEnd(AtomicFile& out, const char* name);
// Writes "ClosedMaxset.txt" whole or not at all (the run ends with -1 when
// it cannot).
void WriteResultFile(MiningRun& run, double totalSeconds);
// The statistics on the run's result stream; sums the per-length counts into
// gnArrLargeCount[0].
void PrintStatistics(MiningRun& run, double totalSeconds);

#endif
