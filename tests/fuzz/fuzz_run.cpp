// libFuzzer target over one whole run of quivrel, in-process.
//
// The input is a four-byte header followed by the dataset:
//   byte 0   support: 0.2 + 0.8 * (byte 0 & 0x7f) / 127, so from 0.2 to 1.0;
//            its top bit selects how the rest is read:
//              clear: raw, the rest of the input is the dataset file byte for
//                     byte (32-bit little-endian words, any size);
//              set:   compact, one byte per word, so that mutations reach the
//                     mining code instead of the validation alone:
//                     0xff is -2, 0xfe is -1, 0xfd is -7 (a stray negative
//                     value), 0xfc is 1000000 (a code above every item
//                     count used here), any other byte is that item code.
//   byte 1   itemcount, 0 to 255.
//   byte 2   the projection strategy (0: automatic): bits 0-2 the way of
//            counting new-itemset extensions (0 automatic, 1 table, 2 mask,
//            3 candidate marks, 4 all codes; 5 and 6 automatic with the
//            whole in-itemset table or noted codes), bits 3-4 the way of
//            filling (automatic, tables, item by item, scan), bit 5 no
//            occurrence tables, bit 6 sequences found by search and the
//            walks four words at a time (as without AVX2), bit 7 no
//            one-item-per-itemset shortcuts.
//   byte 3   bits 0-1: 1 counts new-itemset extensions by compares, 2 by
//            the in-itemset pass (both in place of byte 2's way; the pass
//            needs bit 5 of byte 2, no occurrence tables), 0 and 3 leave
//            byte 2's way; bit 2 keeps the data in 32-bit words (else
//            the codes, all below 256, make them half-width words); bits
//            3-7 are not read.
// Runs must stay small, so that a slow input is a real hang and not a big
// search: every frequent pattern is a subsequence of some sequence and needs
// at least a fifth of the sequences (the lowest threshold here), so with at
// most kMaxItemsPerSequence item words in a sequence there are at most
// 5 * 2^kMaxItemsPerSequence frequent patterns.  Inputs with a longer
// sequence, or larger than kMaxInput, are skipped (long sequences have their
// own end-to-end cases).
//
// The dataset is written to "data.bin" in a scratch directory that the
// target moves into for each run; the run then writes its "error.tmp" and
// "ClosedMaxset.txt" there as on the command line.  Standard output goes to
// /dev/null.  After each run ResetRun gives everything back, so the leak
// checker sees every byte a run keeps; a complete run that still holds
// projection memory aborts the target.
//
// After a complete run each pattern line of "ClosedMaxset.txt" is checked:
// its support must be the pattern's true support, recounted here by plain
// matching, and must reach the threshold.  For a dataset of at most
// kMaxOracleItems item words the lines must be exactly the closed patterns,
// found here by brute force.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "driver/1LPrefixSpan.h"
#include "projdb/ProjDB.h"
#include "tests/oracle/closed_oracle.h"

namespace {

// The run every input is mined in; ResetRun gives it back after each.
MiningRun gFuzzRun;

const size_t kMaxInput = 1024;
const int kMaxItemsPerSequence = 12;
const int kMaxOracleItems = 48;

// The scratch directory (made once, in /dev/shm when there is one, so that
// the result file's fsync costs nothing) and the directory the target was
// started in.  Each run moves into the scratch directory and back, so that
// libFuzzer still finds inputs given by relative paths.
std::string gScratchDir;
int gStartDir = -1;

void RemoveScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(gScratchDir, ec);
}

void EnterScratchDir() {
    if (gScratchDir.empty()) {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        if (const char* tmp = getenv("QUIVREL_FUZZ_TMP")) base = tmp;
        std::string pattern = base + "/quivrel-fuzz.XXXXXX";
        std::vector<char> dir(pattern.begin(), pattern.end());
        dir.push_back('\0');
        gStartDir = open(".", O_RDONLY | O_DIRECTORY);
        if (mkdtemp(dir.data()) == nullptr || gStartDir < 0) {
            perror("quivrel fuzz: scratch directory");
            abort();
        }
        gScratchDir = dir.data();
        atexit(RemoveScratchDir);
        if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    }
    if (chdir(gScratchDir.c_str()) != 0) abort();
}

void LeaveScratchDir() {
    if (fchdir(gStartDir) != 0) abort();
}

// The dataset file's bytes for the body of the input.
std::string DatasetBytes(bool compact, const uint8_t* body, size_t size) {
    if (!compact) return std::string((const char*)body, size);
    std::string bytes;
    bytes.reserve(size * 4);
    for (size_t i = 0; i < size; i++) {
        int32_t word;
        switch (body[i]) {
            case 0xff: word = -2; break;
            case 0xfe: word = -1; break;
            case 0xfd: word = -7; break;
            case 0xfc: word = 1000000; break;
            default: word = body[i];
        }
        uint32_t u = (uint32_t)word;
        for (int b = 0; b < 4; b++) bytes.push_back((char)((u >> (8 * b)) & 0xff));
    }
    return bytes;
}

// The whole 32-bit little-endian words of a dataset file.
std::vector<int32_t> Words(const std::string& bytes) {
    std::vector<int32_t> words;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        uint32_t u = 0;
        for (int b = 0; b < 4; b++) u |= (uint32_t)(uint8_t)bytes[i + b] << (8 * b);
        words.push_back((int32_t)u);
    }
    return words;
}

ProjectionStrategy StrategyOf(uint8_t b, uint8_t more) {
    ProjectionStrategy s;
    int count = b & 7;
    if (count < 5) s.count = (ProjectionStrategy::Count)count;
    if (count == 5) s.wholeIntra = 1;
    if (count == 6) s.wholeIntra = -1;
    if (count == 7) s.firstLevelBudget = 1;  // a first-level batch per record
    s.fill = (ProjectionStrategy::Fill)((b >> 3) & 3);
    s.noTables = (b & 0x20) != 0;
    s.ignoreSeqHints = (b & 0x40) != 0;
    s.narrowCompares = (b & 0x40) != 0;
    s.generalItemsets = (b & 0x80) != 0;
    if ((more & 3) == 1) s.count = ProjectionStrategy::kCountCompares;
    if ((more & 3) == 2) s.count = ProjectionStrategy::kCountInItemsetPass;
    s.fullWidthWords = (more & 4) != 0;
    return s;
}

// True when some sequence of the dataset (words up to a -2, or to the end)
// holds more than kMaxItemsPerSequence item words.
bool HasLongSequence(const std::vector<int32_t>& words) {
    int items = 0;
    for (int32_t w : words) {
        if (w == -2) {
            items = 0;
        } else if (w >= 0 && ++items > kMaxItemsPerSequence) {
            return true;
        }
    }
    return false;
}

[[noreturn]] void Fail(const std::string& what) {
    fprintf(stderr, "quivrel fuzz: %s\n", what.c_str());
    abort();
}

// Checks the pattern lines "<(1 2)(3)>  Num= .. Support = S .." of the result
// file: true supports that reach the threshold, and, with `exact`, exactly
// the closed set.
void CheckResult(const std::vector<int32_t>& words, bool exact) {
    closed_oracle::Dataset db = closed_oracle::FromWords(words);
    std::map<closed_oracle::Pattern, int> printed;
    std::ifstream in("ClosedMaxset.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '<') continue;
        closed_oracle::Pattern pattern;
        int support = 0, itemsets = 0;
        if (!closed_oracle::ParseResultLine(line, pattern, support, itemsets))
            Fail("unreadable result line: " + line);
        int truth = closed_oracle::Support(db, pattern);
        if (support != truth || support < gFuzzRun.proj.gSUP || itemsets != (int)pattern.size())
            Fail(line + ": true support " + std::to_string(truth));
        if (!printed.emplace(pattern, support).second) Fail("printed twice: " + line);
    }
    if (!exact) return;
    std::map<closed_oracle::Pattern, int> closed =
        closed_oracle::ClosedPatterns(db, gFuzzRun.proj.gSUP);
    for (const auto& [p, support] : closed)
        if (printed.count(p) == 0) Fail("closed pattern missing: " + closed_oracle::Text(p));
    for (const auto& [p, support] : printed)
        if (closed.count(p) == 0) Fail("not closed: " + closed_oracle::Text(p));
}

void WriteFileOrDie(const char* path, const std::string& bytes) {
    FILE* f = fopen(path, "wb");
    if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
        perror("quivrel fuzz: data.bin");
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > kMaxInput) return -1;  // not added to the corpus

    bool compact = (data[0] & 0x80) != 0;
    double support = 0.2 + 0.8 * (double)(data[0] & 0x7f) / 127.0;
    std::string bytes = DatasetBytes(compact, data + 4, size - 4);
    std::vector<int32_t> words = Words(bytes);
    if (HasLongSequence(words)) return -1;
    EnterScratchDir();
    WriteFileOrDie("data.bin", bytes);

    char supportText[32], itemcountText[16];
    snprintf(supportText, sizeof supportText, "%.17g", support);
    snprintf(itemcountText, sizeof itemcountText, "%d", (int)data[1]);
    char prog[] = "quivrel", quiet[] = "--quiet", path[] = "data.bin";
    char* argv[] = {prog, quiet, path, supportText, itemcountText, nullptr};

    gFuzzRun.proj.SetProjectionStrategy(StrategyOf(data[2], data[3]));
    int status = QuivrelMain(5, argv, gFuzzRun);
    if (status != 0 && status != 1) {
        // Arguments are always valid and inputs small: only a malformed
        // dataset (1) may end a run early.
        fprintf(stderr, "quivrel fuzz: run ended with status %d\n", status);
        abort();
    }
    if (status == 0 && gFuzzRun.proj.n_total_mem != 0) {
        fprintf(stderr, "quivrel fuzz: %lld bytes of projection memory held after a complete run\n",
                (long long)gFuzzRun.proj.n_total_mem);
        abort();
    }
    if (status == 0) {
        int items = 0;
        for (int32_t w : words) items += w >= 0 ? 1 : 0;
        CheckResult(words, items <= kMaxOracleItems);
    }
    ResetRun(gFuzzRun);
    LeaveScratchDir();
    return 0;
}
