// The error log, the capture of an in-process run, the echo on standard
// error, and the thread binding that LogError goes through.
//
// Tested by tests/unit/test_support.cpp and the end-to-end error_log_* and
// second_run_refused cases.
#include "support/Diagnostics.h"

#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "support/Global.h"

static const char kErrorLogName[] = "error.tmp";

// The run each thread is mining for; set and cleared by the run itself.
static thread_local Diagnostics* tBoundDiagnostics = nullptr;

Diagnostics* BindDiagnosticsToThisThread(Diagnostics* diagnostics) {
    Diagnostics* previous = tBoundDiagnostics;
    tBoundDiagnostics = diagnostics;
    return previous;
}

Diagnostics* ThisThreadDiagnostics() {
    return tBoundDiagnostics;
}

// Writes `text` (whole lines) to the echo stream, each line prefixed.
void Diagnostics::Echo(const char* text) {
    if (echo_ == nullptr) return;
    const char* line = text;
    while (*line != '\0') {
        const char* end = strchr(line, '\n');
        size_t length = end != nullptr ? (size_t)(end - line) + 1 : strlen(line);
        fputs("quivrel: ", echo_);
        fwrite(line, 1, length, echo_);
        if (end == nullptr) fputc('\n', echo_);
        line += length;
    }
    fflush(echo_);
}

void Diagnostics::Emit(const char* text, Route route) {
    // The threads of a threaded run share the run's Diagnostics; a message
    // is delivered whole before the next one starts.  Recursive: a failed
    // allocation while capturing reports itself through here.
    std::lock_guard<std::recursive_mutex> hold(emitting_);
    if (capture_ != nullptr) {
        capture_->append(text);
        return;
    }
    if (route != kEchoOnly && log_ != nullptr) {
        if (logHoldsProgress_) TruncateLog();
        fputs(text, log_);
        if (fflush(log_) != 0 && !logWriteFailed_) {
            logWriteFailed_ = true;
            char note[256];
            snprintf(note, sizeof note, "cannot write the error log %s: %s\n", kErrorLogName,
                     strerror(errno));
            Echo(note);
        }
    } else if (route == kLogOrStdout) {
        // Before the log exists its messages went to standard output.
        fputs(text, stdout);
        fflush(stdout);
    }
    Echo(text);
}

// Formats into a fixed buffer on the stack: the message must get out also
// when memory has run out.  Longer texts are cut (paths are the only long
// part).
static void EmitFormatted(Diagnostics& diagnostics, Diagnostics::Route route, const char* format,
                          ...) __attribute__((format(printf, 3, 4)));
static void EmitFormatted(Diagnostics& diagnostics, Diagnostics::Route route, const char* format,
                          ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    diagnostics.Emit(text, route);
}

// Empties the error log and puts its stream back at the start.
void Diagnostics::TruncateLog() {
    fflush(log_);
    if (ftruncate(fileno(log_), 0) != 0) {
        // A log that cannot be emptied is reported on the next write.
    }
    rewind(log_);
    logHoldsProgress_ = false;
}

void Diagnostics::OpenErrorLog() {
    // No symbolic link is followed and a FIFO cannot block the open; nothing
    // is emptied before the checks and the lock.  Messages about the log
    // itself go to the echo stream alone: it is not ours to write.
    int fd = open(kErrorLogName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ELOOP) {
        EmitFormatted(*this, kEchoOnly, "Refusing to write %s: it is a symbolic link.\n",
                      kErrorLogName);
        FatalExit(-1);
    }
    if (fd < 0 && errno == ENXIO) {  // a FIFO without a reader
        EmitFormatted(*this, kEchoOnly, "Refusing to write %s: it is not a regular file.\n",
                      kErrorLogName);
        FatalExit(-1);
    }
    if (fd < 0) {
        int err = errno;
        EmitFormatted(*this, kLogOrStdout, "Fail to open file %s with mode %s\n", kErrorLogName,
                      "w");
        EmitFormatted(*this, kLogOnly, "%s\n", strerror(err));
        FatalExit(-1);
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        EmitFormatted(*this, kEchoOnly, "Refusing to write %s: it is not a regular file.\n",
                      kErrorLogName);
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
        EmitFormatted(*this, kEchoOnly,
                      "Another quivrel run (pid %ld) is in progress in this directory; "
                      "its %s and ClosedMaxset.txt are left alone.\n",
                      pid, kErrorLogName);
        FatalExit(-1);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
        close(fd);
        OutOfMemory(BUFSIZ);
    }
    AttachErrorLog(file);
    TruncateLog();

    time_t now = time(nullptr);
    struct tm local;
    char started[64] = "?";
    if (localtime_r(&now, &local) != nullptr)
        strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &local);
    fprintf(log_, "quivrel run in progress (pid %ld), started at %s\n", (long)getpid(), started);
    fflush(log_);
    logHoldsProgress_ = true;
}

void Diagnostics::AttachErrorLog(FILE* file) {
    CloseErrorLog();
    log_ = file;
    logWriteFailed_ = false;
    logHoldsProgress_ = false;
}

void Diagnostics::ClearErrorLog() {
    if (log_ != nullptr) TruncateLog();
}

void Diagnostics::CloseErrorLog() {
    if (log_ == nullptr) return;
    fclose(log_);
    log_ = nullptr;
    logHoldsProgress_ = false;
}
