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
    if (same) {
        CorvidaUtils::Raise(
            CorvidaUtils::Status(CorvidaUtils::kIoError, "Output file is the input file"));
    }
}

void WavFileSink::Open(const WavPcmFormat& format, WavCarriedItems carried) {
    format_ = format;
    std::vector<std::string> notes = std::move(carried.notes);
    writer_.SetCarriedItems(std::move(carried));
    const auto channels = static_cast<int16_t>(format.nbChannels);
    const auto rate = static_cast<uint32_t>(format.samplingRate);
    const auto bits = static_cast<int16_t>(format.bitsPerSample);
    const int32_t opened = path_ == kStandardOutput
                               ? writer_.OpenStandardOutput(channels, rate, bits)
                               : writer_.Open(path_.c_str(), channels, rate, bits);
    if (opened != kWavWriterSuccess) {
        // Another run writing the same file would leave a splice of both.
        CorvidaUtils::Raise(
            CorvidaUtils::Status::FromWriter(opened, opened == kWavWriterInUse
                                                         ? "Output file is in use by another run"
                                                         : "Unable to initialize embedder listener")
                .WithCause(
                    SystemCause("cannot open output file " + shownName_, writer_.SystemError())));
    }
    for (std::string& note : notes) Note(std::move(note));
}

CorvidaUtils::Status WavFileSink::Start() {
    return Converted(writer_.Start());
}

CorvidaUtils::Status WavFileSink::WriteBytes(uint8_t* bytes, uint64_t size) {
    // The writer takes a 32-bit length; a larger block would be cut short, so it counts as a
    // failed write rather than being truncated silently.
    const int32_t result = size > static_cast<uint64_t>(INT32_MAX)
                               ? kWavWriterIoError
                               : writer_.Write(bytes, static_cast<int32_t>(size));
    if (result == kWavWriterSuccess) Written(size);
    return Converted(result);
}

CorvidaUtils::Status WavFileSink::Close() {
    return Converted(writer_.Close());
}

CorvidaUtils::Status WavFileSink::Discard() {
    return Converted(writer_.Discard());
}

CorvidaUtils::Status WavFileSink::Converted(int32_t writerResult) {
    for (std::string& note : writer_.TakeNotes()) Note(std::move(note));
    if (writerResult == kWavWriterSuccess) return CorvidaUtils::Status();
    if (writerResult == kWavWriterAbandoned) {
        RecordAbandoned();
        return CorvidaUtils::Status();
    }
    if (writerResult == kWavWriterOutOfMemory) {
        return MemoryFailure("Error allocating memory for the embedder's output");
    }
    return Failure(CorvidaUtils::WriterCodeToGeneral(writerResult), "cannot write " + shownName_,
                   writer_.SystemError());
}
