#include "online_embedder_settings.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "command_line_test_support.h"

using Args = std::vector<std::string>;

namespace {

// A valid command line with `extra` arguments after it.
Args Valid(const Args& extra = {}) {
    Args args = {"in.wav", "out.wav", "--login=me", "--password=secret", "--metadataPath=m.json"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::string ReadError(const Args& args) {
    ParsedCommandLine line(args, "pellion-embed-online");
    OnlineEmbedderSettings settings;
    return CommandLineError([&] { online_tool::readOnlineSettings(line.store, settings); });
}

OnlineEmbedderSettings Read(const Args& args) {
    ParsedCommandLine line(args, "pellion-embed-online");
    OnlineEmbedderSettings settings;
    EXPECT_EQ(CommandLineError([&] { online_tool::readOnlineSettings(line.store, settings); }), "");
    return settings;
}

}  // namespace

TEST(OnlineEmbedderSettingsTest, HelpWinsOverEveryError) {
    for (const Args& args : std::vector<Args>{{"-h"},
                                              {"a", "-h", "b", "c"},
                                              {"in.wav", "out.wav", "-h", "--silent"},
                                              {"--login", "--login", "--port=x", "-h=1"}}) {
        ParsedCommandLine line(args, "pellion-embed-online");
        OnlineEmbedderSettings settings;
        EXPECT_EQ(CommandLineError([&] { online_tool::readOnlineSettings(line.store, settings); }),
                  "");
        EXPECT_EQ(settings.inputFile, "");
        EXPECT_EQ(settings.server, online_tool::kDefaultServer);
        EXPECT_EQ(settings.port, 443);
    }
}

TEST(OnlineEmbedderSettingsTest, MandatoryOptionsInOrder) {
    EXPECT_EQ(ReadError({"--login=me"}), "Missing first argument (input file)");
    EXPECT_EQ(ReadError({"in.wav", "--login=me"}), "Missing second argument (output file)");
    EXPECT_EQ(ReadError({"in.wav", "out.wav"}), "Invalid login");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--metadataPath=m", "--password=p"}),
              "Invalid login");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--login=me", "--record"}), "Invalid password");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--login=me", "--password=p", "--record="}),
              "Invalid record directory");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--login=me", "--password=p", "--port=x"}),
              "Invalid option metadataPath");
    // Option errors come before the argument count.
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "third", "--login=me", "--password=p"}),
              "Invalid option metadataPath");
    EXPECT_EQ(ReadError(Valid({"third"})), "Too much arguments (2 expected)");
    EXPECT_EQ(ReadError(Valid({"--passwordFile=pw"})),
              "Options --password and --passwordFile cannot be used together");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--login=me", "--passwordFile"}),
              "Invalid password file");

    // Present but empty is accepted; the password is taken as typed.
    const OnlineEmbedderSettings empty =
        Read({"in.wav", "out.wav", "--login", "--password=  a=b", "--metadataPath="});
    EXPECT_EQ(empty.login, "");
    EXPECT_EQ(empty.password, "  a=b");
    EXPECT_EQ(empty.metadataPath, "");

    for (const char* option :
         {"--login=x", "--password=x", "--passwordFile=x", "--metadataPath=x", "--server=x",
          "--port=1", "--record=x", "--affinity=1", "--prio=1,1"}) {
        const std::string name = std::string(option).substr(0, std::string(option).find('='));
        EXPECT_EQ(ReadError(Valid({option, option})), "Options " + name + " used several times");
    }
}

TEST(OnlineEmbedderSettingsTest, ServiceEndpoint) {
    const OnlineEmbedderSettings defaults = Read(Valid());
    EXPECT_EQ(defaults.server, online_tool::kDefaultServer);
    EXPECT_EQ(defaults.port, 443);
    EXPECT_EQ(defaults.inputFile, "in.wav");
    EXPECT_EQ(defaults.outputFile, "out.wav");
    EXPECT_EQ(defaults.login, "me");
    EXPECT_EQ(defaults.password, "secret");
    EXPECT_EQ(defaults.metadataPath, "m.json");

    EXPECT_EQ(Read(Valid({"--server=host.test"})).server, "host.test");
    EXPECT_EQ(Read(Valid({"--server"})).server, "");

    const auto port = [](const std::string& value) { return Read(Valid({"--port" + value})).port; };
    EXPECT_EQ(port("=8443"), 8443);
    EXPECT_EQ(port(""), 0);
    EXPECT_EQ(port("="), 0);
    EXPECT_EQ(port("= +80"), 80);
    EXPECT_EQ(port("=70000"), 70000);  // the range is the service's business
    EXPECT_EQ(port("=-1"), -1);
    // Only the low 32 bits are kept: 2^32 + 443.
    EXPECT_EQ(port("=4294967739"), 443);
    for (const char* bad : {"=80a", "=0x50"}) {
        EXPECT_EQ(ReadError(Valid({std::string("--port") + bad})),
                  "Invalid parameter --port. Must be decimal value.")
            << bad;
    }
    // The port is read before the affinity.
    EXPECT_EQ(ReadError(Valid({"--affinity=z", "--port=z"})),
              "Invalid parameter --port. Must be decimal value.");

    const OnlineEmbedderSettings threads = Read(Valid({"--affinity=F", "--prio=2,-5"}));
    EXPECT_EQ(threads.affinityMask, 15u);
    EXPECT_EQ(threads.threadPriority->policy, 2);
    EXPECT_EQ(threads.threadPriority->priority, -5);
}

TEST(OnlineEmbedderSettingsTest, EmbedderToolOptionsAreUnknownHere) {
    EXPECT_EQ(ReadError(Valid({"--silent"})), "Unknown option --silent");
    EXPECT_EQ(ReadError(Valid({"--unpaced"})), "Unknown option --unpaced");
    EXPECT_EQ(ReadError(Valid({"--channelName=c"})), "Unknown option --channelName");
    EXPECT_EQ(ReadError(Valid({"--stdin-sampling-rate=48000"})),
              "Unknown option --stdin-sampling-rate");
    EXPECT_EQ(ReadError(Valid({"--Login=x", "--silent"})), "Unknown option --Login");
    const auto hint = [](const Args& args) {
        ParsedCommandLine line(args, "pellion-embed-online");
        OnlineEmbedderSettings settings;
        return CommandLineHint([&] { online_tool::readOnlineSettings(line.store, settings); });
    };
    EXPECT_EQ(hint(Valid({"--sever=h"})), "unknown option '--sever'; did you mean `--server`?");
    EXPECT_EQ(hint({"i", "o", "--login", "me", "--password=", "--metadataPath=m"}),
              "options take their value after '=': write --login=me");

    // "stdin" and "stdout" are ordinary file names for this tool.
    const OnlineEmbedderSettings streams =
        Read({"stdin", "stdout", "--login=a", "--password=b", "--metadataPath=c"});
    EXPECT_EQ(streams.inputFile, "stdin");
    EXPECT_EQ(streams.outputFile, "stdout");
}

TEST(OnlineEmbedderSettingsTest, UsageWithoutArgumentVectorNamesTheTool) {
    std::ostringstream out;
    online_tool::printUsage(0, nullptr, out);
    EXPECT_EQ(out.str().substr(0, out.str().find('\n')),
              "Usage: pellion-embed-online inputFile outputFile");
}
