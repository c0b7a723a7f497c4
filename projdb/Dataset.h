// The dataset of a run: the file in memory, the facts that its check found
// and the tables built from it by the first projection.  Set up by
// ProjWorkspace::InitProjDB and make_projdb_from_org_dataset (the sequence
// count, the first-level items and, when a record is grown further, the
// occurrence tables); read-only afterwards, so that the deeper steps of
// several workspaces could read it at once.
#ifndef QUIVREL_PROJDB_DATASET_H
#define QUIVREL_PROJDB_DATASET_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/DatasetFormat.h"
#include "support/LinuxMemMap.h"

struct Dataset {
    Dataset() = default;
    ~Dataset() = default;
    Dataset(const Dataset&) = delete;
    Dataset& operator=(const Dataset&) = delete;

    mem_map* pDatasetMemMap = nullptr;  // the mapped dataset
    // The words are held as int16_t (the snapshot rewritten at set-up: every
    // code below 32768), else as int.  Half-width words put a rest in half
    // the cache lines, and the scans compare twice the words at a time.
    bool HalfWords = false;
    // The words of the data, of the width they are held in (W is int16_t
    // exactly when HalfWords).
    template <class W>
    W* Words() const;
    template <class W>
    W* WordsEnd() const;
    DatasetShape gDatasetShape;         // facts gathered by the dataset check
    int gN_ITEMS = 0;                   // rows of every per-item table
    int gnCustCount = 0;                // number of sequences

    // The frequent items of the first-level step, in ascending code order.
    std::vector<int> gFirstLevelItems;

    // Tables of the data built by the first projection step after the first
    // level (see projdb/OccurrenceTables.h); not counted as projection memory.
    int* gSeqEnd = nullptr;  // word offset of the -2 that ends sequence k
    int gnSeqEnds = 0;
    uint16_t* gLastTable = nullptr;
    uint16_t* gFirstTable = nullptr;
    bool gFillFromTables = false;  // children are filled from the tables
    int* gLastColumn = nullptr;    // item -> column of the tables, -1 for none
    size_t gnLastColumns = 0;
    bool gHaveTables = false;
};

template <>
inline int* Dataset::Words<int>() const { return GetStartOfMap(pDatasetMemMap); }
template <>
inline int* Dataset::WordsEnd<int>() const { return GetLastAddrOfMap(pDatasetMemMap); }
template <>
inline int16_t* Dataset::Words<int16_t>() const { return pDatasetMemMap->HalfStart; }
template <>
inline int16_t* Dataset::WordsEnd<int16_t>() const { return pDatasetMemMap->HalfEnd; }

#endif
