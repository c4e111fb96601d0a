#include "result_report.h"

#include <cstdio>

namespace CorvidaUtils {

std::string ErrorLine(const Status& failure) {
    const char* const text = ResultText(failure.code());
    return "[ERROR] code " + std::to_string(failure.code()) + " (" +
           (text != nullptr ? text : "undocumented") + "). " + failure.context();
}

void PrintResultLine(std::ostream& out, const Status& result, bool printSuccess,
                     const std::function<void(std::ostream&)>& printUsage) {
    if (result.ok()) {
        if (printSuccess) out << "[SUCCESS]" << std::endl;
        return;
    }
    out << ErrorLine(result) << std::endl << std::endl;
    if (result.code() == kCommandLineError) {
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

}  // namespace CorvidaUtils
