#include "output_delivery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "code_exception.h"
#include "result_codes.h"
#include "system_cause.h"
#include "unique_fd.h"

namespace {

// The directory part of `path` ("." for a bare name) and its last component.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == path.npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string Beside(const std::string& output, const char* suffix) {
    const auto [directory, name] = SplitPath(output);
    return (output.find('/') == output.npos ? "" : directory + "/") + "." + name + suffix;
}

std::string Time(const timespec& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%09ld", static_cast<long long>(time.tv_sec),
                  time.tv_nsec);
    return text;
}

[[noreturn]] void RaiseDeliveryError(const std::string& context, const std::string& action,
                                     int error) {
    CorvidaUtils::Raise(
        CorvidaUtils::Status(CorvidaUtils::kIoError, context, SystemCause(action, error)));
}

void WriteAndSync(const std::string& path, const std::string& text) {
    const UniqueFd file(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file)
        RaiseDeliveryError("Unable to write delivery record", "cannot create '" + path + "'",
                           errno);
    for (size_t done = 0; done < text.size();) {
        const ssize_t written = write(file.get(), text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            RaiseDeliveryError("Unable to write delivery record", "cannot write '" + path + "'",
                               written < 0 ? errno : ENOSPC);
        }
        done += static_cast<size_t>(written);
    }
    if (fdatasync(file.get()) != 0) {
        RaiseDeliveryError("Unable to write delivery record", "cannot sync '" + path + "'", errno);
    }
}

void SyncDirectory(const std::string& directory) {
    const UniqueFd handle(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle || fsync(handle.get()) != 0) {
        RaiseDeliveryError("Unable to deliver output file",
                           "cannot sync directory '" + directory + "'", errno);
    }
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
    const UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(file.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || text.size() > 65536) return std::nullopt;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

}  // namespace

std::string TemporaryPathOf(const std::string& output) {
    return Beside(output, ".pellion-partial");
}

std::string RecordPathOf(const std::string& output) {
    return Beside(output, ".pellion-done");
}

std::string InputState(const WorkItem& item) {
    struct stat input {};
    if (stat(item.input.c_str(), &input) != 0) return "";
    return "input: " + item.inputName + "\ninput size: " + std::to_string(input.st_size) +
           ", modified: " + Time(input.st_mtim) + "\n";
}

std::optional<std::string> DeliveryRecord(const std::string& inputState,
                                          const std::string& delivered,
                                          const std::optional<std::string>& channelName) {
    struct stat output {};
    if (inputState.empty() || lstat(delivered.c_str(), &output) != 0 || !S_ISREG(output.st_mode)) {
        return std::nullopt;
    }
    return "pellion-embed-batch delivery record 1\n" + inputState +
           "output size: " + std::to_string(output.st_size) +
           ", modified: " + Time(output.st_mtim) + ", inode: " + std::to_string(output.st_ino) +
           "\nchannel: " + channelName.value_or("(the first the embedder lists)") + "\n";
}

bool AlreadyDelivered(const WorkItem& item, const std::optional<std::string>& channelName) {
    const std::optional<std::string> expected =
        DeliveryRecord(InputState(item), item.output, channelName);
    return expected && ReadSmallFile(RecordPathOf(item.output)) == expected;
}

void PrepareOutput(const WorkItem& item) {
    const std::string directory = SplitPath(item.output).first;
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        RaiseDeliveryError("Unable to create output directory",
                           "cannot create directory '" + directory + "'", error.value());
    }
    const std::string temporary = TemporaryPathOf(item.output);
    if (unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        RaiseDeliveryError("Unable to remove a temporary file", "cannot remove '" + temporary + "'",
                           errno);
    }
}

void DeliverOutput(const WorkItem& item, const std::string& inputState,
                   const std::optional<std::string>& channelName) {
    const std::string temporary = TemporaryPathOf(item.output);
    const std::string record = RecordPathOf(item.output);
    try {
        const std::optional<std::string> text = DeliveryRecord(inputState, temporary, channelName);
        if (!text) {
            RaiseDeliveryError("Unable to deliver output file",
                               "cannot look at '" + temporary + "' or its input", errno);
        }
        WriteAndSync(record, *text);
        if (rename(temporary.c_str(), item.output.c_str()) != 0) {
            RaiseDeliveryError("Unable to deliver output file",
                               "cannot rename '" + temporary + "' to '" + item.output + "'", errno);
        }
    } catch (...) {
        unlink(temporary.c_str());
        unlink(record.c_str());
        throw;
    }
    // The name is in place; a failed sync leaves it there, as a crash before it would.
    SyncDirectory(SplitPath(item.output).first);
}

void DiscardOutput(const WorkItem& item) {
    unlink(TemporaryPathOf(item.output).c_str());
}
