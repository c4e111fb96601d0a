// The reporter a run in this process is given: the console's lines on the standard streams
// or, with a log for machines, the log on standard error and of the console's lines only those
// that standard output carries.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "console_reporter.h"
#include "run_reporter.h"

struct ReporterSettings {
    ConsoleStyle style;  // its `terminal` is found out here
    // Standard output carries the audio: the console's lines go to standard error.
    bool outputIsStandardOutput = false;
    // Standard error carries a log for machines (--log-format=json).
    bool jsonLog = false;
};

std::unique_ptr<RunReporter> MakeProcessReporter(ReporterSettings settings);

// The programs' own version.
const char* ProgramVersion();

// The program's name and version, then the library's version line for a program that loads
// the library, on standard output: the answer to --version.
void PrintProgramVersion(const std::string& program,
                         const std::optional<std::string>& libraryVersion);

// The usage text on standard output: the answer to -h.
void PrintUsageText(const std::function<void(std::ostream&)>& printUsage);

// Both reporters hear every event, in order.
class ReporterPair : public RunReporter {
public:
    ReporterPair(std::unique_ptr<RunReporter> first, std::unique_ptr<RunReporter> second)
        : first_(std::move(first)), second_(std::move(second)) {}

    void Started(const RunStart& start) override { Each(&RunReporter::Started, start); }
    void InputOpened(const std::string& name, const WavPcmFormat& format) override {
        first_->InputOpened(name, format);
        second_->InputOpened(name, format);
    }
    void Channels(const std::vector<ReportedChannel>& channels) override {
        Each(&RunReporter::Channels, channels);
    }
    void LibraryMessage(int32_t level, int32_t code, const char* text) override {
        first_->LibraryMessage(level, code, text);
        second_->LibraryMessage(level, code, text);
    }
    void BlockReturned(std::optional<uint64_t> mediaTime) override {
        Each(&RunReporter::BlockReturned, mediaTime);
    }
    void Progress(const RunProgress& progress) override { Each(&RunReporter::Progress, progress); }
    void InputStalled(double seconds, bool resumed) override {
        first_->InputStalled(seconds, resumed);
        second_->InputStalled(seconds, resumed);
    }
    void Bypassed(const BypassReport& report) override { Each(&RunReporter::Bypassed, report); }
    void Rearmed(const CorvidaUtils::Status& result, double retrySeconds) override {
        first_->Rearmed(result, retrySeconds);
        second_->Rearmed(result, retrySeconds);
    }
    void Warning(const std::string& text) override { Each(&RunReporter::Warning, text); }
    void Note(const std::string& text) override { Each(&RunReporter::Note, text); }
    void Ended(const RunEnd& end) override { Each(&RunReporter::Ended, end); }

private:
    template <typename Event, typename Argument>
    void Each(Event event, const Argument& argument) {
        ((*first_).*event)(argument);
        ((*second_).*event)(argument);
    }

    const std::unique_ptr<RunReporter> first_;
    const std::unique_ptr<RunReporter> second_;
};
