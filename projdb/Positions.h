// Positions: reading the data around a match and giving a record its
// entries.  A position is the word right after a matched item (an int, or
// an int16_t where the dataset holds half-width words: the helpers that
// read words are templates over their width W).  While an entry is built its
// positions are pointers, collected in buf_idx (scratch that grows on
// demand); the entry stores them as word offsets from the data's start when
// the sequence is done: one position inline, more in the record's position
// list.  Every fill of the projection steps gives a child its entry through
// OpenEntry + StoreEntry.
//
// The byte accounting of projection memory sits here too, inline: StoreEntry
// is the hottest allocation site.  The counters are 64-bit: projections of
// large data pass 2 GiB.
//
// Tested by tests/unit/test_projdb_first.cpp and test_projdb_project.cpp
// (positions and fingerprints of known data).
#ifndef QUIVREL_PROJDB_POSITIONS_H
#define QUIVREL_PROJDB_POSITIONS_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "projdb/ProjDB.h"
#include "projdb/StepState.h"
#include "support/Global.h"

inline void ProjWorkspace::MemAdd(size_t bytes) {
    n_total_mem += (int64_t)bytes;
}

inline void ProjWorkspace::MemSub(size_t bytes) {
    n_total_mem -= (int64_t)bytes;
}

inline void ProjWorkspace::SamplePeak() {
    if (n_max_mem < n_total_mem) n_max_mem = n_total_mem;
}

// Last word of the run of equal codes that starts at item word w.  A run is
// one occurrence of its item: a position is always taken after the run's
// last word, so that no scan from a position meets the item again in the
// same itemset.
template <class W>
inline W* RunEnd(W* w) {
    while (w[1] == w[0]) ++w;
    return w;
}

// An item is the last of its sequence when the word two after it is -2.
template <class W>
inline bool IsLastItem(const W* r) {
    return r[2] == kSequenceEnd;
}

// Adds the distance from a match to the end of the data to the record's
// NumOfItems, modulo 2^32.
template <class W>
inline void AddDistance(PROJ_DB* db, const W* r, const W* end) {
    db->NumOfItems = (int)((uint32_t)db->NumOfItems + (uint32_t)(end - r));
}

// Position j of an entry's positions, in the data that starts at `start`.
template <class W>
inline W* EntryPosition(W* start, const EntryPositions& positions, int j) {
    return start + positions.offsets[j];
}

// The word offset of position `pos` from the data's start.
template <class W>
inline uint32_t ProjWorkspace::OffsetOf(const W* pos) const {
    return (uint32_t)(pos - static_cast<const W*>(gDataStart));
}

// Makes room for `words` more words at the end of the record's position
// list (allocated on first use) and returns the index of the first.
inline uint32_t ProjWorkspace::GrowPositions(PROJ_DB* db, uint32_t words) {
    uint32_t* list = db->m_pPositions;
    const uint32_t used = list != nullptr ? list[0] : 2;
    if (list == nullptr || (uint64_t)used + words > list[1]) {
        ReservePositions(db, (uint64_t)used + words);
        list = db->m_pPositions;
    }
    list[0] = used + words;
    return used;
}

// Stores a position in buf_idx slot `slot`, growing the scratch when the
// slot lies beyond it.
inline void ProjWorkspace::PutPosition(int slot, void* pos) {
    if (slot >= gnBufIdxSize) {
        int newSize = std::max(slot + 1, gnBufIdxSize * 2);
        buf_idx = (void**)checked_realloc(buf_idx, sizeof(void*) * (size_t)newSize);
        std::fill(buf_idx + gnBufIdxSize, buf_idx + newSize, nullptr);
        gnBufIdxSize = newSize;
    }
    buf_idx[slot] = pos;
}

// Bit i of the result is set when w[i] equals one of kCodes codes, for the
// words of [w, last), one by one: the words too few for a vector compare.
template <int kCodes, class W>
inline unsigned CodeLanesOneByOne(const int* code, const W* w, const W* last) {
    unsigned lanes = 0;
    for (int i = 0; w + i < last; ++i) {
        bool hit = false;
        for (int g = 0; g < kCodes; ++g) hit |= w[i] == code[g];
        lanes |= (unsigned)hit << i;
    }
    return lanes;
}

// Compares four words at a time with kCodes codes: bit i of Lanes(w) is set
// when w[i] equals one of them.  Most words of a rest are none of the codes,
// so a group of four costs one load and a vector compare per code, and only
// a group that holds a hit is looked into.
template <int kCodes>
class CodeLanes {
public:
    typedef int Word;
    static const int kWords = 4;  // words per group
    static const int kCodeCount = kCodes;
    explicit CodeLanes(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = code[g];
#if defined(__SSE2__)
        for (int g = 0; g < kCodes; ++g) wide_[g] = _mm_set1_epi32(code[g]);
#endif
    }
    // Reads w[0 .. 3].
    unsigned Lanes(const Word* w) const {
#if defined(__SSE2__)
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        // Four codes at a time, their compares ORed as a pair of pairs.
        auto four = [&](int g) {
            return _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi32(x, wide_[g]), _mm_cmpeq_epi32(x, wide_[g + 1])),
                _mm_or_si128(_mm_cmpeq_epi32(x, wide_[g + 2]), _mm_cmpeq_epi32(x, wide_[g + 3])));
        };
        int g = kCodes >= 4 ? 4 : 1;
        __m128i hit = kCodes >= 4 ? four(0) : _mm_cmpeq_epi32(x, wide_[0]);
        for (; g + 4 <= kCodes; g += 4) hit = _mm_or_si128(hit, four(g));
        for (; g < kCodes; ++g) hit = _mm_or_si128(hit, _mm_cmpeq_epi32(x, wide_[g]));
        return (unsigned)_mm_movemask_ps(_mm_castsi128_ps(hit));
#else
        return CodeLanesOneByOne<kCodes>(code_, w, w + 4);
#endif
    }
    // Bit i set when w[i] equals code g, for w[0 .. 3].
    unsigned LanesOf(const Word* w, int g) const {
#if defined(__SSE2__)
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        return (unsigned)_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(x, wide_[g])));
#else
        return CodeLanesOneByOne<1>(code_ + g, w, w + 4);
#endif
    }
    // The same for the words of [w, last), fewer than four: the four words
    // that end at `last` compared at once, the lanes before w dropped, when
    // those four lie at or after `floor` (a word of the data at or before
    // w); else one by one.
    unsigned LastLanes(const Word* w, const Word* last, const Word* floor) const {
        return last - floor >= 4 ? Lanes(last - 4) >> (4 - (last - w))
                                 : CodeLanesOneByOne<kCodes>(code_, w, last);
    }

private:
    int code_[kCodes];
#if defined(__SSE2__)
    __m128i wide_[kCodes];
#endif
};

#if QUIVREL_WIDE_COMPARES
// The same compares eight words at a time (AVX2).  Every member is compiled
// for AVX2, so only a QUIVREL_AVX2 function, run after CpuHasWideCompares(),
// may make or use one: the walks are templates over their lanes class,
// inlined whole into such a function for this class.
template <int kCodes>
class WideCodeLanes {
public:
    typedef int Word;
    static const int kWords = 8;
    static const int kCodeCount = kCodes;
    QUIVREL_AVX2 explicit WideCodeLanes(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = code[g];
        for (int g = 0; g < kCodes; ++g) wide_[g] = _mm256_set1_epi32(code[g]);
    }
    // Reads w[0 .. 7].  (No lambdas here: a lambda is not compiled for the
    // AVX2 target of the function around it.)
    QUIVREL_AVX2 unsigned Lanes(const Word* w) const {
        const __m256i x = _mm256_loadu_si256((const __m256i*)w);
        int g = kCodes >= 4 ? 4 : 1;
        __m256i hit = kCodes >= 4 ? Four(x, 0) : _mm256_cmpeq_epi32(x, wide_[0]);
        for (; g + 4 <= kCodes; g += 4) hit = _mm256_or_si256(hit, Four(x, g));
        for (; g < kCodes; ++g) hit = _mm256_or_si256(hit, _mm256_cmpeq_epi32(x, wide_[g]));
        return (unsigned)_mm256_movemask_ps(_mm256_castsi256_ps(hit));
    }
    // Bit i set when w[i] equals code g, for w[0 .. 7].
    QUIVREL_AVX2 unsigned LanesOf(const Word* w, int g) const {
        const __m256i x = _mm256_loadu_si256((const __m256i*)w);
        return (unsigned)_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(x, wide_[g])));
    }
    // The same for the words of [w, last), fewer than eight: the eight
    // words that end at `last` compared at once, the lanes before w
    // dropped, when those eight lie at or after `floor` (a word of the
    // data at or before w); else one by one.
    QUIVREL_AVX2 unsigned LastLanes(const Word* w, const Word* last, const Word* floor) const {
        return last - floor >= 8 ? Lanes(last - 8) >> (8 - (last - w))
                                 : CodeLanesOneByOne<kCodes>(code_, w, last);
    }

private:
    // Codes g .. g + 3 compared, ORed as a pair of pairs.
    QUIVREL_AVX2 __m256i Four(__m256i x, int g) const {
        return _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi32(x, wide_[g]), _mm256_cmpeq_epi32(x, wide_[g + 1])),
            _mm256_or_si256(_mm256_cmpeq_epi32(x, wide_[g + 2]),
                            _mm256_cmpeq_epi32(x, wide_[g + 3])));
    }

    int code_[kCodes];
    __m256i wide_[kCodes];
};
#endif

// The same for half-width words (int16_t): eight words at a time with
// SSE2.  The -1 and -2 are words like any other, and an unused code (below
// -2) becomes -32768, which no word holds.
inline short HalfLaneCode(int code) {
    return code >= -32768 && code <= 32767 ? (short)code : (short)-32768;
}

#if defined(__SSE2__)
// One bit per 16-bit lane of a 128-bit compare's result, in word order.
inline unsigned HalfWordBits(__m128i hit) {
    return (unsigned)_mm_movemask_epi8(_mm_packs_epi16(hit, hit)) & 0xFFu;
}
#endif

template <int kCodes>
class HalfCodeLanes {
public:
    typedef int16_t Word;
    static const int kWords = 8;
    static const int kCodeCount = kCodes;
    explicit HalfCodeLanes(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = code[g];
#if defined(__SSE2__)
        for (int g = 0; g < kCodes; ++g) wide_[g] = _mm_set1_epi16(HalfLaneCode(code[g]));
#endif
    }
    // Reads w[0 .. 7].
    unsigned Lanes(const Word* w) const {
#if defined(__SSE2__)
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        __m128i hit = _mm_cmpeq_epi16(x, wide_[0]);
        for (int g = 1; g < kCodes; ++g) hit = _mm_or_si128(hit, _mm_cmpeq_epi16(x, wide_[g]));
        return HalfWordBits(hit);
#else
        return CodeLanesOneByOne<kCodes>(code_, w, w + 8);
#endif
    }
    unsigned LanesOf(const Word* w, int g) const {
#if defined(__SSE2__)
        const __m128i x = _mm_loadu_si128((const __m128i*)w);
        return HalfWordBits(_mm_cmpeq_epi16(x, wide_[g]));
#else
        return CodeLanesOneByOne<1>(code_ + g, w, w + 8);
#endif
    }
    unsigned LastLanes(const Word* w, const Word* last, const Word* floor) const {
        return last - floor >= 8 ? Lanes(last - 8) >> (8 - (last - w))
                                 : CodeLanesOneByOne<kCodes>(code_, w, last);
    }

private:
#if defined(__SSE2__)
    __m128i wide_[kCodes];
#endif
    int code_[kCodes];
};

#if QUIVREL_WIDE_COMPARES
// One bit per 16-bit lane of a 256-bit compare's result, in word order.
QUIVREL_AVX2 inline unsigned WideHalfWordBits(__m256i hit) {
    return (unsigned)_mm_movemask_epi8(
        _mm_packs_epi16(_mm256_castsi256_si128(hit), _mm256_extracti128_si256(hit, 1)));
}

// Half-width words sixteen at a time (AVX2), under the same rules as
// WideCodeLanes.
template <int kCodes>
class WideHalfCodeLanes {
public:
    typedef int16_t Word;
    static const int kWords = 16;
    static const int kCodeCount = kCodes;
    QUIVREL_AVX2 explicit WideHalfCodeLanes(const int* code) {
        for (int g = 0; g < kCodes; ++g) code_[g] = code[g];
        for (int g = 0; g < kCodes; ++g) wide_[g] = _mm256_set1_epi16(HalfLaneCode(code[g]));
    }
    QUIVREL_AVX2 unsigned Lanes(const Word* w) const {
        const __m256i x = _mm256_loadu_si256((const __m256i*)w);
        __m256i hit = _mm256_cmpeq_epi16(x, wide_[0]);
        for (int g = 1; g < kCodes; ++g)
            hit = _mm256_or_si256(hit, _mm256_cmpeq_epi16(x, wide_[g]));
        return WideHalfWordBits(hit);
    }
    QUIVREL_AVX2 unsigned LanesOf(const Word* w, int g) const {
        const __m256i x = _mm256_loadu_si256((const __m256i*)w);
        return WideHalfWordBits(_mm256_cmpeq_epi16(x, wide_[g]));
    }
    QUIVREL_AVX2 unsigned LastLanes(const Word* w, const Word* last, const Word* floor) const {
        return last - floor >= 16 ? Lanes(last - 16) >> (16 - (last - w))
                                  : CodeLanesOneByOne<kCodes>(code_, w, last);
    }

private:
    int code_[kCodes];
    __m256i wide_[kCodes];
};
#endif

// The lanes of kCodes codes over words of width W: Sse four (int) or eight
// (int16_t) words at a time, Avx eight or sixteen.
template <class W, int kCodes>
struct LanesFor;
template <int kCodes>
struct LanesFor<int, kCodes> {
    typedef CodeLanes<kCodes> Sse;
#if QUIVREL_WIDE_COMPARES
    typedef WideCodeLanes<kCodes> Avx;
#endif
};
template <int kCodes>
struct LanesFor<int16_t, kCodes> {
    typedef HalfCodeLanes<kCodes> Sse;
#if QUIVREL_WIDE_COMPARES
    typedef WideHalfCodeLanes<kCodes> Avx;
#endif
};

// Finds the first word in [w, last) that equals one of the codes, a group of
// Lanes::kWords words at a time.  `last` is a word of the same sequence (its
// -2 at the furthest), so no read passes the sequence's end.  `floor` is a
// word of the data at or before every w searched from (the data's first
// word will do): when less than a group is left before `last` and the group
// of words that ends at `last` lies at or after `floor`, that group is
// compared at once (the lanes before w, looked at already, are dropped);
// only data too short for that has its last words compared one by one.
// FindIn is inlined into its caller, so that with the eight-word lanes it
// runs as the caller's AVX2 code.
template <int kCodes, class Lanes = CodeLanes<kCodes>>
class CodeSearch {
public:
    typedef typename Lanes::Word Word;
    static_assert(Lanes::kCodeCount == kCodes, "lanes for the search's codes");
    [[gnu::always_inline]] CodeSearch(const int* code, const Word* floor)
        : codes_(code), floor_(floor) {}
    [[gnu::always_inline]] Word* FindIn(Word* w, Word* last) const {
        for (; last - w >= Lanes::kWords; w += Lanes::kWords) {
            const unsigned lanes = codes_.Lanes(w);
            if (lanes != 0) return w + __builtin_ctz(lanes);
        }
        if (w == last) return last;
        const unsigned lanes = codes_.LastLanes(w, last, floor_);
        return lanes != 0 ? w + __builtin_ctz(lanes) : last;
    }

private:
    Lanes codes_;
    const Word* floor_;
};

// The occurrence of `item` from `from` to the end of its itemset, leaving
// out the last item of the sequence: the last word of its run, or null when
// there is none.
template <class W>
inline W* FindInItemset(W* from, int item) {
    for (W* w = from; *w != kItemsetEnd && w[2] != kSequenceEnd; ++w) {
        if (*w == item) return RunEnd(w);
    }
    return nullptr;
}

// Appends the n positions in buf_idx as the record's next entry.  A single
// position is held inline, more go to the record's position list after
// their count.  The positions also go into the record's fingerprint.
template <class W>
inline void ProjWorkspace::StoreEntry(PROJ_DB* db, int n, int seq) {
    const W* const dataEnd = static_cast<const W*>(gDataEnd);
    if (n == 1) {
        // Most entries: one position, no loop.
        W* const pos = static_cast<W*>(buf_idx[0]);
        AppendOnePosition(db, pos, seq, dataEnd - pos);
    } else {
        // The list first: the entry is counted only once its positions
        // are there, so a failed growth leaves the record as it was.
        const uint32_t at = GrowPositions(db, (uint32_t)n + 1);
        uint32_t* const list = db->m_pPositions + at;
        list[0] = (uint32_t)n;
        uint64_t fingerprint = 0;
        for (int i = 0; i < n; ++i) {
            const W* const pos = static_cast<W*>(buf_idx[i]);
            list[i + 1] = OffsetOf(pos);
            fingerprint += PositionFingerprint((uint64_t)(dataEnd - pos));
        }
        PROJ_SEQ* entry = &db->m_pProjSeq[db->m_nSupport++];
        entry->m_nPos = kSeveralPositions | at;
        entry->m_nSeq = seq;
        db->m_nPosFingerprint += fingerprint;
    }
}

// Appends an entry of the one position `pos` to the record; its key is
// left alone.
template <class W>
inline void ProjWorkspace::AppendEntry(PROJ_DB* db, const W* pos, int seq) {
    PROJ_SEQ* entry = &db->m_pProjSeq[db->m_nSupport++];
    entry->m_nPos = OffsetOf(pos);
    entry->m_nSeq = seq;
}

// The same, adding the fingerprint of the position, `toEnd` words before the
// end of the data.
template <class W>
inline void ProjWorkspace::AppendOnePosition(PROJ_DB* db, W* pos, int seq, ptrdiff_t toEnd) {
    AppendEntry(db, pos, seq);
    db->m_nPosFingerprint += PositionFingerprint((uint64_t)toEnd);
}

// Adds position `pos` after the positions of the record's last entry: a
// single position moves to the end of the record's position list with the
// new one; a last entry with several has its positions at the end of the
// list already, and the new one follows them.  Should the growth fail, the
// entry is as it was.  Only the first level's fill adds positions this way,
// and its records' keys were summed by the counting pass: the key is left
// alone.
template <class W>
inline void ProjWorkspace::AddToLastEntry(PROJ_DB* db, const W* pos) {
    PROJ_SEQ* entry = &db->m_pProjSeq[db->m_nSupport - 1];
    if (entry->m_nPos < kSeveralPositions) {
        const uint32_t at = GrowPositions(db, 3);
        uint32_t* const list = db->m_pPositions + at;
        list[0] = 2;
        list[1] = entry->m_nPos;
        list[2] = OffsetOf(pos);
        entry->m_nPos = kSeveralPositions | at;
    } else {
        const uint32_t at = GrowPositions(db, 1);
        db->m_pPositions[at] = OffsetOf(pos);
        db->m_pPositions[entry->m_nPos - kSeveralPositions]++;
    }
}

// Opens a record's entry at match `r` (the last word of its item's run) for
// the parent entry or sequence `stamp`: the stamp keeps one parent entry
// from giving the record two entries, the distance to the data's end goes
// into the equivalence key, and the first position, right after the match,
// into buf_idx slot 0.  Returns the number of positions so far.
template <class W>
inline int ProjWorkspace::OpenEntry(PROJ_DB* db, int stamp, W* r, const W* end) {
    db->m_nLastSeq = stamp;
    AddDistance(db, r, end);
    PutPosition(0, r + 1);
    return 1;
}

// Accounted allocation and release of records (projdb/MemoryAccounting.cpp).

#endif
