// Windows side of the simulator: a Winsock UDP socket and the console, so
// that one PC can try the whole tool without a module. Windows has no
// pseudo-terminal, so there is no serial side. A console or pipe cannot be
// waited on together with a socket, so a thread reads standard input and
// hands the bytes over; the one loop waits on the socket's event, that
// thread's event and Ctrl+C, and serves them all.
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Server.h"
#include "ServerCommon.h"

namespace sim {

namespace {

// Set by Ctrl+C, Ctrl+Break and the closing of the console window.
HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(g_stopEvent);
    return TRUE;
}

// What the reader thread hands over. Shared, so that the thread, left
// blocked in its read when the simulator stops, never outlives it.
struct ConsoleInput {
    HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::mutex mutex;
    std::string bytes;
    bool ended = false;
};

void ReadStandardInput(const std::shared_ptr<ConsoleInput>& input) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::array<char, 1024> buffer{};
    for (;;) {
        DWORD n = 0;
        const bool read = in != nullptr && in != INVALID_HANDLE_VALUE &&
                          ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) &&
                          n > 0;
        {
            const std::lock_guard lock(input->mutex);
            if (read) {
                input->bytes.append(buffer.data(), n);
            } else {
                input->ended = true;
            }
        }
        SetEvent(input->ready);
        if (!read) {
            return;
        }
    }
}

std::string WinsockText(int code) {
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text != nullptr ? text : "error " + std::to_string(code);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.')) {
        result.pop_back();
    }
    return result;
}

class Server final : public ServerCore {
  public:
    Server(const Options& options, Bus& bus) : ServerCore(options, bus) {}

    ~Server() override {
        if (m_udp != INVALID_SOCKET) {
            closesocket(m_udp);
        }
        if (m_udpEvent != WSA_INVALID_EVENT) {
            WSACloseEvent(m_udpEvent);
        }
        if (m_winsock) {
            WSACleanup();
        }
    }

    int Run() {
        if (m_options.pty) {
            std::fprintf(stderr, "rq905-sim: no pseudo-terminal on Windows\n");
            return 2;
        }
        if (!OpenUdp()) {
            return 1;
        }
        std::printf("ready\n");
        std::fflush(stdout);
        return Loop();
    }

  private:
    bool OpenUdp() {
        WSADATA data{};
        m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        if (m_winsock) {
            m_udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(*m_options.udpPort);
        m_udpEvent = WSACreateEvent();
        if (m_udp == INVALID_SOCKET ||
            inet_pton(AF_INET, m_options.bindAddress.c_str(), &address.sin_addr) != 1 ||
            bind(m_udp, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            m_udpEvent == WSA_INVALID_EVENT || WSAEventSelect(m_udp, m_udpEvent, FD_READ) != 0) {
            std::fprintf(stderr, "rq905-sim: cannot serve UDP on %s:%u: %s\n", m_options.bindAddress.c_str(),
                         unsigned{*m_options.udpPort}, WinsockText(WSAGetLastError()).c_str());
            return false;
        }
        int length = sizeof address;
        getsockname(m_udp, reinterpret_cast<sockaddr*>(&address), &length);
        std::printf("udp %s:%u\n", m_options.bindAddress.c_str(), unsigned{ntohs(address.sin_port)});
        return true;
    }

    int Loop() {
        g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        const auto console = std::make_shared<ConsoleInput>();
        std::thread(ReadStandardInput, console).detach();
        bool consoleOpen = true;

        while (!m_quit) {
            std::array<HANDLE, 3> handles{g_stopEvent, m_udpEvent, console->ready};
            std::optional<Clock::time_point> wake;
            if (!m_waiting.empty()) {
                wake = std::min_element(m_waiting.begin(), m_waiting.end(), [](const auto& a, const auto& b) {
                           return a.due < b.due;
                       })->due;
            }
            if (const auto pattern = PatternWake()) {
                wake = wake ? std::min(*wake, *pattern) : *pattern;
            }
            DWORD timeout = INFINITE;
            if (wake) {
                const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now()).count();
                timeout = static_cast<DWORD>(std::clamp<long long>(ms, 0, 0x7FFFFFFF));
            }
            const DWORD woken = WaitForMultipleObjects(consoleOpen ? 3 : 2, handles.data(), FALSE, timeout);
            if (woken == WAIT_OBJECT_0) {
                break;
            }
            if (woken == WAIT_FAILED) {
                std::fprintf(stderr, "rq905-sim: waiting failed: %s\n",
                             WinsockText(static_cast<int>(GetLastError())).c_str());
                return 1;
            }
            // Each source is looked at on every wake-up, so that a flood of
            // datagrams cannot keep the console waiting.
            ReadUdp();
            if (consoleOpen) {
                std::string bytes;
                {
                    const std::lock_guard lock(console->mutex);
                    bytes.swap(console->bytes);
                    consoleOpen = !console->ended;
                }
                Console(bytes);
            }
            SendDue();
            StepPatternIfDue(Clock::now());
            // The C library of Windows buffers a pipe fully, line mode or not.
            std::fflush(stdout);
        }
        if (!m_options.quiet) {
            std::printf("stopped\n");
        }
        std::fflush(stdout);
        return 0;
    }

    void ReadUdp() {
        WSANETWORKEVENTS events{};
        WSAEnumNetworkEvents(m_udp, m_udpEvent, &events);
        for (;;) {
            std::array<std::uint8_t, 2048> buffer{};
            sockaddr_in peer{};
            int length = sizeof peer;
            const int n =
                recvfrom(m_udp, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0,
                         reinterpret_cast<sockaddr*>(&peer), &length);
            if (n < 0) {
                // A peer gone away shows as WSAECONNRESET, an oversize
                // datagram as WSAEMSGSIZE: neither stops the others.
                const int error = WSAGetLastError();
                if (error == WSAECONNRESET || error == WSAEMSGSIZE) {
                    continue;
                }
                return;
            }
            const Peer from{ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)};
            const auto datagram = std::span(buffer.data(), static_cast<std::size_t>(n));
            if (auto request = wire::DecodeRequest(datagram)) {
                Process(*request, datagram, true, from);
            } else {
                Trace("rx", true, from, datagram,
                      datagram.size() == wire::kRequestSize ? "ignored crc" : "ignored noise");
            }
        }
    }

    std::uint32_t PtyLineSpeed() const override { return 0; }

    // Datagrams go whole when due, in order of due time.
    void SendDue() override {
        const auto now = Clock::now();
        std::stable_sort(m_waiting.begin(), m_waiting.end(),
                         [](const Outgoing& a, const Outgoing& b) { return a.due < b.due; });
        auto next = m_waiting.begin();
        for (; next != m_waiting.end() && next->due <= now; ++next) {
            sockaddr_in peer{};
            peer.sin_family = AF_INET;
            peer.sin_addr.s_addr = htonl(next->peer.address);
            peer.sin_port = htons(next->peer.port);
            sendto(m_udp, reinterpret_cast<const char*>(next->bytes.data()),
                   static_cast<int>(next->bytes.size()), 0, reinterpret_cast<const sockaddr*>(&peer),
                   sizeof peer);
            Trace("tx", true, next->peer, next->bytes, next->note);
        }
        m_waiting.erase(m_waiting.begin(), next);
    }

    bool m_winsock = false;
    SOCKET m_udp = INVALID_SOCKET;
    WSAEVENT m_udpEvent = WSA_INVALID_EVENT;
};

}  // namespace

void LocalTime(std::time_t seconds, std::tm& local) { localtime_s(&local, &seconds); }

int Serve(const Options& options, Bus& bus) {
    Server server(options, bus);
    return server.Run();
}

}  // namespace sim
