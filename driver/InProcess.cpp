// Mining in-process: a run over a file or over words already in memory that
// writes no file and hands the closed patterns back in memory, with
// failures as a status, a message and, for a malformed dataset, the word
// offset of the fault.
//
// Tested by tests/integration/test_mining_run.cpp (two runs on two threads).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "driver/1LPrefixSpan.h"
#include "driver/ParallelMining.h"
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
    bool ok = true;
    try {
        for (size_t i = 0; i < top.size(); i++) {
            if (top[i]->Parent == tree.root) top[i]->Print(tree, prefix, mem);
        }
        ok = fclose(mem) == 0;
        mem = nullptr;
        for (char* line = text; ok && line != nullptr && *line != '\0';) {
            char* end = strchr(line, '\n');
            if (end != nullptr) *end = '\0';
            ResultPattern p;
            if (!ParsePatternLine(line, &p)) ok = false;
            else out->push_back(std::move(p));
            line = end != nullptr ? end + 1 : nullptr;
        }
    } catch (...) {
        // A failed allocation: the text goes with the stream, the caller
        // drops the patterns.
        if (mem != nullptr) fclose(mem);
        free(text);
        throw;
    }
    free(text);
    return ok;
}

// The threshold of `count` sequences out of `sequences` as a decimal
// fraction: f = floor(count x 10^d / sequences) / 10^d with 10^d above the
// number of sequences lies in ((count - 1) / sequences, count / sequences],
// so the least whole count reaching f x sequences is `count` itself.
static SupportFraction FractionOfCount(long long count, long long sequences) {
    long long exponent = 0;
    unsigned __int128 scale = 1;
    while (scale <= (unsigned __int128)sequences) {
        scale *= 10;
        exponent--;
    }
    unsigned __int128 q = (unsigned __int128)count * scale / (unsigned __int128)sequences;
    std::string digits;
    for (; q > 0; q /= 10) digits.insert(digits.begin(), (char)('0' + (int)(q % 10)));
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
        exponent++;
    }
    return SupportFraction{digits, exponent, (double)count / (double)sequences};
}

// As on the command line: INT_MAX cannot have a table row, so it is refused
// as a code above the item count.
static int TableItemCount(int itemcount) {
    return itemcount < 0 || itemcount == INT_MAX ? INT_MAX - 1 : itemcount;
}

// Word offset of the first fault of a dataset that the check refused (the
// partial word of a size that is not a multiple of 4), or -1 when the data
// are well formed (the run ended for another reason).
static long long FaultWord(const mem_map* map, int itemcount) {
    // (Data in half-width words passed the check.)
    if (map == nullptr || GetStartOfMap(map) == nullptr) return -1;
    long long size = GetMemMapFileSize(map);
    if (size % 4 != 0) return size / 4;
    DatasetRules rules;
    rules.maxItem = TableItemCount(itemcount);
    rules.ascendingItemsets = true;
    const int* start = GetStartOfMap(map);
    const int* end = GetLastAddrOfMap(map);
    DatasetFault fault = CheckDatasetWords(start, (size_t)(end - start), rules, nullptr);
    return fault.kind == DatasetFault::kNone ? -1 : fault.offset;
}

// The dataset check words its messages for a file, and for itemsets out of
// order it adds the commands that rewrite the file sorted.  Words given in
// memory have no file to rewrite: that advice goes, the rest of the message
// (fault, word offset) stays as the file's.
static void DropFileAdvice(std::string* message) {
    static const char kAdvice[] = " Rewrite the file with sorted itemsets: ";
    size_t at = message->find(kAdvice);
    if (at == std::string::npos) return;
    size_t lineEnd = message->find('\n', at);
    message->erase(at, lineEnd == std::string::npos ? std::string::npos : lineEnd - at);
}

static int MineInRun(MiningRun& run, const MineRequest& request, MineResult* result) {
    int itemcount = TableItemCount(request.itemcount);
    const char* name = request.path;
    if (name == nullptr) {
        name = request.name;
        run.proj.ds.pDatasetMemMap = CreateMemMapFromWords(request.words, request.wordCount, name);
    }
    // Private memory whatever the size: a mapping would need the lease and
    // its signal handler, which belong to the process.
    run.proj.InitProjDBWithLimit(name, itemcount, ~0ULL);
    long long sequences = run.proj.ds.gDatasetShape.sequences;
    result->sequences = sequences;
    SupportFraction support = request.support;
    if (request.supportCount > 0) {
        if (request.supportCount > sequences) return 0;  // no pattern can reach it
        support = FractionOfCount(request.supportCount, sequences);
    }
    run.Build();
    run.StartClock();
    int count = 0;
    run.proj.statusFile = nullptr;  // an in-process run prints nothing
    PROJ_DB* first = run.proj.make_projdb_from_org_dataset(support, &count);
    if (request.threads > 1) {
        TaskSplit split;
        split.threads = request.threads;
        MineInTasks(run, first, count, split);
    } else {
        MineFirstLevel(run, first, count);
    }
    // A cancelled run unwinds by giving every record's buffers back: bytes
    // still held then are as much a fault as after a whole run.
    if (run.proj.n_total_mem != 0) {
        result->message = "Internal error: projection memory still held after mining.\n";
        return -1;
    }
    if (run.cancelled) return kMineCancelled;
    PruneToClosed(run, request.threads);
    if (!CollectPatterns(run, &result->patterns)) {
        result->message = "Internal error: the patterns could not be collected.\n";
        return -1;
    }
    return 0;
}

int MinePatterns(const MineRequest& request, MineResult* result) {
    result->patterns.clear();
    result->message.clear();
    result->sequences = 0;
    result->faultWord = -1;
    std::string captured;
    int status;
    {
        MiningRun run(nullptr, nullptr);
        run.diagnostics.CaptureInto(&captured);
        DiagnosticsScope bound(run.diagnostics);
        run.cancel = request.cancel;
        try {
            status = MineInRun(run, request, result);
        } catch (const RunAbort& abort) {
            status = abort.outOfMemory ? kMineOutOfMemory : abort.status;
            if (status == 1)
                result->faultWord = FaultWord(run.proj.ds.pDatasetMemMap, request.itemcount);
        } catch (const std::exception& e) {
            captured += std::string("Internal error: ") + e.what() + "\n";
            status = -1;
        }
        if (status != 0) {
            // Whatever the vector held goes, its memory too.
            std::vector<ResultPattern>().swap(result->patterns);
        }
    }
    if (result->message.empty()) result->message = captured;
    if (status == 1 && request.path == nullptr) DropFileAdvice(&result->message);
    return status;
}

int MineToPatterns(const char* path, const SupportFraction& support, int itemcount,
                   std::vector<ResultPattern>* out, const std::atomic<bool>* cancel,
                   std::string* message) {
    MineRequest request;
    request.path = path;
    request.support = support;
    request.itemcount = itemcount;
    request.cancel = cancel;
    MineResult result;
    int status = MinePatterns(request, &result);
    out->swap(result.patterns);
    *message = result.message;
    return status;
}
