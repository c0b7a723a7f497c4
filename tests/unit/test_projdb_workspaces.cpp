// Workspaces as independent objects: two of them mining on two threads at
// once grow exactly what each grows alone, and a workspace projected out of
// depth-first order still grows the exact children (its candidate frames
// are only a shortcut).  Also run by `make tsan`.
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "test_projdb_fixture.h"

namespace {

// One grown pattern with the figures the pattern tree keys on.
struct Grown {
    std::vector<int> pattern;
    int support;
    int numOfItems;
    uint64_t fingerprint;
    bool operator==(const Grown& o) const {
        return std::tie(pattern, support, numOfItems, fingerprint) ==
               std::tie(o.pattern, o.support, o.numOfItems, o.fingerprint);
    }
    bool operator<(const Grown& o) const { return pattern < o.pattern; }
};

std::vector<int> Pattern(const PROJ_DB& db) {
    if (db.m_nPatLen == 1) return {db.m_nPatItem};
    return std::vector<int>(db.m_pnPat, db.m_pnPat + db.m_nPatLen);
}

// Random data; with `oneItem` every itemset holds one item.
std::vector<int> RandomData(unsigned seed, bool oneItem) {
    std::mt19937 rng(seed);
    std::vector<int> words;
    for (int s = 0; s < 60; ++s) {
        int itemsets = 1 + (int)(rng() % 6);
        for (int k = 0; k < itemsets; ++k) {
            std::vector<int> items;
            int n = oneItem ? 1 : 1 + (int)(rng() % 3);
            for (int i = 0; i < n; ++i) items.push_back((int)(rng() % 8));
            std::sort(items.begin(), items.end());
            items.erase(std::unique(items.begin(), items.end()), items.end());
            words.insert(words.end(), items.begin(), items.end());
            words.push_back(-1);
        }
        words.push_back(-2);
    }
    return words;
}

// Grows every frequent pattern of the file with a dataset and workspace of
// its own, depth first (or breadth first), and lists what was grown.
std::vector<Grown> GrowAll(const std::string& path, const ProjectionStrategy& strategy,
                           bool breadthFirst = false) {
    Dataset data;
    ProjWorkspace ws(data);
    ws.SetProjectionStrategy(strategy);
    ws.InitProjDB(path.c_str(), 100);
    std::vector<Grown> out;
    std::vector<std::pair<PROJ_DB*, int>> arrays;  // freed at the end
    std::deque<PROJ_DB*> queue;
    int count = 0;
    PROJ_DB* first = ws.make_projdb_from_org_dataset(0.1, &count);
    ws.FillFirstLevel(first, count);
    arrays.push_back({first, count});
    for (int i = 0; i < count; ++i) queue.push_back(&first[i]);
    while (!queue.empty()) {
        PROJ_DB* db;
        if (breadthFirst) {
            db = queue.front();
            queue.pop_front();
        } else {
            db = queue.back();
            queue.pop_back();
        }
        out.push_back({Pattern(*db), db->maxSupport, db->NumOfItems, db->m_nPosFingerprint});
        if (db->m_nSupport < ws.gSUP) {
            ws.release_projdb_buffers(db);
            continue;
        }
        int n = 0;
        PROJ_DB* kids = ws.make_projdb_from_projected_db(db, &n);
        if (n == 0) continue;
        arrays.push_back({kids, n});
        for (int i = n - 1; i >= 0; --i) {
            if (breadthFirst)
                queue.push_back(&kids[n - 1 - i]);
            else
                queue.push_back(&kids[i]);  // the first child is projected first
        }
    }
    for (auto& [records, n] : arrays) {
        ws.ReleaseRecordsArray(n);
        free(records);
    }
    EXPECT_EQ(ws.n_total_mem, 0);
    return out;
}

class ProjWorkspaceTest : public ProjDBTest {};

TEST_F(ProjWorkspaceTest, TwoWorkspacesOnTwoThreadsGrowWhatEachGrowsAlone) {
    const std::string general = WriteData(RandomData(7, false), "general.bin");
    const std::string single = WriteData(RandomData(8, true), "single.bin");
    ProjectionStrategy forced;
    forced.count = ProjectionStrategy::kCountMarks;
    forced.fill = ProjectionStrategy::kFillByItem;

    ::testing::internal::CaptureStdout();
    const std::vector<Grown> aloneGeneral = GrowAll(general, ProjectionStrategy());
    const std::vector<Grown> aloneSingle = GrowAll(single, ProjectionStrategy());
    ASSERT_GT(aloneGeneral.size(), 20u);
    ASSERT_GT(aloneSingle.size(), 20u);

    // Different files, then one file with two strategies.
    std::vector<Grown> a, b, c, d;
    std::thread t1([&] { a = GrowAll(general, ProjectionStrategy()); });
    std::thread t2([&] { b = GrowAll(single, ProjectionStrategy()); });
    t1.join();
    t2.join();
    std::thread t3([&] { c = GrowAll(general, ProjectionStrategy()); });
    std::thread t4([&] { d = GrowAll(general, forced); });
    t3.join();
    t4.join();
    ::testing::internal::GetCapturedStdout();

    EXPECT_TRUE(a == aloneGeneral);
    EXPECT_TRUE(b == aloneSingle);
    EXPECT_TRUE(c == aloneGeneral);
    EXPECT_TRUE(d == aloneGeneral);
}

TEST_F(ProjWorkspaceTest, BreadthFirstOrderStillGrowsTheExactChildren) {
    const std::string path = WriteData(RandomData(9, false));
    for (auto count : {ProjectionStrategy::kCountMask, ProjectionStrategy::kCountMarks}) {
        ProjectionStrategy strategy;
        strategy.count = count;
        ::testing::internal::CaptureStdout();
        std::vector<Grown> depth = GrowAll(path, strategy);
        std::vector<Grown> breadth = GrowAll(path, strategy, true);
        ::testing::internal::GetCapturedStdout();
        std::sort(depth.begin(), depth.end());
        std::sort(breadth.begin(), breadth.end());
        EXPECT_TRUE(depth == breadth) << "counter " << count;
    }
}

}  // namespace
