// The output path, taken for one writer, and given back as it was found when the writer's
// audio never starts.
//
// A file that does not exist gets its name only once the writer has put its header in it, so
// that the path never shows an empty or half-written file: it is made without a name in the
// directory it goes to (or, where the file system makes no such files, under a hidden
// temporary name there), and named (GiveName) after the header. Where the path is a link to a
// file that does not exist yet, the file is made where the link points. An existing file is
// opened without truncating it. A regular file is locked against other runs for as long as
// the descriptor is open.
//
// Everything after Take works on the descriptors opened by Take, not on the path: a directory
// renamed during the run, or a new one made under the old name, changes nothing.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

// Writes what the file on `fd` holds through to the disk; false with errno set when that
// fails.
bool SyncDescriptor(int fd);

class OutputClaim {
public:
    // How a file that does not exist yet is made, in the order they are tried.
    enum class NewFile {
        kUnnamed,   // without a name, linked to it (needs /proc, or the privilege to link)
        kTempName,  // under a hidden temporary name, renamed to it
        kDirectly,  // by its name at once, for file systems that allow neither
    };

    OutputClaim() = default;
    OutputClaim(const OutputClaim&) = delete;
    OutputClaim& operator=(const OutputClaim&) = delete;
    // Closes the descriptors unless the file's was handed on.
    ~OutputClaim();

    // Takes `path`; a file that does not exist is made as `how` says. A writer's result code:
    // success, an I/O error (with SystemError), the output in use by another writer, or
    // kTryAnotherWay when this way of making a file cannot be had here.
    int32_t Take(const char* path, NewFile how);
    // Takes the file that standard output is open on. A regular file whose start standard
    // output writes at is taken as an existing file (its sizes patched at the end); anything
    // else (a pipe, a terminal, a file appended to) is written as a stream.
    int32_t TakeStandardOutput();
    int descriptor() const { return fd_; }
    // The descriptor is someone else's to close from now on (a stdio stream's).
    void HandOn() { handedOn_ = true; }
    // A regular file, whose bytes can be rewritten in place.
    bool regular() const { return regular_; }
    // The claim opened the descriptor itself: its flags are the writer's to change.
    bool ownDescription() const { return ownDescription_; }
    // The claim made the file: there was none before.
    bool created() const { return created_; }
    // Gives the new file, which now holds its header, its name. False where it could not be
    // had: SystemError tells why, and NameTaken whether another file took the name meanwhile.
    bool GiveName();
    bool NameTaken() const { return systemError_ == EEXIST; }
    // Syncs the directory that holds the name of the file the claim made or swapped in, so
    // that the name survives a power cut; false with errno set when that fails.
    bool SyncDirectory() const;
    // The output's name was given to a file by the claim: one it made, or a replacement.
    bool NamedByClaim() const { return created_ || swapped_; }

    // Where an existing file's start cannot be rewritten at one instant (a header of several
    // pages), its replacement is made beside it: an empty file of the same mode (and owner,
    // where the process may set it), locked. Returns its descriptor, or -1 where none can be
    // had (standard output, a directory the run may not write in).
    int MakeReplacement();
    // The replacement, holding its start, takes the earlier file's name at one instant, and is
    // the claim's file from then on (descriptor() names it). The earlier file stays open, and
    // so locked, until the claim ends, for any run that opened it before. False where the name
    // no longer belongs to the earlier file, or the rename fails: the replacement is dropped.
    bool SwapIn();

    // Before the first `bytes` of an earlier file are overwritten: keeps them, to be put back
    // should the new start not fit.
    void KeepEarlierStart(uint64_t bytes);
    // The path as it was found, where the disk allows it: a file the claim made removed, an
    // earlier file's first bytes put back and its size restored once they were overwritten.
    void GiveBack();

    // The system's reason (errno) of a failed Take or GiveName, or 0.
    int SystemError() const { return systemError_; }

    static constexpr int32_t kTryAnotherWay = -1;

private:
    int32_t TakeExisting(int fd);
    int32_t MakeNew(const std::string& target, NewFile how);
    // A new file in the claim's directory: unnamed where the file system allows it (`unnamed`
    // set), otherwise under a hidden temporary name (`tempName` set); -1 with errno on failure.
    int OpenNewFile(NewFile how, bool& unnamed, std::string& tempName);
    // Gives the new file on `fd` the name `name` without replacing anything.
    bool LinkNewFile(int fd, bool unnamed, std::string& tempName, const std::string& name);
    void RemoveCreatedFile();
    void DropReplacement();

    int fd_ = -1;
    bool handedOn_ = false;
    bool regular_ = false;
    bool ownDescription_ = true;
    bool created_ = false;
    // The directory the new file's name goes in, and its name there; the hidden name it has
    // until GiveName, where it has one.
    int dirFd_ = -1;
    std::string name_;
    std::string tempName_;
    bool unnamed_ = false;
    bool named_ = false;  // the new file is under its name
    dev_t device_ = 0;
    ino_t inode_ = 0;
    // A replacement of the existing file, until it is swapped in.
    int replacementFd_ = -1;
    bool replacementUnnamed_ = false;
    std::string replacementTempName_;
    // The earlier file, kept open for its lock once its replacement has its name.
    int earlierFd_ = -1;
    bool swapped_ = false;
    uint64_t earlierSize_ = 0;
    bool overwritten_ = false;
    std::vector<uint8_t> earlierStart_;
    int systemError_ = 0;
};
