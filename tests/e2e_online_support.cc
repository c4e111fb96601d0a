#include "e2e_online_support.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

OnlineJob::OnlineJob()
    : input_(dir_.path("in.wav")),
      output_(dir_.path("out.wav")),
      metadata_(dir_.path("job.json")),
      trace_(dir_.path("trace.txt")) {
    SetInput(2, 16, TestSamples(4800, 2, 16));
    WriteWholeFile(metadata_, std::string(kDefaultMetadata));
}

void OnlineJob::SetInput(int channels, int bits, const ByteVector& samples, uint32_t rate) {
    samples_ = samples;
    WriteWholeFile(input_, SimpleWav(static_cast<uint16_t>(channels), rate,
                                     static_cast<uint16_t>(bits), samples));
}

void OnlineJob::SetMetadata(const ByteVector& bytes) const {
    WriteWholeFile(metadata_, bytes);
}

std::vector<std::string> OnlineJob::Args(const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {input_, output_, std::string("--login=") + kOnlineLogin,
                                     std::string("--password=") + kOnlinePassword,
                                     "--metadataPath=" + metadata_};
    for (const std::string& option : extra) {
        const std::string name = option.substr(0, option.find('='));
        auto same = std::find_if(args.begin() + 2, args.end(), [&](const std::string& arg) {
            return arg.rfind(name + "=", 0) == 0;
        });
        if (same != args.end() && name.rfind("--", 0) == 0) {
            *same = option;
        } else {
            args.push_back(option);
        }
    }
    return args;
}

ProcessOptions OnlineJob::Options(const std::vector<std::string>& args,
                                  const std::string& faults) const {
    ProcessOptions options;
    options.args = args;
    options.env = StandinEnv(trace_, faults);
    options.stdinDevNull = true;
    options.timeout = std::chrono::seconds(30);
    return options;
}

ProcessResult OnlineJob::Run(const std::vector<std::string>& extra,
                             const std::string& faults) const {
    return RunWith(Args(extra), faults);
}

ProcessResult OnlineJob::RunWith(const std::vector<std::string>& args,
                                 const std::string& faults) const {
    ClearTrace();
    const ProcessResult result = RunProcess(OnlineEmbedderToolPath(), Options(args, faults));
    EXPECT_FALSE(result.timedOut);
    // The stand-in complains on standard error about rules it cannot read.
    EXPECT_EQ(result.err.find("pellion stand-in:"), std::string::npos) << result.err;
    return result;
}

void OnlineJob::ClearTrace() const {
    unlink(trace_.c_str());
}

bool OnlineJob::WaitForTrace(ChildProcess& child,
                             const std::function<bool(const std::vector<std::string>&)>& ready,
                             std::chrono::milliseconds limit) const {
    return child.PumpUntil([&] { return ready(Trace()); }, limit);
}

std::vector<std::string> TraceFields(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    std::string field;
    in >> field;  // the operation name
    while (in >> field) fields.push_back(field);
    return fields;
}

std::vector<std::string> ConsoleLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string LastConsoleLine(const std::string& text) {
    std::vector<std::string> lines = ConsoleLines(text);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines.empty() ? std::string() : lines.back();
}
