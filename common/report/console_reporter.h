// The lines a person reads, exactly as the programs have always printed them: the version and
// input lines, the channel list, the library's messages and a progress line per block on the
// console (standard output, or standard error when standard output carries the audio), notes,
// warnings and the cause of a failure on standard error, and the result line last.
#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "run_reporter.h"

struct ConsoleStyle {
    // The program's name, first on the line that gives a failure's cause.
    std::string program;
    // Only warnings, errors and the result line of a failure or an interruption.
    bool silent = false;
    // Timestamps read as signed and rounded to single precision before they are printed.
    bool singlePrecisionTimestamps = false;
    // The console is a terminal: the progress line (a timestamp ending in a carriage return)
    // is ended before any other line, so that no line is printed over it.
    bool terminal = false;
    // Prints the usage text, after a command-line error.
    std::function<void(std::ostream&)> printUsage;
};

class ConsoleReporter : public RunReporter {
public:
    // Either stream may be null: its lines are then left out (a machine's log takes standard
    // error instead).
    ConsoleReporter(std::ostream* console, std::ostream* errors, ConsoleStyle style)
        : console_(console), errors_(errors), style_(std::move(style)) {}

    void Started(const RunStart& start) override;
    void InputOpened(const std::string& name, const WavPcmFormat& format) override;
    void Channels(const std::vector<ReportedChannel>& channels) override;
    void LibraryMessage(int32_t level, int32_t code, const char* text) override;
    void BlockReturned(std::optional<uint64_t> mediaTime) override;
    void Progress(const RunProgress&) override {}
    void InputStalled(double, bool) override {}
    void Warning(const std::string& text) override { ErrorLine(text); }
    void Note(const std::string& text) override { ErrorLine(text); }
    void Ended(const RunEnd& end) override;

private:
    // One insertion per line, so that lines of the library's thread and of the run's do not
    // interleave within a line.
    void ConsoleLine(const std::string& line);
    void ErrorLine(const std::string& line);
    // The ending of a progress line that stands on the terminal, or "".
    std::string EndOfProgress();

    std::ostream* const console_;
    std::ostream* const errors_;
    const ConsoleStyle style_;
    std::mutex mutex_;
    bool progressShown_ = false;
};

// The line a library message is shown as, without its end of line.
std::string FormatEmbedderMessage(int32_t level, int32_t code, const char* text);
