#include "audio_streams.h"

#include <unistd.h>

#include <iostream>

#include "raw_input_source.h"
#include "raw_output_sink.h"
#include "wav_file_sink.h"
#include "wav_file_source.h"

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
        streams.console = &std::cerr;
    } else {
        streams.sink = std::make_unique<WavFileSink>(settings.outputFile);
        streams.console = &std::cout;
    }
    streams.consoleIsTerminal = isatty(settings.rawOutput ? STDERR_FILENO : STDOUT_FILENO) == 1;
    return streams;
}
