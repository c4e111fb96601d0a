// Tells a service manager how a run goes, when the manager asked for it by setting
// NOTIFY_SOCKET: that the run is ready, what it is doing (STATUS=), that it still works (the
// watchdog's heartbeat) and that it is stopping. Each message is one datagram on the Unix
// socket NOTIFY_SOCKET names: a path, or an abstract name written with a leading "@". Without
// the variable nothing is sent. A message that cannot be sent is dropped: telling the manager
// must never fail the run, nor hold it up.
//
// The heartbeat goes from the feeding loop, once per block at most and only when half of the
// watchdog interval (WATCHDOG_USEC) has passed since the last one: a run whose library, output
// or input stalls feeds no block, so the manager sees the stall. WATCHDOG_PID is not looked
// at, so that a program started by a shell that the manager watches (a chain with "|") may
// keep the watchdog fed.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

class ServiceNotifier {
public:
    using Clock = std::chrono::steady_clock;

    // `notifySocket` and `watchdogUsec` as the variables give them, or null when unset. A name
    // that is neither a path nor "@..." sends nothing; a watchdog interval that is no positive
    // decimal number of microseconds asks for no heartbeat.
    ServiceNotifier(const char* notifySocket, const char* watchdogUsec);
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;
    ~ServiceNotifier();

    // "READY=1" with the run's first status: the embedder has been initialised.
    void Ready(std::string_view status);
    void Status(std::string_view status);
    // A block has gone through the feeding loop at `now`.
    void BlockFed(Clock::time_point now);
    // The run has begun to stop: a stop signal, the end of the input, or a failure.
    void Stopping();

private:
    void Send(std::string_view message) const;

    int socket_ = -1;
    sockaddr_un address_{};
    socklen_t addressLength_ = 0;
    Clock::duration heartbeatInterval_{0};  // zero: no watchdog
    std::optional<Clock::time_point> lastHeartbeat_;
};
