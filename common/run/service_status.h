// The STATUS= texts a run gives its service manager (systemctl status shows the latest), one
// for each state of the run.
#pragma once

namespace service_status {

// The embedder is initialised and the audio comes out marked.
constexpr char kMarking[] = "marking";

}  // namespace service_status
