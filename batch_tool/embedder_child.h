// One pellion-embed process: started with its standard input on /dev/null and its output
// and error read through pipes, in a process group of its own (a terminal's Ctrl-C reaches
// the batch, which stops each child once), and ended with the batch (on Linux, a batch that
// dies takes its children with it).
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "child_report.h"
#include "unique_fd.h"

class EmbedderChild {
public:
    // Throws a CodeException (44) with its cause when the process cannot be started.
    EmbedderChild(const std::string& program, const std::vector<std::string>& args);
    EmbedderChild(const EmbedderChild&) = delete;
    EmbedderChild& operator=(const EmbedderChild&) = delete;
    // A child still running is killed and reaped.
    ~EmbedderChild();

    // The pipes still open, for poll().
    void AddPollEntries(std::vector<pollfd>& entries) const;
    // Reads what the pipes hold; true once both have ended.
    bool Pump();
    // After Pump said so: waits for the process and tells how it ended.
    ChildReport Finish();
    // Asks the process to end in order (SIGTERM).
    void Stop() const;

private:
    bool ReadInto(UniqueFd& pipe, std::string& text);

    pid_t pid_ = -1;
    UniqueFd out_;
    UniqueFd err_;
    std::string outText_;
    std::string errText_;
};
