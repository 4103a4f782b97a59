// The --output file on Windows: opened with append access only, so that
// every write goes to the file's end as it is then; shared for reading,
// writing and deleting, so that a log reader or a rotation can work on it.
// It reads too, for the first line and the last byte; writes still go to
// the end, as append access without write access makes them.
#include <windows.h>

#include "core/AppendFile.h"
#include "link/WideText_win.h"

TOutputFile::~TOutputFile() {
    if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool TOutputFile::Open(const std::string& path, std::string& reason) {
    const HANDLE file =
        CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "nelze otevřít pro zápis (" + SystemText(GetLastError()) + ")";
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    return true;
}

namespace {

bool ReadAt(HANDLE file, int64_t offset, char* buffer, DWORD size, DWORD& read) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ReadFile(file, buffer, size, &read, &at) != 0;
}

}  // namespace

std::string TOutputFile::FirstLine() const {
    const auto file = reinterpret_cast<HANDLE>(m_handle);
    char buffer[4096];
    DWORD n = 0;
    if (GetFileType(file) != FILE_TYPE_DISK || !ReadAt(file, 0, buffer, sizeof buffer, n)) return {};
    const std::string_view text(buffer, n);
    return std::string(text.substr(0, text.find('\n')));
}

bool TOutputFile::Empty() const {
    LARGE_INTEGER size{};
    return GetFileSizeEx(reinterpret_cast<HANDLE>(m_handle), &size) && size.QuadPart == 0;
}

bool TOutputFile::Append(std::string_view line, std::string& reason) {
    const auto file = reinterpret_cast<HANDLE>(m_handle);
    LARGE_INTEGER size{};
    const bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
    std::string joined;
    char last = '\n';
    DWORD read = 0;
    if (regular && size.QuadPart > 0 && ReadAt(file, size.QuadPart - 1, &last, 1, read) && read == 1 &&
        last != '\n') {
        joined = "\n";
        joined += line;
        line = joined;
    }
    int64_t done = 0;
    while (!line.empty()) {
        DWORD n = 0;
        if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &n, nullptr) || n == 0) {
            reason = SystemText(GetLastError());
            // The part written is cut back off, unless another writer has
            // appended since; append access alone cannot set the end.
            LARGE_INTEGER now{};
            if (regular && done > 0 && GetFileSizeEx(file, &now) && now.QuadPart == size.QuadPart + done) {
                const HANDLE cut = ReOpenFile(file, GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
                if (cut != INVALID_HANDLE_VALUE) {
                    if (SetFilePointerEx(cut, size, nullptr, FILE_BEGIN)) SetEndOfFile(cut);
                    CloseHandle(cut);
                }
            }
            return false;
        }
        done += n;
        line.remove_prefix(n);
    }
    return true;
}
