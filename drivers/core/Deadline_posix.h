// Time left until a deadline, in the form ppoll() takes; shared by the
// POSIX transports.
#pragma once

#include <ctime>

#include "Transport.h"

namespace drv {

inline timespec Remaining(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return {0, 0};
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace drv
