// What a source or a sink has to tell the user besides a failure: a warning about the input
// ("Warning: ..."), or a note about what the output does not carry ("Note: ..."). They are
// handed to the run, which reports them, in the order they arose.
#pragma once

#include <string>
#include <vector>

struct Remark {
    bool warning = false;  // a warning; otherwise a note
    std::string text;      // the whole line, without its end
};

using Remarks = std::vector<Remark>;
