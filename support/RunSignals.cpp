// The run's signal handlers and the static state they read.
//
// The handlers use only async-signal-safe calls: the texts they write are
// prepared beforehand, and they end the process with _exit.
//
// Tested by tests/unit/test_support.cpp and the end-to-end interrupted_by_*
// and mapped_dataset_* cases.
#include "support/RunSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/Global.h"

namespace {

// Everything a handler needs, in static storage because a handler can reach
// nothing else (see RunSignals.h).  Written by the command-line run's thread
// with the signals that read it blocked or not yet installed.
struct ProcessSignalState {
    char tempResult[256];       // temporary result file, "" when none
    char datasetMessage[1100];  // "Dataset '...' changed during the run.\n"
    bool handlersInstalled;
    int leaseFd;     // descriptor holding the dataset's read lease, -1: none
    int errorLogFd;  // the run's error log, -1: none
};

ProcessSignalState gSignals = {"", "", false, -1, -1};

void WriteAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= (size_t)n;
    }
}

// Replaces the error log's contents with `text` and echoes it on standard
// error.
void FinalMessage(const char* text, size_t length) {
    int fd = gSignals.errorLogFd;
    if (fd >= 0 && ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0) WriteAll(fd, text, length);
    WriteAll(2, "quivrel: ", 9);
    WriteAll(2, text, length);
}

void OnInterrupt(int sig) {
    if (gSignals.tempResult[0] != '\0') unlink(gSignals.tempResult);
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

void OnBusError(int) {
    if (gSignals.tempResult[0] != '\0') unlink(gSignals.tempResult);
    FinalMessage(gSignals.datasetMessage, strlen(gSignals.datasetMessage));
    _exit(1);
}

// A lease break: the kernel has marked the lease for removal (F_GETLEASE no
// longer reports the read lease) and holds the writer back until this
// process lets go of the file, which _exit does.  A SIGIO sent by anything
// else leaves the run alone.
void OnLeaseBreak(int) {
    int savedErrno = errno;
    if (gSignals.leaseFd >= 0 && fcntl(gSignals.leaseFd, F_GETLEASE) == F_RDLCK) {
        errno = savedErrno;
        return;
    }
    OnBusError(SIGIO);
}

void SetHandler(int sig, void (*handler)(int)) {
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

// Runs `change` with the handlers' signals blocked, so that a handler never
// sees a half-written field.
template <typename Change>
void WithSignalsBlocked(Change change) {
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGIO);
    sigprocmask(SIG_BLOCK, &block, &old);
    change();
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void FormatDatasetChanged(char* text, size_t size, const char* path) {
    snprintf(text, size, "Dataset '%s' changed during the run.\n", path);
}

}  // namespace

void InstallRunSignalHandlers(int errorLogFd) {
    WithSignalsBlocked([errorLogFd] {
        gSignals.tempResult[0] = '\0';
        gSignals.errorLogFd = errorLogFd;
    });
    SetHandler(SIGINT, OnInterrupt);
    SetHandler(SIGTERM, OnInterrupt);
    gSignals.handlersInstalled = true;
}

void RestoreSignalHandlers() {
    // The log is about to be closed: its descriptor may be reused.
    WithSignalsBlocked([] { gSignals.errorLogFd = -1; });
    if (!gSignals.handlersInstalled) return;
    SetHandler(SIGINT, SIG_DFL);
    SetHandler(SIGTERM, SIG_DFL);
    SetHandler(SIGBUS, SIG_DFL);
    // While a lease is held its break must still end the run.
    if (gSignals.leaseFd < 0) SetHandler(SIGIO, SIG_DFL);
    gSignals.tempResult[0] = '\0';
    gSignals.handlersInstalled = false;
}

void SetTempResultForSignals(const char* name) {
    WithSignalsBlocked([name] {
        if (name == nullptr || strlen(name) >= sizeof gSignals.tempResult)
            gSignals.tempResult[0] = '\0';
        else
            strcpy(gSignals.tempResult, name);
    });
}

void SetDatasetForSignals(const char* path) {
    if (path == nullptr) {
        SetHandler(SIGBUS, SIG_DFL);
        return;
    }
    FormatDatasetChanged(gSignals.datasetMessage, sizeof gSignals.datasetMessage, path);
    SetHandler(SIGBUS, OnBusError);
    gSignals.handlersInstalled = true;
}

void SetDatasetLeaseForSignals(int fd) {
    gSignals.leaseFd = fd;
    SetHandler(SIGIO, fd >= 0 ? OnLeaseBreak : SIG_DFL);
    if (fd >= 0) gSignals.handlersInstalled = true;
}

void ReportDatasetChanged(const char* path) {
    char text[sizeof gSignals.datasetMessage];
    FormatDatasetChanged(text, sizeof text, path);
    LogError("%s", text);
}
