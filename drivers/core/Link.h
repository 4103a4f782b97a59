// One open connection of a driver: its transport, its timing and the
// transaction that turns a request block into a reply.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>

#include "ScanWait.h"
#include "Trace.h"
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
// Scan mode: a silent address costs only the request's line time, the
// allowance and one byte time; the rest of a reply is waited for only once
// it has begun. Its allowance is counted in tenths of a millisecond, since
// at 115200 Bd a whole millisecond is a third of what a silent address
// takes on the line.
inline constexpr std::uint32_t kScanMode = 4;
inline constexpr std::uint32_t kScanAllowanceUnitUs = 100;
// Once a reply has begun in scan mode, waiting on costs a silent address
// nothing, so a reply whose bytes stall (a busy PC, a converter) gets the
// standard mode's slack on each renewal. The wait never runs on for longer
// than this many bytes' line time plus that slack past the first-byte
// deadline: room for noise ahead of the reply.
inline constexpr std::size_t kScanTrailBytes = 3 * wire::kReplySize;
inline constexpr std::uint32_t kScanTrailSlackMs = 10;
// Modules left at one address all answer. Over UDP their replies come as
// datagrams close together, so a scan waits this long after a taken reply
// for a second one; only an address that answered pays for it.
inline constexpr std::uint32_t kScanDuplicateWaitUs = 2000;
// A reply late by more requests than this is not matched to its address;
// a scan keeps at most this many late addresses untold.
inline constexpr std::size_t kRecentSilent = 4;
inline constexpr std::size_t kMaxLateAddresses = 64;
// A late reply found begun before the next request is waited for this
// long past its remaining bytes' line time.
inline constexpr std::uint32_t kLateRestSlackUs = 2000;
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
// How long a driver waits for the reply after sending the request; in scan
// mode on a byte stream, for the reply's first byte.
std::chrono::microseconds ReplyTimeout(const LineConfig& config, std::uint32_t udpTimeoutMs, bool udp);

using RequestCells = std::array<std::uint32_t, 8>;

struct Answer {
    Result result = Result::Ok;
    wire::Data data{};
};

class Link {
  public:
    // udpTimeoutMs: 0 derives the wait from the line configuration.
    Link(std::unique_ptr<Transport> transport, bool udp, std::uint32_t udpTimeoutMs);

    Result Configure(const LineConfig& config);
    LineConfig Config() const;
    Answer Transact(const RequestCells& request);
    Refused RefusedReplies() const;
    // In a scan, the address of a module whose reply came after its
    // request had been told silent, oldest first; each is told once.
    // nullopt when there is none.
    std::optional<std::uint8_t> LateReply();
    // The connection's trace, if it has one; Closed writes its last line.
    void SetTrace(std::unique_ptr<Tracer> tracer);
    // How late a wait in silence must end to tell of a busy machine; a test
    // on a shared machine raises it above that machine's own stalls.
    void SetBusyWakeUp(std::chrono::microseconds late) { m_busyWakeUp = late; }
    void Closed();

  private:
    std::uint16_t NextTag();
    Answer Exchange(const RequestCells& cells, TraceRecord* record);
    Result SecondAnswer(const wire::Request& request, TraceRecord* record);
    // A reply to none of the current request's: if it answers one of the
    // scan's recent silent requests, that module was there after all
    // (true).
    bool NoteLate(const wire::Reply& reply);
    // Before a scan's next request: what came since the last one heard
    // nothing. True when something came that was no late reply.
    bool TakeLateInput(TraceRecord* record, const wire::Request* current);

    std::unique_ptr<Transport> m_transport;
    const bool m_udp;
    const std::uint32_t m_udpTimeoutMs;
    mutable std::mutex m_mutex;
    LineConfig m_config;
    std::mt19937 m_random;
    std::uint16_t m_tag;
    std::atomic<std::uint64_t> m_damaged{0};
    std::atomic<std::uint64_t> m_echo{0};
    wire::ReplyDecoder m_decoder;
    std::vector<wire::ReplyDecoder::Dropped> m_drops;  // filled only for a trace
    std::unique_ptr<Tracer> m_trace;
    // Scan mode: the allowance in force (on a byte stream), and whether the
    // last transaction heard nothing at all, so that input found waiting
    // before the next request is its reply, come late.
    ScanWait m_scanWait;
    bool m_scanSilent = false;
    std::chrono::microseconds m_busyWakeUp = kBusyWakeUp;
    // The scan's last requests that heard nothing, and the addresses whose
    // replies came for them too late.
    struct SilentRequest {
        wire::Request request;
        Clock::time_point sent;
    };
    std::deque<SilentRequest> m_silentRequests;
    std::deque<std::uint8_t> m_lateAddresses;
    bool m_configured = false;
};

}  // namespace drv
