// What a batch tells while it runs and at its end: the summary file (one JSON object a file,
// a line each, written as each file ends, so that a killed batch leaves the lines of what
// finished), a progress bar on a terminal or a plain line a file otherwise, and the table at
// the end.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "file_result.h"
#include "unique_fd.h"

// The summary's line for one file, without its line feed.
std::string SummaryLine(const FileResult& result);

class BatchReport {
public:
    // Throws a CodeException (44) when the summary cannot be created.
    BatchReport(std::ostream& console, bool terminal, const std::optional<std::string>& summary);

    // The files of the run and the audio the files to embed hold, for the progress display.
    void Begin(size_t files, double audioToEmbed);
    void FileEnded(const FileResult& result);
    // Redraws the progress bar; on a terminal only, at most a few times a second.
    void Tick();
    // The table; `stopped` files were running when a stop signal came, `notStarted` never
    // began.
    void End(size_t stopped, size_t notStarted);
    // After End, when a stop signal ended the batch.
    void Interrupted(const std::string& signalName, size_t stopped, size_t notStarted);

    size_t Failed() const { return counts_[static_cast<int>(Outcome::kFailed)]; }
    // Why the summary could not be written, once it could not.
    const std::optional<std::string>& SummaryError() const { return summaryError_; }

private:
    void DrawBar(bool now);
    void ClearBar();
    double Elapsed() const;

    std::ostream& console_;
    const bool terminal_;
    std::optional<std::string> summaryPath_;
    UniqueFd summary_;
    std::optional<std::string> summaryError_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn_;
    size_t files_ = 0;
    double audioToEmbed_ = 0;
    double audioEmbedded_ = 0;
    double audioDone_ = 0;  // of the files to embed, embedded or failed
    size_t counts_[3] = {0, 0, 0};
    bool barShown_ = false;
    std::vector<FileResult> failures_;
};
