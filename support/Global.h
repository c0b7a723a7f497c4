// Run-wide support services: wall-clock timers, the error log, checked file
// opening and checked allocation.  None of these returns a failure: either
// the operation succeeds or the run ends through FatalExit.
#ifndef QUIVREL_GLOBAL_H
#define QUIVREL_GLOBAL_H

#include <cstddef>
#include <cstdio>

// One wall-clock reading: whole seconds since the epoch and the
// milliseconds within that second (0..999).
struct TimerSlot {
    long long time;
    int millitm;
};

extern TimerSlot* pTimer;  // owned array of timer slots, null when none
extern FILE* gpErrFile;    // the error log "error.tmp", null until opened

// Thrown by FatalExit; the program's entry point turns it into the exit
// status.  Using an exception instead of exit() lets a whole run be invoked
// in-process (tests, fuzzing) while the command line keeps its statuses.
struct RunAbort {
    int status;
};

// Ends the run with the given exit status (-1 shows as 255 in a shell).
[[noreturn]] void FatalExit(int status);

void CreateTimers(int count);
void DeleteTimers();
// Stores the current wall-clock reading in the slot.
void ReadClock(TimerSlot* slot);
// Seconds elapsed since the slot was started (seconds and milliseconds are
// subtracted separately, then combined).
long double GetTimeDiff(int slot);
// Seconds between two readings, computed as GetTimeDiff does.
long double TimeBetween(const TimerSlot& start, const TimerSlot& now);

// Writes strerror(errno) and a line end to the error log.
void ReportError();

// fopen that never returns null: on failure it reports
// "Fail to open file %s with mode %s\n" (to the error log when it is open,
// else to standard output) and ends the run with -1.
FILE* file_open(const char* path, const char* mode);

// malloc that never returns null for a non-zero size: a size of 0 gives null
// without a message; a failed allocation reports
// "Fail to allocate memory with size %i\n" (the byte count, printed in full
// even beyond the int range) and ends the run with -1.
void* checked_alloc(size_t size);
// Grows (or shrinks) a buffer obtained from checked_alloc, with the same
// failure handling.  A new size of 0 frees the buffer and returns null.
void* checked_realloc(void* ptr, size_t size);

#endif
