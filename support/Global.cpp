// Timers, the error log, checked file opening and checked allocation, and
// the signals that end a run early.
#include "support/Global.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

TimerSlot* pTimer = nullptr;
FILE* gpErrFile = nullptr;

void FatalExit(int status) {
    throw RunAbort{status};
}

// ---------------------------------------------------------------------------
// Messages

static const char kErrorLogName[] = "error.tmp";

// Whether the error log holds only the "run in progress" line, which the
// first message of the run replaces.
static bool gLogHoldsProgress = false;
// Whether a failed write to the error log has been reported (once is enough).
static bool gLogWriteFailed = false;

// Writes `text` (whole lines) to standard error, each line prefixed.
static void ToStandardError(const char* text) {
    const char* line = text;
    while (*line != '\0') {
        const char* end = strchr(line, '\n');
        size_t length = end != nullptr ? (size_t)(end - line) + 1 : strlen(line);
        fputs("quivrel: ", stderr);
        fwrite(line, 1, length, stderr);
        if (end == nullptr) fputc('\n', stderr);
        line += length;
    }
    fflush(stderr);
}

// Empties the error log and puts its stream back at the start.
static void TruncateErrorLog() {
    fflush(gpErrFile);
    if (ftruncate(fileno(gpErrFile), 0) != 0) {
        // A log that cannot be emptied is reported on the next write.
    }
    rewind(gpErrFile);
    gLogHoldsProgress = false;
}

// The capturing sink of this thread (see CaptureErrorsOnThisThread).
static thread_local std::string* tErrorSink = nullptr;

void CaptureErrorsOnThisThread(std::string* sink) {
    tErrorSink = sink;
}

// The text goes to this thread's sink alone when one is set; else to the
// error log, or, while that is not open, to standard output when
// `stdoutWithoutLog` says so; always to standard error.
static void Emit(const char* text, bool stdoutWithoutLog) {
    if (tErrorSink != nullptr) {
        tErrorSink->append(text);
        return;
    }
    if (gpErrFile != nullptr) {
        if (gLogHoldsProgress) TruncateErrorLog();
        fputs(text, gpErrFile);
        if (fflush(gpErrFile) != 0 && !gLogWriteFailed) {
            gLogWriteFailed = true;
            char note[256];
            snprintf(note, sizeof note, "cannot write the error log %s: %s\n", kErrorLogName,
                     strerror(errno));
            ToStandardError(note);
        }
    } else if (stdoutWithoutLog) {
        fputs(text, stdout);
        fflush(stdout);
    }
    ToStandardError(text);
}

// Formats into a fixed buffer on the stack: the message must get out also
// when memory has run out, and two runs in one process may fail at once.
// Longer texts are cut (paths are the only long part).
static void EmitFormatted(bool stdoutWithoutLog, const char* format, va_list args) {
    char text[8192];
    vsnprintf(text, sizeof text, format, args);
    Emit(text, stdoutWithoutLog);
}

void LogError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    EmitFormatted(true, format, args);
    va_end(args);
}

// Messages about the error log itself: it is not ours to write, or cannot
// be, so they go to standard error alone.
static void StandardErrorOnly(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void StandardErrorOnly(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ToStandardError(text);
}

void ReportError() {
    // The reason line of a failed system call; without an open log it goes
    // to standard error only, so that standard output keeps its one line.
    char text[512];
    snprintf(text, sizeof text, "%s\n", strerror(errno));
    Emit(text, false);
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

// ---------------------------------------------------------------------------
// Timers

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

void OpenErrorLog() {
    // No symbolic link is followed and a FIFO cannot block the open; nothing
    // is emptied before the checks and the lock.
    int fd = open(kErrorLogName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ELOOP) {
        StandardErrorOnly("Refusing to write %s: it is a symbolic link.\n", kErrorLogName);
        FatalExit(-1);
    }
    if (fd < 0 && errno == ENXIO) {  // a FIFO without a reader
        StandardErrorOnly("Refusing to write %s: it is not a regular file.\n", kErrorLogName);
        FatalExit(-1);
    }
    if (fd < 0) {
        int err = errno;
        LogError("Fail to open file %s with mode %s\n", kErrorLogName, "w");
        errno = err;
        ReportError();
        FatalExit(-1);
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        StandardErrorOnly("Refusing to write %s: it is not a regular file.\n", kErrorLogName);
        FatalExit(-1);
    }
    // One run per directory: the lock lives as long as the descriptor.
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) != 0) {
        struct flock holder = lock;
        long pid = fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK ? holder.l_pid : 0;
        close(fd);
        StandardErrorOnly("Another quivrel run (pid %ld) is in progress in this directory; "
                          "its %s and ClosedMaxset.txt are left alone.\n",
                          pid, kErrorLogName);
        FatalExit(-1);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    gpErrFile = fdopen(fd, "w");
    if (gpErrFile == nullptr) {
        close(fd);
        OutOfMemory(BUFSIZ);
    }
    gLogWriteFailed = false;
    TruncateErrorLog();

    time_t now = time(nullptr);
    struct tm local;
    char started[64] = "?";
    if (localtime_r(&now, &local) != nullptr) strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &local);
    fprintf(gpErrFile, "quivrel run in progress (pid %ld), started at %s\n", (long)getpid(), started);
    fflush(gpErrFile);
    gLogHoldsProgress = true;
}

void ClearErrorLog() {
    if (gpErrFile != nullptr) TruncateErrorLog();
}

void CloseErrorLog() {
    if (gpErrFile == nullptr) return;
    fclose(gpErrFile);
    gpErrFile = nullptr;
    gLogHoldsProgress = false;
}

// ---------------------------------------------------------------------------
// Signals
//
// The handlers use only async-signal-safe calls: the texts they write are
// prepared beforehand, and they end the process with _exit.

static char gTempResult[256];         // temporary result file, "" when none
static char gDatasetMessage[1100];    // "Dataset '...' changed during the run.\n"
static bool gHandlersInstalled = false;

static void WriteAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= (size_t)n;
    }
}

// Replaces the error log's contents with `text` and echoes it on standard
// error.
static void FinalMessage(const char* text, size_t length) {
    // Reading the stream's descriptor is a plain field read.
    int fd = gpErrFile != nullptr ? fileno(gpErrFile) : -1;
    if (fd >= 0 && ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0) WriteAll(fd, text, length);
    WriteAll(2, "quivrel: ", 9);
    WriteAll(2, text, length);
}

static void OnInterrupt(int sig) {
    if (gTempResult[0] != '\0') unlink(gTempResult);
    char text[64] = "Run interrupted by signal ";
    size_t length = strlen(text);
    char digits[12];
    int n = 0;
    for (int v = sig; v > 0 && n < 11; v /= 10) digits[n++] = (char)('0' + v % 10);
    while (n > 0) text[length++] = digits[--n];
    text[length++] = '.';
    text[length++] = '\n';
    FinalMessage(text, length);
    _exit(128 + sig);
}

static void OnBusError(int) {
    if (gTempResult[0] != '\0') unlink(gTempResult);
    FinalMessage(gDatasetMessage, strlen(gDatasetMessage));
    _exit(1);
}

static int gLeaseFd = -1;  // descriptor holding the dataset's read lease

// A lease break: the kernel has marked the lease for removal (F_GETLEASE no
// longer reports the read lease) and holds the writer back until this
// process lets go of the file, which _exit does.  A SIGIO sent by anything
// else leaves the run alone.
static void OnLeaseBreak(int) {
    int savedErrno = errno;
    if (gLeaseFd >= 0 && fcntl(gLeaseFd, F_GETLEASE) == F_RDLCK) {
        errno = savedErrno;
        return;
    }
    OnBusError(SIGIO);
}

static void SetHandler(int sig, void (*handler)(int)) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGBUS);
    sigaddset(&action.sa_mask, SIGIO);
    sigaction(sig, &action, nullptr);
}

void InstallRunSignalHandlers() {
    gTempResult[0] = '\0';
    SetHandler(SIGINT, OnInterrupt);
    SetHandler(SIGTERM, OnInterrupt);
    gHandlersInstalled = true;
}

void RestoreSignalHandlers() {
    if (!gHandlersInstalled) return;
    SetHandler(SIGINT, SIG_DFL);
    SetHandler(SIGTERM, SIG_DFL);
    SetHandler(SIGBUS, SIG_DFL);
    // While a lease is held its break must still end the run.
    if (gLeaseFd < 0) SetHandler(SIGIO, SIG_DFL);
    gTempResult[0] = '\0';
    gHandlersInstalled = false;
}

void SetTempResultForSignals(const char* name) {
    // Blocked while the name changes, so a handler never sees half of it.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGIO);
    sigprocmask(SIG_BLOCK, &block, &old);
    if (name == nullptr || strlen(name) >= sizeof gTempResult)
        gTempResult[0] = '\0';
    else
        strcpy(gTempResult, name);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

static void FormatDatasetChanged(char* text, size_t size, const char* path) {
    snprintf(text, size, "Dataset '%s' changed during the run.\n", path);
}

void SetDatasetForSignals(const char* path) {
    if (path == nullptr) {
        SetHandler(SIGBUS, SIG_DFL);
        return;
    }
    FormatDatasetChanged(gDatasetMessage, sizeof gDatasetMessage, path);
    SetHandler(SIGBUS, OnBusError);
    gHandlersInstalled = true;
}

void SetDatasetLeaseForSignals(int fd) {
    gLeaseFd = fd;
    SetHandler(SIGIO, fd >= 0 ? OnLeaseBreak : SIG_DFL);
    if (fd >= 0) gHandlersInstalled = true;
}

void ReportDatasetChanged(const char* path) {
    char text[sizeof gDatasetMessage];
    FormatDatasetChanged(text, sizeof text, path);
    LogError("%s", text);
}
