#include "channel_list.h"

#include <cstring>

namespace standin {
namespace {

std::vector<ChannelEntry> BuiltInChannels() {
    return {{"STANDIN-A", 1001}, {"STANDIN-B", 1002}};
}

}  // namespace

ChannelList::ChannelList(const std::optional<ChannelOverride>& override)
    : entries_(override ? override->entries : BuiltInChannels()),
      nullArrays_(override && override->nullArrays) {
    for (const ChannelEntry& entry : entries_) {
        names_.push_back(entry.name ? entry.name->c_str() : nullptr);
        ids_.push_back(entry.id);
    }
    names_.push_back(nullptr);
    ids_.push_back(0);
    if (!entries_.empty() && entries_.front().name) selected_ = 0;
}

const char* const* ChannelList::Names() const {
    return nullArrays_ ? nullptr : names_.data();
}

const int64_t* ChannelList::Ids() const {
    return nullArrays_ ? nullptr : ids_.data();
}

bool ChannelList::Select(const char* name) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].name && std::strcmp(entries_[i].name->c_str(), name) == 0) {
            selected_ = i;
            return true;
        }
    }
    return false;
}

const ChannelEntry* ChannelList::Selected() const {
    return selected_ ? &entries_[*selected_] : nullptr;
}

}  // namespace standin
