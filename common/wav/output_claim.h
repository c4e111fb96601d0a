// The output path, taken for one writer, and given back as it was found when the writer's
// audio never starts.
//
// A file that does not exist is made without a name in the output's directory where the file
// system allows it, to be linked once it holds its first bytes, so that it never shows up
// empty; otherwise it is created by name (through a link to a file that does not exist yet,
// its target). An existing file is opened without truncating it. A regular file is locked
// against other runs for as long as the descriptor is open.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Writes what the file on `fd` holds through to the disk; false with errno set when that
// fails.
bool SyncDescriptor(int fd);

class OutputClaim {
public:
    OutputClaim() = default;
    OutputClaim(const OutputClaim&) = delete;
    OutputClaim& operator=(const OutputClaim&) = delete;
    // Closes the descriptor unless it was handed on.
    ~OutputClaim();

    // Takes `path`; `unnamedFirst` tries a file without a name first. A writer's result code:
    // success, an I/O error (with SystemError) or the output in use by another writer.
    int32_t Take(const char* path, bool unnamedFirst);
    int descriptor() const { return fd_; }
    // The descriptor is someone else's to close from now on (a stdio stream's).
    void HandOn() { handedOn_ = true; }
    // A regular file, whose bytes can be rewritten in place.
    bool regular() const { return regular_; }
    // The claim made the file: there was none before.
    bool created() const { return created_; }
    bool unnamed() const { return unnamed_; }
    // Syncs the directory that holds the name of the file the claim made, so that the name
    // survives a power cut; false with errno set when that fails.
    bool SyncDirectory() const;

    // Gives the unnamed file its name; false where the name has been taken meanwhile.
    bool Link(const char* path);
    // Before the first `bytes` of an earlier file are overwritten: keeps them, to be put back
    // should the new start not fit.
    void KeepEarlierStart(uint64_t bytes);
    // The path as it was found, where the disk allows it: a file the claim made removed, an
    // earlier file's first bytes put back and its size restored once they were overwritten.
    void GiveBack();

    // The system's reason (errno) of a failed Take, or 0.
    int SystemError() const { return systemError_; }

private:
    void RemoveCreatedFile();

    int fd_ = -1;
    bool handedOn_ = false;
    bool regular_ = false;
    bool created_ = false;
    bool unnamed_ = false;
    uint64_t earlierSize_ = 0;
    bool overwritten_ = false;
    std::vector<uint8_t> earlierStart_;
    // The file the claim made by name, to remove only that one: the path may have been
    // replaced meanwhile.
    std::string createdPath_;
    dev_t createdDevice_ = 0;
    ino_t createdInode_ = 0;
    int systemError_ = 0;
};
