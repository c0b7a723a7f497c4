// Run-wide support services: wall-clock timers, the error log, checked file
// opening and checked allocation.  None of these returns a failure: either
// the operation succeeds or the run ends through FatalExit.
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

extern TimerSlot* pTimer;  // owned array of timer slots, null when none
extern FILE* gpErrFile;    // the error log "error.tmp", null until opened

// Thrown by FatalExit; the program's entry point turns it into the exit
// status.  Using an exception instead of exit() lets a whole run be invoked
// in-process (tests, fuzzing) while the command line keeps its statuses.
struct RunAbort {
    int status;
    bool outOfMemory = false;  // a failed allocation (status -1) ended the run
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

// The one way a failure reaches the user: formats one or more lines, writes
// them to the error log (to standard output while the log is not open, as
// before it existed) and, each line prefixed "quivrel: ", to standard error.
// The first message of a run replaces the log's "run in progress" line.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// While a sink is set on a thread, that thread's messages (LogError,
// ReportError) are appended to it and go nowhere else: an in-process run
// gets its own failure text and leaves the log and the standard streams
// alone.  Null ends the capture.
void CaptureErrorsOnThisThread(std::string* sink);

// Writes strerror(errno) and a line end through LogError.
void ReportError();

// Opens "error.tmp" in the current directory for a run: refuses a symbolic
// link or anything that is not a regular file (message on standard error,
// exit -1), takes an exclusive lock on it so that a second run in the same
// directory refuses at once naming the running one, then empties it and
// writes "quivrel run in progress (pid N), started at ..." until the run
// ends.  Sets gpErrFile.
void OpenErrorLog();
// Empties the error log: the run completed.
void ClearErrorLog();
// Closes the error log (and drops its lock); null gpErrFile does nothing.
void CloseErrorLog();

// Signals that end a run early.  SIGINT and SIGTERM remove `tempResult` (when
// one is registered), write "Run interrupted by signal N." to the error log
// and standard error and exit with 128+N.  SIGBUS, raised when the mapped
// dataset shrinks under the run, and the break of the dataset's lease report
// the dataset named by SetDatasetForSignals as changed and exit with 1.
void InstallRunSignalHandlers();
void RestoreSignalHandlers();
// The temporary result file to remove when a signal ends the run (null: none).
void SetTempResultForSignals(const char* name);
void SetDatasetForSignals(const char* path);
// The descriptor that holds a read lease on the mapped dataset (-1: none).
// The lease's break, signalled (SIGIO) when another process opens the file
// for writing or truncates it, reports the dataset named by
// SetDatasetForSignals as changed and exits with 1; the writer is held back
// until then.  Clear it only after the descriptor is closed: SIGIO's default
// action ends the process, and RestoreSignalHandlers keeps the handler while
// a lease descriptor is set.
void SetDatasetLeaseForSignals(int fd);
// The message for a dataset that changed while it was mined.
void ReportDatasetChanged(const char* path);

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
