// Trace output on Windows: a handle opened with append-only access puts
// each WriteFile at the end of the file in one piece, whoever else appends.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>

#include "TraceSink.h"

namespace drv {

namespace {

// The library cannot know the program's code page, so what it says on
// standard error is UTF-8.
const char* U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

bool WriteAll(HANDLE handle, std::string_view text) {
    while (!text.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written == 0) {
            return false;
        }
        text.remove_prefix(written);
    }
    return true;
}

void Warn(const char* library, const std::string& what, DWORD error) {
    WarnLine(std::string(library) + ": " + kTraceVariable + U8(u8": stopa rámců vypnuta, ") + what +
             U8(u8": chyba ") + std::to_string(error) + "\n");
}

class HandleSink final : public TraceSink {
  public:
    HandleSink(HANDLE handle, bool owned, const char* library, std::string name)
        : m_handle(handle), m_owned(owned), m_library(library), m_name(std::move(name)) {}
    ~HandleSink() override {
        if (m_owned) {
            CloseHandle(m_handle);
        }
    }
    HandleSink(const HandleSink&) = delete;
    HandleSink& operator=(const HandleSink&) = delete;

    // A pipe whose reader has gone fails the write; Windows raises no signal.
    void Append(std::string_view line) override {
        if (m_off.load(std::memory_order_relaxed)) {
            return;
        }
        if (!WriteAll(m_handle, line) && !m_off.exchange(true)) {
            const DWORD error = GetLastError();
            Warn(m_library, U8(u8"zápis do ") + m_name + U8(u8" selhal"), error);
        }
    }

  private:
    HANDLE m_handle;
    bool m_owned;
    const char* m_library;
    std::string m_name;
    std::atomic<bool> m_off{false};
};

}  // namespace

void WarnLine(std::string_view line) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        WriteAll(handle, line);
    }
}

std::shared_ptr<TraceSink> OpenTraceSink(const char* name, const char* library) {
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    if (std::string_view(name) == "-") {
        const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        return error != nullptr && error != INVALID_HANDLE_VALUE
                   ? std::make_shared<HandleSink>(error, false, library,
                                                  U8(u8"standardního chybového výstupu"))
                   : nullptr;
    }
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
    const HANDLE file = CreateFileA(name, FILE_APPEND_DATA | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Warn(library, std::string(name) + U8(u8" nelze otevřít"), error);
        return nullptr;
    }
    return std::make_shared<HandleSink>(file, true, library, name);
}

void LocalTime(std::time_t seconds, std::tm& local) { localtime_s(&local, &seconds); }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

}  // namespace drv
