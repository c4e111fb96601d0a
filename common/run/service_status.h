// The STATUS= texts a run gives its service manager (systemctl status shows the latest), one
// for each state of the run.
#pragma once

#include <cstdint>
#include <string>

namespace service_status {

// The embedder is initialised and the audio comes out marked.
constexpr char kMarking[] = "marking";
// The embedder was set up again after a failure, and marks again.
constexpr char kRearmed[] = "marking (re-armed)";

// The embedder failed in `call` now; the audio goes on unmarked.
std::string BypassingSince(const std::string& call, int32_t code);

}  // namespace service_status
