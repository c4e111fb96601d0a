#include "audio_streams.h"

#include <unistd.h>

#include "file_identity.h"
#include "raw_input_source.h"
#include "raw_output_sink.h"
#include "wav_file_sink.h"
#include "wav_file_source.h"

bool OutputIsStandardOutput(const StreamSettings& settings) {
    return settings.rawOutput || settings.outputFile == WavFileSink::kStandardOutput ||
           NamesTheFileOnDescriptor(settings.outputFile, STDOUT_FILENO);
}

AudioStreams MakeAudioStreams(const StreamSettings& settings, bool (*stopRequested)()) {
    AudioStreams streams;
    if (settings.rawInput) {
        streams.source =
            std::make_unique<RawInputSource>(*settings.rawInput, settings.bigEndian, stopRequested);
    } else {
        streams.source =
            std::make_unique<WavFileSource>(settings.inputFile, stopRequested, settings.paced);
    }
    if (settings.rawOutput) {
        streams.sink = std::make_unique<RawOutputSink>(settings.bigEndian, stopRequested);
    } else {
        streams.sink = std::make_unique<WavFileSink>(settings.outputFile, stopRequested);
    }
    return streams;
}
