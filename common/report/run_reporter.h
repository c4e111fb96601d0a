// What a run shows, event by event. Every line a person or a machine sees of a run goes
// through the one reporter the run is given: the console reporter prints the lines the
// programs have always printed, where they have always printed them; the JSON Lines reporter
// writes one object per event for machines; tests record the events. Nothing below the run
// prints: the reader, the writer, the sources and the sinks hand their notes and warnings to
// the run, which reports them.
//
// The embedder's listener reports from the library's threads (LibraryMessage,
// BlockReturned); every reporter takes calls from several threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "status.h"
#include "wav_pcm_format.h"

// What is run: for the version line, and for the start of a machine's log.
struct RunStart {
    std::string programVersion;
    std::string libraryVersion;  // as the library's GetVersion gives it
    std::string input;
    std::string output;
    // The options that change what the run does, camelCase names as the command line gives
    // them without their dashes, and their values.
    std::vector<std::pair<std::string, std::string>> options;
};

struct ReportedChannel {
    std::string name;  // "(null)" for a null name
    int64_t id = 0;
};

// How far the run has come, after a block has been fed.
struct RunProgress {
    uint64_t framesRead = 0;
    uint64_t framesWritten = 0;
    // How late the block left against its instant, for an input fed at the pace of real time.
    std::optional<double> latenessMs;
};

// How a run ended.
struct RunEnd {
    CorvidaUtils::Status result;
    int exitStatus = 0;
    uint64_t framesWritten = 0;
    // A stop signal ended the run (then `result` is success, and the line says so).
    bool interrupted = false;
    int signalNumber = 0;
    std::string signalName;
    bool beforeAudio = false;   // interrupted before any audio was fed
    bool outputTookAll = true;  // the output took all that was fed
};

class RunReporter {
public:
    virtual ~RunReporter() = default;

    // Before the input is opened.
    virtual void Started(const RunStart& start) = 0;
    // The input is open, and its format known.
    virtual void InputOpened(const std::string& name, const WavPcmFormat& format) = 0;
    // The embedder's channels, where the program shows them.
    virtual void Channels(const std::vector<ReportedChannel>& channels) = 0;
    // A message of the library (level 0 information, 1 warning, 2 error); `text` may be null.
    virtual void LibraryMessage(int32_t level, int32_t code, const char* text) = 0;
    // A block came back from the embedder; `mediaTime` (100 ns ticks) where the input has one.
    virtual void BlockReturned(std::optional<uint64_t> mediaTime) = 0;
    // After each block fed; a reporter may show only some of them.
    virtual void Progress(const RunProgress& progress) = 0;
    // The input has sent nothing for `seconds` (over a second), or, `resumed`, sends again
    // after that long.
    virtual void InputStalled(double seconds, bool resumed) = 0;
    // A line that starts "Warning:" or "Note:", as the program words it.
    virtual void Warning(const std::string& text) = 0;
    virtual void Note(const std::string& text) = 0;
    // The cause, where the result has one, and the result line: the run's last words.
    virtual void Ended(const RunEnd& end) = 0;
};
