// Failure messages, checked file opening and checked allocation, clock
// readings.
//
// Tested by tests/unit/test_support.cpp.
#include "support/Global.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "support/Diagnostics.h"

void FatalExit(int status) {
    throw RunAbort{status};
}

// ---------------------------------------------------------------------------
// Messages

// The diagnostics of the run this thread mines for; a thread without one
// writes to the standard streams, as a run without an open log does.
static void Emit(const char* text, Diagnostics::Route route) {
    Diagnostics* bound = ThisThreadDiagnostics();
    if (bound != nullptr) {
        bound->Emit(text, route);
    } else {
        Diagnostics unbound;
        unbound.Emit(text, route);
    }
}

// Formats into a fixed buffer on the stack: the message must get out also
// when memory has run out, and two runs in one process may fail at once.
// Longer texts are cut (paths are the only long part).
static void EmitFormatted(Diagnostics::Route route, const char* format, va_list args) {
    char text[8192];
    vsnprintf(text, sizeof text, format, args);
    Emit(text, route);
}

void LogError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    EmitFormatted(Diagnostics::kLogOrStdout, format, args);
    va_end(args);
}

void LogToStandardError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    EmitFormatted(Diagnostics::kEchoOnly, format, args);
    va_end(args);
}

void ReportError() {
    // The reason line of a failed system call; without an open log it goes
    // to standard error only, so that standard output keeps its one line.
    char text[512];
    snprintf(text, sizeof text, "%s\n", strerror(errno));
    Emit(text, Diagnostics::kLogOnly);
}

// ---------------------------------------------------------------------------
// Allocation

void OutOfMemory(size_t size) {
    LogError("Fail to allocate memory with size %lld\n", (long long)size);
    // The command line's status; an in-process caller can tell it apart.
    throw RunAbort{-1, true};
}

void* checked_alloc(size_t size) {
    if (size == 0) return nullptr;
    void* p = malloc(size);
    if (p == nullptr) OutOfMemory(size);
    return p;
}

void* checked_realloc(void* ptr, size_t size) {
    if (size == 0) {
        free(ptr);
        return nullptr;
    }
    void* p = realloc(ptr, size);
    if (p == nullptr) OutOfMemory(size);
    return p;
}

// The program's own operator new: the tree's nodes and child arrays and the
// tables' vectors fail like every other allocation, with the message and the
// exit status of the checked allocation, never with an uncaught bad_alloc.
void* operator new(std::size_t size) {
    void* p = malloc(size != 0 ? size : 1);
    if (p == nullptr) OutOfMemory(size);
    return p;
}

void operator delete(void* p) noexcept {
    free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    free(p);
}

// The no-throw forms (std::stable_sort's buffer, for one) must come from the
// same allocator as the plain ones, since both are given back through the
// operator delete above.  Failure is theirs to handle: null, no message.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
    free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept {
    free(p);
}

// ---------------------------------------------------------------------------
// Clock readings

void ReadClock(TimerSlot* slot) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    slot->time = (long long)ts.tv_sec;
    slot->millitm = (int)(ts.tv_nsec / 1000000);
}

long double TimeBetween(const TimerSlot& start, const TimerSlot& now) {
    // Seconds and milliseconds are subtracted separately: the millisecond
    // difference is negative when the clock passed a second boundary.
    long long seconds = now.time - start.time;
    int millis = now.millitm - start.millitm;
    return (long double)seconds + (long double)millis / 1000.0L;
}

// ---------------------------------------------------------------------------
// Files

FILE* file_open(const char* path, const char* mode) {
    FILE* f = fopen(path, mode);
    if (f == nullptr) {
        int err = errno;
        LogError("Fail to open file %s with mode %s\n", path, mode);
        errno = err;
        ReportError();
        FatalExit(-1);
    }
    return f;
}
