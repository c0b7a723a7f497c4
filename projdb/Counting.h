// The counters and fills of a projection step, internal to projdb/.  Each
// works on the current step's rests (StepState.h) and leaves its frequent
// codes with their counts in gFreqIntra/gFreqInter, in code order.
#ifndef QUIVREL_PROJDB_COUNTING_H
#define QUIVREL_PROJDB_COUNTING_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
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

// Calls count(w) for every word w of [first, first + length), four at a
// time.  A rest of four words or more ends with the four words that end it
// as one more group, so some words come twice: a stamped count, which
// counts a code once per rest, is the same either way.
template <class W, class CountWord>
inline void CountEachWord(const W* first, int length, CountWord count) {
    int i = 0;
    for (; i + 4 <= length; i += 4) {
        count(first[i]);
        count(first[i + 1]);
        count(first[i + 2]);
        count(first[i + 3]);
    }
    if (i == length) return;
    if (length >= 4) {
        const W* last = first + length - 4;
        count(last[0]);
        count(last[1]);
        count(last[2]);
        count(last[3]);
    } else {
        for (; i < length; ++i) count(first[i]);
    }
}

// The all-codes counter, rest by rest: CountAllCodes runs it over the noted
// rests, and the in-itemset pass can run it on each rest as it notes it.
// StartAllCodes sets it up for the step, PickAllCodes reads the frequent
// codes off.  Every code of a rest counts into `inter` once per rest (by
// the running stamps); the -1 words count into a spare row after the last
// code's, so the loop has no branch on the data.  The frequent codes come
// out in code order, one of two ways:
// - a step with many words reads each first-level item's row afterwards
//   (no other code can be frequent).  Those rows start the step at 0, and a
//   word counts when its row's stamp is not the rest's; the other rows
//   count the same way but are never read, so they need no reset;
// - a smaller step notes each code as its count reaches the threshold
//   (once per step, as counts only grow within it; the spare row's code is
//   dropped) and sorts those few; its rows restart when their stamp is from
//   an earlier step, so the table needs no clearing.
struct AllCodesCount {
    ITEM_CNT* table = nullptr;  // the workspace's inter rows, and the spare one
    unsigned spare = 0;         // the spare row: the -1 is the largest unsigned
                                // value, and the minimum maps it there
    int base = 0;               // the step's stamp base
    int least = 1;              // LeastFrequentCount of the threshold
    bool byItems = false;       // the first-level items' rows are read afterwards
    int* reachedCodes = nullptr;
    size_t nReached = 0;

    // Counts the words [first, first + length) of the rest stamped `stamp`.
    template <class W>
    void Rest(const W* first, int length, int stamp) {
        ITEM_CNT* const rows = table;
        const unsigned top = spare;
        if (byItems) {
            CountEachWord(first, length, [&](int word) {
                ITEM_CNT& row = rows[std::min((unsigned)word, top)];
                // No row's stamp is above the rest's, so a row not yet
                // counted for the rest has a smaller one.  Unsigned: the
                // rows that are never read may wrap.
                row.m_nCount = (int)((unsigned)row.m_nCount +
                                     (unsigned)((unsigned)row.m_nLastSeq < (unsigned)stamp));
                row.m_nLastSeq = stamp;
            });
        } else {
            CountEachWord(first, length, [&](int word) {
                const unsigned code = std::min((unsigned)word, top);
                if (CountStampedReaches(rows[code], stamp, base, least))
                    reachedCodes[nReached++] = (int)code;
            });
        }
    }
};

#endif
