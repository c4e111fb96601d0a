// pellion-embed-online: embeds a watermark into a PCM WAV file through an account of the
// online service, handing the embedder a JSON job description and, when finalising alone
// fails, sending the job report on.
//
// Its run follows pellion-embed's (RunEmbedding), with these differences: WAV files only,
// every line printed, the output checked against the metadata file too, the embedder created
// against the online account and handed the job description before any setting, the channel
// list printed but no channel selected, and the job ended with a report (EndJob).
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "audio_streams.h"
#include "code_exception.h"
#include "embedder_setup.h"
#include "embedding_run.h"
#include "file_identity.h"
#include "online_embedder_settings.h"
#include "password_file.h"
#include "password_scrubber.h"
#include "process_run.h"
#include "result_codes.h"
#include "standard_descriptors.h"
#include "stdio_file.h"
#include "stop_signal.h"
#include "system_cause.h"

namespace {

using CorvidaUtils::kIoError;
using CorvidaUtils::Raise;
using CorvidaUtils::Status;
using CorvidaUtils::ThrowIfFailed;

// No job description comes near this; /dev/zero or a runaway file would otherwise take all
// memory.
constexpr size_t kMaxMetadataBytes = size_t{16} << 20;

// The metadata file goes to the embedder byte for byte, unparsed; a NUL byte in it ends the
// text the embedder sees. It is opened and read once: a FIFO gives its content only once.
void HandOverMetadata(const OnlineEmbedderSettings& settings,
                      Corvida::IPellionAudioEmbedder& embedder) {
    std::string metadata;
    {
        const StdioFile file(std::fopen(settings.metadataPath.c_str(), "rb"));
        if (file == nullptr) {
            const int error = errno;
            Raise(Status(
                kIoError, "Unable to open metadata file",
                SystemCause("cannot open metadata file '" + settings.metadataPath + "'", error)));
        }
        char chunk[65536];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
            if (metadata.size() + n > kMaxMetadataBytes) {
                Raise(Status(kIoError, "Metadata file is too large (more than 16 MiB)"));
            }
            metadata.append(chunk, n);
        }
        // A file that opens but cannot be read (a directory, an I/O error) must not reach the
        // embedder as an empty or cut-off job description.
        if (std::ferror(file.get())) {
            const int error = errno;
            Raise(Status(
                kIoError, "Unable to read metadata file",
                SystemCause("cannot read metadata file '" + settings.metadataPath + "'", error)));
        }
    }
    // A stop signal while the file was read (a FIFO without a writer) ends the run at once.
    if (StopRequested()) return;
    ThrowIfFailed(
        Status::FromLibrary(embedder.AddMetadata(metadata.c_str()), "AddMetadata failed"));
}

// When finalising fails but hands back a report, sending the report on saves the job; only
// a failure to send it, or a failure without a report, fails the run.
int32_t EndJob(Corvida::IPellionAudioEmbedder& embedder) {
    const char* report = nullptr;
    const int32_t finalized = embedder.FinalizeWithReport(&report);
    if (finalized == 0) return 0;
    if (report != nullptr && report[0] != '\0') return embedder.SendJobReport(report);
    return finalized;
}

// The options that change what the run does, for the start of a machine's log; never the
// password.
RunStart StartOf(const OnlineEmbedderSettings& settings) {
    RunStart start = StartOf(static_cast<const CommonSettings&>(settings));
    start.options.emplace_back("login", settings.login);
    start.options.emplace_back("server", settings.server);
    start.options.emplace_back("port", std::to_string(settings.port));
    start.options.emplace_back("metadataPath", settings.metadataPath);
    if (settings.passwordFile) start.options.emplace_back("passwordFile", *settings.passwordFile);
    return start;
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptorsOpen();
    InstallStopSignalHandlers();
    ArgumentStore store;
    OnlineEmbedderSettings settings;
    ConsoleStyle style;
    style.program = programName(argc, argv, "pellion-embed-online");
    style.printUsage = [&](std::ostream& out) { online_tool::printUsage(argc, argv, out); };
    // Timestamps as the online tool has always shown them.
    style.singlePrecisionTimestamps = true;
    if (const std::optional<int> status = ReadCommandLine(
            [&] {
                store.parse(argc, argv);
                // The store keeps its own copies: the password need not stay readable in the
                // process's argument vector by every user of the machine for the whole run.
                ScrubPasswordArguments(argc, argv);
                online_tool::readOnlineSettings(store, settings);
            },
            store, style)) {
        return *status;
    }
    if (const std::optional<int> status = AnswerHelpOrVersion(store, style)) {
        return *status;
    }

    StreamSettings streams;
    streams.inputFile = settings.inputFile;
    streams.outputFile = settings.outputFile;
    RunProgram program;
    // From the command line, or from its file before the output is claimed, so that a file
    // that cannot be read leaves the output as it was.
    std::string password = settings.password;
    program.beforeOutput = [&](RunReporter& reporter) {
        if (settings.passwordFile) {
            password = ReadPasswordFile(*settings.passwordFile,
                                        std::getenv("CREDENTIALS_DIRECTORY"), reporter);
        }
    };
    program.create = [&](Corvida::IEmbedderListener* listener,
                         Corvida::IPellionAudioEmbedder** embedder) {
        return Corvida::CreateOnlinePellionAudioEmbedder(listener, embedder, settings.login.c_str(),
                                                         password.c_str(), settings.port,
                                                         settings.server.c_str());
    };
    // Nor may the output be the metadata file, which is read only after the output exists.
    program.checkOutput = [&] {
        if (IsSameFile(settings.metadataPath, settings.outputFile)) {
            Raise(Status(kIoError, "Output file is the metadata file"));
        }
    };
    program.beforeSettings = [&](Corvida::IPellionAudioEmbedder& embedder) {
        HandOverMetadata(settings, embedder);
    };
    // Shown for the user's information; the online embedder picks its channel itself.
    program.chooseChannel = [](Corvida::IPellionAudioEmbedder& embedder, RunReporter& reporter) {
        reporter.Channels(ReportedChannels(GetChannelList(embedder)));
    };
    program.endJob = &EndJob;
    program.start = StartOf(settings);
    return RunAsThisProcess(settings, program, streams, style);
}
