// Trace output on Windows: a handle opened with append-only access puts
// each WriteFile at the end of the file in one piece, whoever else appends.
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "TraceSink.h"

namespace drv {

namespace {

class HandleSink final : public TraceSink {
  public:
    HandleSink(HANDLE handle, bool owned) : m_handle(handle), m_owned(owned) {}
    ~HandleSink() override {
        if (m_owned) {
            CloseHandle(m_handle);
        }
    }
    HandleSink(const HandleSink&) = delete;
    HandleSink& operator=(const HandleSink&) = delete;

    void Append(std::string_view line) override {
        DWORD written = 0;
        WriteFile(m_handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

  private:
    HANDLE m_handle;
    bool m_owned;
};

}  // namespace

std::shared_ptr<TraceSink> OpenTraceSink(const char* name) {
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    if (std::string_view(name) == "-") {
        const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        return error != nullptr && error != INVALID_HANDLE_VALUE ? std::make_shared<HandleSink>(error, false)
                                                                 : nullptr;
    }
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
    const HANDLE file = CreateFileA(name, FILE_APPEND_DATA | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_shared<HandleSink>(file, true);
}

void LocalTime(std::time_t seconds, std::tm& local) { localtime_s(&local, &seconds); }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

}  // namespace drv
