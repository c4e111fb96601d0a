// A well-formedness check for JSON texts, enough to tell a job description from garbage.
#pragma once

#include <string_view>

namespace standin {

// True when `text` is one JSON object, optionally preceded by a UTF-8 byte-order mark and
// surrounded by white space. Strings are checked for escapes and control characters, not
// for valid UTF-8.
bool IsJsonObject(std::string_view text);

}  // namespace standin
