// Timers, the error log, checked file opening and checked allocation.
#include "support/Global.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

TimerSlot* pTimer = nullptr;
FILE* gpErrFile = nullptr;

void FatalExit(int status) {
    throw RunAbort{status};
}

// Messages of failures that can happen before the error log is open go to
// standard output instead.
static FILE* ErrorStream() {
    return gpErrFile != nullptr ? gpErrFile : stdout;
}

void* checked_alloc(size_t size) {
    if (size == 0) return nullptr;
    void* p = malloc(size);
    if (p == nullptr) {
        fprintf(ErrorStream(), "Fail to allocate memory with size %lld\n", (long long)size);
        FatalExit(-1);
    }
    return p;
}

void* checked_realloc(void* ptr, size_t size) {
    if (size == 0) {
        free(ptr);
        return nullptr;
    }
    void* p = realloc(ptr, size);
    if (p == nullptr) {
        fprintf(ErrorStream(), "Fail to allocate memory with size %lld\n", (long long)size);
        FatalExit(-1);
    }
    return p;
}

void CreateTimers(int count) {
    pTimer = (TimerSlot*)checked_alloc(sizeof(TimerSlot) * (size_t)(count > 0 ? count : 0));
}

void DeleteTimers() {
    if (pTimer != nullptr) {
        free(pTimer);
        pTimer = nullptr;
    }
}

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

long double GetTimeDiff(int slot) {
    TimerSlot now;
    ReadClock(&now);
    return TimeBetween(pTimer[slot], now);
}

void ReportError() {
    fprintf(ErrorStream(), "%s\n", strerror(errno));
}

FILE* file_open(const char* path, const char* mode) {
    FILE* f = fopen(path, mode);
    if (f == nullptr) {
        fprintf(ErrorStream(), "Fail to open file %s with mode %s\n", path, mode);
        FatalExit(-1);
    }
    return f;
}
