// pellion-embed: embeds a watermark into a PCM WAV file or a raw PCM stream on standard
// input, writing a WAV file or raw PCM on standard output.
//
// main reads the command line, makes the source and the sink that it names, and runs the
// job (RunEmbedding): open the input and check its rate; claim the output; create and
// configure the embedder, selecting the channel named or the first one offered; feed it
// blocks of 512 frames (a WAV file at the pace of real time, unless --unpaced); end the job,
// complete the output and print the one result line, whose code is the exit status.
#include <iostream>
#include <optional>
#include <string>

#include "audio_streams.h"
#include "command_line_error.h"
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
void SelectChannel(const EmbedderSettings& settings, std::ostream& console,
                   Corvida::IPellionAudioEmbedder& embedder) {
    CorvidaUtils::ExceptionSdk library;
    if (settings.channelName) {
        const int32_t selected = embedder.SetChannelName(settings.channelName->c_str());
        if (selected != 0) library.cause = ChannelRefused(*settings.channelName, embedder);
        library.CheckResult(selected, "SetChannelName failed");
        return;
    }
    const ChannelList channels = GetChannelList(embedder, library);
    if (!settings.silent) PrintChannelList(console, channels);
    CorvidaUtils::CodeException().Check(channels.names != nullptr && channels.count > 0,
                                        CorvidaUtils::kNoChannel,
                                        "The embedder offers no channel to select");
    library.CheckResult(embedder.SetChannelName(channels.names[0]), "SetChannelName failed");
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

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptorsOpen();
    InstallStopSignalHandlers();
    ArgumentStore store;
    EmbedderSettings settings;
    const auto printUsage = [&](std::ostream& out) { embedder_tool::printUsage(argc, argv, out); };
    const std::string name = programName(argc, argv, "pellion-embed");
    // A command-line error, with its usage text, goes where the command line said the console
    // goes: only the settings reader knows that before the settings are read.
    if (const std::optional<int> status = ReadCommandLine(
            name,
            [&] {
                store.parse(argc, argv);
                embedder_tool::readEmbedderSettings(store, settings);
            },
            [&]() -> std::ostream& { return embedder_tool::consoleForCommandLineError(store); },
            printUsage)) {
        return *status;
    }
    if (const std::optional<int> status = AnswerHelpOrVersion(store, name)) return *status;

    RunProgram program;
    program.create = [](Corvida::IEmbedderListener* listener,
                        Corvida::IPellionAudioEmbedder** embedder) {
        return Corvida::CreatePellionAudioEmbedder(listener, embedder, nullptr);
    };
    program.chooseChannel = [&](Corvida::IPellionAudioEmbedder& embedder, std::ostream& console) {
        SelectChannel(settings, console, embedder);
    };
    program.endJob = [](Corvida::IPellionAudioEmbedder& embedder) { return embedder.Finalize(); };
    program.printUsage = printUsage;
    program.name = name;
    program.informs = !settings.silent;
    program.addBufferFailure = kept_text::kAddBufferFailed;
    program.timestampFailure = "std::bad_alloc";
    return RunAsThisProcess(settings, program, StreamsOf(settings),
                            ListenerStyle{settings.silent, false});
}
