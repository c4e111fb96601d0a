#include "fault_rules.h"

#include <charconv>

namespace standin {
namespace {

// More held-back blocks than this would only hide a typo.
constexpr std::size_t kMaxLatency = 4096;

template <typename Integer>
std::optional<Integer> ParseInteger(std::string_view text) {
    Integer value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<std::string> NullableText(std::string_view text) {
    if (text == "(null)") return std::nullopt;
    return std::string(text);
}

class RuleReader {
public:
    explicit RuleReader(std::vector<std::string>& problems) : problems_(problems) {}

    void Read(std::string_view rule) {
        rule_ = rule;
        const auto equals = rule.find('=');
        if (equals == std::string_view::npos) return Reject("no '='");
        const std::string_view key = rule.substr(0, equals);
        const std::string_view value = rule.substr(equals + 1);
        if (key == "channels") return ReadChannels(value);
        if (key == "report") return ReadReport(value);
        if (key == "latency") return ReadLatency(value);
        if (key.substr(0, 8) == "message@") return ReadMessage(key.substr(8), value);
        if (key.substr(0, 6) == "delay@") return ReadDelay(key.substr(6), value);
        ReadFault(key, value);
    }

    FaultRules Take() { return std::move(rules_); }

private:
    void Reject(std::string_view reason) {
        problems_.push_back("ignoring fault rule \"" + std::string(rule_) +
                            "\": " + std::string(reason));
    }

    void ReadChannels(std::string_view value) {
        ChannelOverride channels;
        if (value == "null") {
            channels.nullArrays = true;
        } else if (!value.empty()) {
            while (true) {
                const auto bar = value.find('|');
                const std::string_view entry = value.substr(0, bar);
                // Split at the last colon so that a name may itself contain one.
                const auto colon = entry.rfind(':');
                if (colon == std::string_view::npos) return Reject("a channel needs NAME:ID");
                const auto id = ParseInteger<int64_t>(entry.substr(colon + 1));
                if (!id) return Reject("a channel id must be a decimal number");
                channels.entries.push_back({NullableText(entry.substr(0, colon)), *id});
                if (bar == std::string_view::npos) break;
                value.remove_prefix(bar + 1);
            }
        }
        rules_.channels = std::move(channels);
    }

    void ReadReport(std::string_view value) {
        if (value == "null") {
            rules_.failureReport.reset();
        } else {
            rules_.failureReport = std::string(value);
        }
    }

    void ReadLatency(std::string_view value) {
        const auto blocks = ParseInteger<std::size_t>(value);
        if (!blocks || *blocks > kMaxLatency) {
            return Reject("latency must be a number of blocks from 0 to " +
                          std::to_string(kMaxLatency));
        }
        rules_.latency = *blocks;
    }

    void ReadMessage(std::string_view opName, std::string_view value) {
        const auto op = OpFromName(opName);
        if (!op) return Reject("unknown operation");
        const auto firstColon = value.find(':');
        const auto secondColon = firstColon == std::string_view::npos
                                     ? std::string_view::npos
                                     : value.find(':', firstColon + 1);
        if (secondColon == std::string_view::npos) return Reject("a message needs LEVEL:CODE:TEXT");
        const auto level = ParseInteger<int32_t>(value.substr(0, firstColon));
        const auto code =
            ParseInteger<int32_t>(value.substr(firstColon + 1, secondColon - firstColon - 1));
        if (!level || !code) return Reject("message level and code must be decimal numbers");
        rules_.messages[OpIndex(*op)].push_back(
            {*level, *code, NullableText(value.substr(secondColon + 1))});
    }

    void ReadDelay(std::string_view opName, std::string_view value) {
        const auto op = OpFromName(opName);
        if (!op) return Reject("unknown operation");
        const auto ms = ParseInteger<uint32_t>(value);
        if (!ms) return Reject("a delay is a number of milliseconds");
        rules_.delayMs[OpIndex(*op)] = *ms;
    }

    void ReadFault(std::string_view key, std::string_view value) {
        const auto at = key.find('@');
        const auto op = OpFromName(key.substr(0, at));
        if (!op) return Reject("unknown operation or setting");
        const auto code = ParseInteger<int32_t>(value);
        if (!code) return Reject("the code must be a decimal 32-bit number");
        if (at == std::string_view::npos) {
            rules_.everyCall[OpIndex(*op)] = *code;
            return;
        }
        const auto callNumber = ParseInteger<uint64_t>(key.substr(at + 1));
        if (!callNumber || *callNumber == 0) return Reject("a call number counts from 1");
        rules_.nthCall[OpIndex(*op)].emplace_back(*callNumber, *code);
    }

    std::vector<std::string>& problems_;
    std::string_view rule_;
    FaultRules rules_;
};

}  // namespace

std::optional<int32_t> FaultRules::FaultFor(Op op, uint64_t callNumber) const {
    // A later rule for the same call wins, as a later setting would.
    const auto& numbered = nthCall[OpIndex(op)];
    for (auto rule = numbered.rbegin(); rule != numbered.rend(); ++rule) {
        if (rule->first == callNumber) return rule->second;
    }
    return everyCall[OpIndex(op)];
}

FaultRules ParseFaultRules(std::string_view text, std::vector<std::string>& problems) {
    RuleReader reader(problems);
    while (!text.empty()) {
        const auto semicolon = text.find(';');
        const std::string_view rule = Trim(text.substr(0, semicolon));
        if (!rule.empty()) reader.Read(rule);
        if (semicolon == std::string_view::npos) break;
        text.remove_prefix(semicolon + 1);
    }
    return reader.Take();
}

}  // namespace standin
