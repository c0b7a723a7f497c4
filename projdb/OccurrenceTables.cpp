// Building, searching and counting through the occurrence tables.
#include "projdb/OccurrenceTables.h"

#include <cstdlib>

#include "projdb/CandidateFrames.h"
#include "support/Global.h"

// The two occurrence tables are built only while together they stay below
// this share of the data's size (or 2 MiB), and when no sequence is longer
// than the 16-bit offsets reach.
const size_t kLastTableShare = 1;
const size_t kLastTableMin = (size_t)2 << 20;
const size_t kTableLanes = 8;

void ProjWorkspace::FreeTables() {
    free(ds.gSeqEnd);
    free(ds.gLastTable);
    free(ds.gFirstTable);
    free(ds.gLastColumn);
    ds.gSeqEnd = nullptr;
    ds.gLastTable = nullptr;
    ds.gFirstTable = nullptr;
    ds.gFillFromTables = false;
    ds.gLastColumn = nullptr;
    ds.gnSeqEnds = 0;
    ds.gnLastColumns = 0;
    ds.gHaveTables = false;
    ds.gFirstLevelItems.clear();
    ResetCandidateFrames();
}

int ProjWorkspace::FirstAboveIndex(const int** cursor, int from) const {
    *cursor = FirstAbove(*cursor, ds.gSeqEnd + ds.gnSeqEnds, from);
    return (int)(*cursor - ds.gSeqEnd);
}

void ProjWorkspace::BuildTables() {
    if (ds.gHaveTables) return;
    ds.gHaveTables = true;
    if (ds.HalfWords) {
        BuildTablesOver(ds.Words<int16_t>(), ds.WordsEnd<int16_t>());
    } else {
        BuildTablesOver(ds.Words<int>(), ds.WordsEnd<int>());
    }
}

template <class W>
void ProjWorkspace::BuildTablesOver(const W* start, const W* end) {
    // The first level has counted the sequences (one per -2); a step that
    // comes without it counts them here.  The data never change, so the
    // fill below meets exactly that many (the bound only guards the array).
    int seqs = ds.gnCustCount;
    if (seqs <= 0) {
        seqs = 0;
        for (const W* w = start; w < end; ++w) seqs += *w == kSequenceEnd;
    }
    ds.gSeqEnd = (int*)checked_alloc(sizeof(int) * (size_t)std::max(seqs, 1));
    ds.gnSeqEnds = 0;
    long long longest = 0;
    const W* seqStart = start;
    for (const W* w = start; w < end; ++w) {
        if (*w == kSequenceEnd) {
            if (ds.gnSeqEnds < seqs) ds.gSeqEnd[ds.gnSeqEnds++] = (int)(w - start);
            longest = std::max(longest, (long long)(w - seqStart));
            seqStart = w + 1;
        }
    }

    const std::vector<int>& frequent = ds.gFirstLevelItems;
    if (frequent.empty() || longest > 65535 || gStrategy.noTables) return;
    // Rows padded to whole vectors of 16-bit lanes; padding cells stay 0.
    const size_t columns = (frequent.size() + kTableLanes - 1) / kTableLanes * kTableLanes;
    size_t cells = columns * (size_t)seqs;
    // (The data's bytes as a file of 32-bit words, whatever the width held.)
    size_t limit = std::max((size_t)(end - start) * sizeof(int) / kLastTableShare, kLastTableMin);
    if (2 * cells * sizeof(uint16_t) > limit) return;
    ds.gLastColumn = (int*)checked_alloc(sizeof(int) * (size_t)ds.gN_ITEMS);
    std::fill_n(ds.gLastColumn, ds.gN_ITEMS, -1);
    for (size_t c = 0; c < frequent.size(); ++c) ds.gLastColumn[frequent[c]] = (int)c;
    ds.gnLastColumns = columns;
    ds.gLastTable = (uint16_t*)checked_alloc(sizeof(uint16_t) * cells);
    ds.gFirstTable = (uint16_t*)checked_alloc(sizeof(uint16_t) * cells);
    std::fill_n(ds.gLastTable, cells, (uint16_t)0);
    std::fill_n(ds.gFirstTable, cells, (uint16_t)0);
    uint16_t* lastRow = ds.gLastTable;
    uint16_t* firstRow = ds.gFirstTable;
    seqStart = start;
    size_t words = 0;   // words of frequent items
    size_t firsts = 0;  // first words of frequent items in their sequence
    for (const W* w = start; w < end; ++w) {
        if (*w >= 0) {
            int column = ds.gLastColumn[*w];
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
    ds.gFillFromTables = firsts * 10 >= words * 9;
}

void ProjWorkspace::CountFromTable(std::vector<uint32_t>& counts) {
    const size_t columns = ds.gnLastColumns;  // a multiple of kTableLanes
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
            const uint16_t* ahead =
                ds.gLastTable + (size_t)gRests[r + kPrefetchAhead].seq * columns;
            PrefetchLine(ahead);
            PrefetchLine(ahead + columns - 1);
        }
        const uint16_t* __restrict row = ds.gLastTable + (size_t)rest.seq * columns;
        const uint16_t from = (uint16_t)rest.fromInSeq;
        for (size_t k = 0; k < columns; ++k) c[k] = (uint16_t)(c[k] + (row[k] > from));
        if (++pending == 65535 || r + 1 == n) {
            for (size_t k = 0; k < columns; ++k) counts[k] += c[k];
            std::fill_n(c, columns, (uint16_t)0);
            pending = 0;
        }
    }
}
