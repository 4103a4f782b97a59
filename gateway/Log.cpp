#include "Log.h"

#include <unistd.h>

#include <string>

void Log(TPriority priority, std::string_view message) {
    // One write per line, so lines of two threads never interleave.
    std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">";
    line.append(message);
    line.push_back('\n');
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}
