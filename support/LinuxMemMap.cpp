// Read-only mapping of the dataset file (one window from offset 0).
#include "support/LinuxMemMap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "support/Global.h"

// Messages go to the error log; before it is open (only in tests), to stdout.
static FILE* MapErrorStream() {
    return gpErrFile != nullptr ? gpErrFile : stdout;
}

mem_map* CreateMemMap(const char* path, unsigned int limit) {
    mem_map* map = (mem_map*)checked_alloc(sizeof(mem_map));

    map->FileDesc = open(path, O_RDONLY);
    if (map->FileDesc < 0) {
        int err = errno;
        fprintf(MapErrorStream(), "Failed to open memory file '%s'.\n", path);
        errno = err;
        ReportError();
        free(map);
        FatalExit(1);
    }
    map->CurWnd = 0;
    off_t size = lseek(map->FileDesc, 0, SEEK_END);
    lseek(map->FileDesc, 0, SEEK_SET);
    map->FileSize = size < 0 ? 0 : (long long)size;
    map->MapSize = map->FileSize <= (long long)limit ? (unsigned int)map->FileSize : limit;

    void* start = mmap(nullptr, map->MapSize, PROT_READ, MAP_SHARED, map->FileDesc, 0);
    if (map->MapSize == 0 || start == MAP_FAILED) {
        // A mapping of 0 bytes fails too: an empty file ends here.
        int err = map->MapSize == 0 ? EINVAL : errno;
        fprintf(MapErrorStream(), "Failed to create view of memory map-file.\n");
        errno = err;
        ReportError();
        close(map->FileDesc);
        free(map);
        FatalExit(1);
    }
    map->StartOfMap = (int*)start;

    if (map->FileSize <= (long long)limit) {
        // The whole file is mapped.  A trailing part of a word (a size that
        // is not a multiple of 4) is not data; the dataset check rejects it.
        map->LastAddr = map->StartOfMap + map->FileSize / 4;
    } else {
        // The file is larger than the window: the data ends after the last
        // sequence terminator inside it, so that no sequence is cut in two.
        int* p = map->StartOfMap + map->MapSize / 4;
        while (p > map->StartOfMap && p[-1] != -2) --p;
        if (p == map->StartOfMap) {
            fprintf(MapErrorStream(),
                    "Malformed dataset '%s': no complete sequence within the first %u bytes.\n",
                    path, map->MapSize);
            munmap(map->StartOfMap, map->MapSize);
            close(map->FileDesc);
            free(map);
            FatalExit(1);
        }
        map->LastAddr = p;
    }
    return map;
}

void CloseMemMap(mem_map** map) {
    if (map == nullptr) return;
    if (*map != nullptr) {
        if ((*map)->StartOfMap != nullptr) munmap((*map)->StartOfMap, (*map)->MapSize);
        close((*map)->FileDesc);
        free(*map);
        *map = nullptr;
    }
}

int* GetStartOfMap(const mem_map* map) { return map->StartOfMap; }
int* GetLastAddrOfMap(const mem_map* map) { return map->LastAddr; }
long long GetMemMapFileSize(const mem_map* map) { return map->FileSize; }
int GetCurWnd(const mem_map* map) { return map->CurWnd; }
