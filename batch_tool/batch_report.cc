#include "batch_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "code_exception.h"
#include "json_log_reporter.h"
#include "result_codes.h"
#include "system_cause.h"

namespace {

// Names and lines are quoted as in the log for machines: a name that is not UTF-8 still
// makes a line that parses.
std::string Json(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

std::string Json(const std::optional<double>& value) {
    if (!value) return "null";
    char number[32];
    std::snprintf(number, sizeof number, "%.3f", *value);
    return number;
}

std::string Json(const std::optional<int>& value) {
    return value ? std::to_string(*value) : "null";
}

// "1:02:03" or "2:03".
std::string Clock(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::kEmbedded:
            return "embedded";
        case Outcome::kSkipped:
            return "skipped";
        case Outcome::kFailed:
            break;
    }
    return "failed";
}

std::string SummaryLine(const FileResult& result) {
    return "{\"input\":" + JsonString(result.item.input) +
           ",\"output\":" + JsonString(result.item.output) + ",\"outcome\":\"" +
           OutcomeName(result.outcome) + "\",\"exitStatus\":" + Json(result.exitStatus) +
           ",\"resultLine\":" + Json(result.resultLine) + ",\"cause\":" + Json(result.cause) +
           ",\"audioSeconds\":" + Json(result.audioSeconds) +
           ",\"wallSeconds\":" + Json(std::optional<double>(result.wallSeconds)) +
           ",\"cpuSeconds\":" + Json(result.cpuSeconds) + "}";
}

BatchReport::BatchReport(std::ostream& console, bool terminal,
                         const std::optional<std::string>& summary)
    : console_(console), terminal_(terminal), summaryPath_(summary) {
    if (!summary) return;
    summary_.reset(
        open(summary->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
    if (!summary_) {
        const int error = errno;
        CorvidaUtils::Raise(
            CorvidaUtils::Status(CorvidaUtils::kIoError, "Unable to write the summary",
                                 SystemCause("cannot create summary '" + *summary + "'", error)));
    }
}

double BatchReport::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void BatchReport::Begin(size_t files, double audioToEmbed) {
    files_ = files;
    audioToEmbed_ = audioToEmbed;
    DrawBar(true);
}

void BatchReport::FileEnded(const FileResult& result) {
    ++counts_[static_cast<int>(result.outcome)];
    if (result.outcome == Outcome::kEmbedded) audioEmbedded_ += result.audioSeconds.value_or(0);
    if (result.outcome != Outcome::kSkipped) audioDone_ += result.audioSeconds.value_or(0);
    if (result.outcome == Outcome::kFailed) failures_.push_back(result);
    if (summary_ && !summaryError_) {
        // One write a line: a batch killed at any instant leaves whole lines.
        const std::string line = SummaryLine(result) + "\n";
        const ssize_t written = write(summary_.get(), line.data(), line.size());
        if (written != static_cast<ssize_t>(line.size())) {
            summaryError_ = SystemCause("cannot write summary '" + *summaryPath_ + "'",
                                        written < 0 ? errno : ENOSPC);
        }
    }
    const std::string& name = result.item.key;
    if (terminal_ && result.outcome != Outcome::kFailed) {
        DrawBar(false);
        return;
    }
    ClearBar();
    switch (result.outcome) {
        case Outcome::kEmbedded:
            console_ << "embedded " << name << " (" << Fixed(result.audioSeconds.value_or(0), 1)
                     << " s of audio in " << Fixed(result.wallSeconds, 2) << " s)\n";
            break;
        case Outcome::kSkipped:
            console_ << "skipped " << name << " (delivered by an earlier run)\n";
            break;
        case Outcome::kFailed:
            console_ << "failed " << name << ": " << result.resultLine.value_or("(no result line)")
                     << "\n";
            if (result.cause) console_ << "  " << *result.cause << "\n";
            break;
    }
    console_.flush();
    DrawBar(true);
}

void BatchReport::Tick() {
    DrawBar(false);
}

void BatchReport::DrawBar(bool now) {
    if (!terminal_) return;
    const auto at = std::chrono::steady_clock::now();
    if (!now && at - drawn_ < std::chrono::milliseconds(250)) return;
    drawn_ = at;
    const size_t done = counts_[0] + counts_[1] + counts_[2];
    constexpr int kWidth = 30;
    const int filled = files_ == 0 ? kWidth : static_cast<int>(kWidth * done / files_);
    std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " +
                      std::to_string(done) + "/" + std::to_string(files_) + " files, " +
                      Clock(audioEmbedded_) + " of " + Clock(audioToEmbed_) + " audio";
    if (audioEmbedded_ > 0) {
        bar +=
            ", " + Clock(Elapsed() * (audioToEmbed_ - audioEmbedded_) / audioEmbedded_) + " left";
    }
    console_ << "\r" << bar << "\033[K" << std::flush;
    barShown_ = true;
}

void BatchReport::ClearBar() {
    if (barShown_) console_ << "\r\033[K";
    barShown_ = false;
}

void BatchReport::End(size_t stopped, size_t notStarted) {
    ClearBar();
    const double wall = Elapsed();
    console_ << "pellion-embed-batch: " << files_ << " files: " << counts_[0] << " embedded, "
             << counts_[1] << " skipped, " << counts_[2] << " failed";
    if (stopped + notStarted > 0) {
        console_ << ", " << stopped << " stopped, " << notStarted << " not started";
    }
    console_ << "\n  audio embedded  " << Fixed(audioEmbedded_ / 3600, 3) << " h ("
             << Fixed(audioEmbedded_, 1) << " s)\n  wall time       " << Fixed(wall, 2)
             << " s\n  speed           " << Fixed(wall > 0 ? audioEmbedded_ / wall : 0, 0)
             << " s of audio per s\n";
    for (const FileResult& failure : failures_) {
        console_ << "  failed          " << failure.item.key << ": "
                 << failure.resultLine.value_or("(no result line)") << "\n";
        if (failure.cause) console_ << "                  " << *failure.cause << "\n";
    }
    if (summaryError_) console_ << "pellion-embed-batch: " << *summaryError_ << "\n";
    console_.flush();
}

void BatchReport::Interrupted(const std::string& signalName, size_t stopped, size_t notStarted) {
    console_ << "[INTERRUPTED] Stopped by " << signalName << ": " << stopped << " files stopped, "
             << notStarted << " not started; they left no output." << std::endl;
}
