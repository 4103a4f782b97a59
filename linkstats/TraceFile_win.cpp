// The trace file on Windows: deleted by the system when its last handle
// closes, so that no run leaves one behind. The drivers open it by name
// while it lives, which its sharing allows.
#include <windows.h>

#include "TraceFile.h"

TTraceFile::TTraceFile() {
    char dir[MAX_PATH + 1];
    char path[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length > MAX_PATH || GetTempFileNameA(dir, "rqt", 0, path) == 0) return;
    const HANDLE file = CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(path);
        return;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    m_name = path;
}

TTraceFile::~TTraceFile() {
    if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

void TTraceFile::ReadNew(std::string& text) {
    if (m_handle == -1) return;
    char buffer[8192];
    while (true) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(m_offset);
        at.OffsetHigh = static_cast<DWORD>(m_offset >> 32);
        DWORD n = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), buffer, sizeof buffer, &n, &at) || n == 0) return;
        text.append(buffer, n);
        m_offset += n;
    }
}

void TTraceFile::Empty() {
    if (m_handle == -1) return;
    const HANDLE file = reinterpret_cast<HANDLE>(m_handle);
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file)) m_offset = 0;
}
