// Set-up and tear-down of the projection module: the dataset is taken into
// memory and checked, the per-item tables are sized to the largest code
// that occurs, and everything is given back at the end (or between two runs
// of one process).  Item codes index the tables directly, so a few huge
// codes are refused up front instead of exhausting the machine.
//
// Tested by tests/unit/test_projdb_init.cpp and the itemcount_* and
// sparse_* end-to-end cases.
#include <algorithm>
#include <cstdlib>

#include <unistd.h>

#include "projdb/OccurrenceTables.h"
#include "projdb/ProjDBSetup.h"
#include "support/Global.h"

// An entry is a position and the sequence hint: two 32-bit words.
static_assert(sizeof(PROJ_SEQ) == 8, "PROJ_SEQ grew");

// Bytes that the per-item tables of the projection steps take per item code,
// all of them together (count rows, index rows, scratch of the steps).
static const size_t kTableBytesPerCode = 2 * sizeof(ITEM_CNT) + 4 * sizeof(int) + 8;

// Item codes index the per-item tables directly, so a dataset whose codes
// are few but large (say a handful around two billion) would need tables of
// billions of rows: the run would exhaust the machine instead of mining.
// Such a dataset is refused before anything is allocated, with the way out.
void ProjWorkspace::RefuseSparseCodes(size_t rows) {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return;
    unsigned long long memory = (unsigned long long)pages * (unsigned long long)pageSize;
    unsigned long long need = (unsigned long long)rows * kTableBytesPerCode;
    if (need <= memory / 4) return;
    LogError(
        "Item codes up to %d need %llu MB of per-item tables, more than a quarter of this "
        "machine's memory; renumber the items densely (quivrel-convert renumber IN.bin "
        "OUT.bin) and mine the renumbered file.\n",
        ds.gDatasetShape.maxItem, need / 1048576);
    FatalExit(-1);
}

long long ProjWorkspace::InitProjDB(const char* path, int itemcount) {
    return InitProjDBWithLimit(path, itemcount, DatasetSnapshotLimit());
}

long long ProjWorkspace::InitProjDBWithLimit(const char* path, int itemcount,
                                             unsigned long long limit) {
    long long size = OpenDataset(path, itemcount, limit);
    AllocateTables();
    return size;
}

long long ProjWorkspace::OpenDataset(const char* path, int itemcount, unsigned long long limit) {
    ownsDataset = true;
    // A dataset that the caller has already put in memory is used as it is.
    if (ds.pDatasetMemMap == nullptr) ds.pDatasetMemMap = CreateMemMap(path, limit);
    ValidateDataset(path, itemcount);
    // The tables need a row for every code that occurs; a code that never
    // occurs can never be frequent at a positive threshold.
    ds.gN_ITEMS = ds.gDatasetShape.maxItem + 1;
    RefuseSparseCodes((size_t)ds.gN_ITEMS);
    FreeTables();
    // Codes below 32768 fit half-width words: the snapshot is rewritten in
    // them (the -1 and -2 stay what they are), which halves the memory the
    // data take and the lines every scan reads.
    ds.HalfWords = !gStrategy.fullWidthWords && ds.gDatasetShape.maxItem <= kMaxHalfWordCode &&
                   HalveMemMapWords(ds.pDatasetMemMap);
    return GetMemMapFileSize(ds.pDatasetMemMap);
}

void ProjWorkspace::AllocateTables() {
    size_t rows = (size_t)ds.gN_ITEMS;
    inter = (ITEM_CNT*)checked_alloc(sizeof(ITEM_CNT) * rows);
    intra = (ITEM_CNT*)checked_alloc(sizeof(ITEM_CNT) * rows);
    inter_freq_idx = (int*)checked_alloc(sizeof(int) * rows);
    intra_freq_idx = (int*)checked_alloc(sizeof(int) * rows);
    // The projection steps rely on stale count rows (stamps not above the
    // stamp base) and on index rows of -1 between steps.
    std::fill_n(inter, rows, ITEM_CNT{0, 0});
    std::fill_n(intra, rows, ITEM_CNT{0, 0});
    std::fill_n(inter_freq_idx, rows, -1);
    std::fill_n(intra_freq_idx, rows, -1);
    gInterHasSpareRow = false;
    gStampBase = 0;
}

void ProjWorkspace::InitOver(const ProjWorkspace& owner) {
    ownsDataset = false;
    gSUP = owner.gSUP;
    gHasContinued = owner.gHasContinued;
    gStrategy = owner.gStrategy;
    gDataStart = owner.gDataStart;
    gDataEnd = owner.gDataEnd;
    statusFile = nullptr;  // the first projection's lines are the owner's
    AllocateTables();
    gMAX_PAT_LEN = owner.gMAX_PAT_LEN;
    // (Null between each release and allocation: a failed allocation ends
    // the run, and the workspace's release must not free the old buffer
    // a second time.)
    free(gnArrLargeCount);
    gnArrLargeCount = nullptr;
    gnArrLargeCount = (int*)checked_alloc(sizeof(int) * (size_t)gMAX_PAT_LEN);
    std::fill_n(gnArrLargeCount, gMAX_PAT_LEN, 0);
    free(buf_idx);
    buf_idx = nullptr;
    gnBufIdxSize = 0;
    const int bufIdxSize = std::max(owner.gnBufIdxSize, 1);
    buf_idx = (void**)checked_alloc(sizeof(void*) * (size_t)bufIdxSize);
    gnBufIdxSize = bufIdxSize;
    std::fill_n(buf_idx, gnBufIdxSize, nullptr);
    n_total_mem = 0;
    n_max_mem = 0;
    StartCandidateFrames(ds.gFirstLevelItems);
}

void ProjWorkspace::AddCountsOf(const ProjWorkspace& other) {
    // The longest length counted there, so that ours grows to hold it.
    int last = 0;
    for (int d = 1; d < other.gMAX_PAT_LEN; d++)
        if (other.gnArrLargeCount[d] != 0) last = d;
    if (last > 0) {
        CountLargePattern(last);
        gnArrLargeCount[last]--;
        for (int d = 1; d <= last; d++) gnArrLargeCount[d] += other.gnArrLargeCount[d];
    }
    n_total_mem += other.n_total_mem;
}

void ProjWorkspace::CloseProjDB() {
    if (inter != nullptr) {
        free(inter);
        inter = nullptr;
    }
    gInterHasSpareRow = false;
    if (intra != nullptr) {
        free(intra);
        intra = nullptr;
    }
    if (inter_freq_idx != nullptr) {
        free(inter_freq_idx);
        inter_freq_idx = nullptr;
    }
    if (intra_freq_idx != nullptr) {
        free(intra_freq_idx);
        intra_freq_idx = nullptr;
    }
    ResetCandidateFrames();
    if (!ownsDataset) return;
    FreeTables();
    CloseMemMap(&ds.pDatasetMemMap);
}

void ProjWorkspace::ReleaseProjDB() {
    CloseProjDB();
    free(gnArrLargeCount);
    gnArrLargeCount = nullptr;
    free(buf_idx);
    buf_idx = nullptr;
    gnBufIdxSize = 0;
    n_total_mem = 0;
    n_max_mem = 0;
    gMAX_PAT_LEN = 30;
    gSUP = 0.0;
    gStampBase = 0;
    gHasContinued = false;
    gDataStart = nullptr;
    gDataEnd = nullptr;
    if (!ownsDataset) return;
    ds.gnCustCount = 0;
    ds.gN_ITEMS = 0;
    ds.HalfWords = false;
    ds.gDatasetShape = DatasetShape();
}
