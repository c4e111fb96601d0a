// The rules of the fault hook: which calls fail with which code, and what the embedder
// reports instead of its defaults (channel list, failing job report, messages, latency).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "operations.h"

namespace standin {

struct ChannelEntry {
    std::optional<std::string> name;  // nullopt: the list holds a null name here
    int64_t id = 0;
};

struct ChannelOverride {
    bool nullArrays = false;  // hand back null arrays instead of the entries
    std::vector<ChannelEntry> entries;
};

struct MessageRule {
    int32_t level = 0;
    int32_t code = 0;
    std::optional<std::string> text;  // nullopt: the message carries a null text
};

struct FaultRules {
    // The code that call number `callNumber` (counted from 1) of `op` fails with, if any.
    std::optional<int32_t> FaultFor(Op op, uint64_t callNumber) const;

    std::array<std::optional<int32_t>, kOpCount> everyCall;
    std::array<std::vector<std::pair<uint64_t, int32_t>>, kOpCount> nthCall;
    std::array<std::vector<MessageRule>, kOpCount> messages;
    // How long each call of an operation takes before its work, in milliseconds.
    std::array<uint32_t, kOpCount> delayMs{};
    std::optional<ChannelOverride> channels;
    // The report that a failing FinalizeWithReport hands back; nullopt hands back none.
    std::optional<std::string> failureReport;
    std::optional<std::size_t> latency;
};

// Reads the rules of `text` (rules separated by ';'). A rule that cannot be read is left out
// and one line describing it is added to `problems`.
FaultRules ParseFaultRules(std::string_view text, std::vector<std::string>& problems);

}  // namespace standin
