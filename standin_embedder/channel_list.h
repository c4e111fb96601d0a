// The embedder's list of channels: the names and ids it hands out, and which one is
// selected for the mark.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fault_rules.h"

namespace standin {

class ChannelList {
public:
    // The built-in list, or the one that `override` describes.
    explicit ChannelList(const std::optional<ChannelOverride>& override);
    // The arrays point into the list's own strings, so it never moves.
    ChannelList(const ChannelList&) = delete;
    ChannelList& operator=(const ChannelList&) = delete;

    uint64_t Count() const { return entries_.size(); }
    // Null arrays when the list was configured so; otherwise arrays that are never null,
    // even when the list is empty.
    const char* const* Names() const;
    const int64_t* Ids() const;

    // Selects the entry of that name; false when there is none.
    bool Select(const char* name);
    // The selected entry; at first the first entry, unless that one is null or missing.
    const ChannelEntry* Selected() const;

private:
    std::vector<ChannelEntry> entries_;
    bool nullArrays_ = false;
    // One more element than entries_, so that data() is never null.
    std::vector<const char*> names_;
    std::vector<int64_t> ids_;
    std::optional<std::size_t> selected_;
};

}  // namespace standin
