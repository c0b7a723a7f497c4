// Positions: reading the data around a match and giving a record its
// entries.  A position is a pointer to the word right after a matched item;
// an entry collects a sequence's positions in buf_idx first (scratch that
// grows on demand) and stores them when the sequence is done: one position
// inline, more in an array of their exact size.  Every fill of the
// projection steps gives a child its entry through OpenEntry + StoreEntry.
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
inline int* RunEnd(int* w) {
    while (w[1] == w[0]) ++w;
    return w;
}

// An item is the last of its sequence when the word two after it is -2.
inline bool IsLastItem(const int* r) {
    return r[2] == kSequenceEnd;
}

// Adds the distance from a match to the end of the data to the record's
// NumOfItems, modulo 2^32.
inline void AddDistance(PROJ_DB* db, const int* r, const int* end) {
    db->NumOfItems = (int)((uint32_t)db->NumOfItems + (uint32_t)(end - r));
}

// Position j of an entry.
inline int* EntryPosition(const PROJ_SEQ& entry, int j) {
    return entry.m_nProjCount == 1 ? entry.m_pSeq : entry.m_ppSeq[j];
}

// Stores a position in buf_idx slot `slot`, growing the scratch when the
// slot lies beyond it.
inline void ProjWorkspace::PutPosition(int slot, int* pos) {
    if (slot >= gnBufIdxSize) {
        int newSize = std::max(slot + 1, gnBufIdxSize * 2);
        buf_idx = (int**)checked_realloc(buf_idx, sizeof(int*) * (size_t)newSize);
        std::fill(buf_idx + gnBufIdxSize, buf_idx + newSize, nullptr);
        gnBufIdxSize = newSize;
    }
    buf_idx[slot] = pos;
}

// Finds the first word in [w, last) that equals one of four codes.  Most
// words of a rest are none of them: four words at a time are compared with
// all four codes at once, and only a group that holds one is looked into.
// `last` is a word of the same sequence (its -2 at the furthest), so no
// read passes the sequence's end.
class FourCodes {
public:
    explicit FourCodes(const int code[4]) {
        for (int g = 0; g < 4; ++g) code_[g] = code[g];
#if defined(__SSE2__)
        for (int g = 0; g < 4; ++g) wide_[g] = _mm_set1_epi32(code[g]);
#endif
    }
    int* FindIn(int* w, int* last) const {
#if defined(__SSE2__)
        for (; last - w >= 4; w += 4) {
            const __m128i x = _mm_loadu_si128((const __m128i*)w);
            const __m128i hit =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(x, wide_[0]), _mm_cmpeq_epi32(x, wide_[1])),
                             _mm_or_si128(_mm_cmpeq_epi32(x, wide_[2]), _mm_cmpeq_epi32(x, wide_[3])));
            const int lanes = _mm_movemask_ps(_mm_castsi128_ps(hit));
            if (lanes != 0) return w + __builtin_ctz((unsigned)lanes);
        }
#endif
        for (; w < last; ++w) {
            const int x = *w;
            if ((x == code_[0]) | (x == code_[1]) | (x == code_[2]) | (x == code_[3])) return w;
        }
        return last;
    }

private:
    int code_[4];
#if defined(__SSE2__)
    __m128i wide_[4];
#endif
};

// Walks from q to the end of the sequence and appends the word after every
// later occurrence of `item` (the last word of its run) that its itemset
// continues.  Returns the new number of positions.
inline int ProjWorkspace::CollectLaterMatches(int* q, int item, int n, const int* end) {
    // The search stops at the item or at the sequence's -2, whichever
    // comes first; the data's end bounds its reads.
    const int code[4] = {item, kSequenceEnd, kSequenceEnd, kSequenceEnd};
    const FourCodes itemOrEnd(code);
    int* const last = const_cast<int*>(end);
    for (int* w = itemOrEnd.FindIn(q, last); *w != kSequenceEnd; w = itemOrEnd.FindIn(w + 1, last)) {
        w = RunEnd(w);
        if (w[1] >= 0) PutPosition(n++, w + 1);
    }
    return n;
}

// The occurrence of `item` from `from` to the end of its itemset, leaving
// out the last item of the sequence: the last word of its run, or null when
// there is none.
inline int* FindInItemset(int* from, int item) {
    for (int* w = from; *w != kItemsetEnd && w[2] != kSequenceEnd; ++w) {
        if (*w == item) return RunEnd(w);
    }
    return nullptr;
}

// Appends the n positions in buf_idx as the record's next entry.  A single
// position is held inline, more get an array of their exact size.
// The positions also go into the record's fingerprint.
inline void ProjWorkspace::StoreEntry(PROJ_DB* db, int n, int seq) {
    if (n == 1) {
        // Most entries: one position, no loop.
        PROJ_SEQ* entry = &db->m_pProjSeq[db->m_nSupport++];
        entry->m_nProjCount = 1;
        entry->m_nSeq = seq;
        entry->m_pSeq = buf_idx[0];
        db->m_nPosFingerprint += PositionFingerprint((uint64_t)(gDataEnd - buf_idx[0]));
    } else {
        // The array first: the entry is counted only once it owns one, so a
        // failed allocation leaves no counted slot whose array pointer the
        // release would free (slots are not cleared beforehand).
        size_t bytes = sizeof(int*) * (size_t)n;
        int** positions = (int**)checked_alloc(bytes);
        std::memcpy(positions, buf_idx, bytes);
        MemAdd(bytes);
        PROJ_SEQ* entry = &db->m_pProjSeq[db->m_nSupport++];
        entry->m_nProjCount = n;
        entry->m_nSeq = seq;
        entry->m_ppSeq = positions;
        uint64_t fingerprint = 0;
        for (int i = 0; i < n; ++i)
            fingerprint += PositionFingerprint((uint64_t)(gDataEnd - buf_idx[i]));
        db->m_nPosFingerprint += fingerprint;
    }
}

// Opens a record's entry at match `r` (the last word of its item's run) for
// the parent entry or sequence `stamp`: the stamp keeps one parent entry
// from giving the record two entries, the distance to the data's end goes
// into the equivalence key, and the first position, right after the match,
// into buf_idx slot 0.  Returns the number of positions so far.
inline int ProjWorkspace::OpenEntry(PROJ_DB* db, int stamp, int* r, const int* end) {
    db->m_nLastSeq = stamp;
    AddDistance(db, r, end);
    PutPosition(0, r + 1);
    return 1;
}

// Accounted allocation and release of records (projdb/MemoryAccounting.cpp).

#endif
