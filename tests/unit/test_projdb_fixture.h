// Fixture of the projection-module tests: a scratch directory with the error
// log bound to the test's thread, and the module's run-wide state reset
// around every test.
#ifndef QUIVREL_TEST_PROJDB_FIXTURE_H
#define QUIVREL_TEST_PROJDB_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "projdb/ProjDB.h"
#include "support/Diagnostics.h"
#include "support/Global.h"
#include "test_util.h"

class ProjDBTest : public ::testing::Test {
protected:
    std::string dir;
    std::string errPath;
    // Where the test thread's messages go: the log in the scratch directory.
    Diagnostics diag;
    // The run's dataset and the workspace that projects over it.
    Dataset data;
    ProjWorkspace ws{data};

    void SetUp() override {
        dir = quivrel_test::MakeTempDir("quivrel-projdb");
        ASSERT_FALSE(dir.empty());
        errPath = dir + "/error.tmp";
        FILE* log = fopen(errPath.c_str(), "w");
        ASSERT_NE(log, nullptr);
        diag.AttachErrorLog(log);
        BindDiagnosticsToThisThread(&diag);
        ResetModule();
    }

    void TearDown() override {
        ResetModule();
        BindDiagnosticsToThisThread(nullptr);
        diag.CloseErrorLog();
        quivrel_test::RemoveDir(dir);
    }

    // Back to the state of a fresh run.
    void ResetModule() { ws.ReleaseProjDB(); }

    std::string WriteData(const std::vector<int>& words, const std::string& name = "data.bin") {
        std::string path = dir + "/" + name;
        quivrel_test::WriteDataset(path, words);
        return path;
    }

    // Writes and loads a dataset; returns ws.InitProjDB's result.
    long long Load(const std::vector<int>& words, int itemcount = 100) {
        return ws.InitProjDB(WriteData(words).c_str(), itemcount);
    }

    std::string ErrorLog() {
        if (diag.ErrorLog() != nullptr) fflush(diag.ErrorLog());
        return quivrel_test::ReadFile(errPath);
    }

    // First-level projection, every record filled, with its progress lines
    // kept off the test log.
    PROJ_DB* FirstLevel(double support, int* count, std::string* out = nullptr) {
        ::testing::internal::CaptureStdout();
        PROJ_DB* records = ws.make_projdb_from_org_dataset(support, count);
        ws.FillFirstLevel(records, *count);
        std::string text = ::testing::internal::GetCapturedStdout();
        if (out != nullptr) *out = text;
        return records;
    }

    // Word offsets of entry i's positions from the start of the data.
    std::vector<long long> Positions(const PROJ_DB& db, int i) {
        std::vector<long long> out;
        const EntryPositions positions = PositionsOf(db, db.m_pProjSeq[i]);
        for (int j = 0; j < positions.count; ++j) out.push_back(positions.offsets[j]);
        return out;
    }

    // The data word at `offset`, whatever the width the words are held in.
    int WordAt(long long offset) {
        return data.HalfWords ? data.Words<int16_t>()[offset] : data.Words<int>()[offset];
    }

    static std::vector<int> PatternWords(const PROJ_DB& db) {
        if (db.m_nPatLen == 1) return {db.m_nPatItem};
        return std::vector<int>(db.m_pnPat, db.m_pnPat + db.m_nPatLen);
    }

    // Releases an array of records (buffers and the array itself).
    void ReleaseArray(PROJ_DB* records, int count) {
        for (int i = 0; i < count; ++i) ws.release_projdb_buffers(&records[i]);
        ws.ReleaseRecordsArray(count);
        free(records);
    }
};

// Runs `body`, which must end the run; returns the RunAbort status (1000
// when it did not abort).
template <typename F>
int AbortStatus(F body) {
    try {
        body();
    } catch (const RunAbort& abort) {
        return abort.status;
    }
    return 1000;
}

#endif
