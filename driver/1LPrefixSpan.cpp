// The run driver of quivrel.
#include "driver/1LPrefixSpan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <exception>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/Progress.h"
#include "support/AtomicFile.h"
#include "support/Global.h"
#include "tree/ClosedSeqTree.h"

FILE* gpStatusFile = nullptr;
FILE* gpResultFile = nullptr;
int n_proj_db = 0;

static const char kResultFileName[] = "ClosedMaxset.txt";
static const char kErrorLogName[] = "error.tmp";
static const double kBytesPerMB = 1048576.0;

// ---------------------------------------------------------------------------
// Depth-first growth
// ---------------------------------------------------------------------------

// A record is grown further only when enough sequences still have something
// after the pattern for an extension to reach the threshold.
static bool IsExpandable(const PROJ_DB* r) {
    return (double)r->m_nSupport >= gSUP;
}

static void FreeRecordArray(PROJ_DB* records, int count) {
    n_total_mem -= count * (int)sizeof(PROJ_DB);
    free(records);
}

// The children of one projected pattern, handled in array order.  The growth
// keeps one frame per level of the current path on an explicit stack, so the
// depth of a pattern is limited by memory, not by the call stack.
struct GrowthFrame {
    PROJ_DB* records;
    int count;
    int next;
};

// Inserts an expandable record and, when the tree asks for it, projects it
// one item further.  Leaf children give their buffers back at once; the
// children's frame is pushed for the caller's loop.  Every successful
// insertion is matched by exactly one step of currentLevel back up: here
// when nothing is projected, or when the pushed frame is finished.
static void GrowRecord(PROJ_DB* db, std::vector<GrowthFrame>& stack) {
    if (addSequence(db, &currentLevel, reverseTable) == 0) {
        // An equivalent subtree already serves this pattern.
        clean_projcted_db(db);
        return;
    }
    int count = 0;
    PROJ_DB* children = make_projdb_from_projected_db(db, &count);
    if (count > 0) BumpProgress(gProgressPatterns, (long long)count);
    if (count <= 0) {
        currentLevel = currentLevel->Parent;
        return;
    }
    for (int i = 0; i < count; i++) {
        if (IsExpandable(&children[i]))
            n_proj_db++;
        else
            release_projdb_buffers(&children[i]);  // inserted later, in order
    }
    stack.push_back(GrowthFrame{children, count, 0});
}

void PrefixSpan(PROJ_DB* db) {
    std::vector<GrowthFrame> stack;
    GrowRecord(db, stack);
    while (!stack.empty()) {
        GrowthFrame& frame = stack.back();
        if (frame.next < frame.count) {
            PROJ_DB* rec = &frame.records[frame.next++];
            if (IsExpandable(rec)) {
                GrowRecord(rec, stack);  // may push: `frame` is not used after
            } else if (addSequence(rec, &currentLevel, reverseTable) != 0) {
                currentLevel = currentLevel->Parent;
            }
        } else {
            FreeRecordArray(frame.records, frame.count);
            stack.pop_back();
            currentLevel = currentLevel->Parent;  // back from the pattern of this frame
        }
    }
}

void MineFirstLevel(PROJ_DB* records, int count) {
    if (count <= 0 || records == nullptr) return;
    gProgressFirstTotal.store(count, std::memory_order_relaxed);
    BumpProgress(gProgressPatterns, (long long)count);
    // All first-level leaves enter the tree before any pattern is mined.
    int leaves = 0;
    for (int i = 0; i < count; i++) {
        if (IsExpandable(&records[i])) {
            n_proj_db++;
        } else {
            if (addSequence(&records[i], &currentLevel, reverseTable) != 0)
                currentLevel = currentLevel->Parent;
            release_projdb_buffers(&records[i]);
            leaves++;
        }
    }
    gProgressFirstDone.store(leaves, std::memory_order_relaxed);
    for (int i = 0; i < count; i++) {
        if (IsExpandable(&records[i])) {
            PrefixSpan(&records[i]);
            BumpProgress(gProgressFirstDone, 1);
        }
    }
    FreeRecordArray(records, count);
}

// ---------------------------------------------------------------------------
// Set-up and tear-down
// ---------------------------------------------------------------------------

// The run's two output files must not be the dataset: opening them would
// empty or replace it before it is read.  Checked before either is opened;
// the message can only go to standard error.
static void RefuseDatasetAsOutput(const char* path) {
    struct stat data;
    if (stat(path, &data) != 0) return;  // the mapping reports it
    const char* outputs[2] = {kErrorLogName, kResultFileName};
    for (const char* output : outputs) {
        struct stat out;
        if (stat(output, &out) == 0 && out.st_dev == data.st_dev && out.st_ino == data.st_ino) {
            fprintf(stderr,
                    "quivrel: Refusing to mine '%s': it is the same file as %s, which the run "
                    "writes.\n",
                    path, output);
            FatalExit(-1);
        }
    }
}

// The result is renamed over "ClosedMaxset.txt" at the end; a symbolic link,
// a directory or any other non-regular file there is refused before mining.
static void CheckResultPath() {
    struct stat st;
    if (lstat(kResultFileName, &st) != 0) return;  // not there yet: fine
    if (S_ISLNK(st.st_mode)) {
        LogError("Refusing to write %s: it is a symbolic link.\n", kResultFileName);
        FatalExit(-1);
    }
    if (!S_ISREG(st.st_mode)) {
        LogError("Refusing to write %s: it is not a regular file.\n", kResultFileName);
        FatalExit(-1);
    }
}

void InitApp(const char* path, double support, int itemcount) {
    CreateTimers(3);
    bool fromData = itemcount == kItemCountAuto;
    if (fromData) itemcount = INT_MAX;
    gN_ITEMS = itemcount < INT_MAX ? itemcount + 1 : INT_MAX;
    RefuseDatasetAsOutput(path);
    OpenErrorLog();
    InstallRunSignalHandlers();
    CheckResultPath();
    // Every code that occurs gets a row in the per-item tables, whose row
    // count is an int: the code INT_MAX cannot have one, so it is refused as
    // a code above the item count.
    long long size = InitProjDB(path, itemcount < INT_MAX ? itemcount : INT_MAX - 1);
    gpStatusFile = gpResultFile = stdout;
    // "auto": the largest code the dataset check met (0 for data without items).
    if (fromData) itemcount = std::max(gDatasetShape.maxItem, 0);

    root = new TreeNode(-1, false, 0, nullptr);
    root->ItemsetNumber = 0;
    root->Parent = nullptr;
    currentLevel = root;
    reverseTable = new EquivTable();
    closed_maxFreq.assign(256, 0);

    fprintf(gpStatusFile, "quivrel: A sequential pattern mining algorithm (pseudo projection).\n");
    fprintf(gpStatusFile, "Data set (%.3f MB): %s\n", (double)size / kBytesPerMB, path);
    fprintf(gpStatusFile, "# of items: %d\n", itemcount);
    fprintf(gpStatusFile, "Support threshold: %.3f%%\n", support * 100);
    fprintf(gpStatusFile, "-----------------------\n");
}

void CloseApp() {
    DeleteTimers();
    if (gnArrLargeCount != nullptr) {
        free(gnArrLargeCount);
        gnArrLargeCount = nullptr;
    }
    if (buf_idx != nullptr) {
        free(buf_idx);
        buf_idx = nullptr;
    }
    CloseProjDB();
    CloseErrorLog();
    RestoreSignalHandlers();
}

void ResetRun() {
    CloseApp();
    ReleaseTree(root);
    root = currentLevel = nullptr;
    delete reverseTable;
    reverseTable = nullptr;
    closed_maxFreq.clear();
    zzz = 0;
    n_proj_db = 0;
    ResetProjDB();
}

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

// Writes the result file under a temporary name and renames it over
// "ClosedMaxset.txt" only once it is complete, so that a failed run never
// leaves a truncated result in place of an earlier one.
static void WriteResultFile(double totalSeconds) {
    AtomicFile result;
    int err = result.Open(kResultFileName, ".XXXXXX");
    FILE* file = err == 0 ? result.Stream() : nullptr;
    if (file == nullptr) {
        if (err == 0) err = errno;
        result.Discard();
        LogError("Fail to open file %s with mode %s\n", kResultFileName, "w");
        errno = err;
        ReportError();
        FatalExit(-1);
    }
    // The signal handlers may remove the temporary file at any moment: they
    // get a copy of its name that stays put.
    char tmpName[sizeof kResultFileName + 16];
    snprintf(tmpName, sizeof tmpName, "%s", result.TempName().c_str());
    SetTempResultForSignals(tmpName);

    fprintf(file, "CLOSED\n");
    char prefix[] = "(";
    std::vector<TreeNode*>& top = *root->Children;
    for (size_t i = 0; i < top.size(); i++) {
        if (top[i]->Parent == root) top[i]->Print(prefix, file);
    }
    fprintf(file, "%.3f seconds (\nTotal running time)\n\n", totalSeconds);
    fprintf(file, "Total # of TreeNode: %d\n", zzz);
    for (size_t i = 0; i < closed_maxFreq.size(); i++) {
        if (closed_maxFreq[i] != 0) fprintf(file, "Closed/Max %d : %d\n", (int)i, closed_maxFreq[i]);
    }
    fprintf(file, "\nTotal of %d large items.\n", gnArrLargeCount[0]);
    fprintf(file, "# of projected datasets: %d\n", n_proj_db);
    fprintf(file, "Maximum memory usage: %.6fMB\n", n_max_mem / kBytesPerMB);
    fprintf(file, "%.3f seconds (Total running time after sort, and output.)\n",
            (double)GetTimeDiff(0));

    err = result.Commit(true);
    SetTempResultForSignals(nullptr);
    if (err != 0) {
        LogError("Fail to write file %s: %s\n", kResultFileName, strerror(err));
        FatalExit(-1);
    }
}

static void PrintStatistics(double totalSeconds) {
    fprintf(gpResultFile, "%.3f seconds (Total running time)\n", totalSeconds);
    // Per-length counts up to the first length without a pattern; their sum
    // goes into element 0.
    for (int d = 1; d < gMAX_PAT_LEN && gnArrLargeCount[d] > 0; d++) {
        fprintf(gpResultFile, "Large %d : %d\n", d, gnArrLargeCount[d]);
        gnArrLargeCount[0] += gnArrLargeCount[d];
    }
    fprintf(gpResultFile, "Total of %d large items.\n", gnArrLargeCount[0]);
    fprintf(gpResultFile, "# of projected datasets: %d\n", n_proj_db);
    fprintf(gpResultFile, "Maximum memory usage: %.3fMB\n", n_max_mem / kBytesPerMB);
}

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

static int RunQuivrel(int argc, char** argv) {
    KeepStandardDescriptors();
    RunOptions options;
    if (!ParseCommandLine(argc, argv, isatty(STDERR_FILENO) == 1, &options)) {
        // The help went to standard output: a failed write is not a success.
        if (fflush(stdout) == 0 && !ferror(stdout)) return 0;
        fprintf(stderr, "quivrel: cannot write the help: %s\n", strerror(errno));
        return -1;
    }

    InitApp(options.path, options.support.approx, options.itemcount);
    ReadClock(&pTimer[0]);

    ResetProgressCounters();
    int count = 0;
    PROJ_DB* first = make_projdb_from_org_dataset(options.support, &count);
    {
        // The line runs on standard error while nothing goes to standard
        // output: from after the first projection's lines to the statistics.
        fflush(stdout);
        gProgressFirstTotal.store(count, std::memory_order_relaxed);
        std::unique_ptr<ProgressLine> progress;
        if (options.progress) progress.reset(new ProgressLine(stderr));
        MineFirstLevel(first, count);
    }
    // Every projection buffer is given back by the end of mining; a count
    // left over means the accounting or a release went wrong, and the
    // figures printed from it would be wrong too.
    if (n_total_mem != 0) {
        LogError("Internal error: %d bytes of projection memory still held after mining.\n",
                 n_total_mem);
        FatalExit(-1);
    }
    assert(currentLevel == root);
    // A mapped dataset that changed under the run may have given wrong
    // patterns: no result replaces the previous one.
    if (MemMapFileChanged(pDatasetMemMap)) {
        ReportDatasetChanged(options.path);
        FatalExit(1);
    }

    double totalSeconds = (double)GetTimeDiff(0);
    PrintStatistics(totalSeconds);

    std::vector<TreeNode*>& top = *root->Children;
    for (size_t i = 0, n = top.size(); i < n; i++) closed_maxPruning(top[i], root);

    WriteResultFile(totalSeconds);
    fprintf(gpResultFile, "%.3f seconds (Total running time after sort, and output.)\n",
            (double)GetTimeDiff(0));

    // Standard output may be a file or a pipe: a failed write is a failed run.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        LogError("Fail to write standard output: %s\n", strerror(errno));
        FatalExit(-1);
    }
    ClearErrorLog();  // the run is complete
    if (options.summary) {
        long long closed = 0;
        for (int n : closed_maxFreq) closed += n;
        fputs(RunSummary(gnCustCount, closed, (double)GetTimeDiff(0), PeakResidentKilobytes())
                  .c_str(),
              stderr);
    }
    CloseApp();
    return 0;
}

int QuivrelMain(int argc, char** argv) {
    try {
        return RunQuivrel(argc, argv);
    } catch (const RunAbort& abort) {
        fflush(stdout);
        return abort.status;
    } catch (const std::exception& e) {
        // Nothing should get here (allocations fail through OutOfMemory);
        // if something does, it is still reported, never a silent abort.
        LogError("Internal error: %s\n", e.what());
        fflush(stdout);
        return -1;
    }
}
