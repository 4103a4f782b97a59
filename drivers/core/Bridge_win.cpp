// The driver host on Windows: not started yet from here; a 64-bit build
// that needs the maker's libraries gets the code for a host that cannot be
// started.
#include <windows.h>

#include "Bridge.h"

namespace drv::bridge {

std::string HostPath() { return kHostName; }

std::string FindFile(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return {};
    }
    // Windows matches file names without regard to case by itself.
    const std::string path = dir + "\\" + name;
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? path : std::string();
}

std::unique_ptr<Child> Spawn(const std::string&, const std::string&, bool) { return nullptr; }

}  // namespace drv::bridge
