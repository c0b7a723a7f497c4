// Internal state of the projection module, shared by its files: the stamp
// base and strategy of the steps, the occurrence tables' handles, the rests
// of the current step and the scratch of the counters and fills.  Nothing
// outside projdb/ includes this header.
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

// Stamp base of the current projection step: the stamps in the count tables
// that are not above it belong to earlier passes.
extern int gStampBase;

// Whether some itemset of the data holds more than one item (some item is
// followed by another item).
extern bool gHasContinued;

// The way the projection steps count and fill (automatic unless a test
// forces one), and the end of the data for the position fingerprints.
extern ProjectionStrategy gStrategy;
extern const int* gDataEnd;

// Whether `inter` has got its spare row after the last code (see
// CountAllCodes).
extern bool gInterHasSpareRow;

// The frequent items of the first-level step, in ascending code order.
extern std::vector<int> gFirstLevelItems;

// The rest after the first position's itemset of each parent entry that has
// one: the entry, the word offset of the -1 that ends the first position's
// itemset, and the sequence (from 0).
struct Rest {
    int entry;
    int from;
    int seq;
    int fromInSeq;  // `from` counted from the sequence's first word
};
extern std::vector<Rest> gRests;

// The rests of the current step are gRests[0 .. gnRests - 1]; the vector
// keeps its size between steps.
extern size_t gnRests;
struct RestRange {
    const Rest* first;
    const Rest* last;
    const Rest* begin() const { return first; }
    const Rest* end() const { return last; }
    size_t size() const { return (size_t)(last - first); }
    const Rest& operator[](size_t r) const { return first[r]; }
};
inline RestRange Rests() { return RestRange{gRests.data(), gRests.data() + gnRests}; }

// The entries of a step lie far apart in the data, in file order: each
// pass asks for the data of the entry this far ahead before it needs it.
const int kPrefetchAhead = 8;

inline void PrefetchEntry(const PROJ_SEQ& entry) {
    __builtin_prefetch(entry.m_nProjCount == 1 ? (const void*)entry.m_pSeq
                                               : (const void*)entry.m_ppSeq);
}

inline void PrefetchRest(const int* start, size_t r) {
    if (r + kPrefetchAhead < gnRests) __builtin_prefetch(start + gRests[r + kPrefetchAhead].from);
}

// The frequent codes of the current step with their counts.
extern std::vector<int> gFreqIntra;
extern std::vector<int> gFreqInter;
extern std::vector<int> gFreqIntraCount;
extern std::vector<int> gFreqInterCount;

// The codes that one count table met for the first time in the step: a
// buffer with room for every code (each is noted once per step).
struct Touched {
    std::vector<int> codes;
    size_t n = 0;
};
extern Touched gTouchedIntra;
extern Touched gTouchedInter;

#endif
