// Windows file and device names in the program's ANSI code page, widened
// for the wide-character API, which alone takes long paths and \\.\ names.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Widen(const std::string& text) {
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size);
    wide.resize(static_cast<std::size_t>(size - 1));
    return wide;
}

// The system's message for an error in the ANSI code page, without its
// line end and full stop, so that it fits inside a sentence of ours.
inline std::string SystemText(DWORD error) {
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                             buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == '.')) --n;
    return n > 0 ? std::string(buffer, n) : "chyba " + std::to_string(error);
}
