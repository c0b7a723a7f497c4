// Mining in-process: a run that writes no file and hands the closed
// patterns back in memory, with failures as a status and a message (the
// run's diagnostics capture them, bound to the caller's thread).
//
// Tested by tests/integration/test_mining_run.cpp (two runs on two threads).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "driver/1LPrefixSpan.h"
#include "driver/CommandLine.h"
#include "tree/PatternTree.h"

// Reads one result line, "<(1 2)(3)>  Num= 4 Support = 2   ItemsetNumber = 2".
static bool ParsePatternLine(const char* line, ResultPattern* p) {
    if (*line != '<') return false;
    const char* c = line + 1;
    p->itemsets.clear();
    while (*c == '(') {
        p->itemsets.emplace_back();
        c++;
        while (*c != ')') {
            char* end;
            long item = strtol(c, &end, 10);
            if (end == c) return false;
            p->itemsets.back().push_back((int)item);
            c = end;
            if (*c == ' ') c++;
        }
        c++;
    }
    return sscanf(c, ">  Num= %d Support = %d", &p->num, &p->support) == 2;
}

// Prints the pruned tree's closed patterns into memory, the way the result
// file gets them, and reads them back.
static bool CollectPatterns(MiningRun& run, std::vector<ResultPattern>* out) {
    char* text = nullptr;
    size_t size = 0;
    FILE* mem = open_memstream(&text, &size);
    if (mem == nullptr) return false;
    char prefix[] = "(";
    PatternTree& tree = *run.tree;
    std::vector<TreeNode*>& top = *tree.root->Children;
    for (size_t i = 0; i < top.size(); i++) {
        if (top[i]->Parent == tree.root) top[i]->Print(tree, prefix, mem);
    }
    bool ok = fclose(mem) == 0;
    for (char* line = text; ok && line != nullptr && *line != '\0';) {
        char* end = strchr(line, '\n');
        if (end != nullptr) *end = '\0';
        ResultPattern p;
        if (!ParsePatternLine(line, &p)) ok = false;
        else out->push_back(std::move(p));
        line = end != nullptr ? end + 1 : nullptr;
    }
    free(text);
    return ok;
}

static int MineInRun(MiningRun& run, const char* path, const SupportFraction& support,
                     int itemcount, std::vector<ResultPattern>* out, std::string* message) {
    // As on the command line: INT_MAX cannot have a table row, so it is
    // refused as a code above the item count.
    if (itemcount == kItemCountAuto || itemcount == INT_MAX) itemcount = INT_MAX - 1;
    // Private memory whatever the size: a mapping would need the lease and
    // its signal handler, which belong to the process.
    run.proj.InitProjDBWithLimit(path, itemcount, ~0ULL);
    run.Build();
    run.StartClock();
    int count = 0;
    run.proj.statusFile = nullptr;  // an in-process run prints nothing
    PROJ_DB* first = run.proj.make_projdb_from_org_dataset(support, &count);
    MineFirstLevel(run, first, count);
    if (run.cancelled) return kMineCancelled;
    if (run.proj.n_total_mem != 0) {
        *message = "Internal error: projection memory still held after mining.\n";
        return -1;
    }
    PatternTree& tree = *run.tree;
    std::vector<TreeNode*>& top = *tree.root->Children;
    for (size_t i = 0, n = top.size(); i < n; i++) closed_maxPruning(tree, top[i], tree.root);
    if (!CollectPatterns(run, out)) {
        out->clear();
        *message = "Internal error: the patterns could not be collected.\n";
        return -1;
    }
    return 0;
}

int MineToPatterns(const char* path, const SupportFraction& support, int itemcount,
                   std::vector<ResultPattern>* out, const std::atomic<bool>* cancel,
                   std::string* message) {
    out->clear();
    message->clear();
    std::string captured;
    int status;
    {
        MiningRun run(nullptr, nullptr);
        run.diagnostics.CaptureInto(&captured);
        DiagnosticsScope bound(run.diagnostics);
        run.cancel = cancel;
        try {
            status = MineInRun(run, path, support, itemcount, out, message);
        } catch (const RunAbort& abort) {
            status = abort.status;
        } catch (const std::exception& e) {
            captured += std::string("Internal error: ") + e.what() + "\n";
            status = -1;
        }
        if (status != 0) out->clear();
    }
    if (message->empty()) *message = captured;
    return status;
}
