#include <malloc.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/1LPrefixSpan.h"

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 35))
#define QUIVREL_HEAP_HUGE_PAGES 1
#endif

#if QUIVREL_HEAP_HUGE_PAGES
static char** gArgv;

// The glibc setting that puts the heap on huge pages, and the least dataset
// size for which the command starts itself again to have it.
static const char kHugePageHeap[] = "glibc.malloc.hugetlb";
static const long long kHugePageHeapMinData = 1 << 20;

// Whether the kernel hands out transparent huge pages, to every mapping or
// to those that ask.
static bool KernelHasHugePages() {
    FILE* f = fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (f == nullptr) return false;
    char mode[128] = "";
    bool on = fgets(mode, sizeof mode, f) != nullptr &&
              (strstr(mode, "[always]") != nullptr || strstr(mode, "[madvise]") != nullptr);
    fclose(f);
    return on;
}

// The heap of a run holds the entries arrays of the projection, the count
// rows and the pattern tree, and the steps read them all over.  In 4 KiB
// pages their address translations cost up to a fifth of a run's CPU time
// (FIFA 19%, 1M 0.0025 9%, BMS1, whose pattern tree is large, 9%, 100K 5%).
// glibc puts its heap on huge pages when glibc.malloc.hugetlb is 1 in
// GLIBC_TUNABLES, which it reads only when a program starts: so the command
// starts itself once more with the setting added, after reading its command
// line and before it has opened or written anything.  A new start costs
// about 2 ms, more than a run of data under 1 MiB gains.  It does not start
// again when the setting is there already (set by the user, to 0 for
// instance, or by this very start), when the kernel has no huge pages, or
// under a preloaded allocator or tool (valgrind, say), which the new start
// could lose.  If the start fails, the run goes on as it is.  GLIBC_TUNABLES
// also reaches the processes that quivrel starts (none today).
static void StartWithHugePageHeap(const char* datasetPath) {
    const char* tunables = getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && strstr(tunables, kHugePageHeap) != nullptr) return;
    // (A set-user-ID start has glibc drop the setting from the environment,
    // which would start it again and again.)
    if (getenv("LD_PRELOAD") != nullptr || getauxval(AT_SECURE) != 0) return;
    struct stat st;
    if (stat(datasetPath, &st) != 0 || !S_ISREG(st.st_mode) ||
        (long long)st.st_size < kHugePageHeapMinData || !KernelHasHugePages())
        return;
    std::string value = std::string(kHugePageHeap) + "=1";
    if (tunables != nullptr && *tunables != '\0') value = std::string(tunables) + ":" + value;
    if (setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0) return;
    execv("/proc/self/exe", gArgv);
}
#endif

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // A run allocates and frees entries arrays of up to tens of megabytes
    // at every step.  glibc's defaults hand the larger ones back to the
    // kernel on free (unmapped, or trimmed off the heap's top), and the
    // next step pays a page fault and a zeroed page for every 4 KiB again:
    // a tenth of the CPU time of a large run.  Keeping them in the heap
    // costs no more at the peak, which is all the run reports.  (Only the
    // command sets this: a program that calls quivrel in-process keeps its
    // own allocator settings.)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
    MiningRun run;
#if QUIVREL_HEAP_HUGE_PAGES
    gArgv = argv;
    run.beforeRun = StartWithHugePageHeap;
#endif
    return QuivrelMain(argc, argv, run);
}
