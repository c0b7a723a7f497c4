// The first level: one pass counts every item's support (once per
// sequence), which fixes the number of sequences and the absolute
// threshold, and also sums each item's equivalence key (the distances and
// position fingerprints its entries will have), so that every first-level
// record is complete but for its entries.  The entries come later, when the
// record's turn comes: a filling pass gives each record of a batch one entry
// per sequence whose first occurrence of the item is not its last item.
// Batches keep the first level's memory to a budget instead of holding
// every item's entries at once.  The frequent items also become the first
// candidate frame and the columns of the occurrence tables.
//
// Tested by tests/unit/test_projdb_first.cpp and the threshold_* and
// support_* end-to-end cases.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "projdb/CandidateFrames.h"
#include "projdb/Positions.h"
#include "support/Global.h"

PROJ_DB* ProjWorkspace::make_projdb_from_org_dataset(double support, int* count) {
    return FirstProjection(support, nullptr, count);
}

PROJ_DB* ProjWorkspace::make_projdb_from_org_dataset(const SupportFraction& support, int* count) {
    return FirstProjection(support.approx, &support, count);
}

// Writes one piece of the first projection's progress lines, flushed so that
// it shows while the step runs; nothing when the run prints nothing.
void ProjWorkspace::Status(const char* format, ...) {
    if (statusFile == nullptr) return;
    va_list args;
    va_start(args, format);
    vfprintf(statusFile, format, args);
    va_end(args);
    fflush(statusFile);
}

// The first level's counting pass over the words [start, end) (see
// FirstProjection); returns the number of sequences.
template <class W>
int ProjWorkspace::CountFirstLevel(const W* start, const W* end, uint32_t* distance,
                                   uint64_t* fingerprint, int* openSeq, int* maxWords) {
    // Counting pass: the support of every item (once per sequence), the
    // number of entries its record will get (sequences whose first
    // occurrence of it is not their last item) and their key, the most item
    // occurrences in one sequence and the largest position bound of one
    // sequence.  An entry's first position follows the item's first
    // occurrence; a further one follows each later occurrence that its
    // itemset continues (the fill finds the same).
    int seq = 0;
    for (const W* w = start; w < end; ++w) {  // w ends each round on the -2
        ++seq;
        int occurrences = 0;
        int words = 0;
        for (; *w != kSequenceEnd; ++w) {
            if (*w == kItemsetEnd) {
                ++words;
                continue;
            }
            const W* r = RunEnd(w);
            int item = *r;
            ++occurrences;
            if (inter[item].m_nLastSeq < seq) {
                inter[item].m_nCount++;
                inter[item].m_nLastSeq = seq;
                if (!IsLastItem(r)) {
                    inter_freq_idx[item]++;
                    openSeq[item] = seq;
                    distance[item] += (uint32_t)(end - r);
                    fingerprint[item] += PositionFingerprint((uint64_t)(end - (r + 1)));
                }
            } else if (openSeq[item] == seq && r[1] != kItemsetEnd) {
                fingerprint[item] += PositionFingerprint((uint64_t)(end - (r + 1)));
            }
            words += 2;
            w = r;
        }
        gMAX_PAT_LEN = std::max(gMAX_PAT_LEN, occurrences);
        *maxWords = std::max(*maxWords, words);
    }
    return seq;
}

// `exact`, when given, sets the threshold; else it is support x sequences in
// floating point.
PROJ_DB* ProjWorkspace::FirstProjection(double support, const SupportFraction* exact, int* count) {
    *count = 0;
    if (gStrategy.generalItemsets) gHasContinued = true;

    Status("\tCounting 1-Item sets ... \n");
    // The step's own clock: workspaces on other threads time their own.
    TimerSlot stepStart;
    ReadClock(&stepStart);

    std::fill_n(inter_freq_idx, ds.gN_ITEMS, 0);
    std::fill_n(inter, ds.gN_ITEMS, ITEM_CNT{0, 0});
    // Per code, the key its record's entries will sum to: the distance from
    // each entry's match to the end of the data (mod 2^32) and the
    // fingerprints of every position (mod 2^64); and the sequence whose entry
    // for the code is open (its first occurrence was not the last item).
    std::vector<uint32_t> distance((size_t)ds.gN_ITEMS, 0);
    std::vector<uint64_t> fingerprint((size_t)ds.gN_ITEMS, 0);
    std::vector<int> openSeq((size_t)ds.gN_ITEMS, 0);

    int maxWords = 0;
    size_t dataWords;
    int seq;
    if (ds.HalfWords) {
        gDataStart = ds.Words<int16_t>();
        gDataEnd = ds.WordsEnd<int16_t>();
        dataWords = (size_t)(ds.WordsEnd<int16_t>() - ds.Words<int16_t>());
        seq = CountFirstLevel(ds.Words<int16_t>(), ds.WordsEnd<int16_t>(), distance.data(),
                              fingerprint.data(), openSeq.data(), &maxWords);
    } else {
        gDataStart = ds.Words<int>();
        gDataEnd = ds.WordsEnd<int>();
        dataWords = (size_t)(ds.WordsEnd<int>() - ds.Words<int>());
        seq = CountFirstLevel(ds.Words<int>(), ds.WordsEnd<int>(), distance.data(),
                              fingerprint.data(), openSeq.data(), &maxWords);
    }

    ds.gnCustCount = seq;
    // Supports are whole counts, so count >= ceil(x) exactly when count >= x.
    gSUP = exact != nullptr ? (double)LeastSupportCount(*exact, ds.gnCustCount)
                            : (double)((long double)support * (long double)ds.gnCustCount);
    gMAX_PAT_LEN += 2;

    // (Null between the release and the allocation: a failed allocation
    // must not leave a freed buffer for the workspace's release.)
    free(gnArrLargeCount);
    gnArrLargeCount = nullptr;
    gnArrLargeCount = (int*)checked_alloc(sizeof(int) * (size_t)gMAX_PAT_LEN);
    std::fill_n(gnArrLargeCount, gMAX_PAT_LEN, 0);
    free(buf_idx);
    buf_idx = nullptr;
    gnBufIdxSize = 0;
    buf_idx = (void**)checked_alloc(sizeof(void*) * (size_t)maxWords);
    std::fill_n(buf_idx, maxWords, nullptr);
    gnBufIdxSize = maxWords;

    for (int item = 0; item < ds.gN_ITEMS; ++item) {
        if (inter[item].m_nCount >= gSUP) gnArrLargeCount[1]++;
    }
    // From here on the rows of inter hold stamps of this pass: make them
    // stale for the projection steps that follow.
    gStampBase = std::max(gStampBase, seq);
    if (gnArrLargeCount[1] <= 0) {
        std::fill_n(inter_freq_idx, ds.gN_ITEMS, -1);
        n_max_mem = n_total_mem;
        return nullptr;
    }

    ReadClock(&stepStart);
    Status("\tCreating projection DBs ... ");
    // A batch of entries may take a quarter of the data, or a floor that
    // keeps small data in one batch.
    // (The data's bytes as a file of 32-bit words, whatever the width held.)
    size_t dataBytes = dataWords * sizeof(int);
    gFirstLevelBudget = gStrategy.firstLevelBudget > 0
                            ? gStrategy.firstLevelBudget
                            : std::max(dataBytes / 4, kFirstLevelBudgetMin);

    // One record per frequent item in ascending code order, with its
    // support, entry count and key; every index row is -1 again.
    *count = gnArrLargeCount[1];
    PROJ_DB* records = AllocRecords(*count);
    // A failed allocation from here on ends the run: the array goes back
    // (its records hold no buffers yet) instead of being lost.
    try {
        int k = 0;
        for (int item = 0; item < ds.gN_ITEMS; ++item) {
            if (inter[item].m_nCount >= gSUP) {
                // The records come zero-filled: no entries or flag yet.
                PROJ_DB* db = &records[k++];
                db->m_nPatLen = 1;
                db->m_nPatItem = item;
                db->maxSupport = inter[item].m_nCount;
                db->m_nLastItem = item;
                db->m_nLastSeq = -1;
                // Entries counted but not filled yet (m_pProjSeq stays null).
                db->m_nSupport = inter_freq_idx[item];
                db->NumOfItems = (int)distance[(size_t)item];
                db->m_nPosFingerprint = fingerprint[(size_t)item];
            }
            inter_freq_idx[item] = -1;
        }

        // No pattern can grow by an item that is not frequent on its own.
        ds.gFirstLevelItems.clear();
        for (int i = 0; i < *count; ++i) ds.gFirstLevelItems.push_back(records[i].m_nLastItem);
        StartCandidateFrames(ds.gFirstLevelItems);

        TimerSlot now;
        ReadClock(&now);
        Status(" (%.3f sec)\n", (double)TimeBetween(stepStart, now));
        n_max_mem = n_total_mem;
        // The occurrence tables complete the dataset's set-up here, before any
        // deeper step, so that the dataset is read-only from now on; only a
        // record that is grown further needs them.
        for (int i = 0; i < *count; ++i) {
            if (records[i].m_nSupport >= gSUP) {
                BuildTables();
                break;
            }
        }
    } catch (...) {
        free(records);
        ReleaseRecordsArray(*count);
        *count = 0;
        throw;
    }
    return records;
}

// A record of the first level whose entries are counted but not filled: the
// fill stamps m_nLastSeq with a sequence number (from 1).
static bool Unfilled(const PROJ_DB& db) {
    return db.m_nLastSeq == -1 && db.m_nSupport > 0;
}

void ProjWorkspace::FillFirstLevel(PROJ_DB* records, int count) {
    FillFirstLevelRange(records, 0, count, false);
}

int ProjWorkspace::FillFirstLevelBatch(PROJ_DB* records, int count, int first) {
    size_t bytes = 0;
    int last = first;
    for (; last < count; ++last) {
        const PROJ_DB& db = records[last];
        if (!Unfilled(db) || (double)db.m_nSupport < gSUP) continue;
        size_t entries = sizeof(PROJ_SEQ) * (size_t)db.m_nSupport;
        if (bytes > 0 && bytes + entries > gFirstLevelBudget) break;
        bytes += entries;
    }
    FillFirstLevelRange(records, first, last, true);
    return last;
}

// The words of a group that hold a code in [lo, lo + span] and those that
// are -2 (which end sequences), as lane masks: four words at a time with
// SSE2, eight with AVX2.  The -1 and -2 words wrap to large values, outside
// every range of codes.
class RangeLanes {
public:
    typedef int Word;
    static const int kWords = 4;
    RangeLanes(uint32_t lo, uint32_t span) : lo_(lo), span_(span) {
#if defined(__SSE2__)
        // SSE2 compares signed words: both sides are shifted by 2^31 so
        // that the signed compare orders them as unsigned values.
        bias_ = _mm_set1_epi32(INT_MIN);
        low_ = _mm_set1_epi32((int)lo);
        top_ = _mm_set1_epi32((int)(span ^ 0x80000000u));
        seqEnd_ = _mm_set1_epi32(kSequenceEnd);
#endif
    }
    // Reads w[0 .. 3].
    void Masks(const Word* w, unsigned* hits, unsigned* seqEnds) const {
#if defined(__SSE2__)
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        const __m128i above =
            _mm_cmpgt_epi32(_mm_xor_si128(_mm_sub_epi32(x, low_), bias_), top_);
        *hits = (unsigned)_mm_movemask_ps(_mm_castsi128_ps(above)) ^ 0xFu;
        *seqEnds = (unsigned)_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(x, seqEnd_)));
#else
        *hits = *seqEnds = 0;
        for (int i = 0; i < kWords; ++i) {
            *hits |= (unsigned)((uint32_t)w[i] - lo_ <= span_) << i;
            *seqEnds |= (unsigned)(w[i] == kSequenceEnd) << i;
        }
#endif
    }
    // The same one word at a time (the data's last words).
    bool InRange(int word) const { return (uint32_t)word - lo_ <= span_; }

private:
    uint32_t lo_, span_;
#if defined(__SSE2__)
    __m128i bias_, low_, top_, seqEnd_;
#endif
};

#if QUIVREL_WIDE_COMPARES
// The same eight words at a time (AVX2, run only where the CPU has it).
// The unsigned order comes from a minimum instead of a biased signed
// compare: a word lies in the range when min(x - lo, span) == x - lo, and
// it is a -2 when x - lo == -2 - lo.
class WideRangeLanes {
public:
    typedef int Word;
    static const int kWords = 8;
    QUIVREL_AVX2 WideRangeLanes(uint32_t lo, uint32_t span) : lo_(lo), span_(span) {
        low_ = _mm256_set1_epi32((int)lo);
        top_ = _mm256_set1_epi32((int)span);
        seqEnd_ = _mm256_set1_epi32((int)((uint32_t)kSequenceEnd - lo));
    }
    QUIVREL_AVX2 void Masks(const Word* w, unsigned* hits, unsigned* seqEnds) const {
        const __m256i offset = _mm256_sub_epi32(_mm256_loadu_si256((const __m256i*)w), low_);
        const __m256i in = _mm256_cmpeq_epi32(_mm256_min_epu32(offset, top_), offset);
        *hits = (unsigned)_mm256_movemask_ps(_mm256_castsi256_ps(in));
        *seqEnds = (unsigned)_mm256_movemask_ps(
            _mm256_castsi256_ps(_mm256_cmpeq_epi32(offset, seqEnd_)));
    }
    bool InRange(int word) const { return (uint32_t)word - lo_ <= span_; }

private:
    uint32_t lo_, span_;
    __m256i low_, top_, seqEnd_;
};
#endif

// The same over half-width words (int16_t), eight at a time with SSE2: the
// -1 and -2 are 0xFFFF and 0xFFFE as unsigned 16-bit values, outside every
// range of codes (all below 32768).
class HalfRangeLanes {
public:
    typedef int16_t Word;
    static const int kWords = 8;
    HalfRangeLanes(uint32_t lo, uint32_t span) : lo_(lo), span_(span) {
#if defined(__SSE2__)
        bias_ = _mm_set1_epi16((short)0x8000);
        low_ = _mm_set1_epi16((short)lo);
        top_ = _mm_set1_epi16((short)(span ^ 0x8000u));
        seqEnd_ = _mm_set1_epi16((short)kSequenceEnd);
#endif
    }
    void Masks(const Word* w, unsigned* hits, unsigned* seqEnds) const {
#if defined(__SSE2__)
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        const __m128i above =
            _mm_cmpgt_epi16(_mm_xor_si128(_mm_sub_epi16(x, low_), bias_), top_);
        *hits = HalfWordBits(above) ^ 0xFFu;
        *seqEnds = HalfWordBits(_mm_cmpeq_epi16(x, seqEnd_));
#else
        *hits = *seqEnds = 0;
        for (int i = 0; i < kWords; ++i) {
            *hits |= (unsigned)InRange(w[i]) << i;
            *seqEnds |= (unsigned)(w[i] == kSequenceEnd) << i;
        }
#endif
    }
    bool InRange(int word) const { return (uint32_t)word - lo_ <= span_; }

private:
    uint32_t lo_, span_;
#if defined(__SSE2__)
    __m128i bias_, low_, top_, seqEnd_;
#endif
};

#if QUIVREL_WIDE_COMPARES
// Half-width words sixteen at a time (AVX2), by the minimum as above.
class WideHalfRangeLanes {
public:
    typedef int16_t Word;
    static const int kWords = 16;
    QUIVREL_AVX2 WideHalfRangeLanes(uint32_t lo, uint32_t span) : lo_(lo), span_(span) {
        low_ = _mm256_set1_epi16((short)lo);
        top_ = _mm256_set1_epi16((short)span);
        seqEnd_ = _mm256_set1_epi16((short)kSequenceEnd);
    }
    QUIVREL_AVX2 void Masks(const Word* w, unsigned* hits, unsigned* seqEnds) const {
        const __m256i x = _mm256_loadu_si256((const __m256i*)w);
        const __m256i offset = _mm256_sub_epi16(x, low_);
        *hits = WideHalfWordBits(_mm256_cmpeq_epi16(_mm256_min_epu16(offset, top_), offset));
        *seqEnds = WideHalfWordBits(_mm256_cmpeq_epi16(x, seqEnd_));
    }
    bool InRange(int word) const { return (uint32_t)word - lo_ <= span_; }

private:
    uint32_t lo_, span_;
    __m256i low_, top_, seqEnd_;
};
#endif

// The walk of the filling pass over the whole data for the records of the
// codes in [lo, lo + span] (see FillFirstLevelRange), a group of
// Lanes::kWords words at a time: a group with no word in the range costs a
// compare, and one with some has its hits taken in file order, the
// sequence of each known from the -2 words before it.  Hits are common
// (about one per group of eight on the 1M rows), so the walk goes on in the
// group rather than searching again from each hit.  Inlined whole into its
// two callers, so that with the eight-word lanes it is AVX2 code only in
// FillFirstLevelWide.
template <class Lanes>
[[gnu::always_inline]] static inline void FillFirstLevelWalk(ProjWorkspace& ws, PROJ_DB* records,
                                                             typename Lanes::Word* start,
                                                             typename Lanes::Word* end,
                                                             uint32_t lo, uint32_t span) {
    typedef typename Lanes::Word W;
    const Dataset& ds = ws.ds;
    const int kWords = Lanes::kWords;
    // Without the occurrence tables an entry's hint is its sequence's -2
    // (see PROJ_SEQ), which the tables of the sequence ends give.
    const bool endHints =
        ds.gLastTable == nullptr && ds.gnSeqEnds == ds.gnCustCount && ds.gSeqEnd != nullptr;
    const Lanes lanes(lo, span);
    // The occurrence whose run ends at r, in sequence `seq` (from 1): the
    // first in the sequence of an item of the batch gives its record an
    // entry, unless it is the sequence's last item; a later one whose
    // itemset goes on adds a further position to that entry.
    auto take = [&](W* r, int seq) {
        if (IsLastItem(r)) return;
        const int index = ws.inter_freq_idx[*r];
        if (index < 0) return;
        PROJ_DB* db = &records[index];
        if (db->m_nLastSeq >= seq) {
            if (r[1] >= 0) ws.AddToLastEntry<W>(db, r + 1);
            return;
        }
        db->m_nLastSeq = seq;
        ws.AppendEntry<W>(db, r + 1, endHints ? ~ds.gSeqEnd[seq - 1] : seq - 1);
    };
    int ends = 0;  // the -2 words before the group at w
    W* w = start;
    while (end - w >= kWords) {
        unsigned hits, seqEnds;
        lanes.Masks(w, &hits, &seqEnds);
        W* next = w + kWords;
        while (hits != 0) {
            const int lane = __builtin_ctz(hits);
            // A run of equal codes is one occurrence: its other words go,
            // and a run past the group moves the next group (no -2 lies
            // in a run, so the group's -2 words all come before it).
            W* const r = RunEnd(w + lane);
            take(r, ends + __builtin_popcount(seqEnds & ((1u << lane) - 1)) + 1);
            const ptrdiff_t past = r - w + 1;
            if (past >= kWords) {
                next = r + 1;
                break;
            }
            hits &= ~0u << past;
        }
        ends += __builtin_popcount(seqEnds);
        w = next;
    }
    // The last words, fewer than a group.
    for (; w < end; ++w) {
        if (*w == kSequenceEnd) {
            ++ends;
        } else if (lanes.InRange(*w)) {
            w = RunEnd(w);
            take(w, ends + 1);
        }
    }
}

// The walk with SSE2 (Lanes) or AVX2 (WideLanes) compares.
template <class Lanes>
static void FillFirstLevelNarrow(ProjWorkspace& ws, PROJ_DB* records,
                                 typename Lanes::Word* start, typename Lanes::Word* end,
                                 uint32_t lo, uint32_t span) {
    FillFirstLevelWalk<Lanes>(ws, records, start, end, lo, span);
}

#if QUIVREL_WIDE_COMPARES
template <class WideLanes>
QUIVREL_AVX2 static void FillFirstLevelWide(ProjWorkspace& ws, PROJ_DB* records,
                                            typename WideLanes::Word* start,
                                            typename WideLanes::Word* end, uint32_t lo,
                                            uint32_t span) {
    FillFirstLevelWalk<WideLanes>(ws, records, start, end, lo, span);
}
#endif

// Filling pass: each sequence gives a record of the range one entry, made
// at the item's first occurrence that is not the sequence's last item.
// The entry's first position follows that occurrence; further positions
// follow later occurrences that their itemset continues.  The records keep
// the keys that the counting pass summed over the same positions.
void ProjWorkspace::FillFirstLevelRange(PROJ_DB* records, int first, int last, bool growableOnly) {
    // The entries count of each record of the range that gets its entries
    // array here (0 for the others): the fill counts m_nSupport up again
    // from 0, so a fill that fails part way gives the arrays back by these.
    std::vector<int> slots((size_t)(last - first), 0);
    try {
        // The codes filled lie in [lo, lo + span]: the records are in code order.
        int filling = 0;
        uint32_t lo = 0, span = 0;
        for (int i = first; i < last; ++i) {
            PROJ_DB* db = &records[i];
            if (!Unfilled(*db) || (growableOnly && (double)db->m_nSupport < gSUP)) continue;
            db->m_pProjSeq = AllocEntries(db->m_nSupport);
            slots[(size_t)(i - first)] = db->m_nSupport;
            db->m_nSupport = 0;
            inter_freq_idx[db->m_nLastItem] = i;
            if (filling++ == 0) lo = (uint32_t)db->m_nLastItem;
            span = (uint32_t)db->m_nLastItem - lo;
        }
        if (filling == 0) return;

        // A batch holds a few of the codes: the walk passes over the words of
        // other codes (and the -1 words, which wrap to large values), eight
        // or four at a time, and takes the batch's codes only.  It counts
        // the -2 words, which end sequences, by group as well: a stop at
        // each cost 2% of the whole run on the 1M rows.  A run of equal
        // codes is one occurrence, met at its first word.  The first
        // occurrence of a record's item in a sequence stores the record's
        // entry with its first position; every later one in the sequence is
        // a hit of the same walk, and where its itemset goes on it adds a
        // further position to that entry, the record's last.
        int16_t* const halfStart = ds.Words<int16_t>();
        int16_t* const halfEnd = ds.WordsEnd<int16_t>();
        int* const start = ds.Words<int>();
        int* const end = ds.WordsEnd<int>();
#if QUIVREL_WIDE_COMPARES
        if (WideCompares()) {
            if (ds.HalfWords) {
                FillFirstLevelWide<WideHalfRangeLanes>(*this, records, halfStart, halfEnd, lo,
                                                       span);
            } else {
                FillFirstLevelWide<WideRangeLanes>(*this, records, start, end, lo, span);
            }
        } else
#endif
        if (ds.HalfWords) {
            FillFirstLevelNarrow<HalfRangeLanes>(*this, records, halfStart, halfEnd, lo, span);
        } else {
            FillFirstLevelNarrow<RangeLanes>(*this, records, start, end, lo, span);
        }
    } catch (...) {
        // A failed allocation ends the run: the records of the range give
        // back the entries they got here, the array by its full size (the
        // release counts only the entries stored), and hold none afterwards.
        for (int i = first; i < last; ++i) {
            PROJ_DB* db = &records[i];
            inter_freq_idx[db->m_nLastItem] = -1;
            int n = slots[(size_t)(i - first)];
            if (n == 0) continue;
            MemSub(sizeof(PROJ_SEQ) * (size_t)(n - db->m_nSupport));
            ReleaseBuffers(db);
        }
        throw;
    }

    // Between steps every index row is -1.
    for (int i = first; i < last; ++i) inter_freq_idx[records[i].m_nLastItem] = -1;
    SamplePeak();
}

