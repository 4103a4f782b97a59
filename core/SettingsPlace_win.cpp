// The facts behind the settings files on Windows: whether the executable's
// folder is the user's own, the installed layout, and %APPDATA%.
#include <windows.h>
// clang-format off: shlobj.h needs windows.h first.
#include <shlobj.h>
// clang-format on
#include <direct.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "core/IniFile.h"
#include "core/SettingsPlace.h"

namespace {

std::string Narrow(const wchar_t* wide) {
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}

std::string KnownFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return {};
    return Narrow(path);
}

bool SameOrBelow(const std::string& dir, const std::string& root) {
    if (root.empty() || dir.size() < root.size()) return false;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, dir.c_str(), static_cast<int>(root.size()),
                       root.c_str(), static_cast<int>(root.size())) != CSTR_EQUAL) {
        return false;
    }
    return dir.size() == root.size() || dir[root.size()] == '\\' || dir[root.size()] == '/';
}

// Program Files belongs to the installer, whoever runs the program: an
// administrator may write there (and wine lets everyone), yet an installed
// copy keeps one file per user all the same.
bool IsInstalled(const std::string& exeDir) {
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        if (SameOrBelow(exeDir, KnownFolder(csidl))) return true;
    }
    return false;
}

// _access(dir, 2) answers from the read-only attribute, which Windows does
// not honour on folders; only creating a file tells whether the user may.
bool CanCreateFileIn(const std::string& dir) {
    static std::atomic<unsigned> serial{0};
    const std::string probe = dir + "rq905-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(serial.fetch_add(1)) + ".tmp";
    const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::string UserSettingsDir() {
    const std::string appData = KnownFolder(CSIDL_APPDATA);
    if (appData.empty()) return {};
    return appData + "\\RQ-905\\";
}

}  // namespace

bool IsUsersOwnFolder(const std::string& exeDir) {
    return !IsInstalled(exeDir) && CanCreateFileIn(exeDir.empty() ? ".\\" : exeDir);
}

TSettingsFiles SettingsFiles() {
    const std::string exeDir = ExecutableDir();
    return ChooseSettingsFiles(exeDir, IsUsersOwnFolder(exeDir), UserSettingsDir(),
                               [](const std::string& path) { return _access(path.c_str(), 0) == 0; });
}

bool MakeParentDirectories(const std::string& path) {
    for (std::size_t sep = path.find_first_of("\\/", 3); sep != std::string::npos;
         sep = path.find_first_of("\\/", sep + 1)) {
        if (_mkdir(path.substr(0, sep).c_str()) != 0 && errno != EEXIST) return false;
    }
    return true;
}
