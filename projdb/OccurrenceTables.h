// Occurrence tables: the ends of the sequences, and for small data the
// offsets of each frequent item's first and last word in every sequence.
// With them a projection step finds a rest's sequence by search instead of
// a walk, counts new-itemset extensions with one vectorized compare per
// rest, and finds most matches without scanning.  Built once on the first
// projection step, read-only afterwards.
//
// Tested by tests/integration/test_bruteforce_closed.cpp (forced table and
// no-table strategies against brute force) and tests/unit/test_projdb_project.cpp.
#ifndef QUIVREL_PROJDB_OCCURRENCETABLES_H
#define QUIVREL_PROJDB_OCCURRENCETABLES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "projdb/StepState.h"

// Tables of the data (Dataset fields) built by the first projection step;
// scratch like the per-item tables, not counted as projection memory.
// - gSeqEnd[k]: word offset of the -2 that ends sequence k (from 0).
// - The last-occurrence table, for small data only: for each sequence k and
//   each frequent item (column gLastColumn[item], -1 for the others), the
//   offset of the item's last word in the sequence from the sequence's first
//   word, 0 when the sequence does not hold it (a word at offset 0 can never
//   stand after a position, so 0 serves for both).  One sequence's columns
//   lie side by side, so the frequent items of a rest are counted with one
//   pass over a short row.  gFirstTable holds, the same way, the offset of
//   each item's first word after the sequence's first word, so that a child
//   entry mostly finds its match at once.
// ProjWorkspace::BuildTables builds the tables on the first projection step
// (the frequent items of the first level fix the columns); later calls do
// nothing.  FreeTables gives them back.

// First element of the ascending range [p, last) that is above `value`.
// The values looked up grow and are mostly near: a few steps one by one,
// then galloping.
inline const int* FirstAbove(const int* p, const int* last, int value) {
    for (int k = 0; k < 4; ++k, ++p) {
        if (p == last || *p > value) return p;
    }
    size_t step = 1;
    const int* lo = p - 1;  // *lo <= value
    while (lo + step < last && lo[step] <= value) {
        lo += step;
        step *= 2;
    }
    const int* hi = lo + step < last ? lo + step : last;
    return std::upper_bound(lo + 1, hi, value);
}

// The sequence (from 0) that holds word offset `from`, by a search of the
// sequence ends from the last one found (entries come in file order), or
// from the first when `from` went back.  (The in-itemset pass tries each
// entry's sequence hint first.)
inline int ProjWorkspace::SearchSequence(int from, const int** cursor, int* prevFrom) const {
    if (from < *prevFrom) *cursor = ds.gSeqEnd;
    *prevFrom = from;
    return FirstAboveIndex(cursor, from);
}

// ProjWorkspace::CountFromTable counts, for every column of the
// last-occurrence table, the rests whose sequence holds the column's item
// after the rest's start.

#endif
