// First-level projection from the dataset.
#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "test_projdb_fixture.h"

namespace {

using Offsets = std::vector<long long>;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif

class ProjDBFirstTest : public ProjDBTest {
protected:
    // A record's entries and key as plain values, for comparing two fills.
    std::string Dump(const PROJ_DB& db) {
        std::string out = std::to_string(db.m_nPatItem) + " n=" + std::to_string(db.m_nSupport) +
                          " key=" + std::to_string(db.NumOfItems) + "/" +
                          std::to_string(db.m_nPosFingerprint) + ":";
        for (int i = 0; i < db.m_nSupport && db.m_pProjSeq != nullptr; ++i) {
            out += " [" + std::to_string(db.m_pProjSeq[i].m_nSeq);
            for (long long p : Positions(db, i)) out += " " + std::to_string(p);
            out += "]";
        }
        return out;
    }

    // The first-level records that can be grown, each filled by
    // FillFirstLevelBatch with `budget` (0: by the data's size), dumped and
    // released as the growth loop does.
    std::vector<std::string> Grown(const std::vector<int>& words, size_t budget) {
        ResetModule();
        ProjectionStrategy strategy;
        strategy.firstLevelBudget = budget;
        ws.SetProjectionStrategy(strategy);
        Load(words);
        int count = 0;
        ::testing::internal::CaptureStdout();
        PROJ_DB* records = ws.make_projdb_from_org_dataset(0.1, &count);
        ::testing::internal::GetCapturedStdout();
        std::vector<std::string> counted, out;  // counted: keys, no entries yet
        for (int i = 0; i < count; ++i) counted.push_back(Dump(records[i]));
        for (int i = 0, to = 0; i < count; ++i) {
            if (records[i].m_nSupport < ws.gSUP) continue;
            if (i >= to) to = ws.FillFirstLevelBatch(records, count, i);
            out.push_back(Dump(records[i]));
            EXPECT_EQ(out.back().substr(0, counted[i].size()), counted[i]);
            ws.clean_projcted_db(&records[i]);
        }
        ReleaseArray(records, count);  // unfilled and released records too
        EXPECT_EQ(ws.n_total_mem, 0);
        return out;
    }
};

const std::vector<int> kTwoSequences = {1, -1, 2, -1, -2, 1, -1, -2};

TEST_F(ProjDBFirstTest, BuildsOneRecordPerFrequentItem) {
    Load(kTwoSequences);
    int count = -1;
    std::string out;
    PROJ_DB* records = FirstLevel(0.5, &count, &out);

    EXPECT_EQ(data.gnCustCount, 2);
    EXPECT_DOUBLE_EQ(ws.gSUP, 1.0);
    EXPECT_EQ(ws.gMAX_PAT_LEN, 32);
    ASSERT_EQ(count, 2);
    ASSERT_NE(records, nullptr);

    // Item 1: one entry (sequence 1, the -1 after the 1); in sequence 2 the
    // 1 is the last item and only counts towards the support.
    const PROJ_DB& one = records[0];
    EXPECT_EQ(one.m_nPatLen, 1);
    EXPECT_EQ(one.m_nPatItem, 1);
    EXPECT_EQ(one.m_nLastItem, 1);
    EXPECT_FALSE(one.m_bIsIntra);
    EXPECT_EQ(one.maxSupport, 2);
    EXPECT_EQ(one.m_nSupport, 1);
    EXPECT_EQ(one.NumOfItems, 8);
    ASSERT_NE(one.m_pProjSeq, nullptr);
    EXPECT_EQ(Positions(one, 0), Offsets({1}));

    // Item 2 is the last item of its only sequence.
    const PROJ_DB& two = records[1];
    EXPECT_EQ(two.m_nPatItem, 2);
    EXPECT_EQ(two.maxSupport, 1);
    EXPECT_EQ(two.m_nSupport, 0);
    EXPECT_EQ(two.m_pProjSeq, nullptr);
    EXPECT_EQ(two.NumOfItems, 0);

    EXPECT_EQ(ws.gnArrLargeCount[1], 2);
    for (int i = 2; i < ws.gMAX_PAT_LEN; ++i) EXPECT_EQ(ws.gnArrLargeCount[i], 0) << i;
    // Largest bound of one sequence: 2 x 2 occurrences + 2 itemsets.
    EXPECT_EQ(ws.gnBufIdxSize, 6);

    int expected = 2 * (int)sizeof(PROJ_DB) + (int)sizeof(PROJ_SEQ);
    EXPECT_EQ(ws.n_total_mem, expected);
    EXPECT_EQ(ws.n_max_mem, expected);

    EXPECT_EQ(out.rfind("\tCounting 1-Item sets ... \n\tCreating projection DBs ...  (", 0), 0u)
        << out;
    EXPECT_EQ(out.substr(out.size() - 6), " sec)\n");

    ReleaseArray(records, count);
    EXPECT_EQ(ws.n_total_mem, 0);
}

TEST_F(ProjDBFirstTest, ThresholdIsNotRounded) {
    Load(kTwoSequences);
    int count = -1;
    PROJ_DB* records = FirstLevel(0.75, &count);
    EXPECT_DOUBLE_EQ(ws.gSUP, 1.5);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(records[0].m_nPatItem, 1);
    EXPECT_EQ(ws.gnArrLargeCount[1], 1);
    ReleaseArray(records, count);
    EXPECT_EQ(ws.n_total_mem, 0);
}

TEST_F(ProjDBFirstTest, NoFrequentItemGivesNullAndOnlyTheCountingLine) {
    Load({1, -1, -2, 2, -1, -2});
    int count = -1;
    std::string out;
    EXPECT_EQ(FirstLevel(1.0, &count, &out), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(out, "\tCounting 1-Item sets ... \n");
    EXPECT_EQ(ws.n_total_mem, 0);
    EXPECT_EQ(ws.n_max_mem, 0);
    ASSERT_NE(ws.gnArrLargeCount, nullptr);
    EXPECT_EQ(ws.gnArrLargeCount[1], 0);
}

TEST_F(ProjDBFirstTest, EmptySequenceCountsButSupportsNothing) {
    Load({-2, 4, -1, 5, -1, -2});
    int count = -1;
    PROJ_DB* records = FirstLevel(0.5, &count);
    EXPECT_EQ(data.gnCustCount, 2);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(records[0].maxSupport, 1);
    EXPECT_EQ(records[0].m_nLastSeq, 2);  // stamped by sequence number 2
    EXPECT_EQ(Positions(records[0], 0), Offsets({2}));
    ReleaseArray(records, count);
}

TEST_F(ProjDBFirstTest, RepeatedItemGetsOneEntryWithFurtherPositions) {
    // 7 at the start; later an itemset 7, 7, 9: the run is one occurrence,
    // whose position is the word after its last 7 (the 9).  The 7 that ends
    // (3 7) and the last item 7 add nothing.
    std::vector<int> words = {7, -1, 7, 7, 9, -1, 3, 7, -1, 7, -1, -2};
    Load(words);
    int count = -1;
    PROJ_DB* records = FirstLevel(1.0, &count);
    ASSERT_EQ(count, 3);  // items 3, 7, 9
    const PROJ_DB& seven = records[1];
    EXPECT_EQ(seven.m_nPatItem, 7);
    EXPECT_EQ(seven.maxSupport, 1);
    ASSERT_EQ(seven.m_nSupport, 1);
    EXPECT_EQ(Positions(seven, 0), Offsets({1, 4}));
    EXPECT_EQ(seven.NumOfItems, 12);
    // 3 is followed by 7 inside its itemset; 9 ends its itemset.
    EXPECT_EQ(Positions(records[0], 0), Offsets({7}));
    EXPECT_EQ(Positions(records[2], 0), Offsets({5}));

    // The two positions of 7 sit in its record's position list, which
    // starts at 16 words.
    ASSERT_NE(seven.m_pPositions, nullptr);
    EXPECT_EQ(seven.m_pPositions[0], 5u);  // two words of use and size, count, two positions
    EXPECT_EQ(records[0].m_pPositions, nullptr);
    int expected = 3 * (int)sizeof(PROJ_DB) + 3 * (int)sizeof(PROJ_SEQ) + 16 * (int)sizeof(uint32_t);
    EXPECT_EQ(ws.n_total_mem, expected);
    ReleaseArray(records, count);
    EXPECT_EQ(ws.n_total_mem, 0);
}

TEST_F(ProjDBFirstTest, FurtherPositionsGrowTheLastEntry) {
    // (4)(4 5)(4 5)(4 5): three further positions of 4, one at a time.
    Load({4, -1, 4, 5, -1, 4, 5, -1, 4, 5, -1, -2});
    int count = -1;
    PROJ_DB* records = FirstLevel(1.0, &count);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(records[0].m_nSupport, 1);
    EXPECT_EQ(Positions(records[0], 0), Offsets({1, 3, 6, 9}));
    EXPECT_EQ(Positions(records[1], 0), Offsets({4}));
    EXPECT_EQ(records[0].m_pPositions[0], 7u);
    int expected = 2 * (int)sizeof(PROJ_DB) + 2 * (int)sizeof(PROJ_SEQ) + 16 * (int)sizeof(uint32_t);
    EXPECT_EQ(ws.n_total_mem, expected);
    ReleaseArray(records, count);
    EXPECT_EQ(ws.n_total_mem, 0);
}

TEST_F(ProjDBFirstTest, RunOfEqualCodesMatchesAtItsLastWord) {
    // Itemset 5, 5, 7: the match of 5 is the second word.
    Load({5, 5, 7, -1, 8, -1, -2});
    int count = -1;
    PROJ_DB* records = FirstLevel(1.0, &count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(Positions(records[0], 0), Offsets({2}));
    EXPECT_EQ(records[0].NumOfItems, 6);
    ReleaseArray(records, count);
}

TEST_F(ProjDBFirstTest, CounterArrayCoversTheLongestSequence) {
    // 31 distinct items in separate itemsets: 31 occurrences -> 33 counters.
    std::vector<int> words;
    for (int i = 0; i < 31; ++i) {
        words.push_back(i);
        words.push_back(-1);
    }
    words.push_back(-2);
    // A run of 40 equal codes is a single occurrence.
    for (int i = 0; i < 40; ++i) words.push_back(5);
    words.push_back(-1);
    words.push_back(-2);
    Load(words);
    int count = -1;
    PROJ_DB* records = FirstLevel(1.0, &count);
    EXPECT_EQ(ws.gMAX_PAT_LEN, 33);
    EXPECT_EQ(count, 1);  // only 5 is in both sequences
    ReleaseArray(records, count);
}

TEST_F(ProjDBFirstTest, RepeatedCodesGiveOnePosition) {
    // 7 (7 x8 8): the run of eight 7s is one occurrence: one further
    // position, after its last word.
    std::vector<int> words = {7, -1};
    for (int i = 0; i < 8; ++i) words.push_back(7);
    words.insert(words.end(), {8, -1, -2});
    Load(words);
    int count = -1;
    PROJ_DB* records = FirstLevel(1.0, &count);
    ASSERT_EQ(count, 2);
    const PROJ_DB& seven = records[0];
    ASSERT_EQ(seven.m_nSupport, 1);
    EXPECT_EQ(Positions(seven, 0), Offsets({1, 10}));
    ReleaseArray(records, count);
    EXPECT_EQ(ws.n_total_mem, 0);
}

// Random sequences with repeated items, runs of equal codes, several items
// per itemset and empty sequences: the shapes that give further positions.
std::vector<int> RandomWords(std::mt19937& rng) {
    std::vector<int> words;
    for (int s = 0; s < 40; ++s) {
        int itemsets = (int)(rng() % 6);
        for (int i = 0; i < itemsets; ++i) {
            std::vector<int> items(1 + rng() % 3);
            for (int& item : items) item = (int)(rng() % 6);
            std::sort(items.begin(), items.end());  // equal neighbours make a run
            words.insert(words.end(), items.begin(), items.end());
            words.push_back(-1);
        }
        words.push_back(-2);
    }
    return words;
}

// Filling in batches of one record gives the entries of one fill, and every
// fill sums the key that the counting pass found.
TEST_F(ProjDBFirstTest, BatchesGiveTheEntriesAndKeysOfOneFill) {
    std::mt19937 rng(17);
    for (int round = 0; round < 30; ++round) {
        std::vector<int> words = RandomWords(rng);
        EXPECT_EQ(Grown(words, 1), Grown(words, 0)) << "round " << round;
    }
}

// A fill that fails part way (here the second record's entries array cannot
// be had) gives back the array the first record got, by its full size, and
// leaves the index rows at -1: the run's release then finds nothing held.
TEST_F(ProjDBFirstTest, FailedFillGivesBackTheEntriesArrays) {
    Load({1, -1, 2, -1, 2, -1, -2, 1, 2, -1, 2, -1, -2});
    int count = 0;
    ::testing::internal::CaptureStdout();
    PROJ_DB* records = ws.make_projdb_from_org_dataset(0.5, &count);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(count, 2);
    ASSERT_EQ(records[0].m_nSupport, 2);
    const int64_t recordsArray = ws.n_total_mem;
    records[1].m_nSupport = INT_MAX;  // 16 GiB of slots
    // A machine with that much memory to overcommit would give it: the data
    // limit makes sure it cannot (not under a sanitizer, whose allocator
    // reserves address space of its own).
    rlimit before{};
    const bool limited = !kSanitized && getrlimit(RLIMIT_DATA, &before) == 0;
    if (limited) {
        rlimit lower = before;
        lower.rlim_cur = std::min<rlim_t>(before.rlim_cur, (rlim_t)8 << 30);
        setrlimit(RLIMIT_DATA, &lower);
    }
    int status = AbortStatus([&] { ws.FillFirstLevel(records, count); });
    if (limited) setrlimit(RLIMIT_DATA, &before);
    if (status == 1000) {
        records[1].m_nSupport = 0;
        ReleaseArray(records, count);
        GTEST_SKIP() << "this machine gave 16 GiB";
    }
    EXPECT_EQ(status, -1);
    EXPECT_EQ(records[0].m_pProjSeq, nullptr);
    EXPECT_EQ(ws.n_total_mem, recordsArray);
    EXPECT_EQ(ws.inter_freq_idx[1], -1);
    EXPECT_EQ(ws.inter_freq_idx[2], -1);
    ReleaseArray(records, count);
    EXPECT_EQ(ws.n_total_mem, 0);
}

}  // namespace
