// The driver host on Windows, started directly: a 64-bit program reaches
// the maker's 32-bit library through it.
#include <windows.h>

#include <algorithm>

#include "Bridge.h"

namespace drv::bridge {

namespace {

class HostChild final : public Child {
  public:
    HostChild(HANDLE process, HANDLE input, HANDLE output)
        : m_process(process), m_input(input), m_output(output) {}

    ~HostChild() override {
        CloseHandle(m_input);
        CloseHandle(m_output);
        // The host ends when its input closes, even in the middle of a call;
        // one that does not within a second is stopped.
        if (WaitForSingleObject(m_process, 1000) != WAIT_OBJECT_0) {
            TerminateProcess(m_process, 1);
        }
        CloseHandle(m_process);
    }

    void Kill() override {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 1000);
    }

    // A host that has ended breaks the pipe: the call fails, no signal.
    bool Write(const std::uint8_t* data, std::size_t n) override {
        while (n > 0) {
            DWORD put = 0;
            if (!WriteFile(m_input, data, static_cast<DWORD>(n), &put, nullptr) || put == 0) {
                return false;
            }
            data += put;
            n -= put;
        }
        return true;
    }

    // An anonymous pipe has no time-out of its own: what is waiting in it is
    // looked at until the deadline, and a host that ended is seen by its
    // handle.
    bool Read(std::uint8_t* data, std::size_t n, Clock::time_point deadline) override {
        // Most answers come within a fraction of a millisecond: the first
        // two are spent yielding, not sleeping a whole timer tick.
        const auto eager = Clock::now() + std::chrono::milliseconds(2);
        while (n > 0) {
            DWORD waiting = 0;
            if (!PeekNamedPipe(m_output, nullptr, 0, nullptr, &waiting, nullptr)) {
                return false;
            }
            if (waiting == 0) {
                const auto now = Clock::now();
                if (now >= deadline) {
                    return false;
                }
                if (WaitForSingleObject(m_process, now < eager ? 0 : 1) == WAIT_OBJECT_0) {
                    // The last words of a host that ended still count.
                    if (!PeekNamedPipe(m_output, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) {
                        return false;
                    }
                }
                if (now < eager) {
                    Sleep(0);
                }
                continue;
            }
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, waiting));
            if (!ReadFile(m_output, data, want, &got, nullptr) || got == 0) {
                return false;
            }
            data += got;
            n -= got;
        }
        return true;
    }

  private:
    HANDLE m_process;
    HANDLE m_input;
    HANDLE m_output;
};

}  // namespace

std::string HostPath() {
    HMODULE self = nullptr;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&HostPath), &self)) {
        return kHostName;
    }
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return kHostName;
    }
    std::string result(path, length);
    const auto slash = result.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : result.substr(0, slash + 1)) + kHostName;
}

std::string FindFile(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return {};
    }
    // Windows matches file names without regard to case by itself.
    const std::string path = dir + "\\" + name;
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? path : std::string();
}

std::unique_ptr<Child> Spawn(const std::string& host, const std::string& library, bool cdeclCall) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, ourIn = nullptr, ourOut = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &ourIn, &inherit, 0)) {
        return nullptr;
    }
    if (!CreatePipe(&ourOut, &childOut, &inherit, 0)) {
        CloseHandle(childIn);
        CloseHandle(ourIn);
        return nullptr;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(ourIn, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(ourOut, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string command = "\"" + host + "\" \"" + library + "\" " + (cdeclCall ? "cdecl" : "stdcall");
    PROCESS_INFORMATION process{};
    // A process group of its own: a Ctrl-C in the console must not end the
    // host in the middle of a transaction; the caller decides.
    const BOOL started =
        CreateProcessA(host.c_str(), command.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!started) {
        CloseHandle(ourIn);
        CloseHandle(ourOut);
        return nullptr;
    }
    CloseHandle(process.hThread);
    return std::make_unique<HostChild>(process.hProcess, ourIn, ourOut);
}

}  // namespace drv::bridge
