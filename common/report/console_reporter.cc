#include "console_reporter.h"

#include <cstdio>

#include "result_report.h"

std::string FormatEmbedderMessage(int32_t level, int32_t code, const char* text) {
    // A null text would put std::ostream into its failed state and silence the rest of the
    // run's console output.
    const std::string shown = text != nullptr ? text : "(null)";
    const std::string codeText = " (Code: " + std::to_string(code) + ")";
    switch (level) {
        case 0:
            return "[INFO] - " + shown;
        case 1:
            return "[WARNING] - " + shown + codeText;
        case 2:
            return "[ERROR] - " + shown + codeText;
        default:
            return "[UNDEFINED] - " + shown + codeText;
    }
}

void ConsoleReporter::Started(const RunStart& start) {
    if (!style_.silent) ConsoleLine("Pellion Embedding SDK version:" + start.libraryVersion);
}

void ConsoleReporter::InputOpened(const std::string& name, const WavPcmFormat& format) {
    if (style_.silent) return;
    ConsoleLine("Input file:" + name + " frequency:" + std::to_string(format.samplingRate) +
                " channels:" + std::to_string(format.nbChannels) +
                " bits per sample:" + std::to_string(format.bitsPerSample));
}

void ConsoleReporter::Channels(const std::vector<ReportedChannel>& channels) {
    if (style_.silent) return;
    ConsoleLine("Available channels (name - id):");
    for (const ReportedChannel& channel : channels) {
        ConsoleLine("\t" + channel.name + " - " + std::to_string(channel.id));
    }
}

void ConsoleReporter::LibraryMessage(int32_t level, int32_t code, const char* text) {
    if (level == 0 && style_.silent) return;
    const std::string line = FormatEmbedderMessage(level, code, text);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (console_ == nullptr) return;
    *console_ << EndOfProgress() + line + "\n";
    console_->flush();
}

void ConsoleReporter::BlockReturned(std::optional<uint64_t> mediaTime) {
    if (!mediaTime || style_.silent) return;
    double seconds = static_cast<double>(*mediaTime) / 10000000.0;
    if (style_.singlePrecisionTimestamps) {
        const int64_t ticks = static_cast<int64_t>(*mediaTime);
        seconds = static_cast<float>(static_cast<double>(ticks) / 10000000.0);
    }
    char text[64];
    std::snprintf(text, sizeof text, "Data timestamp: %.3f\r", seconds);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (console_ == nullptr) return;
    *console_ << text;
    console_->flush();
    progressShown_ = true;
}

namespace {

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// "code 11: Embedder has already been initialized", as the result line would say it.
std::string CodeText(const CorvidaUtils::Status& result) {
    const char* const text = CorvidaUtils::ResultText(result.code());
    return "code " + std::to_string(result.code()) + ": " +
           (text != nullptr ? text : "undocumented");
}

}  // namespace

void ConsoleReporter::Bypassed(const BypassReport& report) {
    std::string line = "Alarm: " + report.call + " failed with library code " +
                       std::to_string(report.libraryCode) + " (" + CodeText(report.result) +
                       "); the audio goes on unmarked, and the embedder is set up again every " +
                       SecondsText(report.rearmSeconds) + " s";
    if (report.framesLost > 0) {
        line += "; " + std::to_string(report.framesLost) +
                " frames the embedder held could not be kept";
    }
    ErrorLine(line);
}

void ConsoleReporter::Rearmed(const CorvidaUtils::Status& result, double retrySeconds) {
    if (result.ok()) {
        ErrorLine("Note: the embedder is set up again; the audio is marked again");
        return;
    }
    ErrorLine("Warning: setting up the embedder again failed (" + CodeText(result) + ", " +
              result.context() + "); trying again in " + SecondsText(retrySeconds) + " s");
}

void ConsoleReporter::Ended(const RunEnd& end) {
    const std::lock_guard<std::mutex> lock(mutex_);
    // A write that a stop signal cut short before the feeding began left its stream failed:
    // the run's last line must still be seen.
    for (std::ostream* stream : {console_, errors_}) {
        if (stream != nullptr) stream->clear();
    }
    if (console_ != nullptr) {
        *console_ << EndOfProgress();
        console_->flush();
    }
    if (end.interrupted) {
        if (console_ != nullptr) {
            CorvidaUtils::PrintInterruptedLine(*console_, end.signalName, end.beforeAudio,
                                               end.framesWritten, end.outputTookAll);
        }
        return;
    }
    // The result line stays as callers parse it; what the system said, and of which object,
    // goes on a line of its own before it, on standard error, in silent mode too.
    if (!end.result.ok() && !end.result.cause().empty() && errors_ != nullptr) {
        *errors_ << style_.program + ": " + end.result.cause() + "\n";
        errors_->flush();
    }
    if (console_ != nullptr) {
        CorvidaUtils::PrintResultLine(*console_, end.result, !style_.silent, style_.printUsage);
    }
}

void ConsoleReporter::ConsoleLine(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (console_ == nullptr) return;
    *console_ << line + "\n";
    console_->flush();
}

void ConsoleReporter::ErrorLine(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (errors_ == nullptr) return;
    *errors_ << line + "\n";
    errors_->flush();
}

std::string ConsoleReporter::EndOfProgress() {
    if (!style_.terminal || !progressShown_) return "";
    progressShown_ = false;
    return "\n";
}
