// Micro-benchmarks of the operations a mining run spends its time in: one
// projection step, pattern insertion into the tree, and the equivalence
// table.  The data is synthetic and made from a fixed seed, so every run
// measures the same work.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "projdb/ProjDB.h"
#include "support/Global.h"
#include "tree/PatternTree.h"

namespace {

const double kProjectSupport = 0.01;  // first level of the projection benchmark
const double kTraceSupport = 0.02;    // the recorded mining run

// Sequences of 6..13 itemsets of 1..maxItemset distinct codes below 50;
// the smaller of two draws makes low codes frequent, as in real data.  Half
// of the sequences also hold one of four fixed runs of itemsets over codes
// 50..65 (always whole, always in order), which gives patterns with equal
// projected databases: the equivalence path of tree insertion.
std::vector<int> MakeDataset(int sequences, int maxItemset, uint32_t seed) {
    static const std::vector<std::vector<int>> kMotifs = {
        {50, -1, 51, -1, 52, -1}, {53, -1, 54, -1, 55, -1, 56, -1},
        {57, -1, 58, -1, 59, -1}, {60, -1, 61, -1, 62, -1, 63, -1, 64, -1, 65, -1}};
    std::mt19937 rng(seed);
    auto draw = [&rng](int n) { return (int)(rng() % (uint32_t)n); };
    std::vector<int> words;
    for (int s = 0; s < sequences; ++s) {
        int itemsets = 6 + draw(8);
        int motifAt = draw(2) == 0 ? draw(itemsets) : -1;
        for (int n = 0; n < itemsets; ++n) {
            if (n == motifAt) {
                const std::vector<int>& m = kMotifs[draw(4)];
                words.insert(words.end(), m.begin(), m.end());
            }
            std::set<int> itemset;
            for (int k = 1 + draw(maxItemset); k > 0; --k) itemset.insert(std::min(draw(50), draw(50)));
            words.insert(words.end(), itemset.begin(), itemset.end());
            words.push_back(-1);
        }
        words.push_back(-2);
    }
    return words;
}

// The projection module loaded with a synthetic dataset written to a
// scratch directory; everything is released and reset on destruction.
class LoadedData {
public:
    LoadedData(int sequences, int maxItemset) {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/quivrel-micro.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir = pattern;
        std::string path = dir + "/data.bin";
        std::ofstream out(path, std::ios::binary);
        for (int w : MakeDataset(sequences, maxItemset, 20261207u)) {
            uint32_t v = (uint32_t)w;
            char bytes[4] = {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)};
            out.write(bytes, 4);
        }
        out.close();
        ws.InitProjDB(path.c_str(), 100);
    }
    ~LoadedData() {
        ws.ReleaseProjDB();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    Dataset dataset;
    ProjWorkspace ws{dataset};

private:
    std::string dir;
};

// The first projection with its progress lines sent to /dev/null.
PROJ_DB* FirstLevel(ProjWorkspace& ws, double support, int* count) {
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    PROJ_DB* records = ws.make_projdb_from_org_dataset(support, count);
    ws.FillFirstLevel(records, *count);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return records;
}

// Releases an array of records except the one at `skip` (already released
// by its projection: its entries pointer is null but its count is kept).
void ReleaseRecords(ProjWorkspace& ws, PROJ_DB* records, int count, int skip = -1) {
    for (int i = 0; i < count; ++i)
        if (i != skip) ws.release_projdb_buffers(&records[i]);
    ws.ReleaseRecordsArray(count);
    free(records);
}

// One projection step of the first-level record with the most entries.
// The step releases its parent's buffers, so the first level is rebuilt,
// untimed, before every step.  Argument: largest itemset (1 takes the path
// for data with one item per itemset).
void BM_ProjectFirstLevelRecord(benchmark::State& state) {
    LoadedData data(4000, (int)state.range(0));
    int count = 0;
    PROJ_DB* records = FirstLevel(data.ws, kProjectSupport, &count);
    int best = 0;
    for (int i = 1; i < count; ++i)
        if (records[i].m_nSupport > records[best].m_nSupport) best = i;
    int entries = records[best].m_nSupport;
    int children = 0;
    for (auto _ : state) {
        int n = 0;
        PROJ_DB* kids = data.ws.make_projdb_from_projected_db(&records[best], &n);
        state.PauseTiming();
        children = n;
        ReleaseRecords(data.ws, kids, n);
        ReleaseRecords(data.ws, records, count, best);
        records = FirstLevel(data.ws, kProjectSupport, &count);
        state.ResumeTiming();
    }
    ReleaseRecords(data.ws, records, count);
    state.SetItemsProcessed(state.iterations() * entries);  // parent entries
    state.counters["entries"] = entries;
    state.counters["children"] = children;
}
BENCHMARK(BM_ProjectFirstLevelRecord)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

// ---- a recorded mining run, replayed into the tree ----

// A pattern met by a mining run: the four fields insertion reads, whether
// the run grows it further, and its children in the run's order.
struct Pattern {
    PROJ_DB rec;
    bool expandable;
    std::vector<int> kids;
};

struct Trace {
    std::vector<Pattern> patterns;
    std::vector<int> top;  // first-level patterns
};

int Note(ProjWorkspace& ws, Trace& t, const PROJ_DB& db) {
    Pattern p{PROJ_DB{}, db.m_nSupport >= ws.gSUP, {}};
    p.rec.m_nLastItem = db.m_nLastItem;
    p.rec.m_bIsIntra = db.m_bIsIntra;
    p.rec.maxSupport = db.maxSupport;
    p.rec.NumOfItems = db.NumOfItems;
    t.patterns.push_back(p);
    return (int)t.patterns.size() - 1;
}

// Projects every expandable pattern below `db`, as a run does when no
// pattern is found equivalent to an earlier one.
void Record(ProjWorkspace& ws, Trace& t, PROJ_DB* db, int self) {
    int n = 0;
    PROJ_DB* kids = ws.make_projdb_from_projected_db(db, &n);
    std::vector<int> ids;
    for (int i = 0; i < n; ++i) ids.push_back(Note(ws, t, kids[i]));
    t.patterns[self].kids = ids;
    for (int i = 0; i < n; ++i) {
        if (t.patterns[ids[i]].expandable) {
            Record(ws, t, &kids[i], ids[i]);  // releases the child's buffers
        } else {
            ws.release_projdb_buffers(&kids[i]);
        }
    }
    ws.ReleaseRecordsArray(n);
    free(kids);
}

const Trace& MiningTrace() {
    static const Trace trace = [] {
        Trace t;
        LoadedData data(1000, 3);
        int count = 0;
        PROJ_DB* records = FirstLevel(data.ws, kTraceSupport, &count);
        for (int i = 0; i < count; ++i) t.top.push_back(Note(data.ws, t, records[i]));
        for (int i = 0; i < count; ++i) {
            if (t.patterns[t.top[i]].expandable) {
                Record(data.ws, t, &records[i], t.top[i]);
            } else {
                data.ws.release_projdb_buffers(&records[i]);
            }
        }
        data.ws.ReleaseRecordsArray(count);
        free(records);
        return t;
    }();
    return trace;
}

int64_t gInsertions = 0;  // addSequence calls of one replay
PatternTree* gTree = nullptr;  // the tree of the replay being timed

int Insert(const Pattern& p) {
    PROJ_DB rec = p.rec;
    ++gInsertions;
    return addSequence(*gTree, &rec);
}

// The driver's order: insert, and mine below only when insertion made a
// new node; every successful insertion is matched by one step back up.
// Leaves are inserted and stepped back from at once.
void Grow(const Trace& t, int id) {
    if (Insert(t.patterns[id]) == 0) return;
    if (!t.patterns[id].expandable) {
        gTree->currentLevel = gTree->currentLevel->Parent;
        return;
    }
    for (int k : t.patterns[id].kids) Grow(t, k);
    gTree->currentLevel = gTree->currentLevel->Parent;
}

// Every insertion of the recorded run into a fresh tree and table.
void BM_AddSequenceRun(benchmark::State& state) {
    const Trace& t = MiningTrace();
    int64_t insertions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        gTree = NewPatternTree();
        gInsertions = 0;
        state.ResumeTiming();
        // First-level leaves before any first-level pattern is mined.
        for (int id : t.top)
            if (!t.patterns[id].expandable) Grow(t, id);
        for (int id : t.top)
            if (t.patterns[id].expandable) Grow(t, id);
        state.PauseTiming();
        insertions += gInsertions;
        state.counters["inserted"] = (double)gInsertions;
        state.counters["new_nodes"] = gTree->zzz;
        ReleasePatternTree(gTree);
        gTree = nullptr;
        state.ResumeTiming();
    }
    state.counters["patterns"] = (double)t.patterns.size();
    state.SetItemsProcessed(insertions);
}
BENCHMARK(BM_AddSequenceRun)->Unit(benchmark::kMillisecond);

// ---- the equivalence table on the recorded run's keys ----

std::vector<int> TraceKeys() {
    std::vector<int> keys;
    for (const Pattern& p : MiningTrace().patterns) keys.push_back(p.rec.maxSupport + p.rec.NumOfItems);
    return keys;
}

// Insertion of every key into a fresh table (growth included).
void BM_EquivTableInsert(benchmark::State& state) {
    const std::vector<int> keys = TraceKeys();
    TreeNode node(-1, false, 0, nullptr, nullptr);  // never dereferenced by the table
    for (auto _ : state) {
        EquivTable table;
        for (int key : keys) table.Insert(key, &node);
        benchmark::DoNotOptimize(table.Size());
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)keys.size());
}
BENCHMARK(BM_EquivTableInsert)->Unit(benchmark::kMicrosecond);

// Lookup of every key and a walk over its group, in a filled table.
void BM_EquivTableEqualRange(benchmark::State& state) {
    const std::vector<int> keys = TraceKeys();
    TreeNode node(-1, false, 0, nullptr, nullptr);
    EquivTable table;
    for (int key : keys) table.Insert(key, &node);
    size_t visited = 0;
    for (auto _ : state) {
        visited = 0;
        for (int key : keys)
            for (EquivTable::Entry* e = table.EqualRange(key); e != nullptr && e->key == key; e = e->next)
                ++visited;
        benchmark::DoNotOptimize(visited);
    }
    state.counters["walked"] = (double)visited;  // group entries visited per pass
    state.SetItemsProcessed(state.iterations() * (int64_t)keys.size());
}
BENCHMARK(BM_EquivTableEqualRange)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
