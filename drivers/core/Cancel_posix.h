// A program may hand its drivers the read end of a pipe in the variable
// RQ905_CANCEL_FD: once a byte is in it, a wait for the module's reply ends
// at once with Cancelled. rq905ctl writes it from its Ctrl-C handler, so
// that a long wait need not be sat out. Read at Init, as the trace is.
#pragma once

#include <fcntl.h>

#include <cstdlib>

namespace drv {

inline constexpr const char* kCancelVariable = "RQ905_CANCEL_FD";

// The descriptor named, or -1 when none or not an open one.
inline int CancelFdFromEnvironment() {
    const char* text = std::getenv(kCancelVariable);
    if (text == nullptr || *text == '\0') {
        return -1;
    }
    char* end = nullptr;
    const long fd = std::strtol(text, &end, 10);
    if (*end != '\0' || fd < 0 || fd > 65535 || ::fcntl(static_cast<int>(fd), F_GETFD) < 0) {
        return -1;
    }
    return static_cast<int>(fd);
}

}  // namespace drv
