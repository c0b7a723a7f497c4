// The signals that end a command-line run early, and the process-wide state
// their handlers read.
//
// A signal handler can reach nothing but static storage, and a signal is
// sent to the process, not to a run; so this state cannot live in a run
// object.  It is the process's one writable global, owned by the
// command-line entry: only its run installs the handlers (in-process runs
// never do) and it tells them the error log's descriptor, the temporary
// result file and the mapped dataset.
//
// Tested by tests/unit/test_support.cpp (the dataset's lease and SIGBUS),
// tests/integration/test_mining_run.cpp (handlers off after an aborted run)
// and the end-to-end interrupted_by_* and mapped_dataset_* cases.
#ifndef QUIVREL_RUN_SIGNALS_H
#define QUIVREL_RUN_SIGNALS_H

// SIGINT and SIGTERM remove the temporary result (when one is registered),
// write "Run interrupted by signal N." over the error log `errorLogFd`
// (-1: none) and to standard error and exit with 128+N.  SIGBUS, raised
// when the mapped dataset shrinks under the run, and the break of the
// dataset's lease report the dataset named by SetDatasetForSignals as
// changed and exit with 1.
void InstallRunSignalHandlers(int errorLogFd);
// Puts SIGINT, SIGTERM and SIGBUS back to their defaults and forgets the
// error log and the temporary result; call it before the log is closed.
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
// The message for a dataset that changed while it was mined, through
// LogError (the handlers write the same text).
void ReportDatasetChanged(const char* path);

#endif
