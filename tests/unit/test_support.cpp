// Timers, checked opening and allocation, and the read-only dataset mapping.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/Global.h"
#include "support/LinuxMemMap.h"

namespace {

// A scratch directory with the error log opened in it, removed afterwards.
class SupportTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/quivrel-support.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        gpErrFile = fopen((dir + "/error.tmp").c_str(), "w");
        ASSERT_NE(gpErrFile, nullptr);
    }
    void TearDown() override {
        if (gpErrFile != nullptr) fclose(gpErrFile);
        gpErrFile = nullptr;
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string ErrorLog() {
        fflush(gpErrFile);
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

TEST(Timers, SlotsCreateReadAndDelete) {
    CreateTimers(0);
    EXPECT_EQ(pTimer, nullptr);
    DeleteTimers();  // null: nothing to do
    EXPECT_EQ(pTimer, nullptr);

    CreateTimers(3);
    ASSERT_NE(pTimer, nullptr);
    ReadClock(&pTimer[0]);
    EXPECT_GE(pTimer[0].millitm, 0);
    EXPECT_LE(pTimer[0].millitm, 999);
    double a = (double)GetTimeDiff(0);
    double b = (double)GetTimeDiff(0);
    EXPECT_GE(a, 0.0);
    EXPECT_LE(a, b);
    DeleteTimers();
    EXPECT_EQ(pTimer, nullptr);
}

TEST_F(SupportTest, FileOpenFailureIsLoggedAndEndsTheRun) {
    std::string path = dir + "/no/such/dir/x.txt";
    int status = AbortStatus([](void* p) { file_open((const char*)p, "w"); }, (void*)path.c_str());
    EXPECT_EQ(status, -1);
    EXPECT_EQ(ErrorLog(), "Fail to open file " + path + " with mode w\n");
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

TEST_F(SupportTest, WindowEndsAfterTheLastWholeSequence) {
    // Sequences of 3 and 4 words; a window of 5 words cuts the second one.
    std::string path = WriteWords("d.bin", {1, -1, -2, 2, 3, -1, -2, 4, -1, -2});
    mem_map* map = CreateMemMap(path.c_str(), 20);
    EXPECT_EQ(GetMemMapFileSize(map), 40);  // the whole file, not the window
    EXPECT_EQ(GetLastAddrOfMap(map) - GetStartOfMap(map), 3);
    CloseMemMap(&map);

    // A window whose last word is -2 ends exactly there.
    map = CreateMemMap(path.c_str(), 28);
    EXPECT_EQ(GetLastAddrOfMap(map) - GetStartOfMap(map), 7);
    CloseMemMap(&map);

    // A file of exactly the limit is mapped whole without a search.
    map = CreateMemMap(path.c_str(), 40);
    EXPECT_EQ(GetLastAddrOfMap(map) - GetStartOfMap(map), 10);
    CloseMemMap(&map);
}

TEST_F(SupportTest, WindowWithoutAnySequenceEndIsMalformed) {
    std::string path = WriteWords("d.bin", {1, 2, 3, 4, -1, -2});
    static std::string p;
    p = path;
    int status = AbortStatus([](void*) { CreateMemMap(p.c_str(), 8); }, nullptr);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ErrorLog(), "Malformed dataset '" + path +
                              "': no complete sequence within the first 8 bytes.\n");
}

TEST(MemMap, CloseAcceptsNull) {
    CloseMemMap(nullptr);
    mem_map* map = nullptr;
    CloseMemMap(&map);
    EXPECT_EQ(map, nullptr);
}

}  // namespace
