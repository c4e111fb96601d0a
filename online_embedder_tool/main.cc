// pellion-embed-online: embeds a watermark into a WAV file through the online service.
#include <iostream>

#include "argument_store.h"
#include "code_exception.h"
#include "online_embedder_settings.h"
#include "result_report.h"

int main(int argc, char** argv) {
    [[maybe_unused]] CorvidaUtils::CodeException toolChecker;
    [[maybe_unused]] CorvidaUtils::ExceptionWavParser parserChecker;
    [[maybe_unused]] CorvidaUtils::ExceptionWavMuxer muxerChecker;
    [[maybe_unused]] CorvidaUtils::ExceptionSdk sdkChecker;
    ArgumentStore store;
    OnlineEmbedderSettings settings;
    CorvidaUtils::RunResult result;

    CorvidaUtils::RunCatchingErrors(
        [&] {
            store.parse(argc, argv);
            online_tool::readOnlineSettings(store, settings);
        },
        result);

    if (result.code != 0) {
        CorvidaUtils::PrintResultLine(std::cout, result, true, [&](std::ostream& out) {
            online_tool::printUsage(argc, argv, out);
        });
        return result.code;
    }
    // The usage text has been printed already.
    if (store.hasOption("-h")) return 0;

    // The embedding itself is not wired in yet.
    return 0;
}
