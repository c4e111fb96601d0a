// The failures a user meets, each with its unchanged result line and a line on standard error
// that names the object and the reason, or says what would work. docs/usage.md lists the same
// rows for users.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_embedder_support.h"
#include "e2e_online_support.h"

namespace {

using Strings = std::vector<std::string>;

struct Row {
    const char* name;
    Strings args;  // $D stands for the scratch directory
    int exitStatus;
    const char* resultLine;
    const char* standardError;  // $D as above
};

std::string Expand(std::string text, const std::string& dir) {
    for (size_t at = text.find("$D"); at != std::string::npos; at = text.find("$D"))
        text.replace(at, 2, dir);
    return text;
}

TEST(E2eFailureMessagesTest, EachFailureSaysWhatAndWhy) {
    const char* const kNoInput =
        "[ERROR] code 44 (An I/O error occurred). Unable to open input file";
    const char* const kNoOutput =
        "[ERROR] code 44 (An I/O error occurred). Unable to initialize embedder listener";
    const char* const kUnsupported =
        "[ERROR] code 45 (Unsupported WAV file opened). Unable to open input file";
    const Row rows[] = {
        {"missing input",
         {"$D/none.wav", "$D/out.wav"},
         44,
         kNoInput,
         "pellion-embed: cannot open input file '$D/none.wav': No such file or directory\n"},
        {"input that is a directory",
         {"$D", "$D/out.wav"},
         44,
         kNoInput,
         "pellion-embed: cannot open input file '$D': Is a directory\n"},
        {"output in a missing directory",
         {"$D/in.wav", "$D/no/out.wav"},
         44,
         kNoOutput,
         "pellion-embed: cannot open output file '$D/no/out.wav': No such file or directory\n"},
        {"output under a file",
         {"$D/in.wav", "$D/in.wav/out.wav"},
         44,
         kNoOutput,
         "pellion-embed: cannot open output file '$D/in.wav/out.wav': Not a directory\n"},
        {"full device",
         {"$D/in.wav", "/dev/full"},
         44,
         "[ERROR] code 44 (An I/O error occurred). Unable to write output file",
         "pellion-embed: cannot write '/dev/full': No space left on device\n"},
        {"missing record directory",
         {"$D/in.wav", "$D/out.wav", "--record=$D/recs"},
         44,
         "[ERROR] code 44 (An I/O error occurred). EnableRecord failed",
         "pellion-embed: the record directory '$D/recs' does not exist\n"},
        {"unknown channel",
         {"$D/in.wav", "$D/out.wav", "--channelName=NOPE"},
         35,
         "[ERROR] code 35 (The channel name provided is not one of the embedder's channels). "
         "SetChannelName failed",
         "pellion-embed: the embedder has no channel 'NOPE'; its channels: STANDIN-A, "
         "STANDIN-B\n"},
        {"floating-point samples",
         {"$D/float.wav", "$D/out.wav"},
         45,
         kUnsupported,
         "pellion-embed: '$D/float.wav' holds floating-point samples; convert it with: sox "
         "'$D/float.wav' -b 24 converted.wav\n"},
        {"8-bit samples",
         {"$D/8.wav", "$D/out.wav"},
         16,
         "[ERROR] code 16 (Bit per sample value provided is invalid - bit per sample value shall "
         "be either 16, 24 or 32). Set Bits Per Sample failed",
         "pellion-embed: the embedder takes no 8-bit samples; convert '$D/8.wav' with: sox "
         "'$D/8.wav' -b 16 converted.wav\n"},
        {"44100 Hz",
         {"$D/44k.wav", "$D/out.wav"},
         18,
         "[ERROR] code 18 (The audio sample rate shall be only 48000Hz). Only 48000Hz WAV files "
         "can be used",
         "pellion-embed: '$D/44k.wav' is at 44100 Hz; resample it with: sox '$D/44k.wav' -r 48000 "
         "converted.wav\n"},
        {"big-endian file",
         {"$D/RIFX.wav", "$D/out.wav"},
         45,
         kUnsupported,
         "pellion-embed: '$D/RIFX.wav' is a big-endian (RIFX) file; convert it with: sox "
         "'$D/RIFX.wav' converted.wav\n"},
        {"W64 file",
         {"$D/riff.wav", "$D/out.wav"},
         45,
         kUnsupported,
         "pellion-embed: '$D/riff.wav' is a W64 file; convert it with: ffmpeg -i '$D/riff.wav' "
         "-ar 48000 -c:a pcm_s24le converted.wav\n"},
        {"MP3 file",
         {"$D/x.mp3", "$D/out.wav"},
         45,
         kUnsupported,
         "pellion-embed: '$D/x.mp3' is an MP3 file, not a WAV file; convert it with: ffmpeg -i "
         "'$D/x.mp3' -ar 48000 -c:a pcm_s24le converted.wav\n"},
        // A command-line error's usage text follows its result line, on standard output.
        {"unknown option",
         {"$D/in.wav", "$D/out.wav", "--chanelName=STANDIN-B"},
         43,
         "[ERROR] code 43 (Error on command line). Unknown option --chanelName",
         "pellion-embed: unknown option '--chanelName'; did you mean `--channelName`?\n"},
        {"value as the next argument",
         {"$D/in.wav", "$D/out.wav", "--channelName", "STANDIN-B"},
         43,
         "[ERROR] code 43 (Error on command line). Too much arguments (2 expected)",
         "pellion-embed: options take their value after '=': write --channelName=STANDIN-B\n"},
        {"missing metadata file",
         {"$D/in.wav", "$D/out.wav", "--login=me", "--password=secret",
          "--metadataPath=$D/none.json"},
         44,
         "[ERROR] code 44 (An I/O error occurred). Unable to open metadata file",
         "pellion-embed-online: cannot open metadata file '$D/none.json': No such file or "
         "directory\n"},
        {"missing password file",
         {"$D/in.wav", "$D/out.wav", "--login=me", "--passwordFile=$D/pw", "--metadataPath=m"},
         44,
         "[ERROR] code 44 (An I/O error occurred). Unable to open password file",
         "pellion-embed-online: cannot open password file '$D/pw': No such file or directory\n"},
        {"WAV stream on raw standard input",
         {"stdin", "$D/raw.wav", "--stdin-sampling-rate=48000", "--stdin-nb-channels=2",
          "--stdin-bits-per-sample=16", "--stdin-endianness=le"},
         44,
         "[ERROR] code 44 (An I/O error occurred). Reading error",
         "pellion-embed: standard input holds a WAV stream, not raw PCM; give it as the input "
         "file instead, without the --stdin- options: pellion-embed - outputFile\n"},
        {"file shorter than its header",
         {"$D/short.wav", "$D/out.wav"},
         0,
         "[SUCCESS]",
         "Warning: '$D/short.wav' is shorter than its header says: 9600 bytes of audio "
         "(0.050 s) are missing; what is there is embedded\n"},
    };
    WorkDir dir;
    const ByteVector samples = TestSamples(2400, 2, 16);
    WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, samples));
    WriteWholeFile(dir.path("float.wav"),
                   RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 32, 16, 3)),
                             Chunk("data", Pattern(800))}));
    WriteWholeFile(dir.path("8.wav"), SimpleWav(2, 48000, 8, Pattern(800)));
    WriteWholeFile(dir.path("44k.wav"), SimpleWav(2, 44100, 16, Pattern(800)));
    WriteWholeFile(dir.path("x.mp3"), ByteVector{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0, 0});
    for (const char* form : {"RIFX", "riff"}) {
        ByteVector file = SimpleWav(2, 48000, 16, Pattern(800));
        std::copy(form, form + 4, file.begin());
        WriteWholeFile(dir.path(std::string(form) + ".wav"), file);
    }
    ByteVector shortFile = SimpleWav(2, 48000, 16, TestSamples(4800, 2, 16));
    shortFile.resize(shortFile.size() - 9600);
    WriteWholeFile(dir.path("short.wav"), shortFile);
    std::string root = dir.path("");
    root.pop_back();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Strings args;
        for (const std::string& arg : row.args) args.push_back(Expand(arg, root));
        const bool online = std::string(row.standardError).rfind("pellion-embed-online", 0) == 0;
        ProcessOptions options = EmbedderOptions(dir, args);
        options.stdinFile = dir.path("in.wav");  // only raw input reads it
        const ProcessResult result =
            RunProcess(online ? OnlineEmbedderToolPath() : EmbedderToolPath(), options);
        EXPECT_EQ(result.exitStatus, row.exitStatus);
        const std::string& out = result.out;
        EXPECT_EQ(row.exitStatus == 43 ? out.substr(0, out.find('\n')) : LastConsoleLine(out),
                  row.resultLine);
        EXPECT_EQ(result.err, Expand(row.standardError, root));
        // With a log for machines, standard error holds JSON Lines only, ending with the
        // result, whose code is the exit status.
        options.args.push_back("--log-format=json");
        const ProcessResult logged =
            RunProcess(online ? OnlineEmbedderToolPath() : EmbedderToolPath(), options);
        EXPECT_EQ(logged.exitStatus, row.exitStatus);
        const std::string last = JqOfLines(
            "[.[-1] | .event, .code, .exitStatus, (.cause != null)] + [all(.[]; .time and "
            ".program and .event)]",
            logged.err);
        if (!last.empty()) {
            EXPECT_EQ(last, "[\"result\"," + std::to_string(row.exitStatus) + "," +
                                std::to_string(row.exitStatus) + "," +
                                (row.exitStatus != 0 ? "true" : "false") + ",true]");
        }
    }
    // Refused before its first block, the run takes back the file it created.
    EXPECT_NE(access(dir.path("raw.wav").c_str(), F_OK), 0);
}

}  // namespace
