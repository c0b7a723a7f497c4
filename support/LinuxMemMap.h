// Read-only mapping of the dataset file.  The window always starts at file
// offset 0 and is at most `limit` bytes long; when the file is larger, the
// usable data ends after the last sequence terminator (-2) in the window so
// that no scan meets a sequence cut in two.
#ifndef QUIVREL_LINUXMEMMAP_H
#define QUIVREL_LINUXMEMMAP_H

struct mem_map {
    int CurWnd;             // number of the current window, always 0
    long long FileSize;     // size of the whole file in bytes
    unsigned int MapSize;   // bytes mapped: min(FileSize, limit)
    int* LastAddr;          // just past the last usable word
    int* StartOfMap;        // first word of the data (file offset 0)
    int FileDesc;           // read-only descriptor, open until CloseMemMap
};

// The window limit of a run: 1.5 GiB.
const unsigned int kDatasetWindowLimit = 1610612736u;

// Opens and maps `path`.  Never returns null: a file that cannot be opened or
// mapped, or a window that holds no complete sequence, ends the run with
// status 1 and a message in the error log.
mem_map* CreateMemMap(const char* path, unsigned int limit);
// Unmaps, closes and releases *map, then sets *map to null.  A null map or
// *map does nothing.
void CloseMemMap(mem_map** map);

int* GetStartOfMap(const mem_map* map);
int* GetLastAddrOfMap(const mem_map* map);
long long GetMemMapFileSize(const mem_map* map);
int GetCurWnd(const mem_map* map);

#endif
