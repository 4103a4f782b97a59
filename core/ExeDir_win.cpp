// The running executable's directory on Windows, from GetModuleFileNameW,
// given back in the ANSI code page as the rest of the program's paths.
#include <windows.h>

#include <string>

#include "core/IniFile.h"

std::string ExecutableDir() {
    std::wstring buffer(260, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        // A full buffer means a truncated path: grow and try again.
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() > 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
    const std::size_t slash = buffer.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    buffer.resize(slash + 1);
    const int size = WideCharToMultiByte(CP_ACP, 0, buffer.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, buffer.c_str(), -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}
