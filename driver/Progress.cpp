// Progress line and closing summary.
//
// Tested by tests/integration/test_mining_run.cpp and the end-to-end
// progress_line case.
#include "driver/Progress.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

static const auto kRedrawEvery = std::chrono::milliseconds(250);

static double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ProgressCounters::Reset() {
    firstDone.store(0, std::memory_order_relaxed);
    firstTotal.store(0, std::memory_order_relaxed);
    patterns.store(0, std::memory_order_relaxed);
    pruneDone.store(0, std::memory_order_relaxed);
    pruneTotal.store(0, std::memory_order_relaxed);
}

long long ResidentKilobytes() {
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    long long pages = 0, resident = 0;
    int read = fscanf(statm, "%lld %lld", &pages, &resident);
    fclose(statm);
    if (read != 2) return 0;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long long PeakResidentKilobytes() {
    struct rusage usage;
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return usage.ru_maxrss;  // kilobytes on Linux
}

std::string RunSummary(long long sequences, long long closedPatterns, double seconds,
                       long long peakKilobytes) {
    char line[256];
    snprintf(line, sizeof line,
             "quivrel: %lld sequences, %lld closed patterns, %.3f seconds, peak memory %.1f MB\n",
             sequences, closedPatterns, seconds, peakKilobytes / 1024.0);
    return line;
}

ProgressLine::ProgressLine(FILE* out, const ProgressCounters& counters)
    : out_(out), counters_(counters), startSeconds_(NowSeconds()) {
    // The line only shows how the run goes: when its thread cannot start
    // (no room for another stack), the run goes on without it.
    try {
        thread_ = std::thread(&ProgressLine::Run, this);
    } catch (const std::system_error&) {
    }
}

ProgressLine::~ProgressLine() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    // Blank the line out so that what follows starts on a clean line.
    if (shownWidth_ > 0) {
        fprintf(out_, "\r%*s\r", (int)shownWidth_, "");
        fflush(out_);
    }
}

void ProgressLine::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    // Drawn at once, so that even a short run shows where it stands.
    Draw();
    while (!wake_.wait_for(lock, kRedrawEvery, [this] { return stop_; })) Draw();
}

void ProgressLine::Draw() {
    char line[256];
    const int pruneTotal = counters_.pruneTotal.load(std::memory_order_relaxed);
    const double seconds = NowSeconds() - startSeconds_;
    const double residentMB = ResidentKilobytes() / 1024.0;
    int width =
        pruneTotal > 0
            ? snprintf(line, sizeof line,
                       "quivrel: pruning, %d/%d first-level subtrees, %.1f s, %.1f MB resident",
                       counters_.pruneDone.load(std::memory_order_relaxed), pruneTotal, seconds,
                       residentMB)
            : snprintf(line, sizeof line,
                       "quivrel: %d/%d first-level items, %lld patterns, %.1f s, %.1f MB resident",
                       counters_.firstDone.load(std::memory_order_relaxed),
                       counters_.firstTotal.load(std::memory_order_relaxed),
                       counters_.patterns.load(std::memory_order_relaxed), seconds, residentMB);
    if (width < 0) return;
    // Pad with blanks over the rest of a longer earlier line.
    int pad = shownWidth_ > (size_t)width ? (int)(shownWidth_ - width) : 0;
    fprintf(out_, "\r%s%*s", line, pad, "");
    fflush(out_);
    shownWidth_ = (size_t)width + pad;
}
