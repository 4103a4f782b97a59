// Standard output and standard error on a Windows console: the UTF-8 text
// is handed to WriteConsoleW as UTF-16, whole characters only, whatever the
// console's code page. A stream that is no console keeps the C++ runtime's
// byte buffer.
#include <windows.h>

#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>

#include "CtlConsole.h"

namespace {

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Length of the longest prefix that ends on a whole UTF-8 sequence: a
// character split between two writes is kept for the next.
std::size_t WholeCharacters(const std::string& text) {
    std::size_t end = text.size();
    std::size_t back = 0;
    while (back < 3 && back < end && (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80)
        ++back;
    if (back == end) return end;
    const auto lead = static_cast<unsigned char>(text[end - 1 - back]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length > back + 1 ? end - 1 - back : end;
}

bool WriteWide(HANDLE console, std::string_view utf8) {
    if (utf8.empty()) return true;
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), size);
    if (count <= 0) return false;
    for (int done = 0; done < count;) {
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(count - done), &written,
                           nullptr) ||
            written == 0)
            return false;
        done += static_cast<int>(written);
    }
    return true;
}

// One writer per console stream, shared by the stream and the event handler.
std::mutex g_write;

class TConsoleBuffer final : public std::streambuf {
  public:
    explicit TConsoleBuffer(HANDLE console) : m_console(console) {}

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        m_pending.append(text, static_cast<std::size_t>(count));
        // Whole lines as they come, so that a watch is seen line by line.
        if (m_pending.find('\n') != std::string::npos && !Flush()) return 0;
        return count;
    }
    int sync() override { return Flush() ? 0 : -1; }

  private:
    bool Flush() {
        const std::size_t whole = WholeCharacters(m_pending);
        std::lock_guard<std::mutex> lock(g_write);
        const bool ok = WriteWide(m_console, std::string_view(m_pending).substr(0, whole));
        m_pending.erase(0, whole);
        return ok;
    }

    HANDLE m_console;
    std::string m_pending;
};

}  // namespace

void UseConsoleText() {
    static TConsoleBuffer* out = nullptr;
    static TConsoleBuffer* err = nullptr;
    const HANDLE outHandle = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE errHandle = GetStdHandle(STD_ERROR_HANDLE);
    if (out == nullptr && IsConsole(outHandle)) {
        out = new TConsoleBuffer(outHandle);
        std::cout.rdbuf(out);
    }
    if (err == nullptr && IsConsole(errHandle)) {
        err = new TConsoleBuffer(errHandle);
        std::cerr.rdbuf(err);
    }
}

void WriteStandardError(std::string_view utf8) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (IsConsole(handle)) {
        std::lock_guard<std::mutex> lock(g_write);
        WriteWide(handle, utf8);
        return;
    }
    DWORD written = 0;
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}
