// The module's wire protocol: one fixed-length request frame and one
// fixed-length reply frame per transaction, protected by CRC-16/MODBUS.
// Drivers and the simulator share this code, so both ends agree by
// construction.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wire {

inline constexpr std::uint8_t kRequestSync = 0xA5;
inline constexpr std::uint8_t kReplySync = 0x5A;
inline constexpr std::size_t kRequestSize = 13;
inline constexpr std::size_t kReplySize = 14;
inline constexpr std::size_t kDataCount = 5;
// Bits on the line per byte: start, eight data bits, stop.
inline constexpr std::uint32_t kBitsPerByte = 10;

using Data = std::array<std::uint8_t, kDataCount>;

struct Request {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t index = 0;
    std::uint16_t tag = 0;
    Data data{};
    bool operator==(const Request&) const = default;
};

// Status the module itself puts in a reply.
enum class ModuleStatus : std::uint8_t {
    Ok = 0,
    UnknownCommand = 1,
    UnknownIndex = 2,  // an index, or a register, the module does not have
    BadData = 3,       // a value out of range or a check copy that differs
};

struct Reply {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t index = 0;
    std::uint16_t tag = 0;
    std::uint8_t status = 0;
    Data data{};
    bool operator==(const Reply&) const = default;
};

using RequestFrame = std::array<std::uint8_t, kRequestSize>;
using ReplyFrame = std::array<std::uint8_t, kReplySize>;

std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

RequestFrame Encode(const Request& request);
ReplyFrame Encode(const Reply& reply);

// Whole-frame decoders, for datagrams: the size must match exactly.
std::optional<Request> DecodeRequest(std::span<const std::uint8_t> bytes);
std::optional<Reply> DecodeReply(std::span<const std::uint8_t> bytes);

// Register commands carry the register number in D1 and D2, and the reply
// echoes both.
inline constexpr std::uint8_t kReadRegister = 102;
inline constexpr std::uint8_t kWriteRegister = 103;
bool IsRegisterCommand(std::uint8_t command);

// True when the reply answers exactly this request: a stray or late reply
// differs in at least one of the echoed fields (for a register command the
// register number included).
bool Answers(const Reply& reply, const Request& request);

// Finds frames in a byte stream that may carry noise, partial frames and
// corrupted frames. A candidate whose CRC fails is skipped one byte at a
// time, so a real frame that begins inside noise is still found.
template <typename Frame>
class StreamDecoder {
  public:
    // Bytes Next() gave up on: bytes before any sync byte, or a whole
    // candidate whose CRC failed (damaged).
    struct Dropped {
        std::vector<std::uint8_t> bytes;
        bool damaged = false;
    };

    // Appends bytes; complete frames are taken out with Next().
    void Feed(std::span<const std::uint8_t> bytes);
    std::optional<Frame> Next();
    void Clear();
    // Candidates that had the sync byte and the full length but a bad CRC.
    std::size_t CrcErrors() const { return m_crcErrors; }
    // Bytes held that may still become part of a frame.
    std::size_t Pending() const { return m_buffer.size() - m_start; }
    // Held bytes that no drop log entry or frame has shown yet: the start
    // of a frame that never completed.
    std::span<const std::uint8_t> Unlogged() const {
        return std::span(m_buffer).subspan(std::max(m_start, std::min(m_logged, m_buffer.size())));
    }
    // Only a trace wants to see what was dropped; null (the default) keeps
    // the decoder from copying anything.
    void LogDropsTo(std::vector<Dropped>* log) { m_drops = log; }

  private:
    void LogDrop(std::size_t from, std::size_t to, bool damaged);

    std::vector<std::uint8_t> m_buffer;
    std::size_t m_start = 0;
    std::size_t m_crcErrors = 0;
    std::vector<Dropped>* m_drops = nullptr;
    // Bytes before this index are already in the log, as a damaged
    // candidate or a frame; a false candidate inside one is not logged again.
    std::size_t m_logged = 0;
};

using RequestDecoder = StreamDecoder<Request>;
using ReplyDecoder = StreamDecoder<Reply>;

// Bytes as a trace shows them: "A5 01 C8", upper case, one blank between.
void AppendHex(std::string& out, std::span<const std::uint8_t> bytes);

// Line speeds of the module's bus, by speed index (the value of register 62).
inline constexpr std::array<std::uint32_t, 9> kSpeeds = {600,   1200,  2400,  4800,  9600,
                                                         19200, 38400, 57600, 115200};
std::optional<std::uint8_t> SpeedIndex(std::uint32_t baud);

// Time the given number of bytes occupy the line, in microseconds, rounded up.
std::uint64_t LineTimeUs(std::size_t bytes, std::uint32_t baud);
// A request and its reply together.
inline std::uint64_t TransactionLineTimeUs(std::uint32_t baud) {
    return LineTimeUs(kRequestSize + kReplySize, baud);
}

}  // namespace wire
