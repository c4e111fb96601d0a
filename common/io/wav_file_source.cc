#include "wav_file_source.h"

#include <utility>

#include "code_exception.h"
#include "system_cause.h"

WavFileSource::WavFileSource(std::string path, bool (*stopRequested)(), bool paced)
    : path_(std::move(path)), paced_(paced) {
    reader_.SetStopCheck(stopRequested);
}

void WavFileSource::Open() {
    const int32_t opened = reader_.Open(path_.c_str(), &format_);
    CorvidaUtils::ExceptionWavParser checker;
    checker.cause = SystemCause("cannot open input file '" + path_ + "'", reader_.SystemError());
    checker.CheckResult(opened, "Unable to open input file");
}

WavCarriedItems WavFileSource::TakeCarriedItems() {
    return reader_.TakeCarriedItems();
}

ReadOutcome WavFileSource::Read(AudioBlock& block) {
    int64_t frames = static_cast<int64_t>(samples_.size() / (FrameBytes() > 0 ? FrameBytes() : 1));
    uint64_t mediaTime = 0;
    const int32_t result = reader_.Read(samples_.data(), &frames, &mediaTime);
    if (result != kWavReaderEndOfData) {
        CorvidaUtils::ExceptionWavParser checker;
        checker.cause = SystemCause("cannot read '" + path_ + "'", reader_.SystemError());
        checker.CheckResult(result, "Reading error");
    }
    // A read that brings no whole frame ends the input: taken for a block, it would feed empty
    // blocks, for ever if the reader makes no progress.
    if (result == kWavReaderEndOfData || frames <= 0) return ReadOutcome::kEnd;
    Deliver(static_cast<uint64_t>(frames) * FrameBytes(), block);
    block.mediaTime = mediaTime;
    return ReadOutcome::kBlock;
}
