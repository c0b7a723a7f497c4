// Where a run's failure messages go.
//
// A run owns one Diagnostics: its error log "error.tmp" (with the log's lock
// and its two bits of state), the capture string of an in-process run, and
// the stream the messages are echoed to.  LogError and ReportError
// (support/Global.h) are called from everywhere without a run at hand, so
// they reach the Diagnostics bound to the calling thread: a run binds its
// Diagnostics on each thread that mines for it and unbinds it at the end.
// A thread with no binding writes to standard output and standard error.
//
// Emit is the one place that decides where a message goes.
//
// Tested by tests/unit/test_support.cpp (routing by the thread's binding),
// tests/integration/test_mining_run.cpp (an in-process run's capture) and
// the end-to-end error_log_* and second_run_refused cases (the log, its lock
// and its "run in progress" line).
#ifndef QUIVREL_DIAGNOSTICS_H
#define QUIVREL_DIAGNOSTICS_H

#include <cstdio>
#include <mutex>
#include <string>

class Diagnostics {
public:
    // Where one message goes when there is no capture (see Emit).
    enum Route {
        kLogOrStdout,  // the log, or standard output while none is open; echoed
        kLogOnly,      // the log when open; echoed
        kEchoOnly,     // the echo stream alone (messages about the log itself)
    };

    Diagnostics() = default;
    ~Diagnostics() { CloseErrorLog(); }
    Diagnostics(const Diagnostics&) = delete;
    Diagnostics& operator=(const Diagnostics&) = delete;

    // Opens "error.tmp" in the current directory: refuses a symbolic link or
    // anything that is not a regular file (message on the echo stream, run
    // ended with -1), takes an exclusive lock on it so that a second run in
    // the same directory refuses at once naming the running one, then
    // empties it and writes "quivrel run in progress (pid N), started at ..."
    // until the first message or ClearErrorLog.
    void OpenErrorLog();
    // Takes `file` (open for writing) as the error log, without lock or
    // progress line; it is closed with the log.  Tests use it.
    void AttachErrorLog(FILE* file);
    // Empties the error log: the run completed.
    void ClearErrorLog();
    // Closes the error log and drops its lock; nothing when none is open.
    void CloseErrorLog();
    FILE* ErrorLog() const { return log_; }

    // While a capture string is set, every message is appended to it and
    // goes nowhere else: an in-process run keeps its failure text and leaves
    // the log and the standard streams alone.  Null ends the capture.
    void CaptureInto(std::string* sink) { capture_ = sink; }
    // The stream messages are echoed to, each line prefixed "quivrel: "
    // (standard error unless changed; null: no echo).
    void EchoTo(FILE* stream) { echo_ = stream; }

    // Delivers one or more whole lines along `route`.  The first message
    // replaces the log's "run in progress" line; a failed write to the log
    // is noted once on the echo stream.
    void Emit(const char* text, Route route);

private:
    void TruncateLog();
    void Echo(const char* text);

    FILE* log_ = nullptr;
    bool logHoldsProgress_ = false;  // only the "run in progress" line so far
    bool logWriteFailed_ = false;    // a failed write already noted
    std::string* capture_ = nullptr;
    FILE* echo_ = stderr;
    std::recursive_mutex emitting_;  // held while one message is delivered
};

// Binds `diagnostics` to the calling thread (null: unbinds) and returns the
// previous binding.  LogError and ReportError on this thread then reach it.
Diagnostics* BindDiagnosticsToThisThread(Diagnostics* diagnostics);
// The calling thread's binding, null when none.
Diagnostics* ThisThreadDiagnostics();

// Binds for the lifetime of a scope, and puts the previous binding back also
// when the scope is left by an exception.
class DiagnosticsScope {
public:
    explicit DiagnosticsScope(Diagnostics& diagnostics)
        : previous_(BindDiagnosticsToThisThread(&diagnostics)) {}
    ~DiagnosticsScope() { BindDiagnosticsToThisThread(previous_); }
    DiagnosticsScope(const DiagnosticsScope&) = delete;
    DiagnosticsScope& operator=(const DiagnosticsScope&) = delete;

private:
    Diagnostics* previous_;
};

#endif
