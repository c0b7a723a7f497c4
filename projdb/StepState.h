// Helpers over the workspace's step state, shared by the projection files:
// the rests of the current step and their prefetches.  Nothing outside
// projdb/ includes this header.
//
// Every scan in projdb/ runs over data that the dataset check has accepted:
// each non-empty sequence ends with -1, -2 and the data ends with -2.  So
// the word after an item is an item or -1, the two words after an item
// exist, and a walk towards the end of a sequence always meets its -2.
#ifndef QUIVREL_PROJDB_STEPSTATE_H
#define QUIVREL_PROJDB_STEPSTATE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "projdb/ProjDB.h"

inline ProjWorkspace::RestRange ProjWorkspace::Rests() const {
    return RestRange{gRests.data(), gRests.data() + gnRests};
}

// Asks for the cache line that holds `p`.  Written as an instruction the
// compiler must keep: GCC's dead-code pass drops a __builtin_prefetch whose
// address comes from loads that nothing else uses, which is what most of
// the prefetches here are (the entry or rest some steps ahead).  A prefetch
// never faults, so `p` may lie anywhere.
inline void PrefetchLine(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*(const char*)p));
#else
    __builtin_prefetch(p);
#endif
}

// The entries of a step lie far apart in the data, in file order: each
// pass asks for the data of the entry this far ahead before it needs it.
const int kPrefetchAhead = 8;

// Asks for the data at an entry's single position, or for its position list.
template <class W>
inline void PrefetchEntry(const PROJ_DB& db, const PROJ_SEQ& entry, const W* start) {
    PrefetchLine(entry.m_nPos < kSeveralPositions
                     ? (const void*)(start + entry.m_nPos)
                     : (const void*)(db.m_pPositions + (entry.m_nPos - kSeveralPositions)));
}

// Rests of up to this many words are read by the walks as a fixed number of
// groups rather than group by group (see projdb/FillChildren.cpp).
const int kShortRestWords = 32;

// On large data a rest's lines come from memory, and a scan waits on each
// of them: every line of the rest is asked for, further ahead.  Data this
// small mostly stays in the caches between steps, where the extra
// prefetches only cost instructions, so the first line is enough.
const size_t kRestPrefetchAhead = 16;
// The most lines asked for from a rest whose end comes from an unchecked
// hint.
const int kRestPrefetchLines = 8;
const ptrdiff_t kLargeDataWords = (ptrdiff_t)4 << 20;  // 16 MiB

// (Counted in words of either width: half-width words take half
// the bytes, but its steps are as many and as long.)
template <class W>
inline bool ProjWorkspace::LargeData(const W* start) const {
    return static_cast<const W*>(gDataEnd) - start > kLargeDataWords;
}

// A pass asks LargeData once and hands the answer to every call.
template <class W>
inline void ProjWorkspace::PrefetchRest(const W* start, size_t r, bool large) const {
    if (!large) {
        // gRests has kPrefetchAhead slots past the last rest.
        PrefetchLine(start + gRests[r + kPrefetchAhead].from);
        return;
    }
    if (r + kRestPrefetchAhead >= gnRests) return;
    const Rest& ahead = gRests[r + kRestPrefetchAhead];
    const char* line = (const char*)(start + ahead.from);
    const char* last = (const char*)(start + ahead.seqEnd);
    for (; line < last; line += 64) PrefetchLine(line);
    PrefetchLine(last);
}

#endif
