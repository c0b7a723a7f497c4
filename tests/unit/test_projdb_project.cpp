// Projection of a projected database by one item, the release of record
// buffers with the byte accounting, and whole mining runs checked against a
// brute-force enumeration of the frequent patterns.
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "projdb/Counting.h"
#include "projdb/Positions.h"
#include "test_projdb_fixture.h"

namespace {

using Offsets = std::vector<long long>;
using Words = std::vector<int>;

class ProjDBProjectTest : public ProjDBTest {
protected:
    // Every record made during a mining run: pattern words -> support, and
    // the number of records by number of items.
    std::map<Words, int> made;
    std::vector<int> byItems = std::vector<int>(256, 0);
    // When set, every record made: pattern words -> its key, then each
    // entry's -(sequence + 1) and positions, in entry order.
    std::map<Words, Offsets>* entries = nullptr;
    // When set (a run without the occurrence tables), every entry's hint
    // must hold the offset of its sequence's -2: the in-itemset pass takes
    // a rest's end from it unsearched.
    bool checkEndHints = false;

    void Note(const PROJ_DB& db) {
        Words words = PatternWords(db);
        EXPECT_TRUE(made.emplace(words, db.maxSupport).second) << "pattern made twice";
        for (int i = 0; checkEndHints && i < db.m_nSupport; ++i) {
            long long end = Positions(db, i)[0];
            while (WordAt(end) != -2) ++end;
            EXPECT_EQ(~(long long)db.m_pProjSeq[i].m_nSeq, end);
        }
        if (entries != nullptr) {
            Offsets& out = (*entries)[words];
            out.push_back(db.NumOfItems);
            for (int i = 0; i < db.m_nSupport; ++i) {
                out.push_back(-1 - (long long)db.m_pProjSeq[i].m_nSeq);
                for (long long p : Positions(db, i)) out.push_back(p);
            }
        }
        int items = (int)std::count_if(words.begin(), words.end(), [](int w) { return w != -1; });
        if (items >= (int)byItems.size()) byItems.resize(items + 1, 0);
        byItems[items]++;
    }

    // Projects a record and its descendants depth first, releasing every
    // record and array as soon as it is done, as the driver does.
    void MineRecord(PROJ_DB* db) {
        int n = -1;
        PROJ_DB* children = ws.make_projdb_from_projected_db(db, &n);
        EXPECT_EQ(db->m_pProjSeq, nullptr);
        for (int i = 0; i < n; ++i) Note(children[i]);
        for (int i = 0; i < n; ++i) {
            if (children[i].m_nSupport >= ws.gSUP) {
                MineRecord(&children[i]);
            } else {
                ws.release_projdb_buffers(&children[i]);
            }
        }
        ws.n_total_mem -= n * (int)sizeof(PROJ_DB);
        free(children);
    }

    void MineAll(double support) {
        int count = -1;
        PROJ_DB* records = FirstLevel(support, &count);
        for (int i = 0; i < count; ++i) Note(records[i]);
        for (int i = 0; i < count; ++i) {
            if (records[i].m_nSupport >= ws.gSUP) {
                MineRecord(&records[i]);
            } else {
                ws.release_projdb_buffers(&records[i]);
            }
        }
        ws.n_total_mem -= count * (int)sizeof(PROJ_DB);
        free(records);
    }

    // Every record's entries of a run without the occurrence tables at
    // support 0.4, three ways: the item walks with eight-word compares
    // (where the CPU has them), the scan, and the item walks with four-word
    // compares.
    void EntriesOfThreeFills(const Words& words, int itemcount, std::map<Words, Offsets> got[3]) {
        for (int way = 0; way < 3; ++way) {
            ResetModule();
            made.clear();
            ProjectionStrategy strategy;
            strategy.noTables = true;
            strategy.fill =
                way == 1 ? ProjectionStrategy::kFillScan : ProjectionStrategy::kFillByItem;
            strategy.narrowCompares = way == 2;
            ws.SetProjectionStrategy(strategy);
            entries = &got[way];
            checkEndHints = true;
            Load(words, itemcount);
            MineAll(0.4);
        }
        entries = nullptr;
        checkEndHints = false;
    }
};

// ---- the worked examples ----

// (1 2)(3), (1)(2 3), (1 2 3)
const Words kThreeSequences = {1, 2, -1, 3, -1, -2, 1, -1, 2, 3, -1, -2, 1, 2, 3, -1, -2};

TEST_F(ProjDBProjectTest, ProjectsBothKindsOfExtension) {
    Load(kThreeSequences);
    int count = -1;
    PROJ_DB* records = FirstLevel(0.6, &count);
    EXPECT_DOUBLE_EQ(ws.gSUP, 1.8);
    ASSERT_EQ(count, 3);
    PROJ_DB* one = &records[0];
    EXPECT_EQ(one->maxSupport, 3);
    ASSERT_EQ(one->m_nSupport, 3);
    EXPECT_EQ(Positions(*one, 0), Offsets({1}));
    EXPECT_EQ(Positions(*one, 1), Offsets({7}));
    EXPECT_EQ(Positions(*one, 2), Offsets({13}));
    EXPECT_EQ(one->NumOfItems, 17 + 11 + 5);

    // Before: 3 records, entries 3 for (1), 3 for (2), none for (3).
    int before = 3 * (int)sizeof(PROJ_DB) + 6 * (int)sizeof(PROJ_SEQ);
    ASSERT_EQ(ws.n_total_mem, before);

    int n = -1;
    PROJ_DB* children = ws.make_projdb_from_projected_db(one, &n);
    ASSERT_EQ(n, 2);

    const PROJ_DB& inItemset = children[0];  // (1 2)
    EXPECT_EQ(PatternWords(inItemset), Words({1, 2}));
    EXPECT_TRUE(inItemset.m_bIsIntra);
    EXPECT_EQ(inItemset.m_nLastItem, 2);
    EXPECT_EQ(inItemset.maxSupport, 2);
    ASSERT_EQ(inItemset.m_nSupport, 2);
    EXPECT_EQ(Positions(inItemset, 0), Offsets({2}));
    EXPECT_EQ(Positions(inItemset, 1), Offsets({14}));
    EXPECT_EQ(inItemset.NumOfItems, 20);
    EXPECT_EQ(inItemset.m_nLastSeq, 3);

    const PROJ_DB& newItemset = children[1];  // (1)(3)
    EXPECT_EQ(PatternWords(newItemset), Words({1, -1, 3}));
    EXPECT_FALSE(newItemset.m_bIsIntra);
    EXPECT_EQ(newItemset.m_nLastItem, 3);
    EXPECT_EQ(newItemset.maxSupport, 2);
    EXPECT_EQ(newItemset.m_nSupport, 0);
    EXPECT_EQ(newItemset.NumOfItems, 0);
    EXPECT_EQ(newItemset.m_nLastSeq, -1);
    ASSERT_NE(newItemset.m_pProjSeq, nullptr);  // two slots, none filled

    EXPECT_EQ(ws.gnArrLargeCount[2], 2);

    // The parent keeps its scalar fields; the peak covers parent and
    // children together.
    EXPECT_EQ(one->m_pProjSeq, nullptr);
    EXPECT_EQ(one->maxSupport, 3);
    EXPECT_EQ(one->m_nSupport, 3);
    EXPECT_EQ(one->NumOfItems, 33);
    EXPECT_EQ(one->m_nLastItem, 1);
    int peak = before + 2 * (int)sizeof(PROJ_DB) + ((1 + 1) * 2 + 1) * (int)sizeof(int) +
               4 * (int)sizeof(PROJ_SEQ);
    EXPECT_EQ(ws.n_max_mem, peak);
    EXPECT_EQ(ws.n_total_mem, peak - 3 * (int)sizeof(PROJ_SEQ));

    // Releasing everything balances the count, also with records released
    // twice (a failed growth releases every record it holds).
    ws.release_projdb_buffers(&children[1]);
    ReleaseArray(children, n);
    for (int i = 0; i < count; ++i) ws.release_projdb_buffers(&records[i]);
    ws.n_total_mem -= count * (int)sizeof(PROJ_DB);
    free(records);
    EXPECT_EQ(ws.n_total_mem, 0);
    EXPECT_EQ(ws.n_max_mem, peak);
}

TEST_F(ProjDBProjectTest, LaterPositionsGiveInItemsetExtensions) {
    // (1 2)(1 2 3)
    Load({1, 2, -1, 1, 2, 3, -1, -2});
    int count = -1;
    PROJ_DB* records = FirstLevel(1.0, &count);
    ASSERT_EQ(count, 3);
    PROJ_DB* one = &records[0];
    ASSERT_EQ(one->m_nSupport, 1);
    EXPECT_EQ(Positions(*one, 0), Offsets({1, 4}));

    int n = -1;
    PROJ_DB* children = ws.make_projdb_from_projected_db(one, &n);
    ASSERT_EQ(n, 5);
    // In item order, an item's in-itemset child before its new-itemset one.
    EXPECT_EQ(PatternWords(children[0]), Words({1, -1, 1}));
    EXPECT_EQ(PatternWords(children[1]), Words({1, 2}));
    EXPECT_EQ(PatternWords(children[2]), Words({1, -1, 2}));
    EXPECT_EQ(PatternWords(children[3]), Words({1, 3}));
    EXPECT_EQ(PatternWords(children[4]), Words({1, -1, 3}));
    const bool intra[5] = {false, true, false, true, false};
    const int support[5] = {1, 1, 1, 0, 0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(children[i].m_bIsIntra, intra[i]) << i;
        EXPECT_EQ(children[i].maxSupport, 1) << i;
        EXPECT_EQ(children[i].m_nSupport, support[i]) << i;
    }
    EXPECT_EQ(Positions(children[0], 0), Offsets({4}));
    // (1 2): after the first 2, and through the parent's second position
    // after the second 2.
    EXPECT_EQ(Positions(children[1], 0), Offsets({2, 5}));
    EXPECT_EQ(children[1].NumOfItems, 7);
    EXPECT_EQ(Positions(children[2], 0), Offsets({5}));
    EXPECT_EQ(ws.gnArrLargeCount[2], 5);

    // Projecting (1 2) finds (1 2 3) through its second position.
    PROJ_DB* oneTwo = &children[1];
    int m = -1;
    PROJ_DB* grand = ws.make_projdb_from_projected_db(oneTwo, &m);
    ASSERT_EQ(m, 4);
    EXPECT_EQ(PatternWords(grand[0]), Words({1, 2, -1, 1}));
    EXPECT_EQ(PatternWords(grand[1]), Words({1, 2, -1, 2}));
    EXPECT_EQ(PatternWords(grand[2]), Words({1, 2, 3}));
    EXPECT_EQ(PatternWords(grand[3]), Words({1, 2, -1, 3}));
    EXPECT_TRUE(grand[2].m_bIsIntra);
    EXPECT_EQ(grand[2].maxSupport, 1);
    EXPECT_EQ(grand[2].m_nSupport, 0);
    EXPECT_EQ(ws.gnArrLargeCount[3], 4);

    // (1) and (1 2) were released by their projections.
    ReleaseArray(grand, m);
    for (int i = 0; i < n; ++i) {
        if (i != 1) ws.release_projdb_buffers(&children[i]);
    }
    ws.n_total_mem -= n * (int)sizeof(PROJ_DB);
    free(children);
    for (int i = 1; i < count; ++i) ws.release_projdb_buffers(&records[i]);
    ws.n_total_mem -= count * (int)sizeof(PROJ_DB);
    free(records);
    EXPECT_EQ(ws.n_total_mem, 0);
}

TEST_F(ProjDBProjectTest, ParentWithoutFrequentExtensionIsStillReleased) {
    // (1)(2), (1)(3): at support 1.0 neither extension reaches 2.
    Load({1, -1, 2, -1, -2, 1, -1, 3, -1, -2});
    int count = -1;
    PROJ_DB* records = FirstLevel(1.0, &count);
    ASSERT_EQ(count, 1);
    int before = ws.n_total_mem;
    int n = -1;
    EXPECT_EQ(ws.make_projdb_from_projected_db(&records[0], &n), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(records[0].m_pProjSeq, nullptr);
    EXPECT_EQ(records[0].maxSupport, 2);
    EXPECT_EQ(ws.n_total_mem, before - 2 * (int)sizeof(PROJ_SEQ));
    EXPECT_EQ(ws.n_max_mem, before);
    ws.n_total_mem -= (int)sizeof(PROJ_DB);
    free(records);
    EXPECT_EQ(ws.n_total_mem, 0);
}

TEST_F(ProjDBProjectTest, ReleaseWithoutPeakSampleLeavesThePeak) {
    Load(kThreeSequences);
    int count = -1;
    PROJ_DB* records = FirstLevel(0.6, &count);
    int64_t peak = ws.n_max_mem;
    // Pretend that 3 GiB more are held right now: large data pass 32 bits.
    const int64_t held = (int64_t)3 << 30;
    ws.n_total_mem += held;
    ws.release_projdb_buffers(&records[0]);
    EXPECT_EQ(ws.n_max_mem, peak);
    ws.clean_projcted_db(&records[1]);
    EXPECT_EQ(ws.n_max_mem, peak + held - 3 * (int)sizeof(PROJ_SEQ));
    EXPECT_EQ(records[1].m_pProjSeq, nullptr);
    EXPECT_EQ(records[1].maxSupport, 3);
    ws.n_total_mem -= held;
    ws.release_projdb_buffers(&records[2]);
    ws.n_total_mem -= count * (int)sizeof(PROJ_DB);
    free(records);
    EXPECT_EQ(ws.n_total_mem, 0);
}

// ---- growth of the run-wide arrays under repeated codes ----

TEST_F(ProjDBProjectTest, AWholeRunIsOneOccurrence) {
    // 7 (7 x8 8): the run is the item 7 once, matched at its last word, so
    // no pattern repeats 7 within an itemset.
    Words words = {7, -1};
    for (int i = 0; i < 8; ++i) words.push_back(7);
    words.insert(words.end(), {8, -1, -2});
    Load(words);
    MineAll(1.0);
    EXPECT_EQ(ws.n_total_mem, 0);
    EXPECT_EQ(made.at(Words({7})), 1);
    EXPECT_EQ(made.at(Words({7, -1, 7, 8})), 1);
    EXPECT_EQ(made.count(Words({7, 7})), 0u);
    EXPECT_EQ(made.count(Words({7, -1, 7, 7})), 0u);
}

TEST_F(ProjDBProjectTest, PatternCountersCoverALongRun) {
    // 7 (7 x60 8): a run counts once, so the longest pattern, (7)(7 8), has
    // 3 items and every counter agrees with the patterns made.
    Words words = {7, -1};
    for (int i = 0; i < 60; ++i) words.push_back(7);
    words.insert(words.end(), {8, -1, -2});
    Load(words);
    MineAll(1.0);
    EXPECT_EQ(ws.n_total_mem, 0);

    int longest = (int)byItems.size() - 1;
    while (longest > 0 && byItems[longest] == 0) --longest;
    ASSERT_EQ(longest, 3);
    ASSERT_GE(ws.gMAX_PAT_LEN, longest + 2);
    for (int items = 1; items <= longest; ++items) {
        EXPECT_EQ(ws.gnArrLargeCount[items], byItems[items]) << items;
        EXPECT_GT(ws.gnArrLargeCount[items], 0) << items;
    }
    for (int items = longest + 1; items < ws.gMAX_PAT_LEN; ++items) {
        EXPECT_EQ(ws.gnArrLargeCount[items], 0) << items;
    }
}

TEST_F(ProjDBProjectTest, CountLargePatternKeepsAZeroAfterTheLastCounter) {
    ws.gnArrLargeCount = (int*)calloc(32, sizeof(int));
    ws.gMAX_PAT_LEN = 32;
    ws.gnArrLargeCount[5] = 7;
    ws.CountLargePattern(30);
    ASSERT_GE(ws.gMAX_PAT_LEN, 32);
    EXPECT_EQ(ws.gnArrLargeCount[30], 1);
    ws.CountLargePattern(31);
    ASSERT_GE(ws.gMAX_PAT_LEN, 33);
    EXPECT_EQ(ws.gnArrLargeCount[31], 1);
    EXPECT_EQ(ws.gnArrLargeCount[32], 0);
    ws.CountLargePattern(100);
    ASSERT_GE(ws.gMAX_PAT_LEN, 102);
    EXPECT_EQ(ws.gnArrLargeCount[5], 7);
    EXPECT_EQ(ws.gnArrLargeCount[100], 1);
    for (int i = 32; i < ws.gMAX_PAT_LEN; ++i) {
        if (i != 100) {
            EXPECT_EQ(ws.gnArrLargeCount[i], 0) << i;
        }
    }
}

// The item-by-item fill without occurrence tables walks each rest for up to
// sixteen items at once (two, four, eight or sixteen codes, more walks past
// sixteen), with runs of equal codes across groups of words: every record
// it makes holds the entries and positions of the one-scan fill, in the
// same order.
TEST_F(ProjDBProjectTest, ItemWalksGiveTheScanFillsEntries) {
    std::mt19937 rng(99);
    const int kItems = 12;
    for (int round = 0; round < 40; ++round) {
        // Half the rounds begin with a rest too short for a group of four
        // words before its -2.
        Words words = round % 2 == 0 ? Words{0, -1, -1, -2} : Words{};
        for (int s = 0, nSeq = 6 + (int)(rng() % 6); s < nSeq; ++s) {
            // Every fourth round has long sequences: rests past the 32
            // words that the walks read as a whole.
            for (int k = 0, nSets = (int)(rng() % (round % 4 == 3 ? 16 : 6)); k < nSets; ++k) {
                const bool empty = rng() % 8 == 0;
                for (int item = 0; item < kItems; ++item) {
                    if (empty || rng() % 3 != 0) continue;
                    for (int copies = rng() % 6 == 0 ? 2 + rng() % 4 : 1; copies > 0; --copies)
                        words.push_back(item);
                }
                words.push_back(-1);
            }
            words.push_back(-2);
        }
        std::map<Words, Offsets> got[3];
        EntriesOfThreeFills(words, kItems, got);
        ASSERT_EQ(got[0], got[1]) << "round " << round;
        ASSERT_EQ(got[2], got[1]) << "round " << round;
    }
}

// The same on rests of every length from 3 to 45 words, around the 32 that
// the walks read as a whole and the group sizes, with the items in the
// rest's first and last groups, in runs, and twice in one rest, also in the
// next itemset but one (which the whole-rest reading hands back to the
// walk); the first rest lies too close to the data's start for a group
// before its -2.
TEST_F(ProjDBProjectTest, ShortAndLongRestsGiveTheScanFillsEntries) {
    Words words;
    const Words tails[5] = {{1, 2, -1}, {1, 1, -1, 2, -1}, {1, -1, 2, -1, 1, 2, -1},
                            {2, 2, -1, 1, -1}, {1, -1, 1, 2, -1}};
    for (int s = 0; s < 44; ++s) {
        for (int w : {0, -1}) words.push_back(w);
        if (s % 3 == 0) words.insert(words.end(), {1, -1});
        // Codes of their own, infrequent: only the rest's length.
        for (int k = 0; k < s / 2; ++k) words.insert(words.end(), {10 + s, -1});
        words.insert(words.end(), tails[s % 5].begin(), tails[s % 5].end());
        words.push_back(-2);
    }
    std::map<Words, Offsets> got[3];
    EntriesOfThreeFills(words, 60, got);
    ASSERT_FALSE(got[1].empty());
    EXPECT_EQ(got[0], got[1]);
    EXPECT_EQ(got[2], got[1]);
}

// The candidate counters stop once no candidate can reach the threshold.
// In the step of (1) below, (1)(2) reaches it exactly at the last rest: its
// hundred misses come first and use up every miss that the threshold leaves
// room for, while (1)(1) and (1)(3) are out long before.  Each counter has
// to go on to the end.
TEST_F(ProjDBProjectTest, CandidateCountersStopOnlyWhenNoCandidateCanReach) {
    Words words;
    for (int s = 0; s < 200; ++s) {
        // (3)(1)(x): x is 2 in the last hundred sequences, else a code of
        // two sequences.
        for (int w : {3, -1, 1, -1, s < 100 ? 10 + s % 50 : 2, -1, -2}) words.push_back(w);
    }
    using S = ProjectionStrategy;
    const S::Count counters[3] = {S::kCountCompares, S::kCountCompares, S::kCountMask};
    for (int way = 0; way < 3; ++way) {
        ResetModule();
        made.clear();
        S strategy;
        strategy.count = counters[way];
        strategy.narrowCompares = way == 1;
        ws.SetProjectionStrategy(strategy);
        Load(words);
        MineAll(0.5);
        EXPECT_EQ(made[Words({1, -1, 2})], 100) << "way " << way;
    }
}

// ---- whole runs against brute force ----

using Itemset = std::vector<int>;  // ascending, no repeats
using Sequence = std::vector<Itemset>;

// Greedy earliest matching decides containment of itemset sequences.
bool Contains(const Sequence& seq, const Sequence& pattern) {
    size_t k = 0;
    for (size_t i = 0; i < seq.size() && k < pattern.size(); ++i) {
        if (std::includes(seq[i].begin(), seq[i].end(), pattern[k].begin(), pattern[k].end())) {
            ++k;
        }
    }
    return k == pattern.size();
}

Words ToWords(const Sequence& pattern) {
    Words words;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (i > 0) words.push_back(-1);
        words.insert(words.end(), pattern[i].begin(), pattern[i].end());
    }
    return words;
}

// Every frequent pattern grown from a frequent `pattern` (the empty pattern
// at the start) by one item at a time, both ways.
void Enumerate(const std::vector<Sequence>& db, const Sequence& pattern, double minSup,
               int nItems, std::map<Words, int>* out) {
    for (int item = 0; item < nItems; ++item) {
        for (int way = 0; way < 2; ++way) {
            Sequence grown = pattern;
            if (way == 0) {
                if (grown.empty() || grown.back().back() >= item) continue;
                grown.back().push_back(item);
            } else {
                grown.push_back({item});
            }
            int support = 0;
            for (const Sequence& s : db) support += Contains(s, grown) ? 1 : 0;
            if (support >= minSup) {
                (*out)[ToWords(grown)] = support;
                Enumerate(db, grown, minSup, nItems, out);
            }
        }
    }
}

TEST_F(ProjDBProjectTest, RunsMakeExactlyTheFrequentPatterns) {
    std::mt19937 rng(20240611);
    const double supports[] = {0.2, 0.34, 0.5, 0.75};
    const int kItems = 5;
    for (int round = 0; round < 150; ++round) {
        std::vector<Sequence> db;
        Words words;
        int nSeq = 1 + (int)(rng() % 7);
        for (int s = 0; s < nSeq; ++s) {
            Sequence seq;
            int nSets = (int)(rng() % 5);  // 0: an empty sequence
            for (int k = 0; k < nSets; ++k) {
                Itemset set;
                for (int item = 0; item < kItems; ++item) {
                    if (rng() % 3 == 0) set.push_back(item);
                }
                seq.push_back(set);  // may be empty
                words.insert(words.end(), set.begin(), set.end());
                words.push_back(-1);
            }
            words.push_back(-2);
            db.push_back(seq);
        }
        double support = supports[rng() % 4];

        ResetModule();
        made.clear();
        std::fill(byItems.begin(), byItems.end(), 0);
        Load(words, kItems);
        MineAll(support);

        std::map<Words, int> expected;
        Enumerate(db, {}, ws.gSUP, kItems, &expected);
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ(made, expected);
        EXPECT_EQ(ws.n_total_mem, 0);
        for (int items = 1; items < (int)byItems.size() && items < ws.gMAX_PAT_LEN; ++items) {
            EXPECT_EQ(ws.gnArrLargeCount[items], byItems[items]) << items;
        }
        if (HasFailure()) break;
    }
}

}  // namespace

// The four-codes search finds the same word as a plain scan wherever the
// first hit lies (any lane of a group of four or eight words, or the tail
// after the last whole group, read as the group that ends at `last` or, in
// data of fewer words, one by one), and never looks at or past `last` or
// before the floor (the sanitizer build catches a read outside the vector).
// The eight-word search runs where the CPU has AVX2.
template <class Search>
static void CheckFourCodesSearch(unsigned seed) {
    std::mt19937 rng(seed);
    const int code[4] = {3, 5, 5, 9};
    for (int round = 0; round < 3000; ++round) {
        std::vector<int> words(1 + rng() % 21);
        for (int& w : words) w = (int)(rng() % 12) - 2;
        const size_t from = rng() % words.size();
        // The word at `last` is a hit that must never be returned as one.
        std::vector<int> padded(words);
        padded.push_back(3);
        const Search codes(code, padded.data());
        int* first = padded.data() + from;
        int* last = padded.data() + words.size();
        int* expect = first;
        while (expect < last && *expect != 3 && *expect != 5 && *expect != 9) ++expect;
        ASSERT_EQ(codes.FindIn(first, last), expect) << "round " << round;
    }
}

TEST(FourCodesTest, FindsTheFirstHitLikeAPlainScan) {
    CheckFourCodesSearch<CodeSearch<4>>(7);
#if QUIVREL_WIDE_COMPARES
    if (CpuHasWideCompares()) CheckFourCodesSearch<CodeSearch<4, WideCodeLanes<4>>>(8);
#endif
}

// A count reaches the threshold exactly when it is at least the least
// frequent count: a fractional threshold rounds up, a whole one stays, and
// every count met (1 or more) reaches a threshold of 1 or less.
TEST(LeastFrequentCountTest, RoundsTheThresholdUpToAWholeCount) {
    EXPECT_EQ(LeastFrequentCount(0.0), 1);
    EXPECT_EQ(LeastFrequentCount(0.4), 1);
    EXPECT_EQ(LeastFrequentCount(2.0), 2);
    EXPECT_EQ(LeastFrequentCount(2.38), 3);
    EXPECT_EQ(LeastFrequentCount(1e12), INT_MAX);
}

// A code says it reached the least count exactly once per pass: not again
// for a repeat within the same entry, nor for a later entry above the
// least; a stale row (stamp of an earlier pass) restarts at 1.
TEST(LeastFrequentCountTest, ACountReachesTheLeastOncePerPass) {
    ITEM_CNT row{7, 40};  // counted by an earlier pass, whose stamps end at 10
    const int base = 10, least = 2;
    EXPECT_FALSE(CountStampedReaches(row, 11, base, least));
    EXPECT_EQ(row.m_nCount, 1);
    EXPECT_FALSE(CountStampedReaches(row, 11, base, least));  // same entry
    EXPECT_TRUE(CountStampedReaches(row, 13, base, least));
    EXPECT_FALSE(CountStampedReaches(row, 13, base, least));  // same entry
    EXPECT_FALSE(CountStampedReaches(row, 14, base, least));
    EXPECT_EQ(row.m_nCount, 3);
    EXPECT_EQ(row.m_nLastSeq, 14);
}
