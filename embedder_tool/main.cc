// pellion-embed: embeds a watermark into a PCM WAV file or a raw PCM stream on standard
// input, writing a WAV file or raw PCM on standard output.
//
// main reads the command line, makes the source and the sink that it names, and runs the
// job (RunEmbedding): open the input and check its rate; claim the output; create and
// configure the embedder, selecting the channel named or the first one offered; feed it
// blocks of 512 frames (a WAV file at the pace of real time, unless --unpaced); end the job,
// complete the output and print the one result line, whose code is the exit status.
#include <optional>
#include <string>

#include "audio_streams.h"
#include "code_exception.h"
#include "embedder_settings.h"
#include "embedder_setup.h"
#include "embedding_run.h"
#include "kept_texts.h"
#include "process_run.h"
#include "result_codes.h"
#include "standard_descriptors.h"
#include "stop_signal.h"

namespace {

// Names the channels that would work, as far as the embedder tells them.
std::string ChannelRefused(const std::string& name, Corvida::IPellionAudioEmbedder& embedder) {
    std::string cause = "the embedder has no channel '" + name + "'";
    const char* const* names = nullptr;
    const int64_t* ids = nullptr;
    uint64_t count = 0;
    if (embedder.GetChannelNameList(&names, &ids, &count) != 0 || names == nullptr) return cause;
    for (uint64_t i = 0; i < count; ++i) {
        cause += (i == 0 ? "; its channels: " : ", ");
        cause += names[i] != nullptr ? names[i] : "(null)";
    }
    return cause;
}

// The channel named on the command line, or else the first one the embedder lists.
void SelectChannel(const EmbedderSettings& settings, RunReporter& reporter,
                   Corvida::IPellionAudioEmbedder& embedder) {
    using CorvidaUtils::Status;
    if (settings.channelName) {
        const int32_t selected = embedder.SetChannelName(settings.channelName->c_str());
        if (selected != 0) {
            CorvidaUtils::Raise(Status::FromLibrary(selected, "SetChannelName failed")
                                    .WithCause(ChannelRefused(*settings.channelName, embedder)));
        }
        return;
    }
    const ChannelList channels = GetChannelList(embedder);
    reporter.Channels(ReportedChannels(channels));
    if (channels.names == nullptr || channels.count == 0) {
        CorvidaUtils::Raise(
            Status(CorvidaUtils::kNoChannel, "The embedder offers no channel to select"));
    }
    CorvidaUtils::ThrowIfFailed(
        Status::FromLibrary(embedder.SetChannelName(channels.names[0]), "SetChannelName failed"));
}

StreamSettings StreamsOf(const EmbedderSettings& settings) {
    StreamSettings streams;
    streams.inputFile = settings.inputFile;
    streams.outputFile = settings.outputFile;
    if (settings.inputIsStdin) streams.rawInput = settings.stdinFormat;
    streams.rawOutput = settings.outputIsStdout;
    streams.bigEndian = settings.stdinEndianness == "be";
    streams.paced = !settings.unpaced;
    return streams;
}

// The options that change what the run does, for the start of a machine's log.
RunStart StartOf(const EmbedderSettings& settings) {
    RunStart start = StartOf(static_cast<const CommonSettings&>(settings));
    if (settings.channelName) start.options.emplace_back("channelName", *settings.channelName);
    if (settings.unpaced) start.options.emplace_back("unpaced", "true");
    if (settings.silent) start.options.emplace_back("silent", "true");
    if (settings.bypassOnFailure) {
        start.options.emplace_back("onEmbedderFailure", "bypass");
        start.options.emplace_back("rearmInterval", std::to_string(settings.rearmSeconds));
    }
    if (settings.inputIsStdin) {
        const WavPcmFormat& format = settings.stdinFormat;
        start.options.emplace_back("stdinSamplingRate", std::to_string(format.samplingRate));
        start.options.emplace_back("stdinNbChannels", std::to_string(format.nbChannels));
        start.options.emplace_back("stdinBitsPerSample", std::to_string(format.bitsPerSample));
        start.options.emplace_back("stdinEndianness", settings.stdinEndianness);
    }
    return start;
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptorsOpen();
    InstallStopSignalHandlers();
    ArgumentStore store;
    EmbedderSettings settings;
    ConsoleStyle style;
    style.program = programName(argc, argv, "pellion-embed");
    style.printUsage = [&](std::ostream& out) { embedder_tool::printUsage(argc, argv, out); };
    if (const std::optional<int> status = ReadCommandLine(
            [&] {
                store.parse(argc, argv);
                embedder_tool::readEmbedderSettings(store, settings);
            },
            store, style, embedder_tool::kRawOutputName)) {
        return *status;
    }
    if (const std::optional<int> status = AnswerHelpOrVersion(store, style)) {
        return *status;
    }

    RunProgram program;
    program.create = [](Corvida::IEmbedderListener* listener,
                        Corvida::IPellionAudioEmbedder** embedder) {
        return Corvida::CreatePellionAudioEmbedder(listener, embedder, nullptr);
    };
    program.chooseChannel = [&](Corvida::IPellionAudioEmbedder& embedder, RunReporter& reporter) {
        SelectChannel(settings, reporter, embedder);
    };
    program.endJob = [](Corvida::IPellionAudioEmbedder& embedder) { return embedder.Finalize(); };
    program.start = StartOf(settings);
    if (settings.bypassOnFailure) program.bypassRearmSeconds = settings.rearmSeconds;
    program.addBufferFailure = kept_text::kAddBufferFailed;
    program.timestampFailure = "std::bad_alloc";
    style.silent = settings.silent;
    return RunAsThisProcess(settings, program, StreamsOf(settings), style);
}
