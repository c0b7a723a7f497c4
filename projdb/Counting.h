// The counters and fills of a projection step, internal to projdb/.  Each
// works on the current step's rests (StepState.h) and leaves its frequent
// codes with their counts in gFreqIntra/gFreqInter, in code order.
#ifndef QUIVREL_PROJDB_COUNTING_H
#define QUIVREL_PROJDB_COUNTING_H

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

// The same, noting the codes met for the first time in the step.
inline void CountStamped(ITEM_CNT* table, Touched& touched, int item, int stamp) {
    touched.codes[touched.n] = item;
    touched.n += CountStamped(table[item], stamp, gStampBase);
}

// In-itemset counts of a step (projdb/InItemsetCount.cpp); also notes the
// rests of the parent's entries.  Returns the number of rests.
size_t CountInItemset(const PROJ_DB* parent, int* start, bool wholeIntra);

// New-itemset counters (projdb/NewItemsetCount.cpp).
void CountByTable();
void CountByMask(const std::vector<int>& candidates, const int* start);
void CountByMarks(const std::vector<int>& candidates, const int* start);
void CountAllCodes(const int* start);
// The frequent codes among those met, in ascending order, with their counts.
void PickFrequent(const ITEM_CNT* table, const Touched& touched, std::vector<int>& freq,
                  std::vector<int>& counts);

// Fills (projdb/FillChildren.cpp).
void FillInItemsetChildren(PROJ_DB* children, const PROJ_DB* parent, const int* end);
void FillNewItemsetByScan(PROJ_DB* children, int* start, const int* end);
void FillNewItemsetByItem(PROJ_DB* child, int item, int* start, const int* end);
void FillNewItemsetFromTables(PROJ_DB* children, int* start, const int* end);

#endif
