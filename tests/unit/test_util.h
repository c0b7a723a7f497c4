// Small helpers shared by the unit tests: scratch directories, binary
// dataset files and reading whole files back.
#ifndef QUIVREL_TEST_UTIL_H
#define QUIVREL_TEST_UTIL_H

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quivrel_test {

// A new empty directory under the test build's scratch area (or /tmp),
// named after `tag`.  The caller removes it with RemoveDir.
inline std::string MakeTempDir(const std::string& tag) {
#ifdef QUIVREL_TEST_TMP
    std::string base = QUIVREL_TEST_TMP;
#else
    std::string base = "/tmp";
#endif
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    std::string pattern = base + "/" + tag + ".XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) return std::string();
    return std::string(buf.data());
}

inline void RemoveDir(const std::string& dir) {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

// Writes `words` as a dataset file: 32-bit little-endian integers.
inline void WriteDataset(const std::string& path, const std::vector<int>& words) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int w : words) {
        uint32_t v = (uint32_t)w;
        char bytes[4] = {(char)(v & 0xff), (char)((v >> 8) & 0xff), (char)((v >> 16) & 0xff),
                         (char)((v >> 24) & 0xff)};
        out.write(bytes, 4);
    }
}

// Writes raw bytes (for files whose size is not a whole number of words).
inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

// The whole contents of a file ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace quivrel_test

#endif
