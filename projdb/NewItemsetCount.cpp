// Counting new-itemset extensions: for every rest (what follows the first
// position's itemset of a parent entry), each code in it counts once.  Five
// counters give the same counts (ChooseStrategies picks one):
// - from the last-occurrence table: an item is in a rest when its last
//   word in the sequence lies after the rest's start, one vectorized compare
//   of a short row per rest; wins while the table's rows are shorter than
//   the rests;
// - by mask: with at most 63 candidates each rest ORs one bit per word into
//   a word-sized mask, with no branch on the data;
// - by compares: with a few candidates each group of four or eight words is
//   compared with every candidate at once, and a rest notes per candidate
//   whether any lane matched;
// - by marks: the candidates are marked and the other codes skipped, while
//   they are a small share of all codes;
// - every code: each word counts into its row (the -1 words into a spare
//   row), and the frequent codes come out in code order.  Without the
//   tables, and where no short candidate list narrows the count, the
//   in-itemset pass runs this counter on each rest as it notes it.
// A pattern's new-itemset extensions are among its parent's (the candidate
// frames), so the last four look only at codes that can still be frequent.
//
// Tested by tests/integration/test_bruteforce_closed.cpp, which forces each
// counter on data checked against a brute-force miner, by the fuzz target,
// and for single steps by tests/unit/test_projdb_project.cpp.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "projdb/Counting.h"
#include "projdb/OccurrenceTables.h"
#include "projdb/Positions.h"
#include "support/Global.h"

// Puts the frequent codes among those met into `freq`, in ascending order,
// and their counts into `counts`.
void ProjWorkspace::PickFrequent(const ITEM_CNT* table, const Touched& touched,
                                 std::vector<int>& freq, std::vector<int>& counts) const {
    freq.clear();
    for (size_t i = 0; i < touched.n; ++i) {
        int item = touched.codes[i];
        if (table[item].m_nCount >= gSUP) freq.push_back(item);
    }
    std::sort(freq.begin(), freq.end());
    counts.clear();
    for (int item : freq) counts.push_back(table[item].m_nCount);
}

// Sets the every-code counter (AllCodesCount, projdb/Counting.h) up for
// the step; `words` is about the number of words it will count.
void ProjWorkspace::StartAllCodes(AllCodesCount* count, long long words) {
    const unsigned spare = (unsigned)ds.gN_ITEMS;
    if (!gInterHasSpareRow) {
        // Added here rather than at set-up, which keeps the table's size
        // there (and in its failure message) one row per code.
        inter = (ITEM_CNT*)checked_realloc(inter, sizeof(ITEM_CNT) * ((size_t)spare + 1));
        inter[spare] = ITEM_CNT{0, 0};
        gInterHasSpareRow = true;
    }
    const std::vector<int>& items = ds.gFirstLevelItems;
    count->table = inter;
    count->spare = spare;
    count->base = gStampBase;
    count->least = LeastFrequentCount(gSUP);
    count->byItems = !items.empty() && (long long)items.size() * 4 < words;
    if (count->byItems) {
        for (int code : items) inter[code].m_nCount = 0;
    }
    // The codes whose count reached the threshold: room for every code and
    // the spare row's.
    std::vector<int>& reached = gTouchedInter.codes;
    if (reached.size() < (size_t)spare + 1) reached.resize((size_t)spare + 1);
    count->reachedCodes = reached.data();
    count->nReached = 0;
}

void ProjWorkspace::PickAllCodes(const AllCodesCount& count) {
    gFreqInter.clear();
    gFreqInterCount.clear();
    const ITEM_CNT* const table = count.table;
    if (count.byItems) {
        // A whole-number compare first (a threshold of 0 or less takes
        // every row, also one of count 0); the threshold itself decides for
        // the few that pass.
        const int atLeast = gSUP > 0.0 ? count.least : 0;
        for (int code : ds.gFirstLevelItems) {
            const int n = table[code].m_nCount;
            if (n >= atLeast && n >= gSUP) {
                gFreqInter.push_back(code);
                gFreqInterCount.push_back(n);
            }
        }
        return;
    }
    int* const reachedCodes = count.reachedCodes;
    std::sort(reachedCodes, reachedCodes + count.nReached);
    for (size_t k = 0; k < count.nReached; ++k) {
        const int code = reachedCodes[k];
        if ((unsigned)code != count.spare && table[code].m_nCount >= gSUP) {
            gFreqInter.push_back(code);
            gFreqInterCount.push_back(table[code].m_nCount);
        }
    }
}

// The every-code counter as a pass of its own over the noted rests.
template <class W>
void ProjWorkspace::CountAllCodes(const W* start) {
    AllCodesCount count;
    StartAllCodes(&count, gRestWords);
    const bool large = LargeData(start);
    for (size_t r = 0; r < gnRests; ++r) {
        PrefetchRest(start, r, large);
        const Rest& rest = gRests[r];
        count.Rest(start + rest.from + 1, rest.seqEnd - rest.from - 1, gStampBase + rest.entry + 1);
    }
    PickAllCodes(count);
}

// The candidate counters stop early when no candidate can reach the
// threshold any more: each rest adds at most one to a count, so a candidate
// whose count and the rests still to come stay below the threshold is out.
// Near the threshold most candidates of a step are out long before its last
// rest (on the 1M rows three in four candidates of such steps end below the
// threshold).  A candidate can be out only once it has missed more rests
// than the rests less the threshold; from that rest on the counters ask
// after every kMissCheckRests rests.  The rests between two questions run
// in a loop of their own: a test per rest, or asking from the first rest,
// cost 1% more instructions on 100K 0.001, where few steps lie near the
// threshold.
const size_t kMissCheckRests = 64;

class MissChecks {
public:
    // `rests` of the step, threshold `sup`; none is out with a threshold of
    // 0 or less.
    MissChecks(size_t rests, double sup)
        : missesLeft_(sup > 0.0 ? (long long)rests - LeastFrequentCount(sup) : (long long)rests) {}
    // Whether a candidate that missed `misses` rests can still reach the
    // threshold.
    bool CanReach(long long misses) const { return misses <= missesLeft_; }

    // The number of rests after which the first question is due (none is
    // out before a candidate could have missed more than missesLeft_); the
    // next ones follow every kMissCheckRests rests.
    size_t FirstAsk() const { return missesLeft_ >= 0 ? (size_t)missesLeft_ + 1 : 0; }

private:
    long long missesLeft_;
};

// Sets bit `bit` (below 64) of `mask`.  On x86 one bit-set instruction:
// written out, the compiler regroups the shifts and ORs of a round into
// longer code (a shift, a move and an OR per word).
inline void SetMaskBit(uint64_t& mask, unsigned bit) {
#if defined(__x86_64__)
    asm("btsq %1, %0" : "+r"(mask) : "r"((uint64_t)bit) : "cc");
#else
    mask |= (uint64_t)1 << bit;
#endif
}

// Up to this many candidates are counted with a mask per rest: bit c + 1
// stands for candidate c, bit 0 for every other word.
const size_t kMaskCandidates = 63;

// gMaskBit holds the bit number of each code for CountByMask, 0 for the
// codes that are not candidates and for the -1 (gMaskBit.data() + 1 is
// indexed by the word, so the -1 reads slot 0); all 0 between steps.
// Counts the rests that hold each of the (at most kMaskCandidates)
// candidates.  One pass per rest without branches on the data: each word
// ORs its bit into the rest's mask.  The frequent candidates go into
// gFreqInter (in the candidates' order, which is code order) with their
// counts.
template <class W>
void ProjWorkspace::CountByMask(const std::vector<int>& candidates, const W* start) {
    gFreqInter.clear();
    gFreqInterCount.clear();
    if (candidates.empty()) return;
    if (gMaskBit.size() < (size_t)ds.gN_ITEMS + 1) gMaskBit.resize((size_t)ds.gN_ITEMS + 1, 0);
    const uint8_t* bitOf = gMaskBit.data() + 1;
    for (size_t c = 0; c < candidates.size(); ++c)
        gMaskBit[(size_t)candidates[c] + 1] = (uint8_t)(c + 1);
    int counts[kMaskCandidates + 1] = {};
    const MissChecks checks(gnRests, gSUP);
    // Whether every candidate is out after the first `seen` rests.
    auto allOut = [&](size_t seen) {
        for (size_t c = 0; c < candidates.size(); ++c) {
            if (checks.CanReach((long long)seen - counts[c + 1])) return false;
        }
        return true;
    };
    const bool large = LargeData(start);
    size_t r = 0;
    for (size_t ask = checks.FirstAsk();; ask += kMissCheckRests) {
        for (const size_t stop = std::min(ask, gnRests); r < stop; ++r) {
            PrefetchRest(start, r, large);
            const Rest& rest = gRests[r];
            const W* first = start + rest.from + 1;
            const int length = rest.seqEnd - rest.from - 1;  // up to the -2
            // Four words per round into two masks, each word's bit set on its
            // own: the loop's own counting and the chain of ORs were half the
            // work per word.
            uint64_t mask = 0, mask2 = 0;
            int i = 0;
            for (; i + 4 <= length; i += 4) {
                SetMaskBit(mask, bitOf[first[i]]);
                SetMaskBit(mask2, bitOf[first[i + 1]]);
                SetMaskBit(mask, bitOf[first[i + 2]]);
                SetMaskBit(mask2, bitOf[first[i + 3]]);
            }
            if (i < length) {
                if (length >= 4) {
                    // The last four words as one more group: a bit set twice
                    // leaves the mask as it was.
                    const W* last = first + length - 4;
                    SetMaskBit(mask, bitOf[last[0]]);
                    SetMaskBit(mask2, bitOf[last[1]]);
                    SetMaskBit(mask, bitOf[last[2]]);
                    SetMaskBit(mask2, bitOf[last[3]]);
                } else {
                    for (; i < length; ++i) SetMaskBit(mask, bitOf[first[i]]);
                }
            }
            mask |= mask2;
            for (mask &= ~(uint64_t)1; mask != 0; mask &= mask - 1) counts[__builtin_ctzll(mask)]++;
        }
        if (r == gnRests || allOut(r)) break;
    }
    for (int item : candidates) gMaskBit[(size_t)item + 1] = 0;
    if (r < gnRests) return;  // every candidate out
    for (size_t c = 0; c < candidates.size(); ++c) {
        if (counts[c + 1] >= gSUP) {
            gFreqInter.push_back(candidates[c]);
            gFreqInterCount.push_back(counts[c + 1]);
        }
    }
}

// Which of kCodes codes a rest holds, from compares of four words at a time:
// per code an accumulator ORs the group's compares (a lane is all ones where
// the word is the code), and after the rest each code that no lane matched
// adds one to its count of rests without it.  A code's count is then the
// number of rests less that.  Up to kCodes candidates (2, 4 or 8); unused
// codes hold a value no word has.
#if defined(__SSE2__)
// Code g's count of rests without it, from counts held four to a vector
// (both widths keep them so).
inline unsigned AbsentCount(const __m128i* absent, int g) {
    uint32_t lanes[4];
    _mm_storeu_si128((__m128i*)lanes, absent[g / 4]);
    return lanes[g % 4];
}

template <int kCodes>
class CodePresence {
public:
    typedef int Word;
    static const int kWords = 4;
    static const int kCodeCount = kCodes;
    explicit CodePresence(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = _mm_set1_epi32(code[g]);
        for (int q = 0; q < kQuads; ++q) absent_[q] = _mm_setzero_si128();
    }
    // Starts a rest of the words [w, last) with the group of four words that
    // ends at `last`.  A rest shorter than that has the lanes before w made
    // -1, which is no candidate, and the group is read at once when it lies
    // at or after `floor` (the data's first word), else copied.
    void StartRest(const Word* w, const Word* last, const Word* floor) {
        __m128i x;
        if (last - w >= 4) {
            x = _mm_loadu_si128((const __m128i*)(last - 4));
        } else {
            x = _mm_or_si128(LoadLast(w, last, floor),
                             _mm_loadu_si128((const __m128i*)(kLanesBefore + (last - w))));
        }
        for (int g = 0; g < kCodes; ++g) seen_[g] = _mm_cmpeq_epi32(x, code_[g]);
    }
    // Reads w[0 .. 3].
    void Add(const Word* w) {
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        for (int g = 0; g < kCodes; ++g)
            seen_[g] = _mm_or_si128(seen_[g], _mm_cmpeq_epi32(x, code_[g]));
    }
    // Ends the rest: the codes that no lane matched count one more rest
    // without them.  The accumulators, all ones or zero per lane, are packed
    // to a byte per lane, a code's four in one 32-bit lane.
    void EndRest() {
        const __m128i zero = _mm_setzero_si128();
        for (int q = 0; q < kQuads; ++q) {
            const __m128i low = _mm_packs_epi32(seen_[4 * q], seen_[4 * q + 1]);
            const __m128i high =
                kCodes > 2 ? _mm_packs_epi32(seen_[4 * q + 2 < kCodes ? 4 * q + 2 : 0],
                                             seen_[4 * q + 3 < kCodes ? 4 * q + 3 : 0])
                           : zero;
            const __m128i bytes = _mm_packs_epi16(low, high);
            absent_[q] = _mm_sub_epi32(absent_[q], _mm_cmpeq_epi32(bytes, zero));
        }
    }
    // Rests without code g so far.
    unsigned Absent(int g) const { return AbsentCount(absent_, g); }

private:
    static const int kQuads = (kCodes + 3) / 4;
    // -1 for the lanes before w when kLanesBefore + (last - w) is loaded.
    static const int kLanesBefore[8];
    static __m128i LoadLast(const Word* w, const Word* last, const Word* floor) {
        if (last - floor >= 4) return _mm_loadu_si128((const __m128i*)(last - 4));
        int copy[4] = {-1, -1, -1, -1};
        std::memcpy(copy + 4 - (last - w), w, sizeof(int) * (size_t)(last - w));
        return _mm_loadu_si128((const __m128i*)copy);
    }
    __m128i code_[kCodes];
    __m128i seen_[kCodes];
    __m128i absent_[kQuads];
};
template <int kCodes>
const int CodePresence<kCodes>::kLanesBefore[8] = {-1, -1, -1, -1, 0, 0, 0, 0};
#endif

#if QUIVREL_WIDE_COMPARES
// The same eight words at a time (AVX2): only CountByComparesWide makes and
// uses one.  The packs work within each half of the register, so a code's
// lanes 0-3 and 4-7 end up in two 32-bit lanes, one per half, and the code
// is absent when both are zero.
template <int kCodes>
class WideCodePresence {
public:
    typedef int Word;
    static const int kWords = 8;
    static const int kCodeCount = kCodes;
    QUIVREL_AVX2 explicit WideCodePresence(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = _mm256_set1_epi32(code[g]);
        for (int q = 0; q < kQuads; ++q) absent_[q] = _mm_setzero_si128();
    }
    QUIVREL_AVX2 void StartRest(const Word* w, const Word* last, const Word* floor) {
        __m256i x;
        if (last - w >= 8) {
            x = _mm256_loadu_si256((const __m256i*)(last - 8));
        } else {
            x = _mm256_or_si256(LoadLast(w, last, floor), _mm256_loadu_si256((
                                    const __m256i*)(kLanesBefore + (last - w))));
        }
        for (int g = 0; g < kCodes; ++g) seen_[g] = _mm256_cmpeq_epi32(x, code_[g]);
    }
    QUIVREL_AVX2 void Add(const Word* w) {
        const __m256i x = _mm256_loadu_si256((const __m256i*)w);
        for (int g = 0; g < kCodes; ++g)
            seen_[g] = _mm256_or_si256(seen_[g], _mm256_cmpeq_epi32(x, code_[g]));
    }
    QUIVREL_AVX2 void EndRest() {
        const __m256i zero = _mm256_setzero_si256();
        for (int q = 0; q < kQuads; ++q) {
            const __m256i low = _mm256_packs_epi32(seen_[4 * q], seen_[4 * q + 1]);
            const __m256i high =
                kCodes > 2 ? _mm256_packs_epi32(seen_[4 * q + 2 < kCodes ? 4 * q + 2 : 0],
                                                seen_[4 * q + 3 < kCodes ? 4 * q + 3 : 0])
                           : zero;
            const __m256i none = _mm256_cmpeq_epi32(_mm256_packs_epi16(low, high), zero);
            const __m128i both = _mm_and_si128(_mm256_castsi256_si128(none),
                                               _mm256_extracti128_si256(none, 1));
            absent_[q] = _mm_sub_epi32(absent_[q], both);
        }
    }
    QUIVREL_AVX2 unsigned Absent(int g) const { return AbsentCount(absent_, g); }

private:
    static const int kQuads = (kCodes + 3) / 4;
    static const int kLanesBefore[16];
    QUIVREL_AVX2 static __m256i LoadLast(const Word* w, const Word* last, const Word* floor) {
        if (last - floor >= 8) return _mm256_loadu_si256((const __m256i*)(last - 8));
        int copy[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
        std::memcpy(copy + 8 - (last - w), w, sizeof(int) * (size_t)(last - w));
        return _mm256_loadu_si256((const __m256i*)copy);
    }
    __m256i code_[kCodes];
    __m256i seen_[kCodes];
    __m128i absent_[kQuads];
};
template <int kCodes>
const int WideCodePresence<kCodes>::kLanesBefore[16] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                        0,  0,  0,  0,  0,  0,  0,  0};
#endif

// Presence over half-width words (int16_t): eight words at a time with
// SSE2, sixteen with AVX2.  A code's accumulator is all zero exactly when
// no lane of the rest matched it.  The lanes before w of a short rest are
// made -1, and an unused code is -32768, which no word holds.
#if defined(__SSE2__)
template <int kCodes>
class HalfCodePresence {
public:
    typedef int16_t Word;
    static const int kWords = 8;
    static const int kCodeCount = kCodes;
    explicit HalfCodePresence(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = _mm_set1_epi16(HalfLaneCode(code[g]));
        for (int g = 0; g < kCodes; ++g) absent_[g] = 0;
    }
    void StartRest(const Word* w, const Word* last, const Word* floor) {
        __m128i x;
        if (last - w >= kWords) {
            x = _mm_loadu_si128((const __m128i*)(last - kWords));
        } else {
            x = _mm_or_si128(LoadLast(w, last, floor),
                             _mm_loadu_si128((const __m128i*)(kLanesBefore + (last - w))));
        }
        for (int g = 0; g < kCodes; ++g) seen_[g] = _mm_cmpeq_epi16(x, code_[g]);
    }
    void Add(const Word* w) {
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        for (int g = 0; g < kCodes; ++g)
            seen_[g] = _mm_or_si128(seen_[g], _mm_cmpeq_epi16(x, code_[g]));
    }
    void EndRest() {
        for (int g = 0; g < kCodes; ++g) absent_[g] += _mm_movemask_epi8(seen_[g]) == 0;
    }
    unsigned Absent(int g) const { return absent_[g]; }

private:
    static const Word kLanesBefore[2 * kWords];
    static __m128i LoadLast(const Word* w, const Word* last, const Word* floor) {
        if (last - floor >= kWords) return _mm_loadu_si128((const __m128i*)(last - kWords));
        Word copy[kWords];
        for (int i = 0; i < kWords; ++i) copy[i] = -1;
        std::memcpy(copy + kWords - (last - w), w, sizeof(Word) * (size_t)(last - w));
        return _mm_loadu_si128((const __m128i*)copy);
    }
    __m128i code_[kCodes];
    __m128i seen_[kCodes];
    unsigned absent_[kCodes];
};
template <int kCodes>
const int16_t HalfCodePresence<kCodes>::kLanesBefore[16] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                            0,  0,  0,  0,  0,  0,  0,  0};
#endif

#if QUIVREL_WIDE_COMPARES
template <int kCodes>
class WideHalfCodePresence {
public:
    typedef int16_t Word;
    static const int kWords = 16;
    static const int kCodeCount = kCodes;
    QUIVREL_AVX2 explicit WideHalfCodePresence(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = _mm256_set1_epi16(HalfLaneCode(code[g]));
        for (int g = 0; g < kCodes; ++g) absent_[g] = 0;
    }
    QUIVREL_AVX2 void StartRest(const Word* w, const Word* last, const Word* floor) {
        __m256i x;
        if (last - w >= kWords) {
            x = _mm256_loadu_si256((const __m256i*)(last - kWords));
        } else {
            x = _mm256_or_si256(LoadLast(w, last, floor),
                                _mm256_loadu_si256((const __m256i*)(kLanesBefore + (last - w))));
        }
        for (int g = 0; g < kCodes; ++g) seen_[g] = _mm256_cmpeq_epi16(x, code_[g]);
    }
    QUIVREL_AVX2 void Add(const Word* w) {
        const __m256i x = _mm256_loadu_si256((const __m256i*)w);
        for (int g = 0; g < kCodes; ++g)
            seen_[g] = _mm256_or_si256(seen_[g], _mm256_cmpeq_epi16(x, code_[g]));
    }
    QUIVREL_AVX2 void EndRest() {
        for (int g = 0; g < kCodes; ++g) absent_[g] += _mm256_testz_si256(seen_[g], seen_[g]);
    }
    QUIVREL_AVX2 unsigned Absent(int g) const { return absent_[g]; }

private:
    static const Word kLanesBefore[2 * kWords];
    QUIVREL_AVX2 static __m256i LoadLast(const Word* w, const Word* last, const Word* floor) {
        if (last - floor >= kWords) return _mm256_loadu_si256((const __m256i*)(last - kWords));
        Word copy[kWords];
        for (int i = 0; i < kWords; ++i) copy[i] = -1;
        std::memcpy(copy + kWords - (last - w), w, sizeof(Word) * (size_t)(last - w));
        return _mm256_loadu_si256((const __m256i*)copy);
    }
    __m256i code_[kCodes];
    __m256i seen_[kCodes];
    unsigned absent_[kCodes];
};
template <int kCodes>
const int16_t WideHalfCodePresence<kCodes>::kLanesBefore[32] = {
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};
#endif

// The presence of kCodes codes over words of width W (see LanesFor).
template <class W, int kCodes>
struct PresenceFor;
template <int kCodes>
struct PresenceFor<int, kCodes> {
#if defined(__SSE2__)
    typedef CodePresence<kCodes> Sse;
#endif
#if QUIVREL_WIDE_COMPARES
    typedef WideCodePresence<kCodes> Avx;
#endif
};
template <int kCodes>
struct PresenceFor<int16_t, kCodes> {
#if defined(__SSE2__)
    typedef HalfCodePresence<kCodes> Sse;
#endif
#if QUIVREL_WIDE_COMPARES
    typedef WideHalfCodePresence<kCodes> Avx;
#endif
};

// Counts the rests that hold each of the candidates by compares, at most
// eight of them on the eight-word path and four on the four-word path (more
// go to CountByMask); the frequent ones go into gFreqInter (in code order)
// with their counts, as CountByMask gives them.
template <class W>
void ProjWorkspace::CountByCompares(const std::vector<int>& candidates, const W* start) {
#if QUIVREL_WIDE_COMPARES
    if (WideCompares()) return CountByComparesWide(candidates, start);
#endif
#if defined(__SSE2__)
    if (candidates.size() <= 2)
        return CountByComparesWalk<typename PresenceFor<W, 2>::Sse>(candidates, start);
    if (candidates.size() <= 4)
        return CountByComparesWalk<typename PresenceFor<W, 4>::Sse>(candidates, start);
#endif
    CountByMask(candidates, start);
}

#if QUIVREL_WIDE_COMPARES
template <class W>
QUIVREL_AVX2 void ProjWorkspace::CountByComparesWide(const std::vector<int>& candidates,
                                                     const W* start) {
    if (candidates.size() <= 2)
        return CountByComparesWalk<typename PresenceFor<W, 2>::Avx>(candidates, start);
    if (candidates.size() <= 4)
        return CountByComparesWalk<typename PresenceFor<W, 4>::Avx>(candidates, start);
    if (candidates.size() <= 8)
        return CountByComparesWalk<typename PresenceFor<W, 8>::Avx>(candidates, start);
    CountByMask(candidates, start);
}
#endif

// One pass over the rests, a group of Presence::kWords words at a time.
// Inlined whole into the two functions above.
template <class Presence>
[[gnu::always_inline]] inline void ProjWorkspace::CountByComparesWalk(
    const std::vector<int>& candidates, const typename Presence::Word* start) {
    typedef typename Presence::Word W;
    const int kCodes = Presence::kCodeCount;
    const int kWords = Presence::kWords;
    const int n = (int)candidates.size();
    gFreqInter.clear();
    gFreqInterCount.clear();
    if (n == 0) return;
    int code[kCodes];
    for (int g = 0; g < kCodes; ++g) code[g] = g < n ? candidates[g] : INT_MIN;
    Presence presence(code);
    const MissChecks checks(gnRests, gSUP);
    const bool large = LargeData(start);
    size_t r = 0;
    for (size_t ask = checks.FirstAsk();; ask += kMissCheckRests) {
        for (const size_t stop = std::min(ask, gnRests); r < stop; ++r) {
            PrefetchRest(start, r, large);
            const Rest& rest = gRests[r];
            const W* w = start + rest.from + 1;
            const W* const last = start + rest.seqEnd;  // the -2
            // The group that ends at the -2 first, then the groups from the
            // rest's start up to it (the last of them may overlap it: a code
            // seen twice is still one rest).
            presence.StartRest(w, last, start);
            const int length = (int)(last - w);
            if (length > kShortRestWords) {
                for (; last - w > kWords; w += kWords) presence.Add(w);
            } else if (length > kWords) {
                // A short rest: a fixed number of groups, the last ones
                // moved back to end at the -2, instead of a loop whose end
                // mispredicts.
                for (int i = 0; i < kShortRestWords - kWords; i += kWords)
                    presence.Add(w + (i < length - kWords ? i : length - kWords));
            }
            presence.EndRest();
        }
        if (r == gnRests) break;
        // Every candidate out?  (Written out: a lambda would be compiled
        // without the eight-word target and call the compares out of line.)
        bool allOut = true;
        for (int g = 0; g < n && allOut; ++g)
            allOut = !checks.CanReach((long long)presence.Absent(g));
        if (allOut) return;
    }
    for (int g = 0; g < n; ++g) {
        const int count = (int)(gnRests - presence.Absent(g));
        if (count >= gSUP) {
            gFreqInter.push_back(candidates[g]);
            gFreqInterCount.push_back(count);
        }
    }
}

// Only the candidates are counted: no other code can be frequent.
template <class W>
void ProjWorkspace::CountByMarks(const std::vector<int>& candidates, const W* start) {
    if (gIsCandidate.size() < (size_t)ds.gN_ITEMS) gIsCandidate.resize((size_t)ds.gN_ITEMS, 0);
    for (int item : candidates) gIsCandidate[item] = 1;
    const bool large = LargeData(start);
    for (size_t r = 0; r < gnRests; ++r) {
        PrefetchRest(start, r, large);
        const Rest& rest = gRests[r];
        int stamp = gStampBase + rest.entry + 1;
        for (const W* w = start + rest.from + 1; *w != kSequenceEnd; ++w) {
            if (*w >= 0 && gIsCandidate[*w]) CountStamped(inter, gTouchedInter, *w, stamp);
        }
    }
    for (int item : candidates) gIsCandidate[item] = 0;
    PickFrequent(inter, gTouchedInter, gFreqInter, gFreqInterCount);
}

// Counts through the last-occurrence table; its columns are the first
// level's frequent items, in code order.
void ProjWorkspace::CountByTable() {
    std::vector<uint32_t>& counts = gTableCounts;
    CountFromTable(counts);
    gFreqInter.clear();
    gFreqInterCount.clear();
    for (size_t k = 0; k < ds.gFirstLevelItems.size(); ++k) {
        if (counts[k] >= gSUP) {
            gFreqInter.push_back(ds.gFirstLevelItems[k]);
            gFreqInterCount.push_back((int)counts[k]);
        }
    }
}

// The counters of both widths of words.
#define QUIVREL_COUNTERS_OF_WIDTH(W)                                                          \
    template void ProjWorkspace::CountAllCodes<W>(const W*);                                  \
    template void ProjWorkspace::CountByMask<W>(const std::vector<int>&, const W*);           \
    template void ProjWorkspace::CountByCompares<W>(const std::vector<int>&, const W*);       \
    template void ProjWorkspace::CountByMarks<W>(const std::vector<int>&, const W*);
QUIVREL_COUNTERS_OF_WIDTH(int)
QUIVREL_COUNTERS_OF_WIDTH(int16_t)
#undef QUIVREL_COUNTERS_OF_WIDTH
