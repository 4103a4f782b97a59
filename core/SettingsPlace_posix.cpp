// The facts behind the settings files on a POSIX system: write permission
// on the executable's directory, the installed layout, and the XDG
// configuration directory.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/IniFile.h"
#include "core/SettingsPlace.h"

namespace {

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// An installed program keeps its drivers in a private directory of the
// library tree, not beside itself. Root may write anywhere, so permission
// alone cannot tell an installed program from a copy of its own.
bool IsInstalled(const std::string& exeDir) { return IsDirectory(exeDir + RQ905_DRIVER_DIR_FROM_BIN); }

std::string UserSettingsDir() {
    // Relative values are to be ignored, as the XDG base directory rules say.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return std::string(config) + "/rq905/";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') return {};
    return std::string(home) + "/.config/rq905/";
}

}  // namespace

bool IsUsersOwnFolder(const std::string& exeDir) {
    const std::string dir = exeDir.empty() ? "." : exeDir;
    return access(dir.c_str(), W_OK) == 0 && !IsInstalled(exeDir);
}

TSettingsFiles SettingsFiles() {
    const std::string exeDir = ExecutableDir();
    return ChooseSettingsFiles(exeDir, IsUsersOwnFolder(exeDir), UserSettingsDir(),
                               [](const std::string& path) { return access(path.c_str(), F_OK) == 0; });
}

bool MakeParentDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}
