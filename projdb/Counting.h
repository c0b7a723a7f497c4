// The counters and fills of a projection step, internal to projdb/.  Each
// works on the current step's rests (StepState.h) and leaves its frequent
// codes with their counts in gFreqIntra/gFreqInter, in code order.
#ifndef QUIVREL_PROJDB_COUNTING_H
#define QUIVREL_PROJDB_COUNTING_H

#include <climits>
#include <cmath>
#include <vector>

#include "projdb/StepState.h"

// Counts `item` once per parent entry (stamp): the row's count restarts
// when its stamp is not above `base` (a stale row of an earlier pass).
// Returns whether the row was stale, i.e. met for the first time in this
// pass.  Written without branches on the data: a code's first count, a
// repeat within one entry and a further entry are all common, and
// unpredictable.  Every stamped count of the projection steps goes through
// here.
inline bool CountStamped(ITEM_CNT& row, int stamp, int base) {
    const int last = row.m_nLastSeq;
    const bool stale = last <= base;
    const int keep = (int)stale - 1;  // all ones unless stale
    row.m_nCount = (row.m_nCount & keep) + (last < stamp);
    row.m_nLastSeq = stamp;
    return stale;
}

// The least whole count that reaches the threshold `sup`, and at least 1
// (every code counted has a count of 1 or more).  A code whose count grows
// to this value has just become frequent.  (A `sup` above every int gives
// INT_MAX, which no count reaches in practice; the frequent codes are
// checked against `sup` itself in the end.)
inline int LeastFrequentCount(double sup) {
    if (!(sup > 1.0)) return 1;
    if (sup >= (double)INT_MAX) return INT_MAX;
    return (int)std::ceil(sup);
}

// The same as CountStamped, also telling whether the row's count has just
// grown to `least` (so each code says so once per pass).
// A row's stamp is never above the current one, so a row not yet counted
// for this entry is one whose stamp differs; a stale row restarts at 1.
inline bool CountStampedReaches(ITEM_CNT& row, int stamp, int base, int least) {
    const int last = row.m_nLastSeq;
    const bool added = last != stamp;
    int count = row.m_nCount + (int)added;
    if (last <= base) count = 1;  // a select, not a branch
    row.m_nCount = count;
    row.m_nLastSeq = stamp;
    return count == least && added;
}

// The same, noting the codes met for the first time in the step.
inline void ProjWorkspace::CountStamped(ITEM_CNT* table, Touched& touched, int item, int stamp) {
    touched.codes[touched.n] = item;
    touched.n += ::CountStamped(table[item], stamp, gStampBase);
}

// The workspace's counters and fills (declared in ProjDB.h):
// - CountInItemset (projdb/InItemsetCount.cpp): in-itemset counts of a step;
//   also notes the rests of the parent's entries and returns their number.
// - CountByTable, CountByMask, CountByMarks, CountAllCodes
//   (projdb/NewItemsetCount.cpp): new-itemset counters.
// - FillInItemsetChildren, FillNewItemsetByScan, FillNewItemsetByItem,
//   FillNewItemsetFromTables (projdb/FillChildren.cpp): the fills.
// - PickFrequent: the frequent codes among those met, in ascending order,
//   with their counts.

#endif
