// One whole run from the command line: the command line is parsed, the run
// is set up, mined, pruned and reported, and every failure becomes an exit
// status and a message.  The calling thread is bound to the run's
// diagnostics throughout, so every message lands in the run's error log.
//
// Tested by tests/unit/test_command_line.cpp, tests/integration/ and the
// end-to-end cases, which run the real binary.
#include "driver/1LPrefixSpan.h"
#include "driver/Report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/ParallelMining.h"
#include "driver/PartFile.h"
#include "driver/Progress.h"
#include "support/Global.h"
#include "support/RunSignals.h"
#include "tree/PatternTree.h"

// A standard stream that the caller closed (quivrel ... >&-) leaves its
// descriptor free, and the next open, the error log's, would take it: the
// banner and the statistics would end up in "error.tmp" and the run would
// look good.  Each closed one is opened on /dev/null in the direction that
// fails (standard output read-only), so a write to it is caught as a failed
// write at the end of the run.
static void KeepStandardDescriptors() {
    // In ascending order the lowest free descriptor, which open takes, is
    // always the one being handled.
    const int failingMode[3] = {O_WRONLY, O_RDONLY, O_RDONLY};
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            int opened = open("/dev/null", failingMode[fd]);
            (void)opened;  // nothing better to do when even that fails
        }
    }
}

// QUIVREL_SPLIT_SHARE: a number from 0 to 1 overrides the share of the
// work above which a first-level task is split (a tuning and testing knob;
// anything else leaves the default).
static double SplitShareFromEnvironment() {
    const char* text = getenv("QUIVREL_SPLIT_SHARE");
    if (text == nullptr || *text == '\0') return -1;
    char* end = nullptr;
    double share = strtod(text, &end);
    return *end == '\0' && share >= 0 && share <= 1 ? share : -1;
}

// QUIVREL_FIRST_LEVEL_BUDGET: a positive number of bytes overrides the
// budget of one batch of first-level entries (a tuning and testing knob:
// 1 gives a batch per record; anything else leaves the default).
static size_t FirstLevelBudgetFromEnvironment() {
    const char* text = getenv("QUIVREL_FIRST_LEVEL_BUDGET");
    if (text == nullptr || *text < '0' || *text > '9') return 0;
    char* end = nullptr;
    unsigned long long bytes = strtoull(text, &end, 10);
    return *end == '\0' ? (size_t)bytes : 0;
}

static int RunQuivrel(int argc, char** argv, MiningRun& run) {
    KeepStandardDescriptors();
    if (argc >= 2 && strcmp(argv[1], "merge") == 0) return RunMerge(argc - 1, argv + 1);
    RunOptions options;
    if (!ParseCommandLine(argc, argv, isatty(STDERR_FILENO) == 1, &options)) {
        // The help went to standard output: a failed write is not a success.
        if (fflush(stdout) == 0 && !ferror(stdout)) return 0;
        LogToStandardError("cannot write the help: %s\n", strerror(errno));
        return -1;
    }
    if (run.beforeRun != nullptr) run.beforeRun(options.path);

    // A part run writes its own file and leaves ClosedMaxset.txt alone.
    const std::string resultName =
        options.parts > 0 ? PartFileName(options.part, options.parts) : kResultFileName;
    InitApp(run, options.path, options.support.approx, options.itemcount, resultName.c_str());
    run.StartClock();

    run.progress.Reset();
    int count = 0;
    ProjWorkspace& proj = run.proj;
    PROJ_DB* first = proj.make_projdb_from_org_dataset(options.support, &count);
    if (size_t budget = FirstLevelBudgetFromEnvironment()) proj.gFirstLevelBudget = budget;
    {
        // The line runs on standard error while nothing goes to standard
        // output: from after the first projection's lines to the statistics.
        fflush(stdout);
        run.progress.firstTotal.store(count, std::memory_order_relaxed);
        std::unique_ptr<ProgressLine> progress;
        if (options.progress) progress.reset(new ProgressLine(stderr, run.progress));
        if (options.threads > 1 || options.parts > 0) {
            TaskSplit split;
            split.threads = options.threads;
            split.part = options.part;
            split.parts = options.parts;
            split.splitShare = SplitShareFromEnvironment();
            MineInTasks(run, first, count, split);
        } else {
            MineFirstLevel(run, first, count);
        }
    }
    // Every projection buffer is given back by the end of mining; a count
    // left over means the accounting or a release went wrong, and the
    // figures printed from it would be wrong too.
    if (proj.n_total_mem != 0) {
        LogError("Internal error: %lld bytes of projection memory still held after mining.\n",
                 (long long)proj.n_total_mem);
        FatalExit(-1);
    }
    PatternTree& tree = *run.tree;
    assert(tree.currentLevel == tree.root);
    // A mapped dataset that changed under the run may have given wrong
    // patterns: no result replaces the previous one.
    if (MemMapFileChanged(proj.ds.pDatasetMemMap)) {
        ReportDatasetChanged(options.path);
        FatalExit(1);
    }

    double totalSeconds = run.Seconds();
    PrintStatistics(run, totalSeconds);

    {
        // The pruning has a line of its own (the statistics are out first):
        // on a large tree it can take as long as the mining.
        fflush(stdout);
        const size_t entries = tree.root->Children->size();
        run.progress.pruneTotal.store((int)entries, std::memory_order_relaxed);  // for the line
        std::unique_ptr<ProgressLine> progress;
        if (options.progress && entries > 0)
            progress.reset(new ProgressLine(stderr, run.progress));
        PruneToClosed(run, options.threads);
    }

    if (options.parts > 0) {
        int itemcount = options.itemcount != kItemCountAuto
                            ? options.itemcount
                            : std::max(proj.ds.gDatasetShape.maxItem, 0);
        WritePartFile(run, options, itemcount, totalSeconds);
    } else {
        WriteResultFile(run, totalSeconds);
    }
    fprintf(run.resultFile, "%.3f seconds (Total running time after sort, and output.)\n",
            run.Seconds());

    // Standard output may be a file or a pipe: a failed write is a failed run.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        LogError("Fail to write standard output: %s\n", strerror(errno));
        FatalExit(-1);
    }
    run.diagnostics.ClearErrorLog();  // the run is complete
    if (options.summary) {
        long long closed = 0;
        for (int n : tree.closed_maxFreq) closed += n;
        fputs(
            RunSummary(proj.ds.gnCustCount, closed, run.Seconds(), PeakResidentKilobytes())
                .c_str(),
            stderr);
        // How the work split: the largest task bounds what more threads
        // (or partitions) can gain.
        if (run.tasks > 0 && (options.threads > 1 || options.parts > 0)) {
            fprintf(stderr,
                    "quivrel: %d tasks on %d threads, %.3f seconds of mining; the largest task "
                    "took %.1f%% of it\n",
                    run.tasks, options.threads, run.taskSeconds,
                    run.taskSeconds > 0 ? 100.0 * run.largestTaskSeconds / run.taskSeconds : 0.0);
        }
    }
    CloseApp(run);
    return 0;
}

int QuivrelMain(int argc, char** argv) {
    MiningRun run;
    return QuivrelMain(argc, argv, run);
}

int QuivrelMain(int argc, char** argv, MiningRun& run) {
    // This thread mines for `run`: its messages go to the run's error log.
    DiagnosticsScope bound(run.diagnostics);
    int status;
    try {
        return RunQuivrel(argc, argv, run);
    } catch (const RunAbort& abort) {
        status = abort.status;
    } catch (const std::exception& e) {
        // Nothing should get here (allocations fail through OutOfMemory);
        // if something does, it is still reported, never a silent abort.
        LogError("Internal error: %s\n", e.what());
        status = -1;
    }
    // A run that ended early: the handlers forget its error log, which the
    // run closes when it is released, and a late signal no longer replaces
    // the message there.
    RestoreSignalHandlers();
    fflush(stdout);
    return status;
}
