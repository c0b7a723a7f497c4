// Thresholds of the projection steps' choices, all of them, and whether the
// CPU can run the eight-word compares.
#include "projdb/Strategies.h"

// A step whose parent entries, times this factor, reach the number of item
// codes reads every first-level item's in-itemset row afterwards instead of
// noting the codes it meets.  Noting costs little per word, while on large
// data the rows read afterwards have left the caches between steps: on the
// 1M rows a factor of 8 spent 4 to 8% of the time reading them.
static const long long kWholeTableFactor = 1;

// Look-ups in the last-occurrence table that cost about as much as one
// scanned word (a row is compared a vector at a time).
static const long long kTableLookupsPerWord = 4;

// Up to this many candidates are counted with a mask per rest: bit c + 1
// stands for candidate c, bit 0 for every other word.
static const long long kMaskCandidates = 63;

// Up to this many candidates are counted by comparing each group of eight
// words (AVX2) or four words with all of them: a compare and an OR per
// candidate and group against the mask's load, look-up and bit-set per word.
// On 100K 0.001 the new-itemset counts took 25% fewer instructions with
// eight words and up to 8 candidates (up to 4: 23%), 10% fewer with four
// words and up to 4 (up to 2: 6%; up to 8: 5% more).
static const long long kCompareCandidatesWide = 8;
static const long long kCompareCandidates = 4;

// The candidates of a step are marked and the others skipped while they are
// fewer than one code in this many.
static const long long kCandidateShare = 4;

// Up to this many new-itemset children are filled item by item, more by one
// scan of each rest.  Where one walk of a rest serves up to eight items
// (compared four words at a time), it costs less than the scan, which
// looks every word up.  Compared eight words at a time, a walk serves up
// to sixteen items, and two such walks still cost less than the scan (1M
// 0.001: about 5% less time than a walk of eight items and then the scan).
static const long long kFewChildren = 3;
static const long long kFewChildrenSeveralPerWalk = 8;
static const long long kFewChildrenWideWalks = 32;

StepStrategies ChooseStrategies(const StepFacts& f, const ProjectionStrategy& forced) {
    typedef ProjectionStrategy S;
    StepStrategies s;
    s.wholeIntra = forced.wholeIntra != 0 ? forced.wholeIntra > 0
                                          : f.parentEntries * kWholeTableFactor >= f.itemCodes;

    // Every code counted by the in-itemset pass, where the counter would be
    // the one over every code whatever the rests turn out to be: no tables,
    // and the candidates unknown or too many for the mask and the marks.
    // The pass reads each rest's first line anyway; a pass of its own reads
    // the rests again, and on large data they have left the caches by then
    // (1M 0.0025: 4% less time).  Data that stay in the caches are counted
    // faster by the pass of its own (C20T2.5S8I1.25D50K: 40% more time
    // in the in-itemset pass).
    const bool tooManyCandidates =
        f.candidates == -2 ||
        (f.candidates > kMaskCandidates && f.candidates * kCandidateShare >= f.itemCodes);
    if (!f.haveTables &&
        (forced.count == S::kCountInItemsetPass ||
         (forced.count == S::kCountAuto && f.largeData && tooManyCandidates)))
        s.count = S::kCountInItemsetPass;
    if (f.rests < 0) return s;

    // New-itemset counter: through the table when few items can still be
    // frequent, else by scanning every rest, looking only at candidates
    // where they are known and few.
    const bool byTable =
        f.haveTables && (forced.count == S::kCountAuto
                             ? f.tableColumns * f.rests < f.restWords * kTableLookupsPerWord
                             : forced.count == S::kCountTable);
    const bool anyCandidates = forced.count == S::kCountAuto || forced.count == S::kCountMask ||
                               forced.count == S::kCountMarks || forced.count == S::kCountCompares;
    const long long compareCandidates =
        f.wideCompares ? kCompareCandidatesWide : kCompareCandidates;
    if (s.count == S::kCountInItemsetPass) {
        // Counted already.
    } else if (byTable) {
        s.count = S::kCountTable;
    } else if (anyCandidates && f.candidates == -1) {
        s.needCandidates = true;
        return s;
    } else if (anyCandidates && f.candidates >= 0 && f.candidates <= kMaskCandidates &&
               forced.count != S::kCountMarks) {
        s.count = forced.count != S::kCountMask && f.candidates <= compareCandidates
                      ? S::kCountCompares
                      : S::kCountMask;
    } else if (f.candidates >= 0 && (forced.count == S::kCountMarks ||
                                     f.candidates * kCandidateShare < f.itemCodes)) {
        s.count = S::kCountMarks;
    } else {
        s.count = S::kCountAllCodes;
    }
    if (f.newItemsetChildren < 0) return s;

    // Fill: from the tables each child costs a look-up per rest (and a
    // search when its item also occurs before the rest); a scan costs every
    // word of every rest; item by item pays a walk per child.
    const bool fromTables =
        f.haveTables &&
        (forced.fill == S::kFillAuto
             ? f.tablesFindMatches && f.newItemsetChildren * f.rests < f.restWords
             : forced.fill == S::kFillTables);
    const long long few = !f.severalItemsPerWalk ? kFewChildren
                          : f.wideCompares       ? kFewChildrenWideWalks
                                                 : kFewChildrenSeveralPerWalk;
    const bool byItem = forced.fill == S::kFillAuto ? f.newItemsetChildren <= few
                                                    : forced.fill == S::kFillByItem;
    s.fill = fromTables ? S::kFillTables : byItem ? S::kFillByItem : S::kFillScan;
    return s;
}

bool CpuHasWideCompares() {
#if QUIVREL_WIDE_COMPARES
    // The CPU's answer includes the OS's: AVX2 counts only where the OS
    // saves the 256-bit registers.
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}
