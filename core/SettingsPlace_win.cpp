// The settings files on Windows: the file beside the executable wherever
// the user may write its directory, else one in %APPDATA%\rq905\.
#include <direct.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>

#include "core/IniFile.h"
#include "core/SettingsPlace.h"

namespace {

std::string UserSettingsDir() {
    const char* appData = std::getenv("APPDATA");
    if (appData == nullptr || appData[0] == '\0') return {};
    return std::string(appData) + "\\rq905\\";
}

}  // namespace

TSettingsFiles SettingsFiles() {
    const std::string exeDir = ExecutableDir();
    const std::string dir = exeDir.empty() ? "." : exeDir;
    const bool owns = _access(dir.c_str(), 2) == 0;
    return ChooseSettingsFiles(exeDir, owns, UserSettingsDir(),
                               [](const std::string& path) { return _access(path.c_str(), 0) == 0; });
}

bool MakeParentDirectories(const std::string& path) {
    for (std::size_t sep = path.find_first_of("\\/", 3); sep != std::string::npos;
         sep = path.find_first_of("\\/", sep + 1)) {
        if (_mkdir(path.substr(0, sep).c_str()) != 0 && errno != EEXIST) return false;
    }
    return true;
}
