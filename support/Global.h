// Process services for a run: failure messages, clock readings, checked
// file opening and checked allocation.  None of these returns a failure:
// either the operation succeeds or the run ends through FatalExit.  A run's
// own state (its error log, its clock) lives in the run; the messages here
// find it through the thread's binding (support/Diagnostics.h).
//
// Tested by tests/unit/test_support.cpp.
#ifndef QUIVREL_GLOBAL_H
#define QUIVREL_GLOBAL_H

#include <cstddef>
#include <cstdio>
#include <string>

// One wall-clock reading: whole seconds since the epoch and the
// milliseconds within that second (0..999).
struct TimerSlot {
    long long time;
    int millitm;
};

// Thrown by FatalExit; the program's entry point turns it into the exit
// status.  Using an exception instead of exit() lets a whole run be invoked
// in-process (tests, fuzzing) while the command line keeps its statuses.
struct RunAbort {
    int status;
    bool outOfMemory = false;  // a failed allocation (status -1) ended the run
};

// Ends the run with the given exit status (-1 shows as 255 in a shell).
[[noreturn]] void FatalExit(int status);

// Stores the current wall-clock reading in the slot.
void ReadClock(TimerSlot* slot);
// Seconds between two readings (seconds and milliseconds are subtracted
// separately, then combined).
long double TimeBetween(const TimerSlot& start, const TimerSlot& now);

// The one way a failure reaches the user: formats one or more lines and
// hands them to the diagnostics of the run the calling thread mines for,
// which write them to the run's error log (to standard output while the log
// is not open, as before it existed) and, each line prefixed "quivrel: ", to
// standard error, or only into the capture of an in-process run.  A thread
// without a run writes to standard output and standard error.  The first
// message of a run replaces the log's "run in progress" line.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same to standard error alone (or the capture): messages about the
// run's own output files, which are not the run's to write.
void LogToStandardError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes strerror(errno) and a line end through LogError's route, but to
// standard error alone while no log is open.
void ReportError();

// fopen that never returns null: on failure it reports
// "Fail to open file %s with mode %s\n" and the system's reason on a line of
// its own (through LogError) and ends the run with -1.
FILE* file_open(const char* path, const char* mode);

// malloc that never returns null for a non-zero size: a size of 0 gives null
// without a message; a failed allocation reports
// "Fail to allocate memory with size %i\n" (the byte count, printed in full
// even beyond the int range) and ends the run with -1.  The program's
// operator new fails the same way, so a node or a vector that cannot grow
// ends the run with this message too.
void* checked_alloc(size_t size);
// Reports a failed allocation of `size` bytes and ends the run with -1.
[[noreturn]] void OutOfMemory(size_t size);
// Grows (or shrinks) a buffer obtained from checked_alloc, with the same
// failure handling.  A new size of 0 frees the buffer and returns null.
void* checked_realloc(void* ptr, size_t size);

#endif
