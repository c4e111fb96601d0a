#include "service_notifier.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Far beyond any watchdog, and small enough for the clock's nanoseconds.
constexpr int64_t kMaxMicroseconds = INT64_MAX / 1000 / 10;

// The watchdog interval in microseconds, or 0 when the text is not a positive decimal number
// that the clock can hold.
int64_t ParseMicroseconds(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    int64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > kMaxMicroseconds) return 0;
        value = value * 10 + (*c - '0');
    }
    return value;
}

}  // namespace

ServiceNotifier::ServiceNotifier(const char* notifySocket, const char* watchdogUsec) {
    const std::string_view name = notifySocket != nullptr ? notifySocket : "";
    const bool abstract = !name.empty() && name[0] == '@';
    // A path must be absolute and end in the address's NUL; an abstract name has none.
    const size_t limit = sizeof address_.sun_path - (abstract ? 0 : 1);
    if ((!abstract && (name.empty() || name[0] != '/')) || name.size() > limit) return;
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, name.data(), name.size());
    if (abstract) address_.sun_path[0] = '\0';
    addressLength_ =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 0 : 1));
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return;
    // Half the interval, so that one late block does not let the watchdog expire.
    const int64_t watchdog = ParseMicroseconds(watchdogUsec);
    if (watchdog > 0)
        heartbeatInterval_ = std::chrono::microseconds(std::max<int64_t>(watchdog / 2, 1));
}

ServiceNotifier::~ServiceNotifier() {
    if (socket_ >= 0) close(socket_);
}

void ServiceNotifier::Ready(std::string_view status) {
    Send("READY=1\nSTATUS=" + std::string(status));
}

void ServiceNotifier::Status(std::string_view status) {
    Send("STATUS=" + std::string(status));
}

void ServiceNotifier::BlockFed(Clock::time_point now) {
    if (heartbeatInterval_ == Clock::duration::zero()) return;
    if (lastHeartbeat_ && now - *lastHeartbeat_ < heartbeatInterval_) return;
    lastHeartbeat_ = now;
    Send("WATCHDOG=1");
}

void ServiceNotifier::Stopping() {
    Send("STOPPING=1");
}

void ServiceNotifier::Send(std::string_view message) const {
    if (socket_ < 0) return;
    // Never waits: a manager whose queue is full misses a message, the audio goes on.
    static_cast<void>(sendto(socket_, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&address_), addressLength_));
}
