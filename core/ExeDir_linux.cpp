// Finding the running executable is platform business (/proc here,
// GetModuleFileNameA on Windows), so it lives in a file the build chooses.
#include <unistd.h>

#include <string>

#include "core/IniFile.h"

std::string ExecutableDir() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        // A full buffer may mean a truncated path: grow and try again.
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            break;
        }
        if (buffer.size() > 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
    const std::size_t slash = buffer.rfind('/');
    if (slash == std::string::npos) return {};
    return buffer.substr(0, slash + 1);
}
