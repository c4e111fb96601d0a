// scripts/check_library.sh against libraries that fit the built programs and files that do
// not: its verdict lines, its summary and its exit status. The libraries that fit, or fit
// but for one flaw, are made from the stand-in, so those tests need a stand-in build.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_files.h"

namespace {

using Env = std::map<std::string, std::string>;

ProcessResult RunCheck(const std::string& library, std::vector<std::string> options = {},
                       const Env& env = {}) {
    ProcessOptions process;
    process.args = {PELLION_SOURCE_DIR "/scripts/check_library.sh"};
    if (!library.empty()) process.args.push_back(library);
    bool binGiven = false;
    for (const std::string& option : options) binGiven = binGiven || option.rfind("--bin=", 0) == 0;
    if (!binGiven) process.args.push_back("--bin=" PELLION_BIN_DIR);
    process.args.insert(process.args.end(), options.begin(), options.end());
    process.env = env;
    process.stdinDevNull = true;
    process.timeout = std::chrono::milliseconds(180000);
    return RunProcess("/bin/bash", process);
}

// The script's line for CHECK, or "" when it printed none.
std::string CheckLine(const std::string& out, const std::string& check) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > 7 && line.compare(7, check.size() + 1, check + " ") == 0) return line;
    }
    return "";
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const std::vector<std::string> kEveryCheck = {"file",    "soname",   "symbols",    "loading",
                                              "version", "wav-file", "raw-stream", "online"};

// The checks after `file` that are skipped when the file is no library at all.
void ExpectOnlyTheFileChecked(const ProcessResult& run) {
    for (size_t i = 1; i < kEveryCheck.size(); ++i) {
        EXPECT_EQ(CheckLine(run.out, kEveryCheck[i]).rfind("[SKIP]", 0), 0u) << kEveryCheck[i];
    }
}

constexpr const char* kMisfit = "Result: the library does NOT fit the programs:";

TEST(E2eCheckLibraryTest, FilesThatAreNoLibraryFailWithALineSayingWhat) {
    WorkDir dir;
    WriteWholeFile(dir.path("notes.txt"), std::string("libpellionaudioembedder.so.8.1\n"));
    WriteWholeFile(dir.path("empty.so"), std::string());
    // The library the programs were built with, marked as built for another machine
    // (e_machine 183, AArch64): the loader must never be asked to take it.
    ByteVector foreign = ReadWholeFile(PELLION_BIN_DIR "/libpellionaudioembedder.so.8.1");
    ASSERT_GT(foreign.size(), 20u);
    foreign[18] = 183;
    foreign[19] = 0;
    WriteWholeFile(dir.path("foreign.so"), foreign);

    const struct {
        std::string library;
        std::string line;
    } cases[] = {
        {dir.path("notes.txt"), "[FAIL] file       a text file, not an ELF shared library"},
        {dir.path("absent.so"), "[FAIL] file       " + dir.path("absent.so") + ": no such file"},
        {dir.path("empty.so"), "[FAIL] file       an empty file, not an ELF shared library"},
        {dir.dir(), "[FAIL] file       " + dir.dir() + " is a directory"},
        {EmbedderToolPath(), "executable, not an ELF shared library"},
        {dir.path("foreign.so"), "[FAIL] file       built for AArch64"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        const ProcessResult run = RunCheck(c.library);
        EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
        EXPECT_TRUE(Has(CheckLine(run.out, "file"), c.line)) << run.out;
        ExpectOnlyTheFileChecked(run);
        EXPECT_TRUE(Has(run.out, kMisfit)) << run.out;
        EXPECT_EQ(run.err, "");  // no complaint of the shell or of a tool it ran
    }
}

TEST(E2eCheckLibraryTest, CommandLinesItCannotWorkWithEndWithStatus2) {
    const std::string library = PELLION_BIN_DIR "/libpellionaudioembedder.so.8.1";
    const struct {
        std::string library;
        std::vector<std::string> options;
        std::string error;
    } cases[] = {
        {"", {}, "no library given"},
        {library, {"--login=me"}, "--password is missing"},
        {library, {"--login=me", "--password=x", "--server=h"}, "--metadataPath is missing"},
        {library, {"--verbose"}, "unknown option: --verbose"},
        {library, {"--port=1", "--port=2"}, "--port is given twice"},
        {library, {"other.so"}, "one library only"},
        {library, {"--bin=/nonexistent/bin"}, "no directory /nonexistent/bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const ProcessResult run = RunCheck(c.library, c.options);
        EXPECT_EQ(run.exitStatus, 2) << run.out << run.err;
        EXPECT_TRUE(Has(run.err, c.error)) << run.err;
        EXPECT_EQ(CheckLine(run.out, "file"), "");
    }
}

#ifdef PELLION_STANDIN_LIBRARY

TEST(E2eCheckLibraryTest, TheStandinFitsAndTheOnlineToolRunsOnlyWithAnAccount) {
    const ProcessResult run = RunCheck(PELLION_STANDIN_LIBRARY);
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    for (const char* check :
         {"file", "soname", "symbols", "loading", "version", "wav-file", "raw-stream"}) {
        EXPECT_EQ(CheckLine(run.out, check).rfind("[PASS]", 0), 0u) << check << "\n" << run.out;
    }
    EXPECT_TRUE(Has(CheckLine(run.out, "version"), "8.1.0 (stand-in")) << run.out;
    EXPECT_TRUE(Has(CheckLine(run.out, "wav-file"), "48000 frames, 2 channels, 16 bits"));
    EXPECT_TRUE(Has(CheckLine(run.out, "raw-stream"), "192000 bytes (48000 frames)"));
    EXPECT_TRUE(Has(CheckLine(run.out, "online"), "[SKIP]")) << run.out;
    EXPECT_TRUE(Has(run.out, "Result: the library fits the programs.")) << run.out;
    EXPECT_EQ(run.err, "");

    WorkDir dir;
    WriteWholeFile(dir.path("job.json"), std::string("{\"job\": \"library check\"}\n"));
    const std::string password = "pw-not-to-be-shown";
    const ProcessResult online =
        RunCheck(PELLION_STANDIN_LIBRARY,
                 {"--login=me", "--password=" + password, "--metadataPath=" + dir.path("job.json"),
                  "--server=localhost", "--port=8443"});
    EXPECT_EQ(online.exitStatus, 0) << online.out << online.err;
    EXPECT_TRUE(Has(CheckLine(online.out, "online"), "[PASS]")) << online.out;
    EXPECT_FALSE(Has(online.out + online.err, password));

    // The login is forwarded as given: the stand-in refuses an empty one, and the check
    // shows the result line that says so.
    const ProcessResult refused =
        RunCheck(PELLION_STANDIN_LIBRARY,
                 {"--login=", "--password=x", "--metadataPath=" + dir.path("job.json")});
    EXPECT_EQ(refused.exitStatus, 1) << refused.out;
    EXPECT_TRUE(Has(CheckLine(refused.out, "online"), "[FAIL]")) << refused.out;
    EXPECT_TRUE(Has(CheckLine(refused.out, "online"), "[ERROR] code 3 ")) << refused.out;
}

TEST(E2eCheckLibraryTest, AMissingSymbolIsNamedDemangledWithTheProgramThatNeedsIt) {
    const ByteVector built = ReadWholeFile(PELLION_BIN_DIR "/libpellionaudioembedder.so.8.1");
    const ProcessResult run = RunCheck(PELLION_MISSING_SYMBOL_LIBRARY);
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    EXPECT_TRUE(Has(CheckLine(run.out, "symbols"), "[FAIL]")) << run.out;
    EXPECT_TRUE(
        Has(run.out,
            "missing: Corvida::CreateOnlinePellionAudioEmbedder(Corvida::IEmbedderListener*,"
            " Corvida::IPellionAudioEmbedder**, char const*, char const*, int, char const*)"
            " (used by pellion-embed-online)\n"))
        << run.out;
    EXPECT_TRUE(Has(run.out, "  - symbol Corvida::CreateOnlinePellionAudioEmbedder("));
    EXPECT_TRUE(Has(run.out, "another version than 8.1"));
    // pellion-embed does not need the symbol: its runs still embed, and only the misfit
    // is reported.
    for (const char* check : {"soname", "loading", "version", "wav-file", "raw-stream"}) {
        EXPECT_EQ(CheckLine(run.out, check).rfind("[PASS]", 0), 0u) << check << "\n" << run.out;
    }
    // The runs used a copy: the library beside the built programs is still the stand-in.
    EXPECT_EQ(ReadWholeFile(PELLION_BIN_DIR "/libpellionaudioembedder.so.8.1"), built);
}

TEST(E2eCheckLibraryTest, AnotherVersionsSonameIsAMisfitAndNoSonameACaveat) {
    const ProcessResult other = RunCheck(PELLION_OTHER_VERSION_LIBRARY);
    EXPECT_EQ(other.exitStatus, 1) << other.out << other.err;
    EXPECT_EQ(CheckLine(other.out, "soname"),
              "[FAIL] soname     libpellionaudioembedder.so.9, but the programs load "
              "libpellionaudioembedder.so.8.1");
    EXPECT_TRUE(Has(other.out, "  - the library calls itself libpellionaudioembedder.so.9"));

    // The loader takes a library without a SONAME by its file name, so it still fits.
    const ProcessResult none = RunCheck(PELLION_NO_SONAME_LIBRARY);
    EXPECT_EQ(none.exitStatus, 0) << none.out << none.err;
    EXPECT_EQ(CheckLine(none.out, "soname").rfind("[WARN]", 0), 0u) << none.out;
    EXPECT_TRUE(Has(none.out, "Result: the library fits the programs, with a caveat:"));
}

TEST(E2eCheckLibraryTest, AGetVersionThatAnswersNullIsAMisfit) {
    const ProcessResult run =
        RunCheck(PELLION_STANDIN_LIBRARY, {}, {{"PELLION_STANDIN_FAULTS", "GetVersion=1"}});
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    EXPECT_EQ(CheckLine(run.out, "version"),
              "[FAIL] version    GetVersion returned null instead of a version text");
    EXPECT_TRUE(Has(run.out, "  - GetVersion answers with no text")) << run.out;
}

TEST(E2eCheckLibraryTest, ALibraryThatNeedsAMissingLibraryDoesNotLoad) {
    // The stand-in with its need of libc.so.6 renamed to libq.so.6, which no system has.
    ByteVector library = ReadWholeFile(PELLION_STANDIN_LIBRARY);
    const std::string needed = "libc.so.6";
    const auto at = std::search(library.begin(), library.end(), needed.begin(), needed.end());
    ASSERT_NE(at, library.end());
    at[3] = 'q';
    WorkDir dir;
    WriteWholeFile(dir.path("libpellionaudioembedder.so.8.1"), library);

    const ProcessResult run = RunCheck(dir.path("libpellionaudioembedder.so.8.1"));
    EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
    EXPECT_TRUE(Has(CheckLine(run.out, "loading"), "[FAIL]")) << run.out;
    EXPECT_TRUE(Has(CheckLine(run.out, "loading"), "libq.so.6")) << run.out;
    for (const char* check : {"version", "wav-file", "raw-stream", "online"}) {
        EXPECT_EQ(CheckLine(run.out, check).rfind("[SKIP]", 0), 0u) << check << "\n" << run.out;
    }
    EXPECT_TRUE(Has(run.out, "install the library it names as missing")) << run.out;
}

#endif  // PELLION_STANDIN_LIBRARY

}  // namespace
