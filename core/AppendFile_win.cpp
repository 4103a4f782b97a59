// The --output file on Windows: opened with append access only, so that
// every write goes to the file's end as it is then; shared for reading,
// writing and deleting, so that a log reader or a rotation can work on it.
#include <windows.h>

#include "core/AppendFile.h"
#include "link/WideText_win.h"

namespace {

std::string SystemText(DWORD error) {
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                             buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == '.')) --n;
    return n > 0 ? std::string(buffer, n) : "chyba " + std::to_string(error);
}

}  // namespace

TOutputFile::~TOutputFile() {
    if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool TOutputFile::Open(const std::string& path, std::string& reason) {
    const HANDLE file = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "nelze otevřít pro zápis (" + SystemText(GetLastError()) + ")";
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool TOutputFile::Empty() const {
    LARGE_INTEGER size{};
    return GetFileSizeEx(reinterpret_cast<HANDLE>(m_handle), &size) && size.QuadPart == 0;
}

bool TOutputFile::Append(std::string_view line, std::string& reason) {
    while (!line.empty()) {
        DWORD n = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(m_handle), line.data(), static_cast<DWORD>(line.size()), &n,
                       nullptr) ||
            n == 0) {
            reason = SystemText(GetLastError());
            return false;
        }
        line.remove_prefix(n);
    }
    return true;
}
