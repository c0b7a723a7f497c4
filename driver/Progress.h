// The progress line of a long run on standard error, and the closing summary.
//
// The mining loop only bumps its run's counters (one relaxed atomic add
// each; the threads of a threaded run all bump the counters of the run they
// mine for); a background thread wakes four times a second, reads them and
// rewrites the line.  So the hot loops read no clock and make no system
// call, whether the line is shown or not.
//
// Tested by tests/integration/test_mining_run.cpp (the counters) and the
// end-to-end progress_line case.
#ifndef QUIVREL_PROGRESS_H
#define QUIVREL_PROGRESS_H

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

// One run's counters: written by the threads that mine for it, read by the line.
struct ProgressCounters {
    std::atomic<int> firstDone{0};       // first-level items finished
    std::atomic<int> firstTotal{0};      // first-level items to mine
    std::atomic<long long> patterns{0};  // frequent patterns met so far
    // The pruning that follows the mining: first-level subtrees pruned, out
    // of pruneTotal (0 until the pruning starts, which switches the line).
    std::atomic<int> pruneDone{0};
    std::atomic<int> pruneTotal{0};

    // Back to zero (start of a run).
    void Reset();
};

// Adds to a counter; several mining threads may bump one at once.
template <typename T>
inline void BumpProgress(std::atomic<T>& counter, T by) {
    counter.fetch_add(by, std::memory_order_relaxed);
}

// Shows the line of `counters` on `out` while it lives: started by the constructor, erased
// by the destructor (also when the run ends early by an exception).
class ProgressLine {
public:
    ProgressLine(FILE* out, const ProgressCounters& counters);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void Run();
    void Draw();

    FILE* out_;
    const ProgressCounters& counters_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    size_t shownWidth_ = 0;  // characters of the line on screen, for erasing
    double startSeconds_;
    std::thread thread_;
};

// "quivrel: 300 sequences, 20 closed patterns, 0.006 seconds, peak memory 3.2 MB"
std::string RunSummary(long long sequences, long long closedPatterns, double seconds,
                       long long peakKilobytes);

// Resident and peak resident memory of this process in kilobytes (0 when
// unknown).
long long ResidentKilobytes();
long long PeakResidentKilobytes();

#endif
