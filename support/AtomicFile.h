// A file that appears whole or not at all.  It is written under a temporary
// name beside its target and renamed over the target only when every byte
// has reached it, so that a reader never sees a partial file and a failed
// or interrupted writer leaves an earlier file as it was.  Shared by the
// miner's result file and the companion tools' outputs.
//
// Failures come back as errno values (0 for success); each caller words its
// own message.  Not committed, the temporary file is removed on destruction.
//
// Tested by tests/unit/test_dataset_format.cpp, the write_result_* and
// interrupted_* end-to-end cases and tests/tools/test_convert.cpp.
#ifndef QUIVREL_ATOMICFILE_H
#define QUIVREL_ATOMICFILE_H

#include <cstddef>
#include <cstdio>
#include <string>

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { Discard(); }

    // Creates the temporary file `target` + `suffix`, where the suffix ends
    // with "XXXXXX" (mkstemp), with the permissions a plain fopen would give.
    int Open(const std::string& target, const char* suffix);
    // A stdio stream over the temporary file (made on the first call), or
    // null with errno set.
    FILE* Stream();
    // Writes all of `data` (retrying after interruptions).
    int Write(const char* data, size_t size);
    // Flushes and closes the temporary file, synced to the disk when `sync`
    // is set; on failure the temporary file is removed.
    int Finish(bool sync);
    // Finish, then the rename over the target; on failure the temporary
    // file is removed.
    int Commit(bool sync);
    // Closes and removes the temporary file, if any.
    void Discard();

    const std::string& Target() const { return target_; }
    // The temporary name while there is one (empty otherwise).
    const std::string& TempName() const { return name_; }

private:
    std::string target_;
    std::string name_;
    int fd_ = -1;
    FILE* stream_ = nullptr;  // owns fd_ once made
};

#endif
