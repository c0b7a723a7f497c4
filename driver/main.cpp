#include <malloc.h>

#include "driver/1LPrefixSpan.h"

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
    return QuivrelMain(argc, argv);
}
