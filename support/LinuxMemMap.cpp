// The dataset file in memory: a private snapshot, or a whole shared mapping.
//
// Tested by tests/unit/test_support.cpp and the end-to-end mapped_dataset_*
// and dataset_changed_during_run cases.
#include "support/LinuxMemMap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/Global.h"
#include "support/RunSignals.h"

// The least of the physical memory and the process's address-space and
// data limits, each divided by `share`.
static unsigned long long MemoryShare(unsigned long long share) {
    unsigned long long limit = ~0ull;
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        limit = std::min(limit, (unsigned long long)pages * (unsigned long long)pageSize / share);
    struct rlimit rl;
    if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        limit = std::min(limit, (unsigned long long)rl.rlim_cur / share);
    if (getrlimit(RLIMIT_DATA, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        limit = std::min(limit, (unsigned long long)rl.rlim_cur / share);
    return limit;
}

unsigned long long DatasetSnapshotLimit() {
    return std::min(kSnapshotLimit, MemoryShare(4));
}

unsigned long long DatasetFallbackLimit() {
    return MemoryShare(2);
}

static long long ModTimeNs(const struct stat& st) {
    return (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

// Ends the run for a file that cannot be taken into memory: the message, the
// system's reason, status 1.
[[noreturn]] static void FailView(mem_map* map, int err) {
    LogError("Failed to create view of memory map-file.\n");
    errno = err;
    ReportError();
    close(map->FileDesc);
    free(map->Path);
    free(map);
    FatalExit(1);
}

// Reads the whole file into anonymous private memory.  A file that ends
// before its size said has changed under the run.
// A snapshot of some megabytes is held in 2 MiB aligned memory marked for
// huge pages: the scans jump all over the data, and with 4 KiB pages the address
// translations cost more than the page-cache mapping, whose pages the kernel
// maps in batches.
static const size_t kHugePage = (size_t)2 << 20;

static void* AllocSnapshot(size_t size, size_t* held) {
    if (size < 2 * kHugePage) {
        // Small data: few translations to save, and a huge page would only
        // add the clearing of memory that is never used.
        *held = size;
        return mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* raw = mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return MAP_FAILED;
    // Keep the aligned part only.
    uintptr_t at = (uintptr_t)raw;
    uintptr_t aligned = (at + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > at) munmap(raw, aligned - at);
    size_t tail = (at + rounded + kHugePage) - (aligned + rounded);
    if (tail > 0) munmap((void*)(aligned + rounded), tail);
    madvise((void*)aligned, rounded, MADV_HUGEPAGE);
    *held = rounded;
    return (void*)aligned;
}

static void ReadSnapshot(mem_map* map) {
    void* start = AllocSnapshot(map->MapSize, &map->HeldSize);
    if (start == MAP_FAILED) {
        // The data are counted as an allocation of their size.
        int err = errno;
        close(map->FileDesc);
        free(map->Path);
        size_t size = map->MapSize;
        free(map);
        errno = err;
        OutOfMemory(size);
    }
    char* bytes = (char*)start;
    size_t done = 0;
    while (done < map->MapSize) {
        ssize_t n = pread(map->FileDesc, bytes + done, map->MapSize - done, (off_t)done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : 0;
            munmap(start, map->HeldSize);
            if (err != 0) FailView(map, err);
            ReportDatasetChanged(map->Path);
            close(map->FileDesc);
            free(map->Path);
            free(map);
            FatalExit(1);
        }
        done += (size_t)n;
    }
    mprotect(start, map->HeldSize, PROT_READ);
    map->StartOfMap = (int*)start;
    // A process that had the file open for writing may have written to it
    // while it was read: such a copy mixes old and new data.
    struct stat after;
    if (fstat(map->FileDesc, &after) != 0 || (long long)after.st_size != map->FileSize ||
        ModTimeNs(after) != map->ModTimeNs) {
        munmap(start, map->HeldSize);
        ReportDatasetChanged(map->Path);
        close(map->FileDesc);
        free(map->Path);
        free(map);
        FatalExit(1);
    }
}

// Takes a read lease on the dataset's descriptor, its break handler set
// first.  Returns 0, or the reason (errno) the lease was refused.  A file
// changed between the first look at it and the lease ends the run.
static int TakeReadLease(mem_map* map) {
    SetDatasetForSignals(map->Path);
    SetDatasetLeaseForSignals(map->FileDesc);
    if (fcntl(map->FileDesc, F_SETLEASE, F_RDLCK) != 0) {
        int err = errno;
        SetDatasetLeaseForSignals(-1);  // no lease, no break to wait for
        SetDatasetForSignals(nullptr);
        return err;
    }
    map->Leased = true;
    struct stat st;
    if (fstat(map->FileDesc, &st) != 0 || (long long)st.st_size != map->FileSize ||
        ModTimeNs(st) != map->ModTimeNs) {
        ReportDatasetChanged(map->Path);
        CloseMemMap(&map);
        FatalExit(1);
    }
    return 0;
}

// Ends the run for a file too large to copy that cannot be leased either:
// mapped without a lease, an in-place overwrite could feed the scans any
// words at all.
[[noreturn]] static void RefuseUnprotected(mem_map* map, int leaseErr) {
    LogError("Dataset '%s' (%lld bytes) is too large to copy into memory and cannot be protected "
             "from changes during the run (file lease refused: %s).\n"
             "Mine a copy that no other process has open for writing, owned by the user who runs "
             "quivrel.\n",
             map->Path, map->FileSize, strerror(leaseErr));
    CloseMemMap(&map);
    FatalExit(1);
}

mem_map* CreateMemMap(const char* path, unsigned long long snapshotLimit) {
    mem_map* map = (mem_map*)checked_alloc(sizeof(mem_map));
    memset(map, 0, sizeof *map);
    map->FileDesc = open(path, O_RDONLY | O_CLOEXEC);
    if (map->FileDesc < 0) {
        int err = errno;
        LogError("Failed to open memory file '%s'.\n", path);
        errno = err;
        ReportError();
        free(map);
        FatalExit(1);
    }
    map->Path = strdup(path);
    if (map->Path == nullptr) OutOfMemory(strlen(path) + 1);
    map->CurWnd = 0;
    struct stat st;
    if (fstat(map->FileDesc, &st) != 0) FailView(map, errno);
    // A directory opens read-only like a file: say what it is rather than
    // what the mapping of its size would say.
    if (S_ISDIR(st.st_mode)) FailView(map, EISDIR);
    // Only regular files have a size to take in (a pipe reads as empty).
    map->FileSize = S_ISREG(st.st_mode) ? (long long)st.st_size : 0;
    map->ModTimeNs = ModTimeNs(st);
    if (map->FileSize == 0) FailView(map, EINVAL);  // nothing to map
    if ((unsigned long long)map->FileSize > (unsigned long long)SIZE_MAX) FailView(map, EFBIG);
    map->MapSize = (size_t)map->FileSize;

    if ((unsigned long long)map->FileSize <= snapshotLimit) {
        map->Snapshot = true;
        ReadSnapshot(map);
    } else if (int leaseErr = TakeReadLease(map)) {
        // Unprotected, the file is read whole or not at all.
        if ((unsigned long long)map->FileSize > DatasetFallbackLimit())
            RefuseUnprotected(map, leaseErr);
        map->Snapshot = true;
        ReadSnapshot(map);
    } else {
        void* start = mmap(nullptr, map->MapSize, PROT_READ, MAP_SHARED, map->FileDesc, 0);
        if (start == MAP_FAILED) {
            int err = errno;
            CloseMemMap(&map);  // drops the lease and its handler
            errno = err;
            LogError("Failed to create view of memory map-file.\n");
            ReportError();
            FatalExit(1);
        }
        map->StartOfMap = (int*)start;
        map->HeldSize = map->MapSize;
    }
    // A trailing part of a word (a size that is not a multiple of 4) is not
    // data; the dataset check rejects it.
    map->LastAddr = map->StartOfMap + map->FileSize / 4;
    return map;
}

bool MemMapFileChanged(const mem_map* map) {
    if (map == nullptr || map->Snapshot) return false;
    // The file held open is the one mapped: a new file renamed over its
    // name leaves the mapped data as they were.
    struct stat held;
    if (fstat(map->FileDesc, &held) != 0) return true;
    return (long long)held.st_size != map->FileSize || ModTimeNs(held) != map->ModTimeNs;
}

mem_map* CreateMemMapFromWords(const int* words, size_t count, const char* name) {
    mem_map* map = (mem_map*)checked_alloc(sizeof(mem_map));
    memset(map, 0, sizeof *map);
    map->FileDesc = -1;
    map->Snapshot = true;  // private memory: nothing can change it
    map->Path = strdup(name);
    if (map->Path == nullptr) OutOfMemory(strlen(name) + 1);
    map->FileSize = (long long)(count * sizeof(int));
    map->MapSize = count * sizeof(int);
    if (count > 0) {
        void* start = AllocSnapshot(map->MapSize, &map->HeldSize);
        if (start == MAP_FAILED) {
            free(map->Path);
            free(map);
            OutOfMemory(count * sizeof(int));
        }
        memcpy(start, words, map->MapSize);
        mprotect(start, map->HeldSize, PROT_READ);
        map->StartOfMap = (int*)start;
    }
    map->LastAddr = map->StartOfMap + count;
    return map;
}

// The 16-bit words are written over the front half of the snapshot, in
// place: fresh memory would cost the host's first touch of every page
// again.  Word i goes to bytes 2i, 2i + 1, which lie before every word not
// yet read; a block of words is copied out first all the same, so that no
// reordering of the loads and stores can matter.  The back half is given
// back, in whole huge pages where the snapshot has them.
bool HalveMemMapWords(mem_map* map) {
    if (!map->Snapshot || map->StartOfMap == nullptr) return false;
    char* const base = (char*)map->StartOfMap;
    if (mprotect(base, map->HeldSize, PROT_READ | PROT_WRITE) != 0) return false;
    const size_t count = (size_t)(map->LastAddr - map->StartOfMap);
    int16_t* const half = (int16_t*)base;
    const size_t kBlock = 2048;
    int block[kBlock];
    for (size_t at = 0; at < count; at += kBlock) {
        const size_t n = std::min(kBlock, count - at);
        memcpy(block, base + at * sizeof(int), n * sizeof(int));
        for (size_t i = 0; i < n; ++i) half[at + i] = (int16_t)block[i];
    }
    const size_t unit = map->HeldSize >= 2 * kHugePage ? kHugePage : (size_t)sysconf(_SC_PAGESIZE);
    const size_t held =
        std::min(std::max((count * sizeof(int16_t) + unit - 1) / unit * unit, unit), map->HeldSize);
    if (held < map->HeldSize) munmap(base + held, map->HeldSize - held);
    mprotect(base, held, PROT_READ);
    map->StartOfMap = nullptr;
    map->LastAddr = nullptr;
    map->HeldSize = 0;
    map->HalfStart = half;
    map->HalfEnd = half + count;
    map->HalfHeld = held;
    return true;
}

void CloseMemMap(mem_map** map) {
    if (map == nullptr) return;
    if (*map != nullptr) {
        if ((*map)->StartOfMap != nullptr) munmap((*map)->StartOfMap, (*map)->HeldSize);
        if ((*map)->HalfStart != nullptr) munmap((*map)->HalfStart, (*map)->HalfHeld);
        if (!(*map)->Snapshot) SetDatasetForSignals(nullptr);
        // The lease goes with the last reference to the open file: the
        // mapping's is gone, this is the descriptor's.  Only then may a
        // lease break no longer end the run.
        if ((*map)->FileDesc >= 0) close((*map)->FileDesc);
        if ((*map)->Leased) SetDatasetLeaseForSignals(-1);
        free((*map)->Path);
        free(*map);
        *map = nullptr;
    }
}

int* GetStartOfMap(const mem_map* map) { return map->StartOfMap; }
int* GetLastAddrOfMap(const mem_map* map) { return map->LastAddr; }
long long GetMemMapFileSize(const mem_map* map) { return map->FileSize; }
int GetCurWnd(const mem_map* map) { return map->CurWnd; }
