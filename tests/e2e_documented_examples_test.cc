// Every shell example of the README, the usage guide and the manual pages is run against the
// built programs and the stand-in library, so that no document shows a command that fails.
// An example that cannot run on a build machine carries a marker saying why: a line
// `<!-- not run: WHY -->` right before its fence, or `.\" not run: WHY` before its block.
// Each example runs twice in a scratch directory holding the inputs it names (the second
// time over its own outputs), and once more with a failing library, which it must not hide.
// The shipped unit files pass systemd's own check.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

struct Example {
    std::string where;   // document:line
    std::string text;    // as a reader types it
    std::string notRun;  // the marker's reason, or empty
};

// ```sh blocks of a Markdown file, or the .EX/.EE and .nf/.fi blocks of a manual page's
// EXAMPLES section, with the roff escapes as the reader sees them.
std::vector<Example> ExamplesOf(const std::string& document) {
    const bool roff = document.back() == '1';
    const std::regex marker(roff ? R"(^\.\\"\s*not run:\s*(.*)$)"
                                 : R"(^<!--\s*not run:\s*(.*?)\s*-->$)");
    static const std::pair<std::regex, const char*> kEscapes[] = {{std::regex(R"(\\-)"), "-"},
                                                                  {std::regex(R"(\\\(aq)"), "'"},
                                                                  {std::regex(R"(\\\(dq)"), "\""},
                                                                  {std::regex(R"(\\&)"), ""},
                                                                  {std::regex(R"(\\e)"), "\\"}};
    const std::vector<std::string> lines =
        ReadLines(std::string(PELLION_SOURCE_DIR) + "/" + document);
    std::vector<Example> examples;
    bool inSection = !roff, inBlock = false, isShell = false;
    std::string reason;
    std::smatch match;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (roff && line.rfind(".SH", 0) == 0) inSection = line.find("EXAMPLES") != line.npos;
        if (!inSection) continue;
        if (!inBlock && (roff ? line == ".EX" || line == ".nf" : line.rfind("```", 0) == 0)) {
            inBlock = true, isShell = roff || line == "```sh";
            examples.push_back({document + ":" + std::to_string(i + 2), "", reason});
        } else if (inBlock && (roff ? line == ".EE" || line == ".fi" : line == "```")) {
            inBlock = false, reason.clear();
            if (!isShell) examples.pop_back();
        } else if (inBlock && !(roff && line[0] == '.')) {
            std::string text = line;
            for (const auto& [escape, plain] : kEscapes) {
                if (roff) text = std::regex_replace(text, escape, plain);
            }
            examples.back().text += text + "\n";
        } else if (!inBlock && std::regex_search(line, match, marker)) {
            reason = match[1];
        } else if (!inBlock && !roff) {
            reason.clear();  // in Markdown the marker stands right before the fence
        }
    }
    return examples;
}

// Whether `word` stands in `text` as a word of its own (a file name, a command).
bool Mentions(const std::string& text, const std::string& word) {
    const std::string quoted =
        std::regex_replace(word, std::regex(R"([.^$|()\[\]{}*+?\\])"), "\\$&");
    return std::regex_search(text, std::regex("(^|[^\\w.-])" + quoted + "($|[^\\w.-])"));
}

// The first tool that a command of `script` names and that is not installed, or "".
std::string MissingTool(const std::string& script) {
    const std::string joined = std::regex_replace(script, std::regex("\\\\\n"), " ");
    const std::string code = std::regex_replace(joined, std::regex("(^|\\s)#.*"), "$1");
    static const std::regex kCommand(
        R"((?:^|\|\||&&|[|;\n])[ \t]*(?:(?:if|then|else|do|while|!|\{)\s+)*)"
        R"((?:[A-Za-z_]\w*=(?:"[^"]*"|'[^']*'|\S*)[ \t]+)*([^\s;|&()]+))");
    for (std::sregex_iterator it(code.begin(), code.end(), kCommand), end; it != end; ++it) {
        const std::string name = (*it)[1];
        // Paths and variables are the example's own; the shell has these words itself.
        if (name.find_first_of("/=$") != name.npos || Mentions("echo exit cd fi done }", name) ||
            access((std::string(PELLION_BIN_DIR) + "/" + name).c_str(), X_OK) == 0 ||
            access((std::string(PELLION_TOOLS_DIR) + "/" + name).c_str(), X_OK) == 0) {
            continue;
        }
        if (FindProgram(name).empty()) return name;
    }
    return "";
}

ProcessResult RunShell(const std::string& dir, const std::string& script,
                       const std::string& faults = "") {
    ProcessOptions options;
    options.args = {"-e", "-o", "pipefail", "-c", "cd '" + dir + "'\n" + script};
    options.env = {
        {"PATH", std::string(PELLION_BIN_DIR) + ":" + PELLION_TOOLS_DIR + ":" + getenv("PATH")}};
    options.unsetEnv = {"PELLION_STANDIN_TRACE", "PELLION_STANDIN_FAULTS", "PASSWORD"};
    if (!faults.empty()) options.env["PELLION_STANDIN_FAULTS"] = faults;
    options.stdinDevNull = true;  // no tool may wait for an answer
    options.timeout = std::chrono::milliseconds(30000);
    return RunProcess("/bin/bash", options);
}

// Inputs the examples name, short so that paced runs take little time.
const std::vector<std::pair<std::string, std::string>> kInputs = {
    {"in.wav", "make-test-signal in.wav 0.5"},
    {"tone.wav", "make-test-signal tone.wav 0.5"},
    {"out.wav", "make-test-signal out.wav 0.5"},  // an earlier output that an example reads
    {"job.json", "echo '{\"title\": \"a documented example\"}' > job.json"},
    {"in.flac", "sox -n -r 48000 -b 16 -c 2 in.flac synth 0.5 sine 440"},
    {"in.mp4", "ffmpeg -loglevel error -f lavfi -i sine=r=48000:d=0.5 -ac 2 in.mp4"}};

TEST(E2eDocumentedExamplesTest, EveryShellExampleRunsOrSaysWhyNot) {
    int ran = 0, marked = 0, skipped = 0;
    for (const std::string document : {"README.md", "docs/usage.md", "man/pellion-embed.1",
                                       "man/pellion-embed-online.1", "man/pellion-embed-batch.1"}) {
        const std::vector<Example> examples = ExamplesOf(document);
        EXPECT_FALSE(examples.empty()) << "no shell example found in " << document;
        std::string definitions;  // variables that earlier examples of the document set
        for (const Example& example : examples) {
            std::string prepare = "mkdir -p tmp var/tmp\n";
            for (const auto& [name, command] : kInputs) {
                if (Mentions(example.text, name)) prepare += command + "\n";
            }
            const std::string missing = MissingTool(example.text + prepare);
            if (!example.notRun.empty() || !missing.empty()) {
                std::printf(
                    "not run: %s (%s)\n", example.where.c_str(),
                    example.notRun.empty() ? ("no " + missing).c_str() : example.notRun.c_str());
                ++(example.notRun.empty() ? skipped : marked);
                continue;
            }
            WorkDir work;
            const ProcessResult made = RunShell(work.dir(), prepare);
            ASSERT_EQ(made.exitStatus, 0) << prepare << made.err;
            // The paths the examples name: the build's programs, and /tmp and /var/tmp inside
            // the scratch directory.
            // /tmp first: the build itself may lie under /tmp.
            std::string script = definitions + example.text;
            script = std::regex_replace(script, std::regex(R"((^|[\s="'])(/var)?/tmp/)"),
                                        "$1" + work.dir() + "$2/tmp/");
            script = std::regex_replace(script, std::regex(R"((^|[\s="'])build/bin/)"),
                                        "$1" PELLION_BIN_DIR "/");
            script = std::regex_replace(script, std::regex(R"((^|[\s="'])build/tools/)"),
                                        "$1" PELLION_TOOLS_DIR "/");
            // The second run finds the first one's outputs, as a reader's second try does.
            for (const char* round : {"first run", "second run"}) {
                const ProcessResult result = RunShell(work.dir(), script);
                EXPECT_TRUE(result.exitStatus == 0 && !result.timedOut)
                    << example.where << ", " << round << ": exit status " << result.exitStatus
                    << (result.timedOut ? " (timed out)\n" : "\n") << example.text
                    << "standard error:\n"
                    << result.err;
            }
            // With a library that fails (Initialize=28 ends a run with status 20), a failure
            // must not pass for success: the example fails, or it tells the status apart from
            // the program's own [ERROR] line.
            if (Mentions(example.text, "pellion-embed") ||
                Mentions(example.text, "pellion-embed-online") ||
                Mentions(example.text, "pellion-embed-batch")) {
                const ProcessResult failed = RunShell(work.dir(), script, "Initialize=28");
                const std::string told = std::regex_replace(failed.out + failed.err,
                                                            std::regex(R"(\[ERROR\][^\n]*)"), "");
                EXPECT_TRUE(failed.exitStatus != 0 || Mentions(told, "code 20"))
                    << example.where << " hides the program's failure (status 20)\n"
                    << example.text << "output:\n"
                    << failed.out << failed.err;
            }
            if (std::regex_match(example.text, std::regex(R"((\s*[A-Za-z_]\w*=\S.*\n)+)"))) {
                definitions += example.text;
            }
            ++ran;
        }
    }
    std::printf("documented examples: %d ran, %d marked not run, %d without their tool\n", ran,
                marked, skipped);
    EXPECT_GT(ran, 0);
}

// No unknown or misspelt setting, and every command found (the programs of this build).
TEST(E2eDocumentedExamplesTest, ShippedUnitsPassSystemdVerify) {
    const std::string script =
        "systemd-analyze --version > /dev/null 2>&1 || exit 77\n"
        "for unit in " PELLION_SOURCE_DIR
        "/deploy/systemd/*; do sed 's|/opt/pellion/bin/|" PELLION_BIN_DIR
        "/|' \"$unit\" > \"${unit##*/}\"; done\n"
        "systemd-analyze verify --man=no *\n";
    WorkDir work;
    const ProcessResult result = RunShell(work.dir(), script);
    if (result.exitStatus == 77) {
        GTEST_SKIP() << "systemd-analyze (Debian package systemd) is not installed or cannot run";
    }
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out + result.err, "");
}

}  // namespace
