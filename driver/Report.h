// The end-of-run reports, internal to driver/.
#ifndef QUIVREL_DRIVER_REPORT_H
#define QUIVREL_DRIVER_REPORT_H

class MiningRun;

const char kResultFileName[] = "ClosedMaxset.txt";
const char kErrorLogName[] = "error.tmp";
const double kBytesPerMB = 1048576.0;

// Writes "ClosedMaxset.txt" whole or not at all (the run ends with -1 when
// it cannot).
void WriteResultFile(MiningRun& run, double totalSeconds);
// The statistics on the run's result stream; sums the per-length counts into
// gnArrLargeCount[0].
void PrintStatistics(MiningRun& run, double totalSeconds);

#endif
