#include "audio_streams.h"

#include <unistd.h>

#include <iostream>

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
    const bool outputOnStandardOutput = OutputIsStandardOutput(settings);
    streams.console = outputOnStandardOutput ? &std::cerr : &std::cout;
    streams.consoleIsTerminal = isatty(outputOnStandardOutput ? STDERR_FILENO : STDOUT_FILENO) == 1;
    return streams;
}
