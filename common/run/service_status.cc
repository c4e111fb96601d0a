#include "service_status.h"

#include <time.h>

namespace service_status {

std::string BypassingSince(const std::string& call, int32_t code) {
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char since[32];
    strftime(since, sizeof since, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return "bypassing since " + std::string(since) + ": " + call + " failed (code " +
           std::to_string(code) + "), the audio goes on unmarked";
}

}  // namespace service_status
