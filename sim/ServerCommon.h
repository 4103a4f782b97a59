// What the simulator's event loops share: answering a request (faults,
// line time, the printed changes and the saved state), the input pattern,
// the console and the trace. Each platform's loop adds only its I/O.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Bus.h"
#include "ConsoleLines.h"
#include "Options.h"
#include "Wire.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// A UDP sender, in host byte order.
struct Peer {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

struct Outgoing {
    Clock::time_point due;
    bool udp;
    Peer peer;
    std::vector<std::uint8_t> bytes;
    // Time of one byte on the pty, zero for all at once.
    Clock::duration pace{};
    // What the trace says beside the bytes: a fault done to them.
    std::string note;
    // On the pty: when the first byte began and how many are out.
    Clock::time_point start{};
    std::size_t sent = 0;
};

// The platform's thread-safe conversion to local time.
void LocalTime(std::time_t seconds, std::tm& local);

class ServerCore {
  public:
    ServerCore(const Options& options, Bus& bus);
    virtual ~ServerCore() = default;
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

  protected:
    // The speed the driver set on the pty, 0 when unknown.
    virtual std::uint32_t PtyLineSpeed() const = 0;
    // Sends what has come due of m_waiting.
    virtual void SendDue() = 0;

    void Process(const wire::Request& request, std::span<const std::uint8_t> received, bool udp,
                 const Peer& peer);
    void Trace(const char* direction, bool udp, const Peer& peer, std::span<const std::uint8_t> bytes,
               const std::string& note) const;
    // Runs the console lines these bytes complete and prints the answers.
    void Console(std::string_view bytes);
    // When the input pattern next steps, if it moves at all.
    std::optional<Clock::time_point> PatternWake() const;
    void StepPatternIfDue(Clock::time_point now);

    const Options& m_options;
    Bus& m_bus;
    std::vector<Outgoing> m_waiting;
    bool m_silent = false;
    bool m_quit = false;

  private:
    void Report(const Module& module, const Changes& changes);

    FaultInjector m_faults;
    std::mt19937 m_patternRandom;
    std::mt19937 m_collisionRandom;
    unsigned m_patternStep = 0;
    Clock::time_point m_nextPattern;
    ConsoleLines m_console;
    std::uint32_t m_reportedSpeed = 0;
};

}  // namespace sim
