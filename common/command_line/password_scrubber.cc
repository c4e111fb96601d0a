#include "password_scrubber.h"

#include <cctype>
#include <cstring>

namespace {

constexpr char kPasswordOption[] = "--password=";

}  // namespace

void ScrubPasswordArguments(int argc, char** argv) {
    if (argv == nullptr) return;
    for (int i = 1; i < argc; ++i) {
        char* element = argv[i];
        if (element == nullptr) continue;
        // The argument store trims blanks around an element before reading its name.
        while (*element != '\0' && std::isspace(static_cast<unsigned char>(*element))) ++element;
        if (std::strncmp(element, kPasswordOption, sizeof kPasswordOption - 1) != 0) continue;
        for (char* c = element + sizeof kPasswordOption - 1; *c != '\0'; ++c) *c = '*';
    }
}
