#include "system_cause.h"

#include <cstring>

std::string SystemCause(const std::string& action, int error) {
    if (error == 0 || action.empty()) return std::string();
    return action + ": " + std::strerror(error);
}
