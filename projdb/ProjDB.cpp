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
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/Global.h"

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

DatasetShape gDatasetShape = {-1, 0, 0};

namespace {

const int kItemsetEnd = -1;
const int kSequenceEnd = -2;

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

// Last word of the run of equal codes that starts at item word w.
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

// Counts `item` once per stamp.
void CountOnce(ITEM_CNT* table, int item, int stamp) {
    if (table[item].m_nLastSeq < stamp) {
        table[item].m_nCount++;
        table[item].m_nLastSeq = stamp;
    }
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
// the word after every occurrence of `item` that its itemset continues.
// Runs are not merged here.  Returns the new number of positions.
int CollectLaterMatches(int* q, int item, int n) {
    for (int* w = q; w[2] != kSequenceEnd; ++w) {
        if (w[0] == item && w[1] != kItemsetEnd) PutPosition(n++, w + 1);
    }
    return n;
}

// First word equal to `item` from `from` to the end of its itemset, leaving
// out the last item of the sequence; null when there is none.
int* FindInItemset(int* from, int item) {
    for (int* w = from; *w != kItemsetEnd && w[2] != kSequenceEnd; ++w) {
        if (*w == item) return w;
    }
    return nullptr;
}

// Appends the n positions in buf_idx as the record's next entry.  A single
// position is held inline, more get an array of their exact size.
void StoreEntry(PROJ_DB* db, int n) {
    PROJ_SEQ* entry = &db->m_pProjSeq[db->m_nSupport++];
    entry->m_nProjCount = n;
    if (n == 1) {
        entry->m_pSeq = buf_idx[0];
    } else {
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
    FILE* log = gpErrFile != nullptr ? gpErrFile : stdout;
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
    fflush(log);
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
    const int* start = GetStartOfMap(pDatasetMemMap);
    const int* end = GetLastAddrOfMap(pDatasetMemMap);

    DatasetShape shape = {-1, 0, 0};
    long long itemWords = 0;   // item words of the current sequence
    int prev = kSequenceEnd;   // the data starts as if after a sequence end
    for (const int* w = start; w < end; ++w) {
        int value = *w;
        long long at = (long long)(w - start);
        if (value >= 0) {
            if (value > itemcount) {
                RejectDataset("Malformed dataset '%s': item code %d at word %lld is above "
                              "the item count %d.\n",
                              path, value, at, itemcount);
            }
            shape.maxItem = std::max(shape.maxItem, value);
            ++itemWords;
        } else if (value == kSequenceEnd) {
            // Either an empty sequence (after another -2 or at the start) or
            // the end of the last itemset.
            if (prev != kItemsetEnd && prev != kSequenceEnd) {
                RejectDataset("Malformed dataset '%s': sequence end -2 at word %lld does not "
                              "follow an itemset end -1.\n",
                              path, at);
            }
            ++shape.sequences;
            shape.maxSeqItemWords = std::max(shape.maxSeqItemWords, itemWords);
            itemWords = 0;
        } else if (value != kItemsetEnd) {
            RejectDataset("Malformed dataset '%s': invalid value %d at word %lld (only item "
                          "codes, -1 and -2 may occur).\n",
                          path, value, at);
        }
        prev = value;
    }
    if (prev != kSequenceEnd) {
        RejectDataset("Malformed dataset '%s': the data does not end with -2 (the last "
                      "sequence is not terminated).\n",
                      path);
    }
    gDatasetShape = shape;
}

}  // namespace

// ---- set-up and tear-down ----

long long InitProjDB(const char* path, int itemcount) {
    return InitProjDBWithLimit(path, itemcount, kDatasetWindowLimit);
}

long long InitProjDBWithLimit(const char* path, int itemcount, unsigned int limit) {
    pDatasetMemMap = CreateMemMap(path, limit);
    ValidateDataset(path, itemcount);

    // The tables need a row for every code that occurs; a code that never
    // occurs can never be frequent at a positive threshold.
    gN_ITEMS = gDatasetShape.maxItem + 1;
    size_t rows = (size_t)gN_ITEMS;
    inter = (ITEM_CNT*)checked_alloc(sizeof(ITEM_CNT) * rows);
    intra = (ITEM_CNT*)checked_alloc(sizeof(ITEM_CNT) * rows);
    inter_freq_idx = (int*)checked_alloc(sizeof(int) * rows);
    intra_freq_idx = (int*)checked_alloc(sizeof(int) * rows);
    return GetMemMapFileSize(pDatasetMemMap);
}

void CloseProjDB() {
    if (inter != nullptr) {
        free(inter);
        inter = nullptr;
    }
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
    CloseMemMap(&pDatasetMemMap);
}

// ---- release of a record's buffers ----

void clean_projcted_db(PROJ_DB* db) {
    SamplePeak();
    ReleaseBuffers(db);
}

void release_projdb_buffers(PROJ_DB* db) {
    ReleaseBuffers(db);
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

PROJ_DB* make_projdb_from_org_dataset(double support, int* count) {
    int* const start = GetStartOfMap(pDatasetMemMap);
    int* const end = GetLastAddrOfMap(pDatasetMemMap);
    *count = 0;

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
    gSUP = (double)((long double)support * (long double)gnCustCount);
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
    if (gnArrLargeCount[1] <= 0) {
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
            StoreEntry(db, n);
        }
    }

    printf(" (%.3f sec)\n", (double)GetTimeDiff(1));
    fflush(stdout);
    n_max_mem = n_total_mem;
    return records;
}

// ---- projection of a projected database ----

namespace {

// Makes the child of `parent` grown by `item`, in the parent's last itemset
// or as a new itemset, with `support` empty entry slots.
void MakeChild(PROJ_DB* child, const PROJ_DB* parent, int item, bool isIntra, int support) {
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

    int items = 0;
    for (int i = 0; i < len; ++i) {
        if (pat[i] != kItemsetEnd) ++items;
    }
    CountLargePattern(items);

    child->maxSupport = support;
    child->m_pProjSeq = AllocEntries(support);
    child->m_nLastSeq = -1;
    child->m_nSupport = 0;
    child->m_nLastItem = item;
    child->NumOfItems = 0;
    child->m_bIsIntra = isIntra;
}

}  // namespace

PROJ_DB* make_projdb_from_projected_db(PROJ_DB* parent, int* count) {
    int* const end = GetLastAddrOfMap(pDatasetMemMap);
    *count = 0;
    std::fill_n(intra, gN_ITEMS, ITEM_CNT{0, 0});
    std::fill_n(inter, gN_ITEMS, ITEM_CNT{0, 0});

    // Counting pass, stamped with the 1-based parent entry: in-itemset
    // extensions after any position within its itemset, new-itemset
    // extensions in the itemsets after the first position's.
    for (int i = 0; i < parent->m_nSupport; ++i) {
        const PROJ_SEQ& entry = parent->m_pProjSeq[i];
        int stamp = i + 1;
        for (int j = 0; j < entry.m_nProjCount; ++j) {
            int* w = EntryPosition(entry, j);
            for (; *w != kItemsetEnd; ++w) {
                w = RunEnd(w);
                CountOnce(intra, *w, stamp);
            }
            // w is on the -1 that ends the position's itemset.
            if (j == 0 && w[1] != kSequenceEnd) {
                for (++w; *w != kSequenceEnd; ++w) {
                    if (*w == kItemsetEnd) continue;
                    w = RunEnd(w);
                    CountOnce(inter, *w, stamp);
                }
            }
        }
    }

    int nIntra = 0;
    int nInter = 0;
    for (int item = 0; item < gN_ITEMS; ++item) {
        if (intra[item].m_nCount >= gSUP) ++nIntra;
        if (inter[item].m_nCount >= gSUP) ++nInter;
    }

    PROJ_DB* children = nullptr;
    if (nIntra + nInter > 0) {
        *count = nIntra + nInter;
        children = AllocRecords(*count);
        std::fill_n(inter_freq_idx, gN_ITEMS, -1);
        std::fill_n(intra_freq_idx, gN_ITEMS, -1);
        // All the children's pattern arrays at once.
        MemAdd(sizeof(int) *
               ((size_t)(parent->m_nPatLen + 1) * (size_t)(nIntra + nInter) + (size_t)nInter));

        // Children in item order, an item's in-itemset child before its
        // new-itemset child.
        int k = 0;
        for (int item = 0; item < gN_ITEMS; ++item) {
            if (intra[item].m_nCount >= gSUP) {
                MakeChild(&children[k], parent, item, true, intra[item].m_nCount);
                intra_freq_idx[item] = k++;
            }
            if (inter[item].m_nCount >= gSUP) {
                MakeChild(&children[k], parent, item, false, inter[item].m_nCount);
                inter_freq_idx[item] = k++;
            }
        }

        // Filling pass: each parent entry gives a child at most one entry.
        for (int i = 0; i < parent->m_nSupport; ++i) {
            const PROJ_SEQ& entry = parent->m_pProjSeq[i];
            int stamp = i + 1;
            for (int j = 0; j < entry.m_nProjCount; ++j) {
                // In-itemset extensions after position j.
                int* w = EntryPosition(entry, j);
                for (; *w != kItemsetEnd; ++w) {
                    int* r = RunEnd(w);
                    w = r;
                    int item = *r;
                    if (IsLastItem(r)) continue;
                    int index = intra_freq_idx[item];
                    if (index < 0) continue;
                    PROJ_DB* child = &children[index];
                    if (child->m_nLastSeq >= stamp) continue;
                    child->m_nLastSeq = stamp;
                    AddDistance(child, r, end);

                    // The first position follows this match; further ones
                    // follow the item in the itemsets of the parent's later
                    // positions, where that itemset goes on after it.
                    int* q = r + 1;
                    PutPosition(0, q);
                    int n = 1;
                    for (int k2 = j; k2 < entry.m_nProjCount; ++k2) {
                        int* from = k2 == j ? q : EntryPosition(entry, k2);
                        int* hit = FindInItemset(from, item);
                        if (hit != nullptr && hit[1] != kItemsetEnd) PutPosition(n++, hit + 1);
                    }
                    StoreEntry(child, n);
                }

                // New-itemset extensions in the itemsets after the first
                // position's; w is on the -1 that ends that itemset.
                if (j == 0 && w[1] != kSequenceEnd) {
                    for (++w; *w != kSequenceEnd; ++w) {
                        if (*w == kItemsetEnd) continue;
                        int* r = RunEnd(w);
                        w = r;
                        int item = *r;
                        if (IsLastItem(r)) continue;
                        int index = inter_freq_idx[item];
                        if (index < 0) continue;
                        PROJ_DB* child = &children[index];
                        if (child->m_nLastSeq >= stamp) continue;
                        child->m_nLastSeq = stamp;
                        AddDistance(child, r, end);

                        int* q = r + 1;
                        PutPosition(0, q);
                        int n = 1;
                        if (r[3] != kSequenceEnd) n = CollectLaterMatches(q, item, n);
                        StoreEntry(child, n);
                    }
                }
            }
        }
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
