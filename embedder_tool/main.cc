// pellion-embed: embeds a watermark into a WAV file or a raw PCM stream.
#include <iostream>

#include "argument_store.h"
#include "code_exception.h"
#include "embedder_settings.h"
#include "result_report.h"

int main(int argc, char** argv) {
    [[maybe_unused]] CorvidaUtils::CodeException toolChecker;
    [[maybe_unused]] CorvidaUtils::ExceptionWavParser parserChecker;
    [[maybe_unused]] CorvidaUtils::ExceptionWavMuxer muxerChecker;
    [[maybe_unused]] CorvidaUtils::ExceptionSdk sdkChecker;
    ArgumentStore store;
    EmbedderSettings settings;
    CorvidaUtils::RunResult result;

    CorvidaUtils::RunCatchingErrors(
        [&] {
            store.parse(argc, argv);
            embedder_tool::readEmbedderSettings(store, settings);
        },
        result);

    if (result.code != 0) {
        CorvidaUtils::PrintResultLine(
            embedder_tool::consoleForCommandLineError(store), result, !settings.silent,
            [&](std::ostream& out) { embedder_tool::printUsage(argc, argv, out); });
        return result.code;
    }
    // The usage text has been printed already.
    if (store.hasOption("-h")) return 0;

    // The embedding itself is not wired in yet.
    return 0;
}
