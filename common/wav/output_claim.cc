#include "output_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "wav_writer.h"

namespace {

constexpr int kFlags = O_WRONLY | O_CLOEXEC;
constexpr mode_t kMode = 0666;  // the umask applies, as for any file a program creates

// Opens the output for writing without truncating it. `created` names the file this call
// made (the target, when the path is a link to a file that did not exist); empty when the
// file was there before.
int OpenByName(const char* path, std::string& created) {
    created.clear();
    int fd = open(path, kFlags | O_CREAT | O_EXCL, kMode);
    if (fd >= 0) {
        created = path;
        return fd;
    }
    if (errno != EEXIST) return -1;
    fd = open(path, kFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    // A link to a file that does not exist yet: the target is created through it.
    fd = open(path, kFlags | O_CREAT | O_EXCL | O_NOFOLLOW, kMode);
    if (fd >= 0 || errno != EEXIST) return fd;
    fd = open(path, kFlags | O_CREAT, kMode);
    if (fd < 0) return fd;
    char* const target = realpath(path, nullptr);
    if (target != nullptr) {
        created = target;
        std::free(target);
    }
    return fd;
}

// The directory that holds the name `path`.
std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A file without a name in the directory `path` would be in, or -1: where `path` names
// anything already (a link included), or where the file system makes no such files.
int OpenUnnamedBeside(const char* path) {
    struct stat status {};
    if (lstat(path, &status) == 0) return -1;
    return open(DirectoryOf(path).c_str(), O_TMPFILE | kFlags, kMode);
}

}  // namespace

bool SyncDescriptor(int fd) {
    // EINVAL: the file system keeps nothing that a sync could write; nothing is lost.
    return fdatasync(fd) == 0 || errno == EINVAL;
}

OutputClaim::~OutputClaim() {
    if (fd_ >= 0 && !handedOn_) close(fd_);
}

int32_t OutputClaim::Take(const char* path, bool unnamedFirst) {
    std::string created;
    fd_ = unnamedFirst ? OpenUnnamedBeside(path) : -1;
    unnamed_ = fd_ >= 0;
    if (!unnamed_) fd_ = OpenByName(path, created);
    struct stat status {};
    if (fd_ < 0 || fstat(fd_, &status) != 0) {
        systemError_ = errno;
        return kWavWriterIoError;
    }
    // Two runs writing one file would leave a splice of both, or sizes that belong to the
    // other's data. Only regular files: any number of runs may write to /dev/null or to
    // FIFOs of their own. A file system that cannot lock gets the file unlocked.
    regular_ = S_ISREG(status.st_mode);
    if (regular_ && flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        // Not ours to remove: the holder may just have created it.
        return kWavWriterInUse;
    }
    created_ = unnamed_ || !created.empty();
    createdPath_ = created;
    createdDevice_ = status.st_dev;
    createdInode_ = status.st_ino;
    earlierSize_ = created_ || !regular_ ? 0 : static_cast<uint64_t>(status.st_size);
    return kWavWriterSuccess;
}

bool OutputClaim::Link(const char* path) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) != 0) return false;
    unnamed_ = false;
    createdPath_ = path;
    return true;
}

void OutputClaim::KeepEarlierStart(uint64_t bytes) {
    overwritten_ = regular_ && !created_;
    if (earlierSize_ == 0) return;
    try {
        earlierStart_.resize(bytes < earlierSize_ ? bytes : earlierSize_);
    } catch (const std::bad_alloc&) {
        // Without them, a failed start can still restore the size.
        earlierStart_.clear();
        return;
    }
    const ssize_t read = pread(fd_, earlierStart_.data(), earlierStart_.size(), 0);
    if (read != static_cast<ssize_t>(earlierStart_.size())) earlierStart_.clear();
}

void OutputClaim::GiveBack() {
    if (fd_ >= 0 && overwritten_) {
        // Rewriting bytes the file held and shrinking it need no free space; should either
        // fail, nothing more can be done.
        if (!earlierStart_.empty()) {
            static_cast<void>(pwrite(fd_, earlierStart_.data(), earlierStart_.size(), 0));
        }
        static_cast<void>(ftruncate(fd_, static_cast<off_t>(earlierSize_)));
    }
    RemoveCreatedFile();
}

bool OutputClaim::SyncDirectory() const {
    const int dir = open(DirectoryOf(createdPath_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    const bool synced = fsync(dir) == 0 || errno == EINVAL;
    const int error = errno;
    close(dir);
    errno = error;
    return synced;
}

void OutputClaim::RemoveCreatedFile() {
    if (createdPath_.empty()) return;
    struct stat status {};
    if (lstat(createdPath_.c_str(), &status) == 0 && status.st_dev == createdDevice_ &&
        status.st_ino == createdInode_) {
        unlink(createdPath_.c_str());
    }
    createdPath_.clear();
}
