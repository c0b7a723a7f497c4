// Building, searching and counting through the occurrence tables.
#include "projdb/OccurrenceTables.h"

#include <cstdlib>

#include "projdb/CandidateFrames.h"
#include "support/Global.h"

// Tables of the data built by the first projection step; scratch like the
// per-item tables, not counted as projection memory.
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
int* gSeqEnd = nullptr;
int gnSeqEnds = 0;
uint16_t* gLastTable = nullptr;
uint16_t* gFirstTable = nullptr;
// Whether children are filled from the tables: when most items occur once
// in their sequence, a first word after the rest's start is the match.
bool gFillFromTables = false;
int* gLastColumn = nullptr;
size_t gnLastColumns = 0;
bool gHaveTables = false;

// The two occurrence tables are built only while together they stay below
// this share of the data's size (or 2 MiB), and when no sequence is longer
// than the 16-bit offsets reach.
const size_t kLastTableShare = 1;
const size_t kLastTableMin = (size_t)2 << 20;
const size_t kTableLanes = 8;

void FreeTables() {
    free(gSeqEnd);
    free(gLastTable);
    free(gFirstTable);
    free(gLastColumn);
    gSeqEnd = nullptr;
    gLastTable = nullptr;
    gFirstTable = nullptr;
    gFillFromTables = false;
    gLastColumn = nullptr;
    gnSeqEnds = 0;
    gnLastColumns = 0;
    gHaveTables = false;
    gFirstLevelItems.clear();
    ResetCandidateFrames();
}

int FirstAboveIndex(const int** cursor, int from) {
    *cursor = FirstAbove(*cursor, gSeqEnd + gnSeqEnds, from);
    return (int)(*cursor - gSeqEnd);
}

void BuildTables() {
    if (gHaveTables) return;
    gHaveTables = true;
    const int* start = GetStartOfMap(pDatasetMemMap);
    const int* end = GetLastAddrOfMap(pDatasetMemMap);
    int seqs = 0;
    long long longest = 0;
    const int* seqStart = start;
    for (const int* w = start; w < end; ++w) {
        if (*w == kSequenceEnd) {
            ++seqs;
            longest = std::max(longest, (long long)(w - seqStart));
            seqStart = w + 1;
        }
    }
    gSeqEnd = (int*)checked_alloc(sizeof(int) * (size_t)seqs);
    gnSeqEnds = 0;
    for (const int* w = start; w < end; ++w) {
        if (*w == kSequenceEnd) gSeqEnd[gnSeqEnds++] = (int)(w - start);
    }

    const std::vector<int>& frequent = gFirstLevelItems;
    if (frequent.empty() || longest > 65535 || gStrategy.noTables) return;
    // Rows padded to whole vectors of 16-bit lanes; padding cells stay 0.
    const size_t columns = (frequent.size() + kTableLanes - 1) / kTableLanes * kTableLanes;
    size_t cells = columns * (size_t)seqs;
    size_t limit = std::max((size_t)(end - start) * sizeof(int) / kLastTableShare, kLastTableMin);
    if (2 * cells * sizeof(uint16_t) > limit) return;
    gLastColumn = (int*)checked_alloc(sizeof(int) * (size_t)gN_ITEMS);
    std::fill_n(gLastColumn, gN_ITEMS, -1);
    for (size_t c = 0; c < frequent.size(); ++c) gLastColumn[frequent[c]] = (int)c;
    gnLastColumns = columns;
    gLastTable = (uint16_t*)checked_alloc(sizeof(uint16_t) * cells);
    gFirstTable = (uint16_t*)checked_alloc(sizeof(uint16_t) * cells);
    std::fill_n(gLastTable, cells, (uint16_t)0);
    std::fill_n(gFirstTable, cells, (uint16_t)0);
    uint16_t* lastRow = gLastTable;
    uint16_t* firstRow = gFirstTable;
    seqStart = start;
    size_t words = 0;   // words of frequent items
    size_t firsts = 0;  // first words of frequent items in their sequence
    for (const int* w = start; w < end; ++w) {
        if (*w >= 0) {
            int column = gLastColumn[*w];
            if (column >= 0) {
                uint16_t at = (uint16_t)(w - seqStart);
                if (lastRow[column] == 0 && (at != 0 || firstRow[column] == 0)) {
                    firstRow[column] = at;  // the first word
                    ++firsts;
                }
                lastRow[column] = at;
                ++words;
            }
        } else if (*w == kSequenceEnd) {
            lastRow += columns;
            firstRow += columns;
            seqStart = w + 1;
        }
    }
    gFillFromTables = firsts * 10 >= words * 9;
}

// Sums of one batch of up to 65535 rests, in 16-bit lanes.
static std::vector<uint16_t> gTableCounts16;

void CountFromTable(std::vector<uint32_t>& counts) {
    const size_t columns = gnLastColumns;  // a multiple of kTableLanes
    counts.assign(columns, 0);
    // Counts of up to 65535 rests fit 16 bits, which keeps the vectors
    // narrow; they are added into `counts` before they could overflow.
    gTableCounts16.assign(columns, 0);
    uint16_t* __restrict c = gTableCounts16.data();
    const size_t n = gnRests;
    size_t pending = 0;
    for (size_t r = 0; r < n; ++r) {
        const Rest& rest = gRests[r];
        if (r + kPrefetchAhead < n) {
            const uint16_t* ahead = gLastTable + (size_t)gRests[r + kPrefetchAhead].seq * columns;
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + columns - 1);
        }
        const uint16_t* __restrict row = gLastTable + (size_t)rest.seq * columns;
        const uint16_t from = (uint16_t)rest.fromInSeq;
        for (size_t k = 0; k < columns; ++k) c[k] = (uint16_t)(c[k] + (row[k] > from));
        if (++pending == 65535 || r + 1 == n) {
            for (size_t k = 0; k < columns; ++k) counts[k] += c[k];
            std::fill_n(c, columns, (uint16_t)0);
            pending = 0;
        }
    }
}
