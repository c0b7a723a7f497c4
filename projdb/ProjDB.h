// Projected databases over the mapped dataset.
//
// Dataset: a flat stream of 32-bit little-endian ints.  Item codes are >= 0,
// -1 ends an itemset, -2 ends a sequence.  (1 2)(3) is 1 2 -1 3 -1 -2.
//
// A projected database never copies sequence data: for each sequence that
// contains the pattern it holds pointers into the mapping at which the rest
// of the sequence after the pattern's match begins.
#ifndef QUIVREL_PROJDB_H
#define QUIVREL_PROJDB_H

#include <cstdint>

#include "support/DatasetFormat.h"
#include "support/LinuxMemMap.h"
#include "support/SupportFraction.h"

// One sequence's positions in a projected database.
struct PROJ_SEQ {
    int m_nProjCount;      // number of positions (>= 1 when filled)
    int m_nSeq;            // the entry's sequence (from 0, file order); a hint
                           // that the projection steps check before use
    union {
        int* m_pSeq;       // m_nProjCount == 1: the single position, inline
        int** m_ppSeq;     // m_nProjCount >= 2: owned array of positions
    };
};

// One projected database: a pattern and, per supporting sequence with a
// non-empty rest, where that rest begins.
struct PROJ_DB {
    int m_nPatLen;         // words in the pattern (items, -1 between itemsets)
    union {
        int m_nPatItem;    // m_nPatLen == 1: the single item code, inline
        int* m_pnPat;      // m_nPatLen >= 2: owned array of m_nPatLen words
    };
    int maxSupport;        // support of the pattern
    int m_nSupport;        // filled entries of m_pProjSeq
    int m_nLastSeq;        // build stamp: sequence/parent entry of the last entry
    PROJ_SEQ* m_pProjSeq;  // owned entries array, null when it has no slots
    bool m_bIsIntra;       // last item joined the previous item's itemset
    int m_nLastItem;       // code of the pattern's last item
    int NumOfItems;        // sum over entries of words from match to data end
                           // (mod 2^32); maxSupport + NumOfItems is the
                           // equivalence key of the pattern tree
    uint64_t m_nPosFingerprint;  // sum (mod 2^64) of PositionFingerprint over
                                 // every stored position, first and further:
                                 // equal projections have equal fingerprints
};

// Fingerprint of one stored position, `wordsToEnd` words before the end of
// the data: the splitmix64 finaliser of that distance.  A record's
// fingerprint is the sum of its positions' ones, so it does not depend on
// the order in which they were stored.
inline uint64_t PositionFingerprint(uint64_t wordsToEnd) {
    uint64_t z = wordsToEnd;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Per-item counter of a counting pass.
struct ITEM_CNT {
    int m_nLastSeq;        // stamp of the latest sequence/entry counted
    int m_nCount;          // distinct sequences/entries counted
};

// ---- run-wide state of the projection module ----
extern int gN_ITEMS;              // rows of every per-item table
extern mem_map* pDatasetMemMap;   // the mapped dataset
extern ITEM_CNT* inter;           // new-itemset extension counts
extern ITEM_CNT* intra;           // in-itemset extension counts
extern int* inter_freq_idx;       // item -> new-itemset child index (or count)
extern int* intra_freq_idx;       // item -> in-itemset child index
extern int** buf_idx;             // position scratch of one entry
extern int gnBufIdxSize;          // slots of buf_idx (grows on demand)
extern int n_total_mem;           // bytes held by projection buffers
extern int n_max_mem;             // sampled peak of n_total_mem

extern int gnCustCount;           // number of sequences
extern double gSUP;               // absolute support threshold
extern int gMAX_PAT_LEN;          // number of counters in gnArrLargeCount
extern int* gnArrLargeCount;      // frequent patterns by number of items

// Facts gathered by the validation pass over the mapped data.
extern DatasetShape gDatasetShape;

// Maps the dataset, checks that it is well formed (a malformed file ends the
// run with status 1 and a message naming the problem and its word offset),
// sizes and allocates the per-item tables and returns the file's size in
// bytes.  `itemcount` is the largest item code the caller allows.
long long InitProjDB(const char* path, int itemcount);
// Same, with an explicit snapshot limit (files above it are mapped, not read
// into private memory; tests use a small one).
long long InitProjDBWithLimit(const char* path, int itemcount, unsigned long long limit);
// Frees the per-item tables and unmaps the dataset.
void CloseProjDB();

// Frees everything the module holds (tables, mapping, counters, scratch) and
// puts its run-wide values back to those of a fresh process.
void ResetProjDB();

// Releases a record's buffers with a peak sample first; its scalar fields
// keep their values.
void clean_projcted_db(PROJ_DB* db);
// The same release without the peak sample (records that are not projected).
void release_projdb_buffers(PROJ_DB* db);

// Adds one pattern of `items` items to gnArrLargeCount, growing it
// (zero-filled) so that a zero counter always stands after the last one.
void CountLargePattern(int items);

// First projection: counts item supports, fixes gnCustCount and gSUP, and
// returns one record per frequent item in ascending code order (null with
// *count 0 when none is frequent).  The caller owns the array.
PROJ_DB* make_projdb_from_org_dataset(double support, int* count);
// Same, with gSUP the exact least count that reaches the fraction of the
// number of sequences (the command line's threshold rule).
PROJ_DB* make_projdb_from_org_dataset(const SupportFraction& support, int* count);
// Grows a pattern by one item both ways; releases the parent's buffers.
PROJ_DB* make_projdb_from_projected_db(PROJ_DB* parent, int* count);

// The ways a projection step can count and fill new-itemset extensions.
// Each gives the same children; the step picks the cheapest for the data's
// shape.  Forcing one is for tests, so that every way is checked on data
// small enough to check by brute force.
struct ProjectionStrategy {
    enum Count { kCountAuto, kCountTable, kCountMask, kCountMarks, kCountAllCodes };
    enum Fill { kFillAuto, kFillTables, kFillByItem, kFillScan };
    Count count = kCountAuto;
    Fill fill = kFillAuto;
    // In-itemset counts: 0 picks by size, 1 clears and walks the whole
    // table, -1 notes the codes met.
    int wholeIntra = 0;
    bool noTables = false;         // build no occurrence tables
    bool ignoreSeqHints = false;   // find every entry's sequence by search
    bool generalItemsets = false;  // no one-item-per-itemset shortcuts
};
// Applies to the projection steps from now on (until set again); a forced
// way that needs something the step lacks (tables, a candidate list) falls
// back to one that does not.
void SetProjectionStrategy(const ProjectionStrategy& strategy);

// Debugging aids.
[[noreturn]] void Test();
void PrintProjDBs(PROJ_DB* records, int count);
int OutputPattern(int* pattern, int length);

#endif
