// The dataset file in memory, read-only, whole.  A file of at most the
// snapshot limit is read into private memory, so that whatever happens to
// the file while it is mined (overwritten in place, truncated, replaced) the
// run sees the data as they were when it started.  A larger file is mapped
// in one piece, shared, under a read lease: another process that opens it
// for writing or truncates it is held back by the kernel while this process,
// told by the lease break, ends the run with a message, so no word changes
// under a live run.  (A truncation would also raise SIGBUS, which the run
// reports, and size and modification time are checked again at the end.)
// Where no lease can be had (another process has the file open for
// writing, the file is not the user's, the file system has none), a file of
// at most the fallback limit is read into private memory after all, and a
// larger one is refused before mining.
#ifndef QUIVREL_LINUXMEMMAP_H
#define QUIVREL_LINUXMEMMAP_H

#include <cstddef>
#include <cstdint>
#include <ctime>

struct mem_map {
    int CurWnd;             // always 0: the data always start at file offset 0
    long long FileSize;     // size of the whole file in bytes
    size_t MapSize;         // bytes of data in memory: the whole file
    size_t HeldSize;        // bytes of memory held for them (rounded up)
    int* LastAddr;          // just past the last whole word
    int* StartOfMap;        // first word of the data (file offset 0)
    int FileDesc;           // read-only descriptor, open until CloseMemMap (-1: none)
    bool Snapshot;          // data read into private memory, not mapped
    bool Leased;            // FileDesc holds a read lease on the file
    long long ModTimeNs;    // modification time when the data were taken
    char* Path;             // the path as given, for messages
    // The data as 16-bit words after HalveMemMapWords (StartOfMap and
    // LastAddr are null then), else null.
    int16_t* HalfStart;
    int16_t* HalfEnd;
    size_t HalfHeld;        // bytes of memory held for them
};

// Files up to this size are read into private memory (lowered further by a
// share of the machine's memory and of the process's limits, see
// DatasetSnapshotLimit); larger ones are mapped.
const unsigned long long kSnapshotLimit = 1610612736ull;  // 1.5 GiB

// The snapshot limit of a run: kSnapshotLimit, a quarter of the physical
// memory or a quarter of the address-space or data limit of the process,
// whichever is least.
unsigned long long DatasetSnapshotLimit();

// The largest file read into private memory when a larger one cannot be
// leased: half of the physical memory or half of the address-space or data
// limit of the process, whichever is least.
unsigned long long DatasetFallbackLimit();

// Opens `path` and takes its data into memory: read into private memory when
// the file is at most `snapshotLimit` bytes, else mapped whole under a read
// lease, else (no lease) read into private memory when it is at most
// DatasetFallbackLimit() bytes.  Never returns null: a file that cannot be
// opened, read, mapped or protected ends the run with status 1 and a
// message in the error log.
mem_map* CreateMemMap(const char* path, unsigned long long snapshotLimit);
// Takes a copy of `count` words that a caller already holds in memory (an
// in-process run given its dataset without a file), into private read-only
// memory like a snapshot; `name` stands for the file in messages.
mem_map* CreateMemMapFromWords(const int* words, size_t count, const char* name);
// Rewrites a snapshot's words as 16-bit words of the same values in the
// front half of its memory and gives the rest back: the caller has checked
// that every word lies in [-32768, 32767].  Returns false and changes
// nothing for a mapped file, whose pages the page cache holds anyway.
bool HalveMemMapWords(mem_map* map);
// Releases the data, closes and frees *map, then sets *map to null.  A null
// map or *map does nothing.
void CloseMemMap(mem_map** map);

// Whether the file of a mapped (not snapshot) dataset has changed since it
// was mapped: its size or modification time differ.  A snapshot never
// changes.
bool MemMapFileChanged(const mem_map* map);

// The 32-bit words (null after HalveMemMapWords).
int* GetStartOfMap(const mem_map* map);
int* GetLastAddrOfMap(const mem_map* map);
long long GetMemMapFileSize(const mem_map* map);
int GetCurWnd(const mem_map* map);

#endif
