// Timers, checked opening and allocation, and the read-only dataset mapping.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Diagnostics.h"
#include "support/Global.h"
#include "support/LinuxMemMap.h"
#include "support/RunSignals.h"

namespace {

// A scratch directory with an error log opened in it and bound to the test's
// thread, removed afterwards.
class SupportTest : public ::testing::Test {
protected:
    std::string dir;
    Diagnostics diag;
    void SetUp() override {
        char tmpl[] = "/tmp/quivrel-support.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        FILE* log = fopen((dir + "/error.tmp").c_str(), "w");
        ASSERT_NE(log, nullptr);
        diag.AttachErrorLog(log);
        BindDiagnosticsToThisThread(&diag);
    }
    void TearDown() override {
        BindDiagnosticsToThisThread(nullptr);
        diag.CloseErrorLog();
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string ErrorLog() {
        fflush(diag.ErrorLog());
        std::ifstream in(dir + "/error.tmp");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string WriteWords(const std::string& name, const std::vector<int32_t>& words) {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (!words.empty()) fwrite(words.data(), sizeof(int32_t), words.size(), f);
        fclose(f);
        return path;
    }
};

int AbortStatus(void (*fn)(void*), void* arg) {
    try {
        fn(arg);
    } catch (const RunAbort& a) {
        return a.status;
    }
    return 1000;  // did not abort
}

TEST(Timers, DifferenceAcrossSecondBoundary) {
    TimerSlot start{10, 900};
    TimerSlot now{12, 100};
    EXPECT_NEAR((double)TimeBetween(start, now), 1.2, 1e-9);
    TimerSlot same{12, 100};
    EXPECT_EQ((double)TimeBetween(now, same), 0.0);
}

TEST(Timers, ReadingKeepsMillisecondsInRange) {
    TimerSlot a, b;
    ReadClock(&a);
    ReadClock(&b);
    EXPECT_GE(a.millitm, 0);
    EXPECT_LE(a.millitm, 999);
    EXPECT_GE((double)TimeBetween(a, b), 0.0);
}

// Each thread's messages reach the diagnostics bound to it and nothing else;
// a thread without one writes to the standard streams.
TEST(Diagnostics, MessagesFollowTheThreadsBinding) {
    std::string mine, theirs;
    Diagnostics a, b;
    a.CaptureInto(&mine);
    b.CaptureInto(&theirs);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        DiagnosticsScope bound(a);
        std::thread other([&] {
            DiagnosticsScope otherBound(b);
            LogError("from the other thread %d\n", 2);
        });
        other.join();
        LogError("from this thread %d\n", 1);
        errno = ENOENT;
        ReportError();
        // A nested binding is undone also when its scope ends by an exception.
        try {
            DiagnosticsScope nested(b);
            LogError("nested\n");
            FatalExit(-1);
        } catch (const RunAbort&) {
        }
        LogToStandardError("about the log\n");
    }
    EXPECT_EQ(ThisThreadDiagnostics(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(mine, std::string("from this thread 1\n") + strerror(ENOENT) + "\nabout the log\n");
    EXPECT_EQ(theirs, "from the other thread 2\nnested\n");

    // Unbound: LogError to standard output and standard error; the reason
    // line and messages about the log to standard error alone.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LogError("a\nb\n");
    errno = ENOENT;
    ReportError();
    LogToStandardError("c\n");
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        std::string("quivrel: a\nquivrel: b\nquivrel: ") + strerror(ENOENT) + "\nquivrel: c\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a\nb\n");
}

TEST_F(SupportTest, FileOpenFailureIsLoggedAndEndsTheRun) {
    std::string path = dir + "/no/such/dir/x.txt";
    int status = AbortStatus([](void* p) { file_open((const char*)p, "w"); }, (void*)path.c_str());
    EXPECT_EQ(status, -1);
    EXPECT_EQ(ErrorLog(), "Fail to open file " + path + " with mode w\n" + strerror(ENOENT) + "\n");
}

TEST_F(SupportTest, CheckedAllocation) {
    EXPECT_EQ(checked_alloc(0), nullptr);
    void* p = checked_alloc(16);
    ASSERT_NE(p, nullptr);
    p = checked_realloc(p, 64);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(checked_realloc(p, 0), nullptr);  // frees

    // A size beyond the int range is reported in full.
    int status = AbortStatus([](void*) { checked_alloc((size_t)1 << 62); }, nullptr);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(ErrorLog(), "Fail to allocate memory with size 4611686018427387904\n");

    // A container that cannot grow fails the same way, not with bad_alloc.
    status = AbortStatus([](void*) { std::vector<char> v; v.reserve((size_t)1 << 61); }, nullptr);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(ErrorLog(), "Fail to allocate memory with size 4611686018427387904\n"
                          "Fail to allocate memory with size 2305843009213693952\n");

    // The no-throw forms come from the same allocator as operator delete
    // (std::stable_sort takes its buffer that way; the address sanitizer
    // reports a mismatch otherwise), and fail with null, not a run's end.
    std::vector<int> keys(1000);
    for (size_t i = 0; i < keys.size(); i++) keys[i] = (int)((i * 7919) % 1000);
    std::stable_sort(keys.begin(), keys.end());
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_EQ(::operator new((size_t)1 << 62, std::nothrow), nullptr);
}

TEST_F(SupportTest, MissingFileIsReportedWithTheSystemText) {
    std::string path = dir + "/missing.bin";
    int status = AbortStatus([](void* p) { CreateMemMap((const char*)p, 4096); }, (void*)path.c_str());
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ErrorLog(), "Failed to open memory file '" + path + "'.\n" + strerror(ENOENT) + "\n");
}

TEST_F(SupportTest, EmptyFileCannotBeMapped) {
    std::string path = WriteWords("empty.bin", {});
    int status = AbortStatus([](void* p) { CreateMemMap((const char*)p, 4096); }, (void*)path.c_str());
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ErrorLog(), std::string("Failed to create view of memory map-file.\n") +
                              strerror(EINVAL) + "\n");
}

TEST_F(SupportTest, SmallFileIsMappedWhole) {
    std::string path = WriteWords("d.bin", {1, 2, -1, 3, -1, -2});
    mem_map* map = CreateMemMap(path.c_str(), 4096);
    EXPECT_EQ(GetCurWnd(map), 0);
    EXPECT_EQ(GetMemMapFileSize(map), 24);
    EXPECT_EQ(GetLastAddrOfMap(map) - GetStartOfMap(map), 6);
    EXPECT_EQ(GetStartOfMap(map)[3], 3);
    CloseMemMap(&map);
    EXPECT_EQ(map, nullptr);
}

TEST_F(SupportTest, WholeFileIsTakenWhetherReadOrMapped) {
    // The same data through the private snapshot (limit above the size) and
    // through the shared mapping (limit below it): every word is there.
    std::string path = WriteWords("d.bin", {1, -1, -2, 2, 3, -1, -2, 4, -1, -2});
    for (unsigned long long limit : {4096ull, 8ull}) {
        mem_map* map = CreateMemMap(path.c_str(), limit);
        EXPECT_EQ(map->Snapshot, limit == 4096ull);
        EXPECT_EQ(GetMemMapFileSize(map), 40);
        ASSERT_EQ(GetLastAddrOfMap(map) - GetStartOfMap(map), 10);
        EXPECT_EQ(GetStartOfMap(map)[7], 4);
        EXPECT_FALSE(MemMapFileChanged(map));
        CloseMemMap(&map);
    }
}

TEST_F(SupportTest, ChangesToTheFileAfterwards) {
    std::string path = WriteWords("d.bin", {1, -1, -2, 2, -1, -2});
    mem_map* snapshot = CreateMemMap(path.c_str(), 4096);
    mem_map* mapped = CreateMemMap(path.c_str(), 0);
    // As if the lease had not held back the writer: the size and time
    // check still sees the change.
    ASSERT_TRUE(mapped->Leased);
    ASSERT_EQ(fcntl(mapped->FileDesc, F_SETLEASE, F_UNLCK), 0);
    // Overwritten in place with other data and made longer.
    WriteWords("d.bin", {7, 7, 7, 7, 7, 7, 7, 7});
    EXPECT_EQ(GetStartOfMap(snapshot)[3], 2);  // the snapshot keeps its data
    EXPECT_FALSE(MemMapFileChanged(snapshot));
    EXPECT_TRUE(MemMapFileChanged(mapped));
    CloseMemMap(&snapshot);
    CloseMemMap(&mapped);
}

TEST_F(SupportTest, TruncatedMappedDatasetEndsTheRunWithAMessage) {
    std::string path = WriteWords("big.bin", std::vector<int32_t>(4096, -2));
    EXPECT_EXIT(
        {
            InstallRunSignalHandlers(fileno(diag.ErrorLog()));
            mem_map* map = CreateMemMap(path.c_str(), 0);
            // Without the lease the truncation goes through; SIGBUS remains.
            if (fcntl(map->FileDesc, F_SETLEASE, F_UNLCK) != 0) _exit(2);
            if (truncate(path.c_str(), 0) != 0) _exit(3);
            volatile int word = GetStartOfMap(map)[2048];  // a page gone from the file
            (void)word;
            _exit(4);
        },
        ::testing::ExitedWithCode(1), "quivrel: Dataset '.*big.bin' changed during the run.");
    EXPECT_EQ(ErrorLog(), "Dataset '" + path + "' changed during the run.\n");
}

TEST_F(SupportTest, WriterOfALeasedDatasetEndsTheRunBeforeItWrites) {
    std::vector<int32_t> words(4096, -2);
    std::string path = WriteWords("big.bin", words);
    EXPECT_EXIT(
        {
            InstallRunSignalHandlers(fileno(diag.ErrorLog()));
            mem_map* map = CreateMemMap(path.c_str(), 0);
            if (map->Snapshot || !map->Leased) _exit(2);
            // Any writer, this process too, is held back by the lease break.
            int fd = open(path.c_str(), O_WRONLY);
            if (fd >= 0 && write(fd, "\x07\0\0\0", 4) == 4) _exit(3);
            _exit(4);
        },
        ::testing::ExitedWithCode(1), "quivrel: Dataset '.*big.bin' changed during the run.");
    EXPECT_EQ(ErrorLog(), "Dataset '" + path + "' changed during the run.\n");
    std::ifstream in(path, std::ios::binary);
    std::vector<int32_t> after(words.size());
    in.read((char*)after.data(), (std::streamsize)(after.size() * sizeof(int32_t)));
    EXPECT_EQ(after, words) << "the writer got through";
}

TEST_F(SupportTest, DatasetOpenForWritingIsCopiedAndTheLeaseHandlerFollowsTheLease) {
    std::string path = WriteWords("d.bin", {1, -1, -2, 2, -1, -2});
    auto sigioHandler = [] {
        struct sigaction now;
        sigaction(SIGIO, nullptr, &now);
        return now.sa_handler;
    };
    // Another writer holds the file open: no lease, so a private copy.
    int writer = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    mem_map* map = CreateMemMap(path.c_str(), 0);
    EXPECT_TRUE(map->Snapshot);
    EXPECT_FALSE(map->Leased);
    EXPECT_EQ(sigioHandler(), SIG_DFL);
    EXPECT_EQ(GetStartOfMap(map)[3], 2);
    CloseMemMap(&map);
    close(writer);

    // Leased: the break handler stays through RestoreSignalHandlers and
    // goes with the descriptor.
    map = CreateMemMap(path.c_str(), 0);
    ASSERT_TRUE(map->Leased);
    EXPECT_NE(sigioHandler(), SIG_DFL);
    RestoreSignalHandlers();
    EXPECT_NE(sigioHandler(), SIG_DFL);
    CloseMemMap(&map);
    EXPECT_EQ(sigioHandler(), SIG_DFL);
}

TEST(MemMap, CloseAcceptsNull) {
    CloseMemMap(nullptr);
    mem_map* map = nullptr;
    CloseMemMap(&map);
    EXPECT_EQ(map, nullptr);
}

}  // namespace
