#include "result_report.h"

#include <cstdio>
#include <map>

namespace CorvidaUtils {

void PrintResultLine(std::ostream& out, const RunResult& result, bool printSuccess,
                     const std::function<void(std::ostream&)>& printUsage) {
    if (result.code == 0) {
        if (printSuccess) out << "[SUCCESS]" << std::endl;
        return;
    }
    std::map<int32_t, std::string> messages;
    buildResultMessages(messages);
    const auto row = messages.find(result.code);
    const std::string& text = row != messages.end() ? row->second : std::string("undocumented");
    out << "[ERROR] code " << result.code << " (" << text << "). " << result.message << std::endl
        << std::endl;
    if (result.code == kCommandLineError) {
        out << std::endl;
        if (printUsage) printUsage(out);
    }
    out.flush();
}

void PrintInterruptedLine(std::ostream& out, std::string_view signalName, bool beforeAudio,
                          uint64_t outputFrames, bool outputTookAll) {
    out << "[INTERRUPTED] Stopped by " << signalName;
    if (beforeAudio) {
        out << " before any audio was fed; no output was written." << std::endl;
        return;
    }
    // The output's frames are the input's, at 48000 Hz.
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(outputFrames) / 48000.0);
    out << ". The output holds " << seconds << " s of audio (" << outputFrames << " frames).";
    if (!outputTookAll) out << " The output did not take all the audio.";
    out << std::endl;
}

int InterruptedExitStatus(int signalNumber) {
    return 128 + signalNumber;
}

int ExitStatusFor(int32_t code) {
    return code >= 0 && code <= 255 ? code : kUndefinedError;
}

}  // namespace CorvidaUtils
