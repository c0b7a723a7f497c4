// Memory accounting of projection buffers: every allocation of a record's
// pattern words, entries or position arrays adds its bytes to n_total_mem
// and every release subtracts the same amount, so that the count is 0 again
// after mining (the driver checks it) and the sampled peak n_max_mem is the
// figure the run reports.  Records are plain C arrays: the recursion hands
// them around by pointer and releases a record's buffers as soon as it has
// been projected or inserted.
//
// Tested by tests/unit/test_projdb_project.cpp (counts back to 0, peak) and
// tests/integration/test_mining_run.cpp (no bytes held after a run).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "projdb/Positions.h"

// An entries array of `slots` slots (null for none), accounted.  Its slots
// are left as they come: StoreEntry writes every field of a slot it fills,
// and nothing reads a slot past a record's m_nSupport.
PROJ_SEQ* ProjWorkspace::AllocEntries(int slots) {
    size_t bytes = sizeof(PROJ_SEQ) * (size_t)slots;
    PROJ_SEQ* entries = (PROJ_SEQ*)checked_alloc(bytes);
    MemAdd(bytes);
    return entries;
}

// A zero-filled array of `count` records, accounted.
PROJ_DB* ProjWorkspace::AllocRecords(int count) {
    size_t bytes = sizeof(PROJ_DB) * (size_t)count;
    PROJ_DB* records = (PROJ_DB*)checked_alloc(bytes);
    std::memset(records, 0, bytes);
    MemAdd(bytes);
    return records;
}

// The pattern-words, entries and position buffers of a record, accounted.
// Each buffer is counted off as it is freed, so a record released before
// is left as it is (a failed growth releases all the records it holds).
void ProjWorkspace::ReleaseBuffers(PROJ_DB* db) {
    if (db->m_nPatLen > 1 && db->m_pnPat != nullptr) {
        MemSub(sizeof(int) * (size_t)db->m_nPatLen);
        free(db->m_pnPat);
        db->m_pnPat = nullptr;
    }
    if (db->m_pPositions != nullptr) {
        MemSub(sizeof(uint32_t) * (size_t)db->m_pPositions[1]);
        free(db->m_pPositions);
        db->m_pPositions = nullptr;
    }
    // A first-level record that was never filled holds no entries.
    if (db->m_pProjSeq == nullptr) return;
    // A first-level record (one-word pattern) has one slot per entry; a
    // deeper record has one slot per supporting parent entry.
    int slots = db->m_nPatLen == 1 ? db->m_nSupport : db->maxSupport;
    MemSub(sizeof(PROJ_SEQ) * (size_t)slots);
    free(db->m_pProjSeq);
    db->m_pProjSeq = nullptr;
}

// Grows the record's position list to hold at least `words` words (its two
// words of use and size included), doubling it at least, so that appending
// costs a constant per word.  A list never reaches 2^31 words: its entries
// are distinct sequences, and each position follows an occurrence of the
// record's last item, at most one per itemset of two words or more, in
// data of at most INT_MAX words; so an index into it fits an entry
// beside kSeveralPositions.  On a failed allocation the list is as it was.
void ProjWorkspace::ReservePositions(PROJ_DB* db, uint64_t words) {
    uint32_t* list = db->m_pPositions;
    const uint64_t held = list != nullptr ? list[1] : 0;
    uint64_t size = std::max<uint64_t>({words, 2 * held, 16});
    if (size >= kSeveralPositions) size = std::max<uint64_t>(words, kSeveralPositions - 1);
    list = (uint32_t*)checked_realloc(list, sizeof(uint32_t) * (size_t)size);
    if (db->m_pPositions == nullptr) list[0] = 2;
    list[1] = (uint32_t)size;
    db->m_pPositions = list;
    MemAdd(sizeof(uint32_t) * (size_t)(size - held));
}

void ProjWorkspace::clean_projcted_db(PROJ_DB* db) {
    SamplePeak();
    ReleaseBuffers(db);
}

void ProjWorkspace::release_projdb_buffers(PROJ_DB* db) {
    ReleaseBuffers(db);
}

void ProjWorkspace::CountLargePattern(int items) {
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
