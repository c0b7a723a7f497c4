// The end-of-run reports: the statistics on standard output and the result
// file, written under a temporary name and renamed into place when
// complete.
//
// Tested by the e2e cases' expected stdout and ClosedMaxset.txt, and by the
// write_* and interrupted_* end-to-end cases.
#include "driver/Report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/1LPrefixSpan.h"
#include "support/AtomicFile.h"
#include "support/Global.h"
#include "support/RunSignals.h"
#include "tree/PatternTree.h"

FILE* OpenResultOrEnd(AtomicFile& out, const char* name) {
    int err = out.Open(name, ".XXXXXX");
    FILE* file = err == 0 ? out.Stream() : nullptr;
    if (file == nullptr) {
        if (err == 0) err = errno;
        out.Discard();
        LogError("Fail to open file %s with mode %s\n", name, "w");
        errno = err;
        ReportError();
        FatalExit(-1);
    }
    return file;
}

// Writes the result file under a temporary name and renames it over
// "ClosedMaxset.txt" only once it is complete, so that a failed run never
// leaves a truncated result in place of an earlier one.
void WriteResultFile(MiningRun& run, double totalSeconds) {
    AtomicFile result;
    FILE* file = OpenResultOrEnd(result, kResultFileName);
    // The signal handlers may remove the temporary file at any moment: they
    // get a copy of its name that stays put.
    char tmpName[sizeof kResultFileName + 16];
    snprintf(tmpName, sizeof tmpName, "%s", result.TempName().c_str());
    SetTempResultForSignals(tmpName);

    fprintf(file, "CLOSED\n");
    char prefix[] = "(";
    PatternTree& tree = *run.tree;
    std::vector<TreeNode*>& top = *tree.root->Children;
    for (size_t i = 0; i < top.size(); i++) {
        if (top[i]->Parent == tree.root) top[i]->Print(tree, prefix, file);
    }
    fprintf(file, "%.3f seconds (\nTotal running time)\n\n", totalSeconds);
    fprintf(file, "Total # of TreeNode: %d\n", tree.zzz);
    for (size_t i = 0; i < tree.closed_maxFreq.size(); i++) {
        if (tree.closed_maxFreq[i] != 0)
            fprintf(file, "Closed/Max %d : %d\n", (int)i, tree.closed_maxFreq[i]);
    }
    const ProjWorkspace& proj = run.proj;
    fprintf(file, "\nTotal of %d large items.\n", proj.gnArrLargeCount[0]);
    fprintf(file, "# of projected datasets: %d\n", run.n_proj_db);
    fprintf(file, "Maximum memory usage: %.6fMB\n", proj.n_max_mem / kBytesPerMB);
    fprintf(file, "%.3f seconds (Total running time after sort, and output.)\n",
            run.Seconds());

    int err = result.Commit(true);
    SetTempResultForSignals(nullptr);
    if (err != 0) {
        LogError("Fail to write file %s: %s\n", kResultFileName, strerror(err));
        FatalExit(-1);
    }
}

void PrintStatistics(MiningRun& run, double totalSeconds) {
    FILE* out = run.resultFile;
    fprintf(out, "%.3f seconds (Total running time)\n", totalSeconds);
    // Per-length counts up to the first length without a pattern; their sum
    // goes into element 0.
    ProjWorkspace& proj = run.proj;
    int* large = proj.gnArrLargeCount;
    for (int d = 1; d < proj.gMAX_PAT_LEN && large[d] > 0; d++) {
        fprintf(out, "Large %d : %d\n", d, large[d]);
        large[0] += large[d];
    }
    fprintf(out, "Total of %d large items.\n", large[0]);
    fprintf(out, "# of projected datasets: %d\n", run.n_proj_db);
    fprintf(out, "Maximum memory usage: %.3fMB\n", proj.n_max_mem / kBytesPerMB);
}
