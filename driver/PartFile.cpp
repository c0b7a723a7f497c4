// Partial results of a split run and their merge (see PartFile.h).
#include "driver/PartFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "driver/Report.h"
#include "support/AtomicFile.h"
#include "support/Diagnostics.h"
#include "support/Global.h"
#include "support/RunSignals.h"
#include "tree/PatternTree.h"

static const char kPartMagic[] = "quivrel partial result 1";

std::string PartFileName(int part, int parts) {
    return "ClosedMaxset." + std::to_string(part) + "-of-" + std::to_string(parts) + ".part";
}

// A checksum of the dataset's words (FNV-1a over 32-bit words): parts of
// another file of the same size are refused by the merge.  Half-width words
// give each word's 32-bit value back, so the sum is the file's whichever
// width the run held the data in.
template <class W>
static uint64_t WordsChecksum(const W* w, const W* end) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (; w < end; ++w) {
        h ^= (uint32_t)(int)*w;
        h *= 0x100000001b3ULL;
    }
    return h;
}

static uint64_t DatasetChecksum(const Dataset& ds) {
    return ds.HalfWords ? WordsChecksum(ds.Words<int16_t>(), ds.WordsEnd<int16_t>())
                        : WordsChecksum(ds.Words<int>(), ds.WordsEnd<int>());
}

void WritePartFile(MiningRun& run, const RunOptions& options, int itemcount, double seconds) {
    std::string name = PartFileName(options.part, options.parts);
    AtomicFile out;
    FILE* file = OpenResultOrEnd(out, name.c_str());
    char tmpName[256];
    snprintf(tmpName, sizeof tmpName, "%s", out.TempName().c_str());
    SetTempResultForSignals(tmpName);

    const ProjWorkspace& proj = run.proj;
    const Dataset& ds = proj.ds;
    PatternTree& tree = *run.tree;
    fprintf(file, "%s\n", kPartMagic);
    fprintf(file, "identity: bytes=%lld sequences=%d checksum=%016" PRIx64
                  " threshold=%lld itemcount=%d\n",
            GetMemMapFileSize(ds.pDatasetMemMap), ds.gnCustCount, DatasetChecksum(ds),
            (long long)proj.gSUP, itemcount);
    fprintf(file, "part: %d of %d\n", options.part, options.parts);
    fprintf(file, "statistics: seconds=%.3f nodes=%d large=%d projected=%d memory=%lld\n",
            seconds, tree.zzz, proj.gnArrLargeCount[0], run.n_proj_db, (long long)proj.n_max_mem);
    char prefix[] = "(";
    std::vector<TreeNode*>& top = *tree.root->Children;
    for (size_t i = 0; i < top.size(); i++) {
        if (top[i]->Parent == tree.root) top[i]->Print(tree, prefix, file);
    }
    long long patterns = 0;
    for (int n : tree.closed_maxFreq) patterns += n;
    fprintf(file, "end: %lld patterns\n", patterns);

    int err = out.Commit(true);
    SetTempResultForSignals(nullptr);
    if (err != 0) {
        LogError("Fail to write file %s: %s\n", name.c_str(), strerror(err));
        FatalExit(-1);
    }
}

bool ParseResultLine(const std::string& text, MergedPattern* p) {
    const char* line = text.c_str();
    if (*line != '<') return false;
    const char* c = line + 1;
    p->itemsets.clear();
    p->items = 0;
    while (*c == '(') {
        p->itemsets.emplace_back();
        c++;
        while (*c != ')') {
            char* end;
            errno = 0;
            long item = strtol(c, &end, 10);
            if (end == c || errno != 0 || item < 0 || item > INT32_MAX) return false;
            std::vector<int>& set = p->itemsets.back();
            if (!set.empty() && item <= set.back()) return false;
            set.push_back((int)item);
            p->items++;
            c = end;
            if (*c == ' ') c++;
        }
        c++;
    }
    int num, itemsets, used = 0;
    if (p->itemsets.empty()) return false;
    if (sscanf(c, ">  Num= %d Support = %d   ItemsetNumber = %d%n", &num, &p->support, &itemsets,
               &used) != 3)
        return false;
    p->line = text;
    return c[used] == '\0' && itemsets == (int)p->itemsets.size() && p->support > 0;
}

// Whether `big` contains `small`: each itemset of `small`, in order, within
// a later itemset of `big` (the earliest that fits is always the best).
static bool Contains(const MergedPattern& big, const MergedPattern& small) {
    size_t j = 0;
    for (const std::vector<int>& set : small.itemsets) {
        while (j < big.itemsets.size() &&
               !std::includes(big.itemsets[j].begin(), big.itemsets[j].end(), set.begin(),
                              set.end()))
            j++;
        if (j == big.itemsets.size()) return false;
        j++;
    }
    return true;
}

// The order of the result file's lines: a pattern's extensions before the
// pattern, and among extensions of one pattern those that join its last
// itemset first, each by ascending item code.
static bool ResultOrder(const MergedPattern& a, const MergedPattern& b) {
    size_t sa = 0, ia = 0, sb = 0, ib = 0;
    for (;;) {
        bool endA = sa == a.itemsets.size(), endB = sb == b.itemsets.size();
        if (endA || endB) return endB && !endA;  // the longer one (an extension) first
        bool intraA = ia > 0, intraB = ib > 0;
        int itemA = a.itemsets[sa][ia], itemB = b.itemsets[sb][ib];
        if (intraA != intraB) return intraA;
        if (itemA != itemB) return itemA < itemB;
        if (++ia == a.itemsets[sa].size()) ia = 0, sa++;
        if (++ib == b.itemsets[sb].size()) ib = 0, sb++;
    }
}

void KeepClosed(std::vector<MergedPattern>* patterns) {
    std::vector<MergedPattern>& all = *patterns;
    // A super-pattern of equal support has the same supporting sequences, so
    // only patterns of one support are compared; among those, only the ones
    // holding the pattern's least common item.
    std::vector<size_t> order(all.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = i;
    // (std::stable_sort would take a buffer from the nothrow operator new,
    // which the program does not replace.)
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        return all[x].support != all[y].support ? all[x].support < all[y].support : x < y;
    });
    std::vector<char> drop(all.size(), 0);
    std::unordered_map<int, std::vector<size_t>> holders;
    for (size_t g = 0; g < order.size();) {
        size_t h = g;
        while (h < order.size() && all[order[h]].support == all[order[g]].support) h++;
        holders.clear();
        for (size_t k = g; k < h; k++) {
            for (const std::vector<int>& set : all[order[k]].itemsets)
                for (int item : set) {
                    std::vector<size_t>& list = holders[item];
                    if (list.empty() || list.back() != order[k]) list.push_back(order[k]);
                }
        }
        for (size_t k = g; k < h; k++) {
            const MergedPattern& p = all[order[k]];
            const std::vector<size_t>* rarest = nullptr;
            for (const std::vector<int>& set : p.itemsets)
                for (int item : set) {
                    const std::vector<size_t>& list = holders[item];
                    if (rarest == nullptr || list.size() < rarest->size()) rarest = &list;
                }
            for (size_t q : *rarest) {
                if (all[q].items > p.items && Contains(all[q], p)) {
                    drop[order[k]] = 1;
                    break;
                }
            }
        }
        g = h;
    }
    std::vector<MergedPattern> kept;
    for (size_t i = 0; i < all.size(); i++)
        if (!drop[i]) kept.push_back(std::move(all[i]));
    std::sort(kept.begin(), kept.end(), ResultOrder);
    all.swap(kept);
}

// One partial result as read back.
struct PartContents {
    std::string path;
    std::string identity;
    int part = 0, parts = 0;
    double seconds = 0;
    int nodes = 0, large = 0, projected = 0;
    long long memory = 0;
    std::vector<MergedPattern> patterns;
    dev_t dev = 0;
    ino_t ino = 0;
};

[[noreturn]] static void RefusePart(const std::string& path, const char* why, int line) {
    LogError("Malformed partial result '%s': %s (line %d).\n", path.c_str(), why, line);
    FatalExit(-1);
}

static void ReadPart(const char* path, PartContents* part) {
    part->path = path;
    FILE* f = fopen(path, "rb");
    struct stat st;
    if (f == nullptr || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = f == nullptr ? errno : EINVAL;
        if (f != nullptr) fclose(f);
        LogError("Cannot read partial result '%s': %s.\n", path,
                 err == EINVAL ? "not a regular file" : strerror(err));
        FatalExit(-1);
    }
    part->dev = st.st_dev;
    part->ino = st.st_ino;
    std::vector<std::string> lines;
    std::string line;
    for (int c; (c = getc(f)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += (char)c;
        }
    }
    bool readError = ferror(f) != 0;
    fclose(f);
    if (readError) {
        LogError("Cannot read partial result '%s': read error.\n", path);
        FatalExit(-1);
    }
    if (lines.empty() || lines[0] != kPartMagic) {
        LogError("'%s' is not a partial result of quivrel (made by quivrel --part K/M).\n", path);
        FatalExit(-1);
    }
    if (!line.empty()) RefusePart(path, "it does not end with a line end", (int)lines.size() + 1);
    if (lines.size() < 5 || lines[1].compare(0, 10, "identity: ") != 0)
        RefusePart(path, "no identity line", 2);
    part->identity = lines[1].substr(10);
    int used = 0;
    if (sscanf(lines[2].c_str(), "part: %d of %d%n", &part->part, &part->parts, &used) != 2 ||
        lines[2][(size_t)used] != '\0' || part->part < 1 || part->part > part->parts)
        RefusePart(path, "no valid part line", 3);
    if (sscanf(lines[3].c_str(),
               "statistics: seconds=%lf nodes=%d large=%d projected=%d memory=%lld", &part->seconds,
               &part->nodes, &part->large, &part->projected, &part->memory) != 5)
        RefusePart(path, "no valid statistics line", 4);
    size_t last = lines.size() - 1;
    long long count = -1;
    if (sscanf(lines[last].c_str(), "end: %lld patterns%n", &count, &used) != 1 ||
        lines[last][(size_t)used] != '\0')
        RefusePart(path, "no end line: the file is incomplete", (int)last + 1);
    for (size_t i = 4; i < last; i++) {
        MergedPattern p;
        if (!ParseResultLine(lines[i], &p)) RefusePart(path, "not a pattern line", (int)i + 1);
        part->patterns.push_back(std::move(p));
    }
    if (count != (long long)part->patterns.size())
        RefusePart(path, "the pattern count of the end line does not match", (int)last + 1);
}

int RunMerge(int argc, char** argv) {
    // The merge's own error log, bound to this thread for its messages.
    Diagnostics diagnostics;
    DiagnosticsScope bound(diagnostics);
    diagnostics.OpenErrorLog();
    if (argc < 3) {
        LogError("Usage: quivrel merge <out> <part>...\n");
        FatalExit(-1);
    }
    TimerSlot start;
    ReadClock(&start);
    const char* outPath = argv[1];
    std::vector<PartContents> parts((size_t)(argc - 2));
    for (int i = 2; i < argc; i++) ReadPart(argv[i], &parts[(size_t)(i - 2)]);

    // Exactly the partitions 1 to M of one run, each once.
    const PartContents& first = parts[0];
    int m = first.parts;
    std::vector<const PartContents*> byPart((size_t)m + 1, nullptr);
    for (const PartContents& p : parts) {
        if (p.identity != first.identity || p.parts != m) {
            LogError("Partial result '%s' (part %d of %d) is foreign: it does not come from the "
                     "run of '%s' (part %d of %d); the dataset, threshold, item count or number "
                     "of parts differ.\n",
                     p.path.c_str(), p.part, p.parts, first.path.c_str(), first.part, m);
            FatalExit(-1);
        }
        if (byPart[(size_t)p.part] != nullptr) {
            LogError("Partial result '%s' is part %d of %d, like '%s': each part must be given "
                     "once.\n",
                     p.path.c_str(), p.part, m, byPart[(size_t)p.part]->path.c_str());
            FatalExit(-1);
        }
        byPart[(size_t)p.part] = &p;
    }
    for (int k = 1; k <= m; k++) {
        if (byPart[(size_t)k] == nullptr) {
            LogError("Partial result %d of %d is missing (%s): every part 1 to %d must be "
                     "given.\n",
                     k, m, PartFileName(k, m).c_str(), m);
            FatalExit(-1);
        }
    }
    // The output is renamed over OUT at the end: a symbolic link there would
    // be replaced by a plain file and its target left as it was, and a
    // directory or other non-regular file cannot be replaced.  Refused, as
    // the mining run refuses them for its result file, before anything is
    // written.
    struct stat st;
    if (lstat(outPath, &st) == 0 && !S_ISREG(st.st_mode)) {
        LogError(S_ISLNK(st.st_mode) ? "Refusing to write '%s': it is a symbolic link.\n"
                                     : "Refusing to write '%s': it is not a regular file.\n",
                 outPath);
        FatalExit(-1);
    }
    // The output replaces no input.
    if (stat(outPath, &st) == 0) {
        for (const PartContents& p : parts) {
            if (st.st_dev == p.dev && st.st_ino == p.ino) {
                LogError("Refusing to write '%s': it is the partial result given as '%s'.\n",
                         outPath, p.path.c_str());
                FatalExit(-1);
            }
        }
    }

    std::vector<MergedPattern> all;
    double seconds = 0;
    long long nodes = 0, large = 0, projected = 0;
    long long memory = 0;
    for (PartContents& p : parts) {
        for (MergedPattern& pattern : p.patterns) all.push_back(std::move(pattern));
        p.patterns.clear();
        seconds += p.seconds;
        nodes += p.nodes;
        large += p.large;
        projected += p.projected;
        memory = std::max(memory, p.memory);
    }
    KeepClosed(&all);

    AtomicFile out;
    FILE* file = OpenResultOrEnd(out, outPath);
    std::vector<long long> byItems;
    fprintf(file, "CLOSED\n");
    for (const MergedPattern& p : all) {
        fprintf(file, "%s\n", p.line.c_str());
        if ((size_t)p.items >= byItems.size()) byItems.resize((size_t)p.items + 1, 0);
        byItems[(size_t)p.items]++;
    }
    fprintf(file, "%.3f seconds (\nTotal running time)\n\n", seconds);
    fprintf(file, "Total # of TreeNode: %lld\n", nodes);
    for (size_t i = 0; i < byItems.size(); i++)
        if (byItems[i] != 0) fprintf(file, "Closed/Max %d : %lld\n", (int)i, byItems[i]);
    fprintf(file, "\nTotal of %lld large items.\n", large);
    fprintf(file, "# of projected datasets: %lld\n", projected);
    fprintf(file, "Maximum memory usage: %.6fMB\n", memory / kBytesPerMB);
    TimerSlot now;
    ReadClock(&now);
    fprintf(file, "%.3f seconds (Total running time after sort, and output.)\n",
            seconds + (double)TimeBetween(start, now));
    int err = out.Commit(true);
    if (err != 0) {
        LogError("Fail to write file %s: %s\n", outPath, strerror(err));
        FatalExit(-1);
    }
    diagnostics.ClearErrorLog();
    return 0;
}
