// pellion-embed-batch end to end: a tree with bad files, kills at several instants followed
// by re-runs, and four shards at once on one tree.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

const std::string kBatch = std::string(PELLION_BIN_DIR) + "/pellion-embed-batch";

ProcessOptions BatchOptions(std::vector<std::string> args) {
    ProcessOptions options;
    options.args = std::move(args);
    options.unsetEnv = {"PELLION_STANDIN_TRACE", "PELLION_STANDIN_FAULTS"};
    options.stdinDevNull = true;
    return options;
}

void WriteFile(const std::string& path, const ByteVector& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    WriteWholeFile(path, bytes);
}

// Every file under `dir`, relative to it. The batch renames files while this looks, so
// nothing here may throw on a name that has just gone (the poller's thread would abort).
std::set<std::string> FilesUnder(const std::string& dir) {
    std::set<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(dir, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->is_regular_file(error)) {
            files.insert(entry->path().lexically_relative(dir).string());
        }
    }
    return files;
}

// outcome of each input named by the summary's lines.
std::map<std::string, std::string> Outcomes(const std::string& summary) {
    std::map<std::string, std::string> outcomes;
    const std::regex line(R"re(^\{"input":"([^"]*)",.*"outcome":"(\w+)")re");
    for (const std::string& text : ReadLines(summary)) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(text, match, line)) << text;
        EXPECT_TRUE(outcomes.emplace(match[1], match[2]).second) << "twice: " << text;
    }
    return outcomes;
}

bool Contains(const ByteVector& bytes, const ByteVector& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

TEST(E2eBatchTest, ATreeWithSubFoldersChunksAndBadFilesEmbedsEveryGoodFileAndNamesEachBadOne) {
    WorkDir work;
    const ByteVector samples = TestSamples(4800, 2, 16);
    const ByteVector before = Chunk("LIST", Pattern(30, 3)), after = Chunk("iXML", Pattern(21));
    const std::map<std::string, ByteVector> good = {
        {"t1.wav", SimpleWav(2, 48000, 16, samples)},
        {"day/a.WAV", RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16)), before,
                                Chunk("data", samples), after})},
        {"day/b/c.wav", SimpleWav(1, 48000, 24, TestSamples(4800, 1, 24))}};
    for (const auto& [name, bytes] : good) WriteFile(work.path("in/" + name), bytes);
    WriteFile(work.path("in/day/r44.wav"), SimpleWav(2, 44100, 16, samples));
    WriteFile(work.path("in/float.wav"),
              RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 32, 16, 3)),
                        Chunk("data", Pattern(800))}));
    WriteFile(work.path("in/day/b/eight.wav"), SimpleWav(1, 48000, 8, Pattern(800)));

    const std::string summary = work.path("summary.jsonl");
    const ProcessResult result = RunProcess(
        kBatch, BatchOptions({"--input-dir=" + work.path("in"), "--output-dir=" + work.path("out"),
                              "--jobs=2", "--summary=" + summary}));
    EXPECT_EQ(result.exitStatus, 60) << result.out << result.err;
    EXPECT_NE(result.out.find("3 embedded, 0 skipped, 3 failed"), std::string::npos) << result.out;

    std::set<std::string> expected;
    for (const auto& [name, bytes] : good) {
        const std::string output = work.path("out/" + name);
        const WrittenWav wav = ReadWrittenWav(output);
        EXPECT_TRUE(wav.complete) << name << ": " << wav.problem;
        const int bits = name == "day/b/c.wav" ? 24 : 16;
        EXPECT_EQ(WithoutMark(wav.samples, bits),
                  WithoutMark(name == "day/b/c.wav" ? TestSamples(4800, 1, 24) : samples, bits));
        const size_t cut = name.find_last_of('/') + 1;
        expected.insert(name);
        expected.insert(name.substr(0, cut) + "." + name.substr(cut) + ".pellion-done");
    }
    const ByteVector carried = ReadWholeFile(work.path("out/day/a.WAV"));
    EXPECT_TRUE(Contains(carried, before) && Contains(carried, after)) << "chunks not carried";
    EXPECT_EQ(FilesUnder(work.path("out")), expected) << "a stray or a missing file";

    const std::vector<std::string> lines = ReadLines(summary);
    const std::map<std::string, std::string> bad = {{"day/r44.wav", "[ERROR] code 18 ("},
                                                    {"float.wav", "[ERROR] code 45 ("},
                                                    {"day/b/eight.wav", "[ERROR] code 16 ("}};
    ASSERT_EQ(lines.size(), 6u);
    for (const auto& [name, want] : bad) {
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find("\"input\":\"" + work.path("in/" + name) + "\"") != l.npos;
        });
        ASSERT_NE(line, lines.end()) << name;
        EXPECT_NE(line->find("\"outcome\":\"failed\""), line->npos) << *line;
        EXPECT_NE(line->find("\"resultLine\":\"" + want), line->npos) << *line;
        EXPECT_NE(line->find("\"cause\":\"pellion-embed: "), line->npos) << *line;
        EXPECT_NE(result.out.find("failed          " + name + ": " + want), std::string::npos)
            << result.out;
    }
}

// SIGKILL at three instants and SIGTERM at a fourth, each followed by a run on the same
// tree, while a thread checks that every final name it sees holds a complete output.
TEST(E2eBatchTest, KilledAtSeveralInstantsAndRunAgainEveryFileIsDeliveredOnceAndNeverPartial) {
    WorkDir work;
    const ByteVector input = SimpleWav(2, 48000, 16, TestSamples(12000, 2, 16));  // 0.25 s
    constexpr int kFiles = 8;
    for (int i = 0; i < kFiles; ++i) {
        WriteFile(work.path("in/" + std::string(i % 2 ? "odd/" : "") + std::to_string(i) + ".wav"),
                  input);
    }
    const std::string out = work.path("out");
    std::atomic<bool> polling{true};
    std::atomic<int> polls{0};
    std::mutex mutex;
    std::string partial;
    std::thread poller([&] {
        while (polling) {
            for (const std::string& name : FilesUnder(out)) {
                if (fs::path(name).filename().string()[0] == '.') continue;
                const WrittenWav wav = ReadWrittenWav(out + "/" + name);
                if (!wav.complete || wav.samples.size() != input.size() - 44) {
                    const std::lock_guard<std::mutex> lock(mutex);
                    partial += name + " (" + wav.problem + ") ";
                }
            }
            ++polls;
            std::this_thread::sleep_for(milliseconds(2));
        }
    });
    const auto delivered = [&] {
        std::map<std::string, std::pair<ino_t, int64_t>> files;
        for (const std::string& name : FilesUnder(out)) {
            struct stat status {};
            if (name.find(".pellion-") == name.npos &&
                stat((out + "/" + name).c_str(), &status) == 0) {
                files[name] = {status.st_ino,
                               status.st_mtim.tv_nsec + status.st_mtim.tv_sec * 1000000000};
            }
        }
        return files;
    };
    const auto temporaries = [&] {
        size_t count = 0;
        for (const std::string& name : FilesUnder(out))
            count += name.find(".pellion-partial") != name.npos;
        return count;
    };
    struct Instant {
        size_t deliveredBefore;  // stop once this many outputs are in place...
        int signal;
    };
    for (const Instant instant : {Instant{0, SIGKILL}, Instant{2, SIGKILL}, Instant{4, SIGTERM},
                                  Instant{6, SIGKILL}, Instant{kFiles, 0}}) {
        const auto earlier = delivered();
        const std::string summary = work.path("summary" + std::to_string(instant.deliveredBefore));
        ChildProcess batch(kBatch,
                           BatchOptions({"--input-dir=" + work.path("in"), "--output-dir=" + out,
                                         "--jobs=2", "--paced", "--summary=" + summary}));
        if (instant.signal != 0) {
            // ... and a child is writing (a temporary file holds its output).
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while ((delivered().size() < instant.deliveredBefore || temporaries() == 0) &&
                   std::chrono::steady_clock::now() < deadline) {
                batch.PumpFor(milliseconds(1));
            }
            batch.Signal(instant.signal);
        }
        const ProcessResult result = batch.Finish();
        const auto now = delivered();
        for (const auto& [name, identity] : earlier) {
            EXPECT_EQ(now.at(name), identity) << name << " was delivered twice";
        }
        std::map<std::string, std::string> outcomes = Outcomes(summary);
        for (const auto& [input, outcome] : outcomes) {
            const std::string name = input.substr(work.path("in/").size());
            EXPECT_EQ(outcome, earlier.count(name) ? "skipped" : "embedded") << name;
        }
        if (instant.signal == SIGKILL) {
            EXPECT_EQ(result.signal, SIGKILL);
        } else {
            EXPECT_EQ(result.exitStatus, instant.signal == 0 ? 0 : 128 + instant.signal)
                << result.out << result.err;
            EXPECT_EQ(temporaries(), 0u) << "a stop left a temporary file";
            EXPECT_EQ(outcomes.size(), now.size()) << "the summary misses what finished";
        }
    }
    polling = false;
    poller.join();
    EXPECT_EQ(partial, "") << "final names seen partial";
    EXPECT_GT(polls.load(), 10) << "the run ended before the poller looked";
    EXPECT_EQ(delivered().size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(FilesUnder(out).size(), 2u * kFiles) << "outputs and their records, nothing else";
}

TEST(E2eBatchTest, FourShardsRunAtOnceOnOneTreeEmbedEveryFileOnce) {
    WorkDir work;
    constexpr int kFiles = 16;
    for (int i = 0; i < kFiles; ++i) {
        WriteFile(work.path("in/d" + std::to_string(i % 3) + "/" + std::to_string(i) + ".wav"),
                  SimpleWav(2, 48000, 16, TestSamples(2400, 2, 16)));
    }
    std::vector<std::unique_ptr<ChildProcess>> shards;
    for (int i = 0; i < 4; ++i) {
        shards.push_back(std::make_unique<ChildProcess>(
            kBatch,
            BatchOptions({"--input-dir=" + work.path("in"), "--output-dir=" + work.path("out"),
                          "--jobs=1", "--shard=" + std::to_string(i) + "/4",
                          "--summary=" + work.path("s" + std::to_string(i))})));
    }
    std::set<std::string> embedded;
    for (int i = 0; i < 4; ++i) {
        const ProcessResult result = shards[i]->Finish();
        EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
        for (const auto& [input, outcome] : Outcomes(work.path("s" + std::to_string(i)))) {
            EXPECT_EQ(outcome, "embedded");
            EXPECT_TRUE(embedded.insert(input).second) << input << " embedded by two shards";
        }
    }
    EXPECT_EQ(embedded.size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(FilesUnder(work.path("out")).size(), 2u * kFiles);
}

}  // namespace
