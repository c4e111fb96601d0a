#include "output_claim.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>

#include "wav_writer.h"

namespace {

constexpr int kFlags = O_WRONLY | O_CLOEXEC;
constexpr mode_t kMode = 0666;  // the umask applies, as for any file a program creates
// Links followed before a path is taken for a loop, as the kernel counts them.
constexpr int kMaxLinks = 40;

// The directory that holds the name `path`, and the name in it.
std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameIn(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a path that names no file would make one: the path itself, or, for a link to a file
// that does not exist yet, where the links end.
std::string NewFileTarget(std::string path) {
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        std::string target(static_cast<size_t>(status.st_size) + 1, '\0');
        const ssize_t length = readlink(path.c_str(), &target[0], target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size()) return path;
        target.resize(static_cast<size_t>(length));
        path = target[0] == '/' ? target : DirectoryOf(path) + "/" + target;
    }
    return path;
}

// A name no other file of the directory has, hidden from listings and from tools that pick up
// "*.wav" files.
std::string TemporaryName(const std::string& name, int attempt) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return "." + name + "." + std::to_string(getpid()) + "-" +
           std::to_string((now + attempt) % 1000000) + ".part";
}

}  // namespace

bool SyncDescriptor(int fd) {
    // EINVAL: the file system keeps nothing that a sync could write; nothing is lost.
    return fdatasync(fd) == 0 || errno == EINVAL;
}

OutputClaim::~OutputClaim() {
    DropReplacement();
    if (fd_ >= 0 && !handedOn_) close(fd_);
    if (earlierFd_ >= 0) close(earlierFd_);
    if (dirFd_ >= 0) close(dirFd_);
}

int32_t OutputClaim::Take(const char* path, NewFile how) {
    // An existing file, a FIFO (whose open waits for a reader), a device, or a link to one.
    const int fd = open(path, kFlags);
    if (fd >= 0) {
        const int32_t taken = TakeExisting(fd);
        // Where the file's name stands, should it have to be replaced whole; a directory the
        // run cannot open only rules that out.
        const std::string target = NewFileTarget(path);
        dirFd_ = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        name_ = NameIn(target);
        return taken;
    }
    if (errno != ENOENT) {
        systemError_ = errno;
        return kWavWriterIoError;
    }
    return MakeNew(NewFileTarget(path), how);
}

int32_t OutputClaim::TakeStandardOutput() {
    ownDescription_ = false;
    const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (fd < 0) {
        systemError_ = errno;
        return kWavWriterIoError;
    }
    const int32_t taken = TakeExisting(fd);
    // Written at its start, the file can have its sizes patched there; appended to, or
    // written after what came before, it is a stream.
    const int flags = fcntl(fd_, F_GETFL);
    if (regular_ && (flags == -1 || (flags & O_APPEND) != 0 || lseek(fd_, 0, SEEK_CUR) != 0)) {
        regular_ = false;
        earlierSize_ = 0;
    }
    return taken;
}

int32_t OutputClaim::TakeExisting(int fd) {
    fd_ = fd;
    struct stat status {};
    if (fstat(fd_, &status) != 0) {
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
    earlierSize_ = regular_ ? static_cast<uint64_t>(status.st_size) : 0;
    return kWavWriterSuccess;
}

int32_t OutputClaim::MakeNew(const std::string& target, NewFile how) {
    dirFd_ = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
        systemError_ = errno;
        return kWavWriterIoError;
    }
    name_ = NameIn(target);
    if (how == NewFile::kDirectly) {
        fd_ = openat(dirFd_, name_.c_str(), O_CREAT | O_EXCL | kFlags, kMode);
        named_ = fd_ >= 0;
    } else {
        fd_ = OpenNewFile(how, unnamed_, tempName_);
        // The file system makes no unnamed files: the next way says what else is wrong.
        if (fd_ < 0 && how == NewFile::kUnnamed) return kTryAnotherWay;
    }
    struct stat status {};
    if (fd_ < 0 || fstat(fd_, &status) != 0) {
        systemError_ = errno;
        return kWavWriterIoError;
    }
    created_ = true;
    regular_ = S_ISREG(status.st_mode);
    device_ = status.st_dev;
    inode_ = status.st_ino;
    // Nobody else can have the file before it has its name; locked now, it stays so.
    if (regular_) static_cast<void>(flock(fd_, LOCK_EX | LOCK_NB));
    return kWavWriterSuccess;
}

int OutputClaim::OpenNewFile(NewFile how, bool& unnamed, std::string& tempName) {
    unnamed = false;
    tempName.clear();
    if (how == NewFile::kUnnamed) {
        const int fd = openat(dirFd_, ".", O_TMPFILE | kFlags, kMode);
        unnamed = fd >= 0;
        return fd;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = TemporaryName(name_, attempt);
        const int fd = openat(dirFd_, name.c_str(), O_CREAT | O_EXCL | kFlags, kMode);
        if (fd >= 0) tempName = name;
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool OutputClaim::LinkNewFile(int fd, bool unnamed, std::string& tempName,
                              const std::string& name) {
    int linked = -1;
    if (unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        linked = linkat(AT_FDCWD, self.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW);
        // Without /proc, a process with the privilege links the descriptor itself.
        if (linked != 0 && errno == ENOENT) {
            linked = linkat(fd, "", dirFd_, name.c_str(), AT_EMPTY_PATH);
        }
        return linked == 0;
    }
    linked = renameat2(dirFd_, tempName.c_str(), dirFd_, name.c_str(), RENAME_NOREPLACE);
    // A file system that cannot rename so: a link, then the temporary name goes.
    if (linked != 0 && errno == EINVAL) {
        linked = linkat(dirFd_, tempName.c_str(), dirFd_, name.c_str(), 0);
        if (linked == 0) unlinkat(dirFd_, tempName.c_str(), 0);
    }
    if (linked == 0) tempName.clear();
    return linked == 0;
}

bool OutputClaim::GiveName() {
    if (named_) return true;
    if (!LinkNewFile(fd_, unnamed_, tempName_, name_)) {
        systemError_ = errno;
        return false;
    }
    named_ = true;
    return true;
}

int OutputClaim::MakeReplacement() {
    if (dirFd_ < 0 || created_ || !regular_) return -1;
    struct stat earlier {};
    if (fstat(fd_, &earlier) != 0) return -1;
    for (const NewFile how : {NewFile::kUnnamed, NewFile::kTempName}) {
        replacementFd_ = OpenNewFile(how, replacementUnnamed_, replacementTempName_);
        if (replacementFd_ >= 0) break;
    }
    if (replacementFd_ < 0) return -1;
    // The earlier file's owner keeps it where the process may say so; its mode in any case.
    static_cast<void>(fchown(replacementFd_, earlier.st_uid, earlier.st_gid));
    static_cast<void>(fchmod(replacementFd_, earlier.st_mode & 07777));
    static_cast<void>(flock(replacementFd_, LOCK_EX | LOCK_NB));
    return replacementFd_;
}

bool OutputClaim::SwapIn() {
    struct stat earlier {};
    struct stat named {};
    // Only over the file the claim holds: the name may have been given to another meanwhile.
    bool swapped = fstat(fd_, &earlier) == 0 &&
                   fstatat(dirFd_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                   earlier.st_dev == named.st_dev && earlier.st_ino == named.st_ino;
    if (swapped && replacementUnnamed_) {
        // An unnamed file can only be linked to a name that is free; it is renamed from there.
        for (int attempt = 0; attempt < 100 && replacementTempName_.empty(); ++attempt) {
            const std::string name = TemporaryName(name_, attempt);
            if (LinkNewFile(replacementFd_, true, replacementTempName_, name)) {
                replacementTempName_ = name;
            } else if (errno != EEXIST) {
                break;
            }
        }
        swapped = !replacementTempName_.empty();
    }
    swapped = swapped && renameat(dirFd_, replacementTempName_.c_str(), dirFd_, name_.c_str()) == 0;
    if (!swapped) {
        DropReplacement();
        return false;
    }
    replacementTempName_.clear();
    earlierFd_ = fd_;
    if (handedOn_) earlierFd_ = fcntl(fd_, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    fd_ = replacementFd_;
    replacementFd_ = -1;
    swapped_ = true;
    overwritten_ = false;
    return true;
}

void OutputClaim::DropReplacement() {
    if (!replacementTempName_.empty()) unlinkat(dirFd_, replacementTempName_.c_str(), 0);
    replacementTempName_.clear();
    if (replacementFd_ >= 0) close(replacementFd_);
    replacementFd_ = -1;
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
    // The output is open for writing only; the same file is read through a descriptor of its
    // own. Where that cannot be had (no /proc, a file only its writer may read), only the
    // size can be restored.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    const int reader = open(self.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t read =
        reader >= 0 ? pread(reader, earlierStart_.data(), earlierStart_.size(), 0) : -1;
    if (reader >= 0) close(reader);
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
    return !NamedByClaim() || dirFd_ < 0 || fsync(dirFd_) == 0 || errno == EINVAL;
}

void OutputClaim::RemoveCreatedFile() {
    if (!created_ || dirFd_ < 0) return;
    if (!tempName_.empty()) unlinkat(dirFd_, tempName_.c_str(), 0);
    tempName_.clear();
    // Only the file the claim made: the name may have been given to another meanwhile.
    struct stat status {};
    if (named_ && fstatat(dirFd_, name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_dev == device_ && status.st_ino == inode_) {
        unlinkat(dirFd_, name_.c_str(), 0);
    }
    named_ = false;
}
