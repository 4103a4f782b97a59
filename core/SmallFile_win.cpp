// Windows file checks: attributes before open, so that a directory or a
// device named as the settings file or a configuration file is refused
// without ever being opened. Configuration files are replaced through a
// flushed temporary file and ReplaceFileW / MoveFileExW. Paths are in the
// ANSI code page.
#include <windows.h>

#include <string>

#include "core/SmallFile.h"
#include "link/WideText_win.h"

namespace {

// A configuration file is a few hundred bytes; this only keeps a wrong
// file from being read whole.
constexpr auto kMaxConfigFileSize = static_cast<DWORD>(kSmallFileMaxSize);

std::string ReadErrorText(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "neexistuje";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return "nelze číst (přístup odepřen)";
        default:
            return "nelze číst (" + SystemText(error) + ")";
    }
}

std::string WriteErrorText(DWORD error) { return "nelze zapsat (" + SystemText(error) + ")"; }

std::wstring DirectoryOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool IsDiskFile(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

bool SettingsFileReadable(const std::string& path, std::string& reason) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        reason = ReadErrorText(GetLastError());
        return false;
    }
    if (!IsDiskFile(attributes)) {
        reason = "není obyčejný soubor";
        return false;
    }
    const HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = ReadErrorText(GetLastError());
        return false;
    }
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    if (!disk) reason = "není obyčejný soubor";
    return disk;
}

bool ReadSmallFile(const std::string& path, std::string& text, std::string& reason) {
    if (!SettingsFileReadable(path, reason)) return false;
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = ReadErrorText(GetLastError());
        return false;
    }
    std::string content;
    char buffer[4096];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            reason = ReadErrorText(GetLastError());
            ok = false;
            break;
        }
        if (got == 0) break;
        content.append(buffer, got);
        if (content.size() > kMaxConfigFileSize) {
            reason = "příliš velký soubor";
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    if (ok) text = std::move(content);
    return ok;
}

bool WritableTarget(const std::string& path, std::string& reason) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A link counts as not regular, as on POSIX.
        if (!IsDiskFile(attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            reason = "není obyčejný soubor";
            return false;
        }
    } else if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND) {
        reason = error == ERROR_PATH_NOT_FOUND ? "adresář neexistuje" : ReadErrorText(error);
        return false;
    }
    const DWORD directory = GetFileAttributesW(DirectoryOf(wide).c_str());
    if (directory == INVALID_FILE_ATTRIBUTES || (directory & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        reason = "adresář neexistuje";
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& reason) {
    if (!WritableTarget(path, reason)) return false;
    const std::wstring target = Widen(path);
    const bool exists = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::wstring temp = target + L".tmp" + std::to_wstring(GetCurrentProcessId());
    const HANDLE file =
        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        reason = error == ERROR_ACCESS_DENIED ? "do adresáře nelze zapisovat" : WriteErrorText(error);
        return false;
    }
    DWORD written = 0;
    bool ok =
        text.empty() || (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                         written == text.size());
    ok = ok && FlushFileBuffers(file);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok) {
        // ReplaceFileW keeps the old file's attributes and access rights.
        ok = (exists && ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                     nullptr, nullptr)) ||
             MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!ok) error = GetLastError();
    }
    if (!ok) {
        reason = WriteErrorText(error);
        DeleteFileW(temp.c_str());
    }
    return ok;
}
