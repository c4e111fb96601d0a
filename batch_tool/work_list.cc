#include "work_list.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "code_exception.h"
#include "command_line_error.h"
#include "result_codes.h"
#include "system_cause.h"

namespace fs = std::filesystem;

namespace {

bool IsWavName(const std::string& name) {
    if (name.empty() || name[0] == '.' || name.size() < 5) return false;
    const std::string suffix = name.substr(name.size() - 4);
    return suffix == ".wav" || suffix == ".WAV";
}

[[noreturn]] void RaiseTreeError(const std::string& what, const std::error_code& error) {
    CorvidaUtils::Raise(
        CorvidaUtils::Status(CorvidaUtils::kIoError, "Unable to read input directory",
                             SystemCause("cannot read directory '" + what + "'", error.value())));
}

void SortByKey(std::vector<WorkItem>& items) {
    std::sort(items.begin(), items.end(),
              [](const WorkItem& a, const WorkItem& b) { return a.key < b.key; });
}

// "a/b" under "dir", kept as the user wrote "dir".
std::string Under(const std::string& directory, const std::string& relative) {
    return directory.back() == '/' ? directory + relative : directory + "/" + relative;
}

}  // namespace

std::vector<WorkItem> ListInputTree(const std::string& inputDirectory,
                                    const std::string& outputDirectory) {
    std::error_code error;
    const fs::path inputRoot = fs::canonical(inputDirectory, error);
    if (error) RaiseTreeError(inputDirectory, error);
    // Outputs inside the input tree would be taken as inputs by the next run.
    const fs::path outputRoot = fs::weakly_canonical(outputDirectory, error);
    const fs::path fromInput = outputRoot.lexically_relative(inputRoot);
    checkCommandLine(error || fromInput.empty() || *fromInput.begin() == "..",
                     "The output directory must not lie in the input directory");

    std::vector<WorkItem> items;
    // The iterator's paths are the root's, a separator, then the path relative to it.
    const std::string prefix = (fs::path(inputDirectory) / "").string();
    fs::recursive_directory_iterator it(inputDirectory, error), end;
    if (error) RaiseTreeError(inputDirectory, error);
    for (; it != end; it.increment(error)) {
        if (error) RaiseTreeError(it->path().string(), error);
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] == '.') {
            if (it->is_directory(error)) it.disable_recursion_pending();
            continue;
        }
        if (!IsWavName(name) || !it->is_regular_file(error)) continue;
        const std::string key = it->path().string().substr(prefix.size());
        items.push_back({it->path().string(), Under(outputDirectory, key), key, key});
    }
    if (error) RaiseTreeError(inputDirectory, error);
    SortByKey(items);
    return items;
}

std::vector<WorkItem> ParseManifest(const std::string& text, const std::string& outputDirectory) {
    std::vector<WorkItem> items;
    std::set<std::string> outputs;
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == text.npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const size_t tab = line.find('\t');
        const std::string where = "Manifest line " + std::to_string(lineNumber);
        checkCommandLine(tab != line.npos && tab > 0 && tab + 1 < line.size() &&
                             line.find('\t', tab + 1) == line.npos,
                         where + " is not one input<TAB>output pair");
        WorkItem item{line.substr(0, tab), line.substr(tab + 1), line.substr(tab + 1),
                      line.substr(0, tab)};
        if (!outputDirectory.empty() && item.output[0] != '/') {
            item.output = Under(outputDirectory, item.output);
        }
        checkCommandLine(outputs.insert(item.output).second,
                         where + " names an output that an earlier line names");
        items.push_back(item);
    }
    SortByKey(items);
    return items;
}

uint32_t ShardOf(const std::string& key, uint32_t count) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : key) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211ull;
    }
    return static_cast<uint32_t>(hash % count);
}

std::vector<WorkItem> TakeShard(const std::vector<WorkItem>& items, uint32_t index,
                                uint32_t count) {
    std::vector<WorkItem> shard;
    for (const WorkItem& item : items) {
        if (ShardOf(item.key, count) == index) shard.push_back(item);
    }
    return shard;
}
