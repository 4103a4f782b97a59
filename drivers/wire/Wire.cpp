#include "Wire.h"

#include <algorithm>

namespace wire {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        std::uint16_t crc = static_cast<std::uint16_t>(n);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001U)
                             : static_cast<std::uint16_t>(crc >> 1);
        }
        table[n] = crc;
    }
    return table;
}

constexpr auto kCrcTable = MakeCrcTable();

template <std::size_t N>
void PutCrc(std::array<std::uint8_t, N>& frame) {
    const std::uint16_t crc = Crc16(std::span(frame.data(), N - 2));
    frame[N - 2] = static_cast<std::uint8_t>(crc & 0xFFU);
    frame[N - 1] = static_cast<std::uint8_t>(crc >> 8);
}

bool CrcMatches(std::span<const std::uint8_t> frame) {
    const std::size_t n = frame.size();
    const std::uint16_t crc = Crc16(frame.first(n - 2));
    return frame[n - 2] == (crc & 0xFFU) && frame[n - 1] == (crc >> 8);
}

// Frame traits let one stream decoder serve both directions.
template <typename Frame>
struct Traits;

template <>
struct Traits<Request> {
    static constexpr std::uint8_t kSync = kRequestSync;
    static constexpr std::size_t kSize = kRequestSize;
    static std::optional<Request> Decode(std::span<const std::uint8_t> b) { return DecodeRequest(b); }
};

template <>
struct Traits<Reply> {
    static constexpr std::uint8_t kSync = kReplySync;
    static constexpr std::size_t kSize = kReplySize;
    static std::optional<Reply> Decode(std::span<const std::uint8_t> b) { return DecodeReply(b); }
};

constexpr std::uint8_t Low(std::uint16_t word) { return static_cast<std::uint8_t>(word & 0xFFU); }
constexpr std::uint8_t High(std::uint16_t word) { return static_cast<std::uint8_t>(word >> 8); }
constexpr std::uint16_t Word(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::uint16_t>(low | high << 8);
}

// Keeps a decoder's buffer bounded even on a line that carries nothing but noise.
constexpr std::size_t kCompactAt = 4096;

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFFU]);
    }
    return crc;
}

// The tag travels low byte first, as the CRC does.
RequestFrame Encode(const Request& r) {
    RequestFrame f{kRequestSync, r.address, r.command, r.index, Low(r.tag), High(r.tag)};
    std::copy(r.data.begin(), r.data.end(), f.begin() + 6);
    PutCrc(f);
    return f;
}

ReplyFrame Encode(const Reply& r) {
    ReplyFrame f{kReplySync, r.address, r.command, r.index, Low(r.tag), High(r.tag), r.status};
    std::copy(r.data.begin(), r.data.end(), f.begin() + 7);
    PutCrc(f);
    return f;
}

std::optional<Request> DecodeRequest(std::span<const std::uint8_t> b) {
    if (b.size() != kRequestSize || b[0] != kRequestSync || !CrcMatches(b)) {
        return std::nullopt;
    }
    Request r{b[1], b[2], b[3], Word(b[4], b[5]), {}};
    std::copy_n(b.begin() + 6, kDataCount, r.data.begin());
    return r;
}

std::optional<Reply> DecodeReply(std::span<const std::uint8_t> b) {
    if (b.size() != kReplySize || b[0] != kReplySync || !CrcMatches(b)) {
        return std::nullopt;
    }
    Reply r{b[1], b[2], b[3], Word(b[4], b[5]), b[6], {}};
    std::copy_n(b.begin() + 7, kDataCount, r.data.begin());
    return r;
}

bool IsRegisterCommand(std::uint8_t command) { return command == kReadRegister || command == kWriteRegister; }

bool Answers(const Reply& reply, const Request& request) {
    if (reply.address != request.address || reply.command != request.command ||
        reply.index != request.index || reply.tag != request.tag) {
        return false;
    }
    // A late reply for another register may carry a tag that came round
    // again; its register echo still tells it apart.
    return !IsRegisterCommand(request.command) ||
           (reply.data[1] == request.data[1] && reply.data[2] == request.data[2]);
}

template <typename Frame>
void StreamDecoder<Frame>::Feed(std::span<const std::uint8_t> bytes) {
    if (m_start >= kCompactAt) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_logged -= std::min(m_logged, m_start);
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

template <typename Frame>
std::optional<Frame> StreamDecoder<Frame>::Next() {
    using T = Traits<Frame>;
    for (;;) {
        const auto from = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start);
        const auto sync = std::find(from, m_buffer.end(), T::kSync);
        const auto syncAt = static_cast<std::size_t>(sync - m_buffer.begin());
        if (m_drops != nullptr) {
            LogDrop(m_start, syncAt, false);
        }
        m_start = syncAt;
        if (m_buffer.size() - m_start < T::kSize) {
            if (m_start == m_buffer.size()) {
                Clear();
            }
            return std::nullopt;
        }
        if (auto frame = T::Decode(std::span(m_buffer).subspan(m_start, T::kSize))) {
            m_start += T::kSize;
            m_logged = std::max(m_logged, m_start);
            return frame;
        }
        if (m_drops != nullptr && m_start >= m_logged) {
            LogDrop(m_start, m_start + T::kSize, true);
        }
        ++m_crcErrors;
        ++m_start;
    }
}

template <typename Frame>
void StreamDecoder<Frame>::Clear() {
    m_buffer.clear();
    m_start = 0;
    m_logged = 0;
}

template <typename Frame>
void StreamDecoder<Frame>::LogDrop(std::size_t from, std::size_t to, bool damaged) {
    from = std::max(from, m_logged);
    if (from < to) {
        m_drops->push_back({{m_buffer.begin() + static_cast<std::ptrdiff_t>(from),
                             m_buffer.begin() + static_cast<std::ptrdiff_t>(to)},
                            damaged});
        m_logged = to;
    }
}

template class StreamDecoder<Request>;
template class StreamDecoder<Reply>;

void AppendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0FU];
    }
}

std::optional<std::uint8_t> SpeedIndex(std::uint32_t baud) {
    const auto it = std::find(kSpeeds.begin(), kSpeeds.end(), baud);
    if (it == kSpeeds.end()) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(it - kSpeeds.begin());
}

std::uint64_t LineTimeUs(std::size_t bytes, std::uint32_t baud) {
    if (baud == 0) {
        return 0;
    }
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes) * kBitsPerByte * 1'000'000U;
    return (bits + baud - 1) / baud;
}

}  // namespace wire
