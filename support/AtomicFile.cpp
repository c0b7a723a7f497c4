// Temporary file, sync, rename: the steps of a whole-or-nothing write.
#include "support/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

int AtomicFile::Open(const std::string& target, const char* suffix) {
    Discard();
    target_ = target;
    std::string pattern = target + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkstemp(name.data());
    if (fd_ < 0) return errno;
    name_ = name.data();
    // mkstemp creates the file for the owner only.  A failed fchmod is not
    // fatal: the file stays usable by its owner.
    const mode_t mask = umask(0);
    umask(mask);
    (void)fchmod(fd_, 0666 & ~mask);
    return 0;
}

FILE* AtomicFile::Stream() {
    if (stream_ == nullptr && fd_ >= 0) stream_ = fdopen(fd_, "w");
    return stream_;
}

int AtomicFile::Write(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

int AtomicFile::Finish(bool sync) {
    if (fd_ < 0) return 0;
    int err = 0;
    if (stream_ != nullptr) {
        bool failed = fflush(stream_) != 0 || ferror(stream_) || (sync && fsync(fd_) != 0);
        if (failed) err = errno != 0 ? errno : EIO;
        if (fclose(stream_) != 0 && !failed) err = errno;
        stream_ = nullptr;
    } else {
        if (sync && fsync(fd_) != 0) err = errno;
        if (close(fd_) != 0 && err == 0) err = errno;
    }
    fd_ = -1;
    if (err != 0) Discard();
    return err;
}

int AtomicFile::Commit(bool sync) {
    int err = Finish(sync);
    if (err != 0) return err;
    if (rename(name_.c_str(), target_.c_str()) != 0) {
        err = errno;
        Discard();
        return err;
    }
    name_.clear();
    return 0;
}

void AtomicFile::Discard() {
    if (stream_ != nullptr) {
        fclose(stream_);
    } else if (fd_ >= 0) {
        close(fd_);
    }
    stream_ = nullptr;
    fd_ = -1;
    if (!name_.empty()) unlink(name_.c_str());
    name_.clear();
}
