// A test that mines in-process inside a scratch directory of its own: the
// run's files (error.tmp, ClosedMaxset.txt) land there, and the run is
// released after each test.
#ifndef QUIVREL_TESTS_SCRATCH_RUN_H
#define QUIVREL_TESTS_SCRATCH_RUN_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "driver/1LPrefixSpan.h"
#include "tests/unit/test_util.h"

class ScratchRunTest : public ::testing::Test {
protected:
    explicit ScratchRunTest(const char* name) : name_(name) {}
    void SetUp() override {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldCwd = buf;
        dir = quivrel_test::MakeTempDir(name_);
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        ResetRun(run);
        ASSERT_EQ(chdir(oldCwd.c_str()), 0);
        quivrel_test::RemoveDir(dir);
    }

    std::string dir, oldCwd;
    MiningRun run;

private:
    const char* name_;
};

#endif
