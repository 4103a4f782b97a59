// One open connection of a driver: its transport, its timing and the
// transaction that turns a request block into a reply.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>

#include "Transport.h"
#include "Wire.h"

namespace drv {

// SetConfig's third argument is an allowance in milliseconds for the module
// to turn a request round; its fourth picks how generously it is applied.
struct ModeRule {
    std::uint32_t mode;
    std::uint32_t factor;   // allowances granted
    std::uint32_t extraMs;  // fixed slack for the PC's scheduler and converters
};
inline constexpr ModeRule kModes[] = {
    {1, 1, 0},   // tight: a UART or pseudo-terminal on an idle machine
    {2, 2, 10},  // standard, what the service tool uses
    {3, 4, 50},  // slow converters and busy machines
};
inline constexpr std::uint32_t kMaxAllowanceMs = 1000;
inline constexpr std::uint32_t kMaxUdpTimeoutMs = 60000;
// A host name must resolve within the connection's wait, and never takes
// longer than this, whatever the wait.
inline constexpr std::uint32_t kMaxResolveMs = 3000;
std::chrono::milliseconds ResolveWait(std::uint32_t udpTimeoutMs);
// A datagram crosses a network before and after the line.
inline constexpr std::uint32_t kUdpAutoExtraMs = 20;

struct LineConfig {
    std::uint32_t speed = 9600;
    std::uint32_t allowanceMs = 13;
    std::uint32_t mode = 2;
};

// Checks a configuration without applying it.
Result ValidateConfig(const LineConfig& config);
// How long a driver waits for the reply after sending the request.
std::chrono::microseconds ReplyTimeout(const LineConfig& config, std::uint32_t udpTimeoutMs, bool udp);

using RequestCells = std::array<std::uint32_t, 8>;

struct Answer {
    Result result = Result::Ok;
    wire::Data data{};
};

// Replies a connection received and refused since it was opened. A flood of
// forged or stray datagrams shows up here rather than as a silent slowdown.
struct Refused {
    std::uint64_t damaged = 0;  // failed the CRC, or no frame at all
    std::uint64_t echo = 0;     // a valid frame that does not answer the request
};

class Link {
  public:
    // udpTimeoutMs: 0 derives the wait from the line configuration.
    Link(std::unique_ptr<Transport> transport, bool udp, std::uint32_t udpTimeoutMs);

    Result Configure(const LineConfig& config);
    LineConfig Config() const;
    Answer Transact(const RequestCells& request);
    Refused RefusedReplies() const;

  private:
    std::uint16_t NextTag();

    std::unique_ptr<Transport> m_transport;
    const bool m_udp;
    const std::uint32_t m_udpTimeoutMs;
    mutable std::mutex m_mutex;
    LineConfig m_config;
    std::mt19937 m_random;
    std::uint16_t m_tag;
    std::atomic<std::uint64_t> m_damaged{0};
    std::atomic<std::uint64_t> m_echo{0};
};

}  // namespace drv
