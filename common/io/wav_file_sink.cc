#include "wav_file_sink.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "code_exception.h"
#include "file_identity.h"
#include "result_codes.h"
#include "system_cause.h"

WavFileSink::WavFileSink(std::string path, bool (*stopRequested)())
    : AudioSink("Unable to write output file"),
      path_(std::move(path)),
      shownName_(path_ == kStandardOutput ? "standard output" : "'" + path_ + "'") {
    writer_.SetStopCheck(stopRequested);
}

void WavFileSink::CheckIsNotInput(const InputIdentity& input) const {
    bool same = false;
    if (path_ == kStandardOutput) {
        same = input.descriptor >= 0 ? DescriptorsShareAFile(input.descriptor, STDOUT_FILENO)
                                     : IsFileOnDescriptor(STDOUT_FILENO, input.path);
    } else {
        same = input.descriptor >= 0 ? IsFileOnDescriptor(input.descriptor, path_)
                                     : IsSameFile(input.path, path_);
    }
    CorvidaUtils::CodeException().Check(!same, CorvidaUtils::kIoError,
                                        "Output file is the input file");
}

void WavFileSink::Open(const WavPcmFormat& format, WavCarriedItems carried) {
    format_ = format;
    const std::vector<std::string> notes = std::move(carried.notes);
    writer_.SetCarriedItems(std::move(carried));
    const auto channels = static_cast<int16_t>(format.nbChannels);
    const auto rate = static_cast<uint32_t>(format.samplingRate);
    const auto bits = static_cast<int16_t>(format.bitsPerSample);
    const int32_t opened = path_ == kStandardOutput
                               ? writer_.OpenStandardOutput(channels, rate, bits)
                               : writer_.Open(path_.c_str(), channels, rate, bits);
    CorvidaUtils::ExceptionWavMuxer checker;
    checker.cause = SystemCause("cannot open output file " + shownName_, writer_.SystemError());
    // Another run writing the same file would leave a splice of both.
    if (opened == kWavWriterInUse)
        checker.CheckResult(opened, "Output file is in use by another run");
    checker.CheckResult(opened, "Unable to initialize embedder listener");
    for (const std::string& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
}

void WavFileSink::Start() {
    Record(writer_.Start());
}

uint64_t WavFileSink::WriteBytes(uint8_t* bytes, uint64_t size) {
    // The writer takes a 32-bit length; a larger block would be cut short, so it counts as a
    // failed write rather than being truncated silently.
    const int32_t result = size > static_cast<uint64_t>(INT32_MAX)
                               ? kWavWriterIoError
                               : writer_.Write(bytes, static_cast<int32_t>(size));
    Record(result);
    return result == kWavWriterSuccess ? size : 0;
}

void WavFileSink::Close() {
    Record(writer_.Close());
}

void WavFileSink::Discard() {
    Record(writer_.Discard());
}

void WavFileSink::Record(int32_t writerResult) {
    for (const std::string& note : writer_.TakeNotes()) std::fprintf(stderr, "%s\n", note.c_str());
    if (writerResult == kWavWriterSuccess) return;
    if (writerResult == kWavWriterAbandoned) {
        RecordAbandoned();
        return;
    }
    if (writerResult == kWavWriterOutOfMemory) {
        RecordFailure(CorvidaUtils::kMemoryError,
                      "Error allocating memory for the embedder's output");
        return;
    }
    RecordFailure(CorvidaUtils::ExceptionWavMuxer().ConvertCode(writerResult),
                  WriteFailureContext(), "cannot write " + shownName_, writer_.SystemError());
}
