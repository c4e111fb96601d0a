// The manual pages in man/ against the programs: every result code with the exact text the
// result line prints for it, and every option of the usage text.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "batch_settings.h"
#include "code_exception.h"
#include "embedder_settings.h"
#include "online_embedder_settings.h"

namespace {

// Undoes the roff escapes that the pages use in running text.
std::string Unescape(const std::string& roff) {
    static const std::vector<std::pair<std::string, std::string>> kEscapes = {
        {"\\-", "-"}, {"\\(aq", "'"}, {"\\e", "\\"}, {"\\ ", " "}, {"\\&", ""}, {"\\c", ""}};
    std::string text;
    for (std::size_t i = 0; i < roff.size();) {
        bool replaced = false;
        for (const auto& [escape, plain] : kEscapes) {
            if (roff.compare(i, escape.size(), escape) == 0) {
                text += plain;
                i += escape.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) text += roff[i++];
    }
    return text;
}

std::vector<std::string> SectionLines(const std::string& page, const std::string& section) {
    std::ifstream file(std::string(PELLION_SOURCE_DIR) + "/man/" + page);
    EXPECT_TRUE(file.good()) << page;
    std::vector<std::string> lines;
    bool inside = false;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(".SH ", 0) == 0) {
            inside = line == ".SH " + section;
        } else if (inside) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The entries ".TP", ".B code", text of the EXIT STATUS section.
std::map<int32_t, std::string> ListedResultCodes(const std::string& page) {
    const std::vector<std::string> lines = SectionLines(page, "EXIT STATUS");
    std::map<int32_t, std::string> codes;
    const std::regex codeLine(R"(\.B (\d+))");
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        std::smatch match;
        if (lines[i] == ".TP" && std::regex_match(lines[i + 1], match, codeLine)) {
            codes[std::stoi(match[1])] = Unescape(lines[i + 2]);
        }
    }
    return codes;
}

// The option names that head the ".TP" entries of the OPTIONS section.
std::set<std::string> ListedOptions(const std::string& page) {
    const std::vector<std::string> lines = SectionLines(page, "OPTIONS");
    std::set<std::string> names;
    const std::regex tagLine(R"(\.BI? (-[-A-Za-z]*[A-Za-z]).*)");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        std::smatch match;
        const std::string tag = Unescape(lines[i + 1]);
        if (lines[i] == ".TP" && std::regex_match(tag, match, tagLine)) names.insert(match[1]);
    }
    return names;
}

std::set<std::string> UsageOptions(
    const std::function<void(int32_t, const char* const*, std::ostream&)>& printUsage) {
    const char* const argv[] = {"tool"};
    std::ostringstream usage;
    printUsage(1, argv, usage);
    const std::string text = usage.str();
    std::set<std::string> names = {"-h"};
    const std::regex option(R"(--[-A-Za-z]*[A-Za-z])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        names.insert(it->str());
    }
    return names;
}

std::map<int32_t, std::string> ResultMessages() {
    std::map<int32_t, std::string> messages;
    for (int32_t code = 0; code <= 51; ++code) {
        if (const char* text = CorvidaUtils::ResultText(code)) messages[code] = text;
    }
    return messages;
}

TEST(ManPageTest, EmbedderPageListsEveryResultCodeWithItsText) {
    EXPECT_EQ(ListedResultCodes("pellion-embed.1"), ResultMessages());
}

TEST(ManPageTest, OnlinePageListsEveryResultCodeWithItsText) {
    EXPECT_EQ(ListedResultCodes("pellion-embed-online.1"), ResultMessages());
}

TEST(ManPageTest, EmbedderPageDescribesEveryOptionOfTheUsageText) {
    EXPECT_EQ(ListedOptions("pellion-embed.1"),
              UsageOptions([](int32_t argc, const char* const* argv, std::ostream& out) {
                  embedder_tool::printUsage(argc, argv, out);
              }));
}

TEST(ManPageTest, OnlinePageDescribesEveryOptionOfTheUsageText) {
    std::set<std::string> options =
        UsageOptions([](int32_t argc, const char* const* argv, std::ostream& out) {
            online_tool::printUsage(argc, argv, out);
        });
    options.insert("--passwordFile");  // on the page only: the usage text reads as it always did
    EXPECT_EQ(ListedOptions("pellion-embed-online.1"), options);
}

TEST(ManPageTest, BatchPageDescribesEveryOptionOfTheUsageText) {
    EXPECT_EQ(ListedOptions("pellion-embed-batch.1"),
              UsageOptions([](int32_t, const char* const*, std::ostream& out) {
                  batch_tool::printUsage(out);
              }));
}

}  // namespace
