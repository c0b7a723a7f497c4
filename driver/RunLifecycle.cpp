// The life of a run's state: set-up (the run's error log, the process's
// signal handlers told its descriptor, the dataset and its per-item tables,
// the tree and the equivalence table, the banner) and tear-down, which turns
// the handlers off before the log closes and gives back everything whether
// the run completed or ended early, so that one process can run again.
//
// Tested by tests/integration/test_mining_run.cpp and the end-to-end cases on
// output files (result_*, error_log_*, dataset_is_*).
#include "driver/1LPrefixSpan.h"
#include "driver/Report.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "driver/CommandLine.h"
#include "support/Global.h"
#include "support/RunSignals.h"
#include "tree/PatternTree.h"

// The run's two output files must not be the dataset: opening them would
// empty or replace it before it is read.  Checked before either is opened;
// the message can only go to standard error.
static void RefuseDatasetAsOutput(const char* path, const char* resultName) {
    struct stat data;
    if (stat(path, &data) != 0) return;  // the mapping reports it
    const char* outputs[2] = {kErrorLogName, resultName};
    for (const char* output : outputs) {
        struct stat out;
        if (stat(output, &out) == 0 && out.st_dev == data.st_dev && out.st_ino == data.st_ino) {
            LogToStandardError(
                "Refusing to mine '%s': it is the same file as %s, which the run writes.\n", path,
                output);
            FatalExit(-1);
        }
    }
}

// The result is renamed over its name ("ClosedMaxset.txt", or a part run's
// file) at the end; a symbolic link, a directory or any other non-regular
// file there is refused before mining.  Files the run does not write are
// none of its business.
static void CheckResultPath(const char* resultName) {
    struct stat st;
    if (lstat(resultName, &st) != 0) return;  // not there yet: fine
    if (S_ISLNK(st.st_mode)) {
        LogError("Refusing to write %s: it is a symbolic link.\n", resultName);
        FatalExit(-1);
    }
    if (!S_ISREG(st.st_mode)) {
        LogError("Refusing to write %s: it is not a regular file.\n", resultName);
        FatalExit(-1);
    }
}

void InitApp(MiningRun& run, const char* path, double support, int itemcount,
             const char* resultName) {
    bool fromData = itemcount == kItemCountAuto;
    if (fromData) itemcount = INT_MAX;
    RefuseDatasetAsOutput(path, resultName);
    run.diagnostics.OpenErrorLog();
    InstallRunSignalHandlers(fileno(run.diagnostics.ErrorLog()));
    CheckResultPath(resultName);
    // Every code that occurs gets a row in the per-item tables, whose row
    // count is an int: the code INT_MAX cannot have one, so it is refused as
    // a code above the item count.
    long long size = run.proj.InitProjDB(path, itemcount < INT_MAX ? itemcount : INT_MAX - 1);
    FILE* status = run.statusFile;
    // "auto": the largest code the dataset check met (0 for data without items).
    if (fromData) itemcount = std::max(run.dataset.gDatasetShape.maxItem, 0);

    run.Build();

    fprintf(status, "quivrel: A sequential pattern mining algorithm (pseudo projection).\n");
    fprintf(status, "Data set (%.3f MB): %s\n", (double)size / kBytesPerMB, path);
    fprintf(status, "# of items: %d\n", itemcount);
    fprintf(status, "Support threshold: %.3f%%\n", support * 100);
    fprintf(status, "-----------------------\n");
}

void CloseApp(MiningRun& run) {
    run.proj.CloseProjDB();
    // The handlers forget the log's descriptor before it is closed.
    RestoreSignalHandlers();
    run.diagnostics.CloseErrorLog();
}

void ResetRun(MiningRun& run) {
    CloseApp(run);
    run.Release();
}
