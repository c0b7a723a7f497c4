// The progress line of a long run on standard error, and the closing summary.
//
// The mining loop only bumps two counters (one relaxed atomic add each, from
// every mining thread); a background thread wakes four times a second,
// reads them and rewrites the line.  So the hot loops read no clock and make
// no system call, whether the line is shown or not.
#ifndef QUIVREL_PROGRESS_H
#define QUIVREL_PROGRESS_H

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

// Written by the mining threads, read by the reporter.
extern std::atomic<int> gProgressFirstDone;       // first-level items finished
extern std::atomic<int> gProgressFirstTotal;      // first-level items to mine
extern std::atomic<long long> gProgressPatterns;  // frequent patterns met so far

// Adds to a counter; several mining threads may bump one at once.
template <typename T>
inline void BumpProgress(std::atomic<T>& counter, T by) {
    counter.fetch_add(by, std::memory_order_relaxed);
}

// Puts the counters back to zero (start of a run).
void ResetProgressCounters();

// Shows the line on `out` while it lives: started by the constructor, erased
// by the destructor (also when the run ends early by an exception).
class ProgressLine {
public:
    explicit ProgressLine(FILE* out);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void Run();
    void Draw();

    FILE* out_;
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
