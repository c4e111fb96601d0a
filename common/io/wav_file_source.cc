#include "wav_file_source.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "code_exception.h"
#include "system_cause.h"

namespace {

// The input name of standard input as a WAV stream, as audio tools name it.
constexpr char kStandardInputName[] = "-";

// What the file holds, and the command that turns it into one the run takes, where there is
// one.
std::string UnsupportedCause(const std::string& path, const UnsupportedInput& why) {
    std::string cause = "'" + path + "' " + why.what;
    if (why.soxOptions) {
        cause += "; convert it with: sox '" + path + "' " +
                 (why.soxOptions->empty() ? "" : *why.soxOptions + " ") + "converted.wav";
    } else if (why.ffmpegConverts) {
        // 24-bit PCM keeps all that a lossless source holds and all that a decoder gives.
        cause +=
            "; convert it with: ffmpeg -i '" + path + "' -ar 48000 -c:a pcm_s24le converted.wav";
    }
    return cause;
}

}  // namespace

WavFileSource::WavFileSource(std::string path, bool (*stopRequested)(), bool paced)
    : path_(std::move(path)), paced_(paced) {
    reader_.SetStopCheck(stopRequested);
}

// Standard input is read where it is open: opened again by name, a socket could not be.
bool WavFileSource::IsStandardInput() const {
    return path_ == kStandardInputName;
}

InputIdentity WavFileSource::Identity() const {
    return IsStandardInput() ? InputIdentity{"", STDIN_FILENO} : InputIdentity{path_, -1};
}

void WavFileSource::Open() {
    const int32_t opened = IsStandardInput() ? reader_.Open(STDIN_FILENO, &format_)
                                             : reader_.Open(path_.c_str(), &format_);
    for (std::string& warning : reader_.TakeWarnings()) Warn(std::move(warning));
    if (opened != kWavReaderSuccess) {
        CorvidaUtils::Raise(
            CorvidaUtils::Status::FromReader(opened, "Unable to open input file")
                .WithCause(opened == kWavReaderUnsupported
                               ? UnsupportedCause(path_, reader_.WhyUnsupported())
                               : SystemCause("cannot open input file '" + path_ + "'",
                                             reader_.SystemError())));
    }
    WarnIfShort();
}

// A file cut short (a copy that did not finish, a recorder that died) still embeds what is
// there, as other readers play it; the user should know that it is not all.
void WavFileSource::WarnIfShort() {
    const uint64_t missing = reader_.MissingDataBytes();
    if (missing == 0) return;
    const uint64_t bytesPerSecond = format_.samplingRate * FrameBytes();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f",
                  bytesPerSecond > 0 ? static_cast<double>(missing) / bytesPerSecond : 0.0);
    Warn("Warning: '" + path_ + "' is shorter than its header says: " + std::to_string(missing) +
         " bytes of audio (" + seconds + " s) are missing; what is there is embedded");
}

WavCarriedItems WavFileSource::TakeCarriedItems() {
    return reader_.TakeCarriedItems();
}

ReadOutcome WavFileSource::Read(AudioBlock& block) {
    int64_t frames = static_cast<int64_t>(samples_.size() / (FrameBytes() > 0 ? FrameBytes() : 1));
    uint64_t mediaTime = 0;
    const int32_t result = reader_.Read(samples_.data(), &frames, &mediaTime);
    if (result != kWavReaderEndOfData && result != kWavReaderSuccess) {
        CorvidaUtils::Raise(
            CorvidaUtils::Status::FromReader(result, "Reading error")
                .WithCause(SystemCause("cannot read '" + path_ + "'", reader_.SystemError())));
    }
    // A read that brings no whole frame ends the input: taken for a block, it would feed empty
    // blocks, for ever if the reader makes no progress.
    if (result == kWavReaderEndOfData || frames <= 0) {
        // What the end of a stream found after its audio.
        for (std::string& note : reader_.TakeNotes()) Note(std::move(note));
        return ReadOutcome::kEnd;
    }
    Deliver(static_cast<uint64_t>(frames) * FrameBytes(), block);
    if (!reader_.IsStream()) block.mediaTime = mediaTime;
    return ReadOutcome::kBlock;
}
