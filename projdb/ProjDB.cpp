// Projected databases over the mapped dataset: set-up and validation of the
// dataset, the first projection from the raw data, the projection of a
// projected database by one item, the release of a record's buffers with
// the byte accounting of projection memory, and small debugging dumps.
//
// Every scan below runs over data that InitProjDB has validated: each
// non-empty sequence ends with -1, -2 and the data ends with -2.  So the word
// after an item is an item or -1, the two words after an item exist, and a
// walk towards the end of a sequence always meets its -2.
#include "projdb/ProjDB.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "support/Global.h"

// The sequence hint lives in what would be padding: an entry stays two words.
static_assert(sizeof(PROJ_SEQ) == 2 * sizeof(void*), "PROJ_SEQ grew");

int gN_ITEMS = 0;
mem_map* pDatasetMemMap = nullptr;
ITEM_CNT* inter = nullptr;
ITEM_CNT* intra = nullptr;
int* inter_freq_idx = nullptr;
int* intra_freq_idx = nullptr;
int** buf_idx = nullptr;
int gnBufIdxSize = 0;
int n_total_mem = 0;
int n_max_mem = 0;

int gnCustCount = 0;
double gSUP = 0.0;
int gMAX_PAT_LEN = 30;
int* gnArrLargeCount = nullptr;

DatasetShape gDatasetShape;

namespace {

// Stamp base of the current projection step: the stamps in the count tables
// that are not above it belong to earlier passes.
int gStampBase = 0;

// Whether some itemset of the data holds more than one item (some item is
// followed by another item).
bool gHasContinued = false;

// The way the projection steps count and fill (automatic unless a test
// forces one), and the end of the data for the position fingerprints.
ProjectionStrategy gStrategy;
const int* gDataEnd = nullptr;

// Whether `inter` has got its spare row after the last code (see
// CountAllCodes).
bool gInterHasSpareRow = false;

// The frequent items of the first-level step, in ascending code order.
std::vector<int> gFirstLevelItems;

// Candidate codes for new-itemset extensions, kept per pattern along the
// current path of the recursion (see the projection steps below).  The
// first-level step leaves one frame: the empty pattern with every frequent
// item.
struct CandidateFrame {
    std::vector<int> pattern;  // pattern words of the projected record
    std::vector<int> items;    // its frequent new-itemset extensions
};
std::vector<CandidateFrame> gFrames;
size_t gFrameCount = 0;

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
    gFrameCount = 0;
}

// Offset of the first word of sequence k.
inline int SeqStart(int k) { return k == 0 ? 0 : gSeqEnd[k - 1] + 1; }

// The sequence (from 0) that holds word offset `from`: the entry's hint when
// it is right, else a search of the sequence ends from the last one found
// (entries come in file order), or from the first when `from` went back.
int FirstAboveIndex(const int** cursor, int from);
inline int SequenceOf(int hint, int from, const int** cursor, int* prevFrom) {
    if (gStrategy.ignoreSeqHints) hint = -1;
    if (hint >= 0 && hint < gnSeqEnds && gSeqEnd[hint] > from && SeqStart(hint) <= from)
        return hint;
    if (from < *prevFrom) *cursor = gSeqEnd;
    *prevFrom = from;
    return FirstAboveIndex(cursor, from);
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

// ---- byte accounting of projection memory ----
// The counters are 32-bit; they wrap instead of overflowing.

void MemAdd(size_t bytes) {
    n_total_mem = (int)((uint32_t)n_total_mem + (uint32_t)bytes);
}

void MemSub(size_t bytes) {
    n_total_mem = (int)((uint32_t)n_total_mem - (uint32_t)bytes);
}

void SamplePeak() {
    if (n_max_mem < n_total_mem) n_max_mem = n_total_mem;
}

// ---- reading the data ----

// Last word of the run of equal codes that starts at item word w.  A run is
// one occurrence of its item: a position is always taken after the run's
// last word, so that no scan from a position meets the item again in the
// same itemset.
int* RunEnd(int* w) {
    while (w[1] == w[0]) ++w;
    return w;
}

// An item is the last of its sequence when the word two after it is -2.
bool IsLastItem(const int* r) {
    return r[2] == kSequenceEnd;
}

// Adds the distance from a match to the end of the data to the record's
// NumOfItems, modulo 2^32.
void AddDistance(PROJ_DB* db, const int* r, const int* end) {
    db->NumOfItems = (int)((uint32_t)db->NumOfItems + (uint32_t)(end - r));
}

// Position j of an entry.
int* EntryPosition(const PROJ_SEQ& entry, int j) {
    return entry.m_nProjCount == 1 ? entry.m_pSeq : entry.m_ppSeq[j];
}

// ---- collecting one entry's positions in buf_idx ----

// Stores a position in buf_idx slot `slot`, growing the scratch when the
// slot lies beyond it.
void PutPosition(int slot, int* pos) {
    if (slot >= gnBufIdxSize) {
        int newSize = std::max(slot + 1, gnBufIdxSize * 2);
        buf_idx = (int**)checked_realloc(buf_idx, sizeof(int*) * (size_t)newSize);
        std::fill(buf_idx + gnBufIdxSize, buf_idx + newSize, nullptr);
        gnBufIdxSize = newSize;
    }
    buf_idx[slot] = pos;
}

// Walks from q to the last item of the sequence (not examined) and appends
// the word after every later occurrence of `item` (the last word of its
// run) that its itemset continues.  Returns the new number of positions.
int CollectLaterMatches(int* q, int item, int n) {
    for (int* w = q; w[2] != kSequenceEnd; ++w) {
        if (w[0] != item) continue;
        w = RunEnd(w);
        if (w[1] == kItemsetEnd) {
            if (w[2] == kSequenceEnd) break;  // the run ends the sequence
            continue;
        }
        PutPosition(n++, w + 1);
    }
    return n;
}

// The occurrence of `item` from `from` to the end of its itemset, leaving
// out the last item of the sequence: the last word of its run, or null when
// there is none.
int* FindInItemset(int* from, int item) {
    for (int* w = from; *w != kItemsetEnd && w[2] != kSequenceEnd; ++w) {
        if (*w == item) return RunEnd(w);
    }
    return nullptr;
}

// Appends the n positions in buf_idx as the record's next entry.  A single
// position is held inline, more get an array of their exact size.
// The positions also go into the record's fingerprint.
inline void StoreEntry(PROJ_DB* db, int n, int seq) {
    PROJ_SEQ* entry = &db->m_pProjSeq[db->m_nSupport++];
    entry->m_nProjCount = n;
    entry->m_nSeq = seq;
    if (n == 1) {
        // Most entries: one position, no loop.
        entry->m_pSeq = buf_idx[0];
        db->m_nPosFingerprint += PositionFingerprint((uint64_t)(gDataEnd - buf_idx[0]));
    } else {
        uint64_t fingerprint = 0;
        for (int i = 0; i < n; ++i)
            fingerprint += PositionFingerprint((uint64_t)(gDataEnd - buf_idx[i]));
        db->m_nPosFingerprint += fingerprint;
        size_t bytes = sizeof(int*) * (size_t)n;
        entry->m_ppSeq = (int**)checked_alloc(bytes);
        std::memcpy(entry->m_ppSeq, buf_idx, bytes);
        MemAdd(bytes);
    }
}

// A zero-filled entries array of `slots` slots (null for none), accounted.
PROJ_SEQ* AllocEntries(int slots) {
    size_t bytes = sizeof(PROJ_SEQ) * (size_t)slots;
    PROJ_SEQ* entries = (PROJ_SEQ*)checked_alloc(bytes);
    if (entries != nullptr) std::memset(entries, 0, bytes);
    MemAdd(bytes);
    return entries;
}

// A zero-filled array of `count` records, accounted.
PROJ_DB* AllocRecords(int count) {
    size_t bytes = sizeof(PROJ_DB) * (size_t)count;
    PROJ_DB* records = (PROJ_DB*)checked_alloc(bytes);
    std::memset(records, 0, bytes);
    MemAdd(bytes);
    return records;
}

// The pattern-words, entries and position buffers of a record, accounted.
void ReleaseBuffers(PROJ_DB* db) {
    if (db->m_nPatLen > 1) {
        MemSub(sizeof(int) * (size_t)db->m_nPatLen);
        if (db->m_pnPat != nullptr) {
            free(db->m_pnPat);
            db->m_pnPat = nullptr;
        }
    }
    for (int i = 0; i < db->m_nSupport; ++i) {
        PROJ_SEQ* entry = &db->m_pProjSeq[i];
        if (entry->m_nProjCount > 1) {
            MemSub(sizeof(int*) * (size_t)entry->m_nProjCount);
            if (entry->m_ppSeq != nullptr) {
                free(entry->m_ppSeq);
                entry->m_ppSeq = nullptr;
            }
        }
    }
    // A first-level record (one-word pattern) has one slot per entry; a
    // deeper record has one slot per supporting parent entry.
    int slots = db->m_nPatLen == 1 ? db->m_nSupport : db->maxSupport;
    MemSub(sizeof(PROJ_SEQ) * (size_t)slots);
    if (db->m_pProjSeq != nullptr) {
        free(db->m_pProjSeq);
        db->m_pProjSeq = nullptr;
    }
}

// ---- validation of the dataset ----

[[noreturn]] __attribute__((format(printf, 1, 2))) void RejectDataset(const char* format, ...) {
    static char text[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogError("%s", text);
    FatalExit(1);
}

// One pass over the usable data of the mapped file: rejects a malformed file
// (first fault in file order) and records the shape of a good one.
void ValidateDataset(const char* path, int itemcount) {
    long long size = GetMemMapFileSize(pDatasetMemMap);
    if (size % 4 != 0) {
        RejectDataset("Malformed dataset '%s': size of %lld bytes is not a multiple of 4.\n",
                      path, size);
    }
    // Positions are kept as int word offsets by the projection steps.
    if (size / 4 > (long long)INT_MAX) {
        RejectDataset("Dataset '%s' holds %lld words, more than the %d words that can be "
                      "mined in one run.\n",
                      path, size / 4, INT_MAX);
    }
    const int* start = GetStartOfMap(pDatasetMemMap);
    const int* end = GetLastAddrOfMap(pDatasetMemMap);

    DatasetRules rules;
    rules.maxItem = itemcount;
    rules.ascendingItemsets = true;
    DatasetShape shape;
    const DatasetFault fault = CheckDatasetWords(start, (size_t)(end - start), rules, &shape);
    const long long at = fault.offset;
    switch (fault.kind) {
    case DatasetFault::kNone:
        break;
    case DatasetFault::kItemAboveMax:
        RejectDataset("Malformed dataset '%s': item code %d at word %lld is above "
                      "the item count %d.\n",
                      path, fault.value, at, itemcount);
    case DatasetFault::kItemsetDescending:
        RejectDataset("Malformed dataset '%s': item code %d at word %lld is lower than "
                      "the code %d before it; the items of an itemset must be "
                      "ascending. Rewrite the file with sorted itemsets: "
                      "quivrel-convert totext '%s' | quivrel-convert tobin - OUT.bin\n",
                      path, fault.value, at, fault.previous, path);
    case DatasetFault::kMisplacedSequenceEnd:
        RejectDataset("Malformed dataset '%s': sequence end -2 at word %lld does not "
                      "follow an itemset end -1.\n",
                      path, at);
    case DatasetFault::kInvalidValue:
        RejectDataset("Malformed dataset '%s': invalid value %d at word %lld (only item "
                      "codes, -1 and -2 may occur).\n",
                      path, fault.value, at);
    case DatasetFault::kUnterminated:
        RejectDataset("Malformed dataset '%s': the data does not end with -2 (the last "
                      "sequence is not terminated).\n",
                      path);
    }
    gHasContinued = shape.hasContinued;
    gDatasetShape = shape;
}

}  // namespace

// ---- set-up and tear-down ----

// Bytes that the per-item tables of the projection steps take per item code,
// all of them together (count rows, index rows, scratch of the steps).
static const size_t kTableBytesPerCode = 2 * sizeof(ITEM_CNT) + 4 * sizeof(int) + 8;

// Item codes index the per-item tables directly, so a dataset whose codes
// are few but large (say a handful around two billion) would need tables of
// billions of rows: the run would exhaust the machine instead of mining.
// Such a dataset is refused before anything is allocated, with the way out.
static void RefuseSparseCodes(size_t rows) {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return;
    unsigned long long memory = (unsigned long long)pages * (unsigned long long)pageSize;
    unsigned long long need = (unsigned long long)rows * kTableBytesPerCode;
    if (need <= memory / 4) return;
    LogError("Item codes up to %d need %llu MB of per-item tables, more than a quarter of this "
             "machine's memory; renumber the items densely (quivrel-convert renumber IN.bin "
             "OUT.bin) and mine the renumbered file.\n",
             gDatasetShape.maxItem, need / 1048576);
    FatalExit(-1);
}

long long InitProjDB(const char* path, int itemcount) {
    return InitProjDBWithLimit(path, itemcount, DatasetSnapshotLimit());
}

long long InitProjDBWithLimit(const char* path, int itemcount, unsigned long long limit) {
    pDatasetMemMap = CreateMemMap(path, limit);
    ValidateDataset(path, itemcount);

    // The tables need a row for every code that occurs; a code that never
    // occurs can never be frequent at a positive threshold.
    gN_ITEMS = gDatasetShape.maxItem + 1;
    size_t rows = (size_t)gN_ITEMS;
    RefuseSparseCodes(rows);
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
    FreeTables();
    return GetMemMapFileSize(pDatasetMemMap);
}

void CloseProjDB() {
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
    FreeTables();
    CloseMemMap(&pDatasetMemMap);
}

void ResetProjDB() {
    CloseProjDB();
    free(gnArrLargeCount);
    gnArrLargeCount = nullptr;
    free(buf_idx);
    buf_idx = nullptr;
    gnBufIdxSize = 0;
    n_total_mem = 0;
    n_max_mem = 0;
    gMAX_PAT_LEN = 30;
    gnCustCount = 0;
    gSUP = 0.0;
    gN_ITEMS = 0;
    gDatasetShape = DatasetShape();
}

// ---- release of a record's buffers ----

void clean_projcted_db(PROJ_DB* db) {
    SamplePeak();
    ReleaseBuffers(db);
}

void release_projdb_buffers(PROJ_DB* db) {
    ReleaseBuffers(db);
}

void SetProjectionStrategy(const ProjectionStrategy& strategy) {
    gStrategy = strategy;
}

void CountLargePattern(int items) {
    int size = gnArrLargeCount != nullptr ? gMAX_PAT_LEN : 0;
    if (items + 1 >= size) {
        // Keep a zero counter after the longest pattern: it ends the
        // driver's printout of the counters.
        int newSize = std::max(items + 2, size * 2);
        gnArrLargeCount = (int*)checked_realloc(gnArrLargeCount, sizeof(int) * (size_t)newSize);
        std::fill(gnArrLargeCount + size, gnArrLargeCount + newSize, 0);
        gMAX_PAT_LEN = newSize;
    }
    gnArrLargeCount[items]++;
}

// ---- first projection ----

static PROJ_DB* FirstProjection(double support, const SupportFraction* exact, int* count);

PROJ_DB* make_projdb_from_org_dataset(double support, int* count) {
    return FirstProjection(support, nullptr, count);
}

PROJ_DB* make_projdb_from_org_dataset(const SupportFraction& support, int* count) {
    return FirstProjection(support.approx, &support, count);
}

// `exact`, when given, sets the threshold; else it is support x sequences in
// floating point.
static PROJ_DB* FirstProjection(double support, const SupportFraction* exact, int* count) {
    int* const start = GetStartOfMap(pDatasetMemMap);
    int* const end = GetLastAddrOfMap(pDatasetMemMap);
    gDataEnd = end;
    *count = 0;
    if (gStrategy.generalItemsets) gHasContinued = true;

    printf("\tCounting 1-Item sets ... \n");
    fflush(stdout);
    ReadClock(&pTimer[1]);

    std::fill_n(inter_freq_idx, gN_ITEMS, 0);
    std::fill_n(inter, gN_ITEMS, ITEM_CNT{0, 0});

    // Counting pass: the support of every item (once per sequence), the
    // number of entries its record will get (sequences whose first
    // occurrence of it is not their last item), the most item occurrences
    // in one sequence and the largest position bound of one sequence.
    int seq = 0;
    int maxWords = 0;
    for (int* w = start; w < end; ++w) {  // w ends each round on the -2
        ++seq;
        int occurrences = 0;
        int words = 0;
        for (; *w != kSequenceEnd; ++w) {
            if (*w == kItemsetEnd) {
                ++words;
                continue;
            }
            int* r = RunEnd(w);
            int item = *r;
            ++occurrences;
            if (inter[item].m_nLastSeq < seq) {
                inter[item].m_nCount++;
                inter[item].m_nLastSeq = seq;
                if (!IsLastItem(r)) inter_freq_idx[item]++;
            }
            words += 2;
            w = r;
        }
        gMAX_PAT_LEN = std::max(gMAX_PAT_LEN, occurrences);
        maxWords = std::max(maxWords, words);
    }

    gnCustCount = seq;
    // Supports are whole counts, so count >= ceil(x) exactly when count >= x.
    gSUP = exact != nullptr ? (double)LeastSupportCount(*exact, gnCustCount)
                            : (double)((long double)support * (long double)gnCustCount);
    gMAX_PAT_LEN += 2;

    if (gnArrLargeCount != nullptr) free(gnArrLargeCount);
    gnArrLargeCount = (int*)checked_alloc(sizeof(int) * (size_t)gMAX_PAT_LEN);
    std::fill_n(gnArrLargeCount, gMAX_PAT_LEN, 0);
    if (buf_idx != nullptr) free(buf_idx);
    buf_idx = (int**)checked_alloc(sizeof(int*) * (size_t)maxWords);
    std::fill_n(buf_idx, maxWords, nullptr);
    gnBufIdxSize = maxWords;

    for (int item = 0; item < gN_ITEMS; ++item) {
        if (inter[item].m_nCount >= gSUP) gnArrLargeCount[1]++;
    }
    // From here on the rows of inter hold stamps of this pass: make them
    // stale for the projection steps that follow.
    gStampBase = std::max(gStampBase, seq);
    if (gnArrLargeCount[1] <= 0) {
        std::fill_n(inter_freq_idx, gN_ITEMS, -1);
        n_max_mem = n_total_mem;
        return nullptr;
    }

    ReadClock(&pTimer[1]);
    printf("\tCreating projection DBs ... ");
    fflush(stdout);

    // One record per frequent item in ascending code order; from here on
    // inter_freq_idx maps an item to its record, -1 when not frequent.
    *count = gnArrLargeCount[1];
    PROJ_DB* records = AllocRecords(*count);
    int k = 0;
    for (int item = 0; item < gN_ITEMS; ++item) {
        if (inter[item].m_nCount >= gSUP) {
            PROJ_DB* db = &records[k];
            db->m_nPatLen = 1;
            db->m_nPatItem = item;
            db->maxSupport = inter[item].m_nCount;
            db->m_nLastItem = item;
            db->m_nLastSeq = -1;
            db->m_nSupport = 0;
            db->NumOfItems = 0;
            db->m_bIsIntra = false;
            db->m_pProjSeq = AllocEntries(inter_freq_idx[item]);
            inter_freq_idx[item] = k++;
        } else {
            inter_freq_idx[item] = -1;
        }
    }

    // Filling pass: each sequence gives a frequent item's record one entry,
    // made at the item's first occurrence that is not the sequence's last
    // item.  The entry's first position follows that occurrence; further
    // positions follow later occurrences that their itemset continues.
    seq = 0;
    for (int* w = start; w < end; ++w) {
        ++seq;
        for (; *w != kSequenceEnd; ++w) {
            if (*w == kItemsetEnd) continue;
            int* r = RunEnd(w);
            w = r;
            int item = *r;
            if (IsLastItem(r)) continue;
            int index = inter_freq_idx[item];
            if (index < 0) continue;
            PROJ_DB* db = &records[index];
            if (db->m_nLastSeq >= seq) continue;
            db->m_nLastSeq = seq;

            int* q = r + 1;
            PutPosition(0, q);
            AddDistance(db, r, end);
            int n = 1;
            if (r[3] != kSequenceEnd) n = CollectLaterMatches(q, item, n);
            StoreEntry(db, n, seq - 1);
        }
    }

    // Between steps every index row is -1.
    for (int i = 0; i < *count; ++i) inter_freq_idx[records[i].m_nLastItem] = -1;

    // No pattern can grow by an item that is not frequent on its own.
    gFirstLevelItems.clear();
    for (int i = 0; i < *count; ++i) gFirstLevelItems.push_back(records[i].m_nLastItem);
    if (gFrames.empty()) gFrames.emplace_back();
    gFrames[0].pattern.clear();
    gFrames[0].items = gFirstLevelItems;
    gFrameCount = 1;


    printf(" (%.3f sec)\n", (double)GetTimeDiff(1));
    fflush(stdout);
    n_max_mem = n_total_mem;
    return records;
}

// ---- projection of a projected database ----
//
// A step does work only for the item codes that the parent's entries hold,
// never for the whole code range:
// - the count tables are stamped with a run-wide running stamp (the base of
//   the step plus the 1-based parent entry), so a row whose stamp is not
//   above the step's base is stale, counts as 0 and is reset on first touch
//   instead of by clearing the tables;
// - the codes counted for the first time in a step are collected (in a
//   list, sorted afterwards, or as bits that are walked in code order), and
//   the frequent ones among them give the children in code order;
// - the index tables hold -1 between steps; a step sets the rows of its
//   frequent codes and puts -1 back into those rows when it ends.
//
// New-itemset extensions are counted by scanning the rest of every entry's
// sequence after the first position's itemset, or, where the data is small
// enough for the last-occurrence table, from the table: an item is in a rest
// when its last word in the sequence lies after the rest's start.  Only the
// frequent items have columns, and no other item can be a frequent
// extension.  The scans have no branch on the data: with few candidate
// codes each rest ORs the bits of its words into a mask, else every code is
// counted (the -1 words into a spare row).  The children of new-itemset extensions are filled by one scan
// of each rest when there are many, or item by item when there are few.

namespace {

// The entries of a step lie far apart in the data, in file order: each
// pass asks for the data of the entry this far ahead before it needs it.
const int kPrefetchAhead = 8;

inline void PrefetchEntry(const PROJ_SEQ& entry) {
    __builtin_prefetch(entry.m_nProjCount == 1 ? (const void*)entry.m_pSeq
                                               : (const void*)entry.m_ppSeq);
}

// The frequent codes of the current step with their counts.
std::vector<int> gFreqIntra;
std::vector<int> gFreqInter;
std::vector<int> gFreqIntraCount;
std::vector<int> gFreqInterCount;

// Scratch of FillNewItemset for one rest: the children matched (in file
// order of their matches), the further positions found for them, and the
// positions grouped by match; gMatchOfChild maps a matched child to its
// match (valid while the child's stamp is the rest's).
struct Match {
    int child;
    int* r;     // the match: last word of the first run of the child's item
    int count;  // its further positions, then a slot index while grouping
};
struct Pending {
    int match;
    int* position;
};
std::vector<Match> gMatches;
std::vector<Pending> gPending;
std::vector<int*> gGrouped;
std::vector<int> gMatchOfChild;

// The rest after the first position's itemset of each parent entry that has
// one: the entry, the word offset of the -1 that ends the first position's
// itemset, and the sequence (from 0).
struct Rest {
    int entry;
    int from;
    int seq;
    int fromInSeq;  // `from` counted from the sequence's first word
};
std::vector<Rest> gRests;

// The rests of the current step are gRests[0 .. gnRests - 1]; the vector
// keeps its size between steps.
size_t gnRests = 0;
struct RestRange {
    const Rest* first;
    const Rest* last;
    const Rest* begin() const { return first; }
    const Rest* end() const { return last; }
    size_t size() const { return (size_t)(last - first); }
    const Rest& operator[](size_t r) const { return first[r]; }
};
inline RestRange Rests() { return RestRange{gRests.data(), gRests.data() + gnRests}; }

inline void AddRest(size_t r, int entry, int from, int seq) {
    Rest& rest = gRests[r];
    rest.entry = entry;
    rest.from = from;
    rest.seq = seq;
    rest.fromInSeq = from - SeqStart(seq);
}

inline void PrefetchRest(const int* start, size_t r) {
    if (r + kPrefetchAhead < gnRests) __builtin_prefetch(start + gRests[r + kPrefetchAhead].from);
}


// Up to this many new-itemset children are filled item by item, more by one
// scan of each rest.
const size_t kFewChildren = 3;

// A step with more than one parent entry per this many item codes clears the
// whole in-itemset count table and walks all codes instead of noting the
// codes it meets.
const long long kWholeTableFactor = 8;

// The candidates of a step are marked and the others skipped while they are
// fewer than one code in this many.
const size_t kCandidateShare = 4;

// Look-ups in the last-occurrence table that cost about as much as one
// scanned word (a row is compared a vector at a time).
const long long kTableLookupsPerWord = 4;

// The codes that one count table met for the first time in the step: a
// buffer with room for every code (each is noted once per step).
struct Touched {
    std::vector<int> codes;
    size_t n = 0;
};
Touched gTouchedIntra;
Touched gTouchedInter;

// Counts `item` once per parent entry (stamp) and notes the codes that the
// step meets for the first time.  Written without branches on the data: a
// code's first count, a repeat within one entry and a further entry are all
// common, and unpredictable.
inline void CountStamped(ITEM_CNT* table, Touched& touched, int item, int stamp) {
    ITEM_CNT& row = table[item];
    const int last = row.m_nLastSeq;
    const bool stale = last <= gStampBase;  // not yet met in this step
    touched.codes[touched.n] = item;
    touched.n += stale;
    const int keep = (int)stale - 1;  // all ones unless stale
    row.m_nCount = (row.m_nCount & keep) + (last < stamp);
    row.m_nLastSeq = stamp;
}

// Puts the frequent codes among those met into `freq`, in ascending order,
// and their counts into `counts`.
void PickFrequent(const ITEM_CNT* table, const Touched& touched, std::vector<int>& freq,
                  std::vector<int>& counts) {
    freq.clear();
    for (size_t i = 0; i < touched.n; ++i) {
        int item = touched.codes[i];
        if (table[item].m_nCount >= gSUP) freq.push_back(item);
    }
    std::sort(freq.begin(), freq.end());
    counts.clear();
    for (int item : freq) counts.push_back(table[item].m_nCount);
}

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

int FirstAboveIndex(const int** cursor, int from) {
    *cursor = FirstAbove(*cursor, gSeqEnd + gnSeqEnds, from);
    return (int)(*cursor - gSeqEnd);
}

// Makes the child of `parent` grown by `item`, in the parent's last itemset
// or as a new itemset, with `support` empty entry slots.  `items` is the
// child's number of items.
void MakeChild(PROJ_DB* child, const PROJ_DB* parent, int item, bool isIntra, int support,
               int items) {
    int parentLen = parent->m_nPatLen;
    int len = parentLen + (isIntra ? 1 : 2);
    int* pat = (int*)checked_alloc(sizeof(int) * (size_t)len);
    if (parentLen == 1) {
        pat[0] = parent->m_nPatItem;
    } else {
        std::memcpy(pat, parent->m_pnPat, sizeof(int) * (size_t)parentLen);
    }
    if (!isIntra) pat[len - 2] = kItemsetEnd;
    pat[len - 1] = item;
    child->m_nPatLen = len;
    child->m_pnPat = pat;
    CountLargePattern(items);

    child->maxSupport = support;
    child->m_pProjSeq = AllocEntries(support);
    child->m_nLastSeq = -1;
    child->m_nSupport = 0;
    child->m_nLastItem = item;
    child->NumOfItems = 0;
    child->m_bIsIntra = isIntra;
}

// Number of items (words that are not -1) of a record's pattern.
int PatternItems(const PROJ_DB* db) {
    if (db->m_nPatLen == 1) return 1;
    int items = 0;
    for (int i = 0; i < db->m_nPatLen; ++i) {
        if (db->m_pnPat[i] != kItemsetEnd) ++items;
    }
    return items;
}

// In-itemset extensions after position j of a parent entry: each frequent
// item that stands after the position within its itemset gives its child an
// entry (once per parent entry).  The first position follows the match;
// further ones follow the item in the itemsets of the parent's later
// positions, where that itemset goes on after it.
void FillInItemset(PROJ_DB* children, const PROJ_SEQ& entry, int j, int stamp, const int* end) {
    for (int* w = EntryPosition(entry, j); *w != kItemsetEnd; ++w) {
        int* r = RunEnd(w);
        w = r;
        int item = *r;
        int index = intra_freq_idx[item];
        if (index < 0 || IsLastItem(r)) continue;
        PROJ_DB* child = &children[index];
        if (child->m_nLastSeq >= stamp) continue;
        child->m_nLastSeq = stamp;
        AddDistance(child, r, end);

        int* q = r + 1;
        PutPosition(0, q);
        int n = 1;
        for (int k = j; k < entry.m_nProjCount; ++k) {
            int* from = k == j ? q : EntryPosition(entry, k);
            int* hit = FindInItemset(from, item);
            if (hit != nullptr && hit[1] != kItemsetEnd) PutPosition(n++, hit + 1);
        }
        StoreEntry(child, n, entry.m_nSeq);
    }
}

// New-itemset extensions in one rest, by scanning it: the first occurrence
// of each frequent item that is not the sequence's last item gives its child
// an entry.
//
// An entry's further positions follow the later occurrences of its item that
// their itemset continues (the next word is an item); they are collected for
// all children in the same walk.  Data with one item per itemset has no such
// word.
void FillNewItemset(PROJ_DB* children, int* start, const Rest& rest, const int* end) {
    int* w = start + rest.from;
    const int stamp = rest.entry + 1;

    if (!gHasContinued) {
        // One item per itemset: no runs, and an entry has a single position.
        for (++w; *w != kSequenceEnd; ++w) {
            int item = *w;
            if (item < 0) continue;
            int index = inter_freq_idx[item];
            if (index < 0 || IsLastItem(w)) continue;
            PROJ_DB* child = &children[index];
            if (child->m_nLastSeq >= stamp) continue;
            child->m_nLastSeq = stamp;
            AddDistance(child, w, end);
            PutPosition(0, w + 1);
            StoreEntry(child, 1, rest.seq);
        }
        return;
    }

    // One walk: the first occurrence of a child's item (the last word of its
    // first run) is the child's match; every later occurrence (again the
    // last word of its run) that its itemset continues gives that child a
    // further position.  The positions come out in file order and are then
    // grouped by match with a counting pass.
    gMatches.clear();
    gPending.clear();
    for (++w; *w != kSequenceEnd; ++w) {
        const int item = *w;
        if (item < 0) continue;
        const int index = inter_freq_idx[item];
        if (index < 0) continue;
        PROJ_DB* child = &children[index];
        if (child->m_nLastSeq != stamp) {
            int* r = RunEnd(w);
            w = r;  // the rest of the first run lies before the match
            if (IsLastItem(r)) continue;
            child->m_nLastSeq = stamp;
            AddDistance(child, r, end);
            gMatchOfChild[index] = (int)gMatches.size();
            gMatches.push_back(Match{index, r, 0});
        } else {
            w = RunEnd(w);
            if (w[1] < 0) continue;
            int m = gMatchOfChild[index];
            gPending.push_back(Pending{m, w + 1});
            gMatches[m].count++;
        }
    }
    if (gMatches.empty()) return;

    int placed = 0;
    for (Match& match : gMatches) {
        int count = match.count;
        match.count = placed;  // now the first slot of the match's positions
        placed += count;
    }
    gGrouped.resize(gPending.size());
    for (const Pending& p : gPending) gGrouped[gMatches[p.match].count++] = p.position;
    int from = 0;
    for (const Match& match : gMatches) {
        // match.count is now one past the match's last slot.
        PutPosition(0, match.r + 1);
        int n = 1;
        for (int k = from; k < match.count; ++k) PutPosition(n++, gGrouped[k]);
        from = match.count;
        StoreEntry(&children[match.child], n, rest.seq);
    }
}

// New-itemset child of `item` filled item by item: in each rest, the first
// occurrence of the item (the last word of its run) gives the entry unless
// it is the sequence's last item, and the later words of the item whose
// itemset goes on give the further positions.  With the last-occurrence
// table, rests without the item are skipped at once and the walk for further
// positions ends at the item's last word.
void FillNewItemsetByItem(PROJ_DB* child, int item, int* start, const int* end) {
    const uint16_t* lastColumn = nullptr;
    if (gLastTable != nullptr && gLastColumn[item] >= 0) lastColumn = gLastTable + gLastColumn[item];
    for (const Rest& rest : Rests()) {
        int* seqStart = start + SeqStart(rest.seq);
        int* seqEnd = start + gSeqEnd[rest.seq];
        int* lastWord = seqEnd;
        int* w = start + rest.from + 1;
        if (lastColumn != nullptr) {
            const size_t cell = (size_t)rest.seq * gnLastColumns;
            int lastInSeq = lastColumn[cell];
            if (lastInSeq <= rest.fromInSeq) continue;
            lastWord = seqStart + lastInSeq;
        }
        while (w < lastWord && *w != item) ++w;
        if (*w != item) continue;
        int* r = RunEnd(w);
        if (IsLastItem(r)) continue;
        child->m_nLastSeq = rest.entry + 1;
        AddDistance(child, r, end);

        PutPosition(0, r + 1);
        int n = 1;
        if (gHasContinued) {
            for (int* v = r + 1; v <= lastWord && *v != kSequenceEnd; ++v) {
                if (*v != item) continue;
                v = RunEnd(v);
                if (v[1] >= 0) PutPosition(n++, v + 1);
            }
        }
        StoreEntry(child, n, rest.seq);
    }
}

std::vector<uint16_t> gTableCounts16;

// Marks of the candidate codes of the current step (0 between steps).
std::vector<char> gIsCandidate;

// Bit per code (and one for the -1 words) of the codes that CountAllCodes
// met in the current step; all 0 between steps.
std::vector<uint64_t> gSeenCodes;

// Counts every code of every rest into `inter`, once per rest (by the
// running stamps, so the table needs no clearing), and notes each code met
// in gSeenCodes.  The -1 words count into a spare row and a spare bit after
// the last code's, so the loop has no branch on the data.  The frequent
// codes come out in code order by walking the bits of the codes met.
void CountAllCodes(const int* start) {
    const unsigned spare = (unsigned)gN_ITEMS;
    if (!gInterHasSpareRow) {
        // Added here rather than at set-up, which keeps the table's size
        // there (and in its failure message) one row per code.
        inter = (ITEM_CNT*)checked_realloc(inter, sizeof(ITEM_CNT) * ((size_t)spare + 1));
        inter[spare] = ITEM_CNT{0, 0};
        gInterHasSpareRow = true;
    }
    if (gSeenCodes.size() < spare / 64 + 1) gSeenCodes.resize(spare / 64 + 1, 0);
    uint64_t* const seen = gSeenCodes.data();
    ITEM_CNT* const table = inter;
    const int base = gStampBase;
    for (size_t r = 0; r < gnRests; ++r) {
        PrefetchRest(start, r);
        const Rest& rest = gRests[r];
        const int stamp = base + rest.entry + 1;
        const int* first = start + rest.from + 1;
        const int length = gSeqEnd[rest.seq] - rest.from - 1;  // up to the -2
        for (int i = 0; i < length; ++i) {
            // The -1 is the largest unsigned value: the minimum maps it to
            // the spare row.
            const unsigned code = std::min((unsigned)first[i], spare);
            ITEM_CNT& row = table[code];
            const int last = row.m_nLastSeq;
            const int keep = -(int)(last > base);  // all ones unless stale
            row.m_nCount = (row.m_nCount & keep) + (last < stamp);
            row.m_nLastSeq = stamp;
            seen[code / 64] |= (uint64_t)1 << (code % 64);
        }
    }
    gFreqInter.clear();
    gFreqInterCount.clear();
    seen[spare / 64] &= ~((uint64_t)1 << (spare % 64));
    for (size_t k = 0; k <= spare / 64; ++k) {
        for (uint64_t bits = seen[k]; bits != 0; bits &= bits - 1) {
            const unsigned code = (unsigned)(k * 64) + (unsigned)__builtin_ctzll(bits);
            if (table[code].m_nCount >= gSUP) {
                gFreqInter.push_back((int)code);
                gFreqInterCount.push_back(table[code].m_nCount);
            }
        }
        seen[k] = 0;
    }
}

// Up to this many candidates are counted with a mask per rest: bit c + 1
// stands for candidate c, bit 0 for every other word.
const size_t kMaskCandidates = 63;

// The bit number of each code for CountByMask, 0 for the codes that are not
// candidates and for the -1 (gMaskBit.data() + 1 is indexed by the word, so
// the -1 reads slot 0); all 0 between steps.
std::vector<uint8_t> gMaskBit;

// Counts the rests that hold each of the (at most kMaskCandidates)
// candidates.  One pass per rest without branches on the data: each word
// ORs its bit into the rest's mask.  The frequent candidates go into
// gFreqInter (in the candidates' order, which is code order) with their
// counts.
void CountByMask(const std::vector<int>& candidates, const int* start) {
    gFreqInter.clear();
    gFreqInterCount.clear();
    if (candidates.empty()) return;
    if (gMaskBit.size() < (size_t)gN_ITEMS + 1) gMaskBit.resize((size_t)gN_ITEMS + 1, 0);
    const uint8_t* bitOf = gMaskBit.data() + 1;
    for (size_t c = 0; c < candidates.size(); ++c) gMaskBit[(size_t)candidates[c] + 1] = (uint8_t)(c + 1);
    int counts[kMaskCandidates + 1] = {};
    for (size_t r = 0; r < gnRests; ++r) {
        PrefetchRest(start, r);
        const Rest& rest = gRests[r];
        const int* first = start + rest.from + 1;
        const int length = gSeqEnd[rest.seq] - rest.from - 1;  // up to the -2
        uint64_t mask = 0;
        for (int i = 0; i < length; ++i) mask |= (uint64_t)1 << bitOf[first[i]];
        for (mask &= ~(uint64_t)1; mask != 0; mask &= mask - 1) counts[__builtin_ctzll(mask)]++;
    }
    for (int item : candidates) gMaskBit[(size_t)item + 1] = 0;
    for (size_t c = 0; c < candidates.size(); ++c) {
        if (counts[c + 1] >= gSUP) {
            gFreqInter.push_back(candidates[c]);
            gFreqInterCount.push_back(counts[c + 1]);
        }
    }
}

// The pattern words of a record's parent: without its last item, and
// without the -1 before it when that item began an itemset.
void ParentPattern(const PROJ_DB* db, const int** words, int* len) {
    if (db->m_nPatLen <= 1) {
        *words = nullptr;
        *len = 0;
        return;
    }
    int n = db->m_nPatLen - 1;
    if (db->m_pnPat[n - 1] == kItemsetEnd) --n;
    *words = db->m_pnPat;
    *len = n;
}

// The codes that can be frequent new-itemset extensions of `db`: those of
// its parent's pattern, found on the stack (frames of finished steps above
// it are dropped).  Null when the parent's step is not known.
const std::vector<int>* InterCandidates(const PROJ_DB* db) {
    const int* words;
    int len;
    ParentPattern(db, &words, &len);
    while (gFrameCount > 0) {
        const CandidateFrame& f = gFrames[gFrameCount - 1];
        if ((int)f.pattern.size() == len && std::equal(f.pattern.begin(), f.pattern.end(), words))
            return &f.items;
        --gFrameCount;
    }
    return nullptr;
}

// Keeps the frequent new-itemset extensions of the pattern just projected
// for the steps of its children.
void PushCandidates(const PROJ_DB* db, const std::vector<int>& items) {
    if (gFrameCount == gFrames.size()) gFrames.emplace_back();
    CandidateFrame& f = gFrames[gFrameCount++];
    if (db->m_nPatLen == 1) {
        f.pattern.assign(1, db->m_nPatItem);
    } else {
        f.pattern.assign(db->m_pnPat, db->m_pnPat + db->m_nPatLen);
    }
    f.items = items;
}


std::vector<int> gChildColumn;
std::vector<PROJ_DB*> gChildRecord;

// New-itemset children filled from the two occurrence tables, rest by rest
// so that a sequence's rows are read once for all children: a child's item
// is in the rest when its last word lies after the rest's start; its first
// match after the start is its first word in the sequence when that lies
// after the start too, else it is searched for.  The match (the last word of
// its run) gives the entry unless it is the sequence's last item; later
// words of the item up to its last word, where their itemset goes on, give
// the further positions.  A child's entries still follow the rests in order.
void FillNewItemsetFromTables(PROJ_DB* children, int* start, const int* end) {
    const size_t columns = gnLastColumns;
    const size_t nChildren = gFreqInter.size();
    gChildColumn.resize(nChildren);
    gChildRecord.resize(nChildren);
    for (size_t c = 0; c < nChildren; ++c) {
        gChildColumn[c] = gLastColumn[gFreqInter[c]];
        gChildRecord[c] = &children[inter_freq_idx[gFreqInter[c]]];
    }
    for (size_t r = 0; r < gnRests; ++r) {
        const Rest& rest = gRests[r];
        if (r + kPrefetchAhead < gnRests) {
            size_t ahead = (size_t)gRests[r + kPrefetchAhead].seq * columns;
            __builtin_prefetch(gLastTable + ahead);
            __builtin_prefetch(gFirstTable + ahead);
            __builtin_prefetch(start + gRests[r + kPrefetchAhead].from);
        }
        const uint16_t* lastRow = gLastTable + (size_t)rest.seq * columns;
        const uint16_t* firstRow = gFirstTable + (size_t)rest.seq * columns;
        int* seqStart = start + (rest.from - rest.fromInSeq);
        for (size_t c = 0; c < nChildren; ++c) {
            const int column = gChildColumn[c];
            const int lastInSeq = lastRow[column];
            if (lastInSeq <= rest.fromInSeq) continue;
            const int item = gFreqInter[c];
            const int firstInSeq = firstRow[column];
            int* w;
            if (firstInSeq > rest.fromInSeq) {
                w = seqStart + firstInSeq;
            } else {
                w = start + rest.from + 1;
                while (*w != item) ++w;
            }
            int* match = RunEnd(w);
            if (IsLastItem(match)) continue;
            PROJ_DB* child = gChildRecord[c];
            child->m_nLastSeq = rest.entry + 1;
            AddDistance(child, match, end);

            PutPosition(0, match + 1);
            int n = 1;
            if (gHasContinued) {
                for (int* v = match + 1, *lastWord = seqStart + lastInSeq; v <= lastWord; ++v) {
                    if (*v != item) continue;
                    v = RunEnd(v);
                    if (v[1] >= 0) PutPosition(n++, v + 1);
                }
            }
            StoreEntry(child, n, rest.seq);
        }
    }
}


// Counts, for every column of the last-occurrence table, the rests whose
// sequence holds the column's item after the rest's start.  The inner loop
// compares one short row with one bound and vectorizes.
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

std::vector<uint32_t> gTableCounts;


}  // namespace

PROJ_DB* make_projdb_from_projected_db(PROJ_DB* parent, int* count) {
    int* const start = GetStartOfMap(pDatasetMemMap);
    int* const end = GetLastAddrOfMap(pDatasetMemMap);
    gDataEnd = end;
    *count = 0;
    BuildTables();

    // Stamps of this step are gStampBase + 1 .. gStampBase + m_nSupport;
    // before they could overflow, the tables are cleared and start over.
    if (gStampBase > INT_MAX - parent->m_nSupport - 1) {
        std::fill_n(intra, gN_ITEMS, ITEM_CNT{0, 0});
        std::fill_n(inter, gN_ITEMS, ITEM_CNT{0, 0});
        gStampBase = 0;
    }
    for (Touched* t : {&gTouchedIntra, &gTouchedInter}) {
        // Room for every code, and one more for the store of a code that is
        // not counted as met.
        if (t->codes.size() < (size_t)gN_ITEMS + 1) t->codes.resize((size_t)gN_ITEMS + 1);
        t->n = 0;
    }
    // Room for a rest per entry; trimmed to the rests found below.  (Filled
    // field by field: a whole-record store would be read back too early.)
    if (gRests.size() < (size_t)parent->m_nSupport) gRests.resize((size_t)parent->m_nSupport);
    size_t nRests = 0;

    // In-itemset counts, stamped per parent entry: the items after any
    // position within its itemset.  A run of equal codes needs no merging
    // here: the stamp counts a code once per entry anyway.  On the way, the
    // rest after the first position's itemset of every entry is noted.
    // A step with many entries meets most codes anyway: then the whole table
    // is cleared and every code looked at, as for the new-itemset counts.
    const bool wholeIntra = gStrategy.wholeIntra != 0
                                ? gStrategy.wholeIntra > 0
                                : (long long)parent->m_nSupport * kWholeTableFactor >= gN_ITEMS;
    if (wholeIntra) std::fill_n(intra, gN_ITEMS, ITEM_CNT{0, 0});
    const int* seqEnd = gSeqEnd;
    int prevFrom = 0;
    // With one item per itemset no item extends an itemset: every position
    // is the -1 that ends its itemset, every entry has one, and the rests
    // follow from the positions and the sequence ends without reading data.
    for (int i = 0; !gHasContinued && i < parent->m_nSupport; ++i) {
        const PROJ_SEQ& entry = parent->m_pProjSeq[i];
        int from = (int)(EntryPosition(entry, 0) - start);
        int seq = SequenceOf(entry.m_nSeq, from, &seqEnd, &prevFrom);
        if (gSeqEnd[seq] == from + 1) continue;  // the position's itemset ends the sequence
        AddRest(nRests++, i, from, seq);
    }
    for (int i = 0; gHasContinued && i < parent->m_nSupport; ++i) {
        const PROJ_SEQ& entry = parent->m_pProjSeq[i];
        int stamp = gStampBase + i + 1;
        if (i + kPrefetchAhead < parent->m_nSupport) PrefetchEntry(parent->m_pProjSeq[i + kPrefetchAhead]);
        for (int j = 0; j < entry.m_nProjCount; ++j) {
            int* w = EntryPosition(entry, j);
            if (wholeIntra) {
                for (; *w != kItemsetEnd; ++w) {
                    ITEM_CNT& row = intra[*w];
                    if (row.m_nLastSeq < stamp) {
                        row.m_nCount++;
                        row.m_nLastSeq = stamp;
                    }
                }
            } else {
                for (; *w != kItemsetEnd; ++w) CountStamped(intra, gTouchedIntra, *w, stamp);
            }
            if (j == 0 && w[1] != kSequenceEnd) {
                // w is on the -1 that ends the first position's itemset.
                int from = (int)(w - start);
                int seq = SequenceOf(entry.m_nSeq, from, &seqEnd, &prevFrom);
                AddRest(nRests++, i, from, seq);
            }
        }
    }
    gnRests = nRests;
    if (wholeIntra) {
        // No code outside the first level's frequent ones can be frequent.
        gFreqIntra.clear();
        gFreqIntraCount.clear();
        auto pick = [](int item) {
            if (intra[item].m_nCount >= gSUP) {
                gFreqIntra.push_back(item);
                gFreqIntraCount.push_back(intra[item].m_nCount);
            }
        };
        if (!gFirstLevelItems.empty()) {
            for (int item : gFirstLevelItems) pick(item);
        } else {
            for (int item = 0; item < gN_ITEMS; ++item) pick(item);
        }
    } else {
        PickFrequent(intra, gTouchedIntra, gFreqIntra, gFreqIntraCount);
    }

    // New-itemset counts: through the last-occurrence table when few items
    // can still be frequent, else by scanning every rest.
    long long restWords = 0;
    for (const Rest& rest : Rests()) restWords += gSeqEnd[rest.seq] - rest.from;
    const std::vector<int>* candidates = nullptr;
    const ProjectionStrategy::Count forced = gStrategy.count;
    const bool byTable =
        gLastTable != nullptr &&
        (forced == ProjectionStrategy::kCountAuto
             ? (long long)gnLastColumns * (long long)gnRests < restWords * kTableLookupsPerWord
             : forced == ProjectionStrategy::kCountTable);
    const bool anyCandidates = forced == ProjectionStrategy::kCountAuto ||
                               forced == ProjectionStrategy::kCountMask ||
                               forced == ProjectionStrategy::kCountMarks;
    if (byTable) {
        CountFromTable(gTableCounts);
        gFreqInter.clear();
        gFreqInterCount.clear();
        for (size_t k = 0; k < gFirstLevelItems.size(); ++k) {
            if (gTableCounts[k] >= gSUP) {
                gFreqInter.push_back(gFirstLevelItems[k]);
                gFreqInterCount.push_back((int)gTableCounts[k]);
            }
        }
    } else if (anyCandidates && (candidates = InterCandidates(parent)) != nullptr &&
               candidates->size() <= kMaskCandidates &&
               forced != ProjectionStrategy::kCountMarks) {
        // Only the candidates are counted, each with a bit of a word-sized
        // mask: a rest's mask is the OR of the bits of its words, and each
        // candidate in it counts once.
        CountByMask(*candidates, start);
    } else if (candidates != nullptr && (forced == ProjectionStrategy::kCountMarks ||
                                         candidates->size() * kCandidateShare < (size_t)gN_ITEMS)) {
        // Only the candidates are counted: no other code can be frequent.
        if (gIsCandidate.size() < (size_t)gN_ITEMS) gIsCandidate.resize((size_t)gN_ITEMS, 0);
        for (int item : *candidates) gIsCandidate[item] = 1;
        for (size_t r = 0; r < gnRests; ++r) {
            PrefetchRest(start, r);
            const Rest& rest = gRests[r];
            int stamp = gStampBase + rest.entry + 1;
            for (int* w = start + rest.from + 1; *w != kSequenceEnd; ++w) {
                if (*w >= 0 && gIsCandidate[*w]) CountStamped(inter, gTouchedInter, *w, stamp);
            }
        }
        for (int item : *candidates) gIsCandidate[item] = 0;
        PickFrequent(inter, gTouchedInter, gFreqInter, gFreqInterCount);
    } else {
        // Every code of every rest is counted, the frequent ones are picked
        // in code order from the codes met.
        CountAllCodes(start);
    }
    gStampBase += parent->m_nSupport;

    const size_t nIntra = gFreqIntra.size();
    const size_t nInter = gFreqInter.size();
    PROJ_DB* children = nullptr;
    if (nIntra + nInter > 0) {
        *count = (int)(nIntra + nInter);
        children = AllocRecords(*count);
        if (gMatchOfChild.size() < (size_t)*count) gMatchOfChild.resize((size_t)*count);
        // All the children's pattern arrays at once.
        MemAdd(sizeof(int) * ((size_t)(parent->m_nPatLen + 1) * (nIntra + nInter) + nInter));

        // Children in item order, an item's in-itemset child before its
        // new-itemset child: a merge of the two sorted lists.
        const int items = PatternItems(parent) + 1;
        size_t a = 0, b = 0;
        int k = 0;
        while (a < nIntra || b < nInter) {
            if (b == nInter || (a < nIntra && gFreqIntra[a] <= gFreqInter[b])) {
                int item = gFreqIntra[a];
                MakeChild(&children[k], parent, item, true, gFreqIntraCount[a++], items);
                intra_freq_idx[item] = k++;
            } else {
                int item = gFreqInter[b];
                MakeChild(&children[k], parent, item, false, gFreqInterCount[b++], items);
                inter_freq_idx[item] = k++;
            }
        }

        // Filling: each parent entry gives a child at most one entry, and a
        // child's entries follow the parent's entries in order.
        if (nIntra > 0) {
            for (int i = 0; i < parent->m_nSupport; ++i) {
                const PROJ_SEQ& entry = parent->m_pProjSeq[i];
                for (int j = 0; j < entry.m_nProjCount; ++j)
                    FillInItemset(children, entry, j, i + 1, end);
            }
        }
        // From the tables each child costs a look-up per rest (and a search
        // when its item also occurs before the rest); a scan costs every
        // word of every rest.
        const ProjectionStrategy::Fill fill = gStrategy.fill;
        const bool fromTables =
            gLastTable != nullptr &&
            (fill == ProjectionStrategy::kFillAuto
                 ? gFillFromTables && (long long)nInter * (long long)gnRests < restWords
                 : fill == ProjectionStrategy::kFillTables);
        const bool byItem = fill == ProjectionStrategy::kFillAuto
                                ? nInter <= kFewChildren
                                : fill == ProjectionStrategy::kFillByItem;
        if (nInter > 0 && fromTables) {
            FillNewItemsetFromTables(children, start, end);
        } else if (nInter > 0 && byItem) {
            for (int item : gFreqInter)
                FillNewItemsetByItem(&children[inter_freq_idx[item]], item, start, end);
        } else if (nInter > 0) {
            for (size_t r = 0; r < gnRests; ++r) {
                PrefetchRest(start, r);
                FillNewItemset(children, start, gRests[r], end);
            }
        }

        for (int item : gFreqIntra) intra_freq_idx[item] = -1;
        for (int item : gFreqInter) inter_freq_idx[item] = -1;
        PushCandidates(parent, gFreqInter);
    }

    // The peak sample covers the parent and all its children.
    clean_projcted_db(parent);
    return children;
}

// ---- debugging aids ----

void Test() {
    const int* start = GetStartOfMap(pDatasetMemMap);
    const int* end = GetLastAddrOfMap(pDatasetMemMap);
    FILE* out = file_open("Test.txt", "w");

    int records = 0;
    int itemsets = 0;
    int items = 0;
    for (const int* w = start; w < end; ++w) {
        if (*w >= 0) {
            fprintf(out, " %d ", *w);
            ++items;
        } else if (*w == kItemsetEnd) {
            fprintf(out, " | ");
            ++itemsets;
        } else {
            fprintf(out, "\n");
            ++records;
        }
    }
    fprintf(out, "Number of records = %d\n", records);
    fprintf(out, "Number of ItemSets = %d\n", itemsets);
    fprintf(out, "Number of Items = %d\n", items);
    // An average over nothing shows as 0.
    fprintf(out, "Average number of ItemSets in a recored = %d\n",
            records != 0 ? itemsets / records : 0);
    fprintf(out, "Average number of Items in an itemset = %d\n",
            itemsets != 0 ? items / itemsets : 0);
    fclose(out);
    FatalExit(0);
}

void PrintProjDBs(PROJ_DB* records, int count) {
    printf("\nProjected databases:\n");
    if (count <= 0) return;

    const PROJ_DB* db = &records[0];
    printf("Proj. DB. for (");
    if (db->m_nPatLen == 1) {
        printf("%d", db->m_nPatItem);
    } else if (db->m_pnPat != nullptr) {
        for (int i = 0; i < db->m_nPatLen; ++i) {
            int word = db->m_pnPat[i];
            if (word == kItemsetEnd) {
                printf(")");
            } else if (i == 0) {
                printf("%d", word);
            } else if (db->m_pnPat[i - 1] == kItemsetEnd) {
                printf(" (%d", word);
            } else {
                printf(" %d", word);
            }
        }
    }
    printf("\n ");
    printf("NumOfItems = %d m_nSupport= %d  maxSupport= %d totalmem= %d maxmem= %d\n",
           db->NumOfItems, db->m_nSupport, db->maxSupport, n_total_mem, n_max_mem);
}

int OutputPattern(int* pattern, int length) {
    int items = 0;
    for (int i = 0; i < length; ++i) {
        if (pattern[i] != kItemsetEnd) ++items;
    }
    CountLargePattern(items);
    return 1;
}
