// One small interface over the two ways a driver reaches a module: a serial
// line (termios) and UDP datagrams to the LAN converter. The transaction
// logic in Link knows nothing else about them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Result.h"

namespace drv {

using Clock = std::chrono::steady_clock;

// Digits and dots alone are meant as an address, and a malformed one is
// not worth a trip to the resolver; nor is a text no host name can have.
inline bool IsHostName(const std::string& host) {
    const auto nameCharacter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '.' || c == '_';
    };
    return !host.empty() && std::all_of(host.begin(), host.end(), nameCharacter) &&
           host.find_first_not_of("0123456789.") != std::string::npos;
}

class Transport {
  public:
    virtual ~Transport() = default;
    // Serial lines change their speed; a datagram link ignores it.
    virtual Result SetSpeed(std::uint32_t baud) = 0;
    // Throws away whatever arrived before the request, so that a late reply
    // of an earlier transaction is not read at all where that is possible.
    virtual Result Discard() = 0;
    // Whether the last Discard found input waiting (as far as the
    // transport can tell): in a scan, the reply to the request before,
    // come after its wait had ended.
    bool DiscardedInput() const { return m_discardedInput; }
    virtual Result Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline) = 0;
    // Waits for input until the deadline. Ok with an empty chunk means the
    // deadline passed in silence.
    virtual Result Read(std::vector<std::uint8_t>& chunk, Clock::time_point deadline) = 0;
    // True when each Read yields exactly one datagram, so frame boundaries
    // are known; false for a byte stream.
    virtual bool Datagrams() const = 0;

  protected:
    bool m_discardedInput = false;
};

struct Opened {
    Result result = Result::Ok;
    std::unique_ptr<Transport> transport;
};

// Raw 8N1 at 9600 Bd until SetSpeed; opened exclusively.
Opened OpenSerial(const std::string& path);
// Host is a dotted-decimal IPv4 address or a host name; a name that does
// not resolve within resolveWait gives HostNotFound.
Opened OpenUdp(const std::string& host, std::uint16_t port, std::chrono::milliseconds resolveWait);

}  // namespace drv
