#include "Link.h"

#include <algorithm>
#include <random>

namespace drv {

namespace {

const ModeRule* FindMode(std::uint32_t mode) {
    for (const auto& rule : kModes) {
        if (rule.mode == mode) {
            return &rule;
        }
    }
    return nullptr;
}

Result FromModuleStatus(std::uint8_t status) {
    switch (static_cast<wire::ModuleStatus>(status)) {
        case wire::ModuleStatus::Ok:
            return Result::Ok;
        case wire::ModuleStatus::UnknownCommand:
            return Result::ModuleUnknownCommand;
        case wire::ModuleStatus::UnknownIndex:
            return Result::ModuleUnknownIndex;
        case wire::ModuleStatus::BadData:
            return Result::ModuleBadData;
    }
    return Result::ModuleFailure;
}

// After a corrupted candidate the rest of a reply, if any, follows at once;
// a quiet line for this long means nothing valid is coming.
std::chrono::microseconds QuietGap(std::uint32_t baud) {
    return std::max(std::chrono::microseconds(2000), std::chrono::microseconds(wire::LineTimeUs(4, baud)));
}

std::mt19937 SeededPerConnection() {
    std::random_device rd;
    std::seed_seq seed{rd(), rd(), rd(), rd()};
    return std::mt19937(seed);
}

}  // namespace

Result ValidateConfig(const LineConfig& config) {
    if (!wire::SpeedIndex(config.speed)) {
        return Result::BadSpeed;
    }
    if (config.allowanceMs == 0 || config.allowanceMs > kMaxAllowanceMs) {
        return Result::BadParameter;
    }
    if (FindMode(config.mode) == nullptr) {
        return Result::BadMode;
    }
    return Result::Ok;
}

std::chrono::microseconds ReplyTimeout(const LineConfig& config, std::uint32_t udpTimeoutMs, bool udp) {
    if (udp && udpTimeoutMs != 0) {
        return std::chrono::milliseconds(udpTimeoutMs);
    }
    const ModeRule* rule = FindMode(config.mode);
    const std::uint64_t marginMs = rule != nullptr
                                       ? std::uint64_t{rule->factor} * config.allowanceMs + rule->extraMs
                                       : config.allowanceMs;
    const std::uint64_t us =
        wire::TransactionLineTimeUs(config.speed) + 1000 * (marginMs + (udp ? kUdpAutoExtraMs : 0));
    return std::chrono::microseconds(us);
}

std::chrono::milliseconds ResolveWait(std::uint32_t udpTimeoutMs) {
    return std::chrono::milliseconds(udpTimeoutMs == 0 ? kMaxResolveMs
                                                       : std::min(udpTimeoutMs, kMaxResolveMs));
}

Link::Link(std::unique_ptr<Transport> transport, bool udp, std::uint32_t udpTimeoutMs)
    : m_transport(std::move(transport)),
      m_udp(udp),
      m_udpTimeoutMs(udpTimeoutMs),
      m_random(SeededPerConnection()),
      m_tag(static_cast<std::uint16_t>(m_random())) {}

// Random rather than counted: a reply held back for any number of
// transactions, or one left from an earlier run, matches a later request
// only by a 1 in 65536 chance, and a blind forger cannot predict the next
// tag. Never the previous tag, so a retry never takes its predecessor's
// late reply.
std::uint16_t Link::NextTag() {
    std::uint16_t tag = m_tag;
    while (tag == m_tag) {
        tag = static_cast<std::uint16_t>(m_random());
    }
    m_tag = tag;
    return tag;
}

Refused Link::RefusedReplies() const { return {m_damaged.load(), m_echo.load()}; }

Result Link::Configure(const LineConfig& config) {
    const Result valid = ValidateConfig(config);
    if (valid != Result::Ok) {
        return valid;
    }
    std::lock_guard lock(m_mutex);
    const Result r = m_transport->SetSpeed(config.speed);
    if (r == Result::Ok) {
        m_config = config;
    }
    return r;
}

LineConfig Link::Config() const {
    std::lock_guard lock(m_mutex);
    return m_config;
}

Answer Link::Transact(const RequestCells& cells) {
    if (std::any_of(cells.begin(), cells.end(), [](std::uint32_t c) { return c > 0xFFU; })) {
        return {Result::BadParameter, {}};
    }
    std::lock_guard lock(m_mutex);
    wire::Request request{static_cast<std::uint8_t>(cells[0]),
                          static_cast<std::uint8_t>(cells[1]),
                          static_cast<std::uint8_t>(cells[2]),
                          NextTag(),
                          {}};
    for (std::size_t i = 0; i < wire::kDataCount; ++i) {
        request.data[i] = static_cast<std::uint8_t>(cells[3 + i]);
    }
    const auto frame = wire::Encode(request);

    const auto timeout = ReplyTimeout(m_config, m_udpTimeoutMs, m_udp);
    const auto deadline = Clock::now() + timeout;
    if (Result r = m_transport->Discard(); r != Result::Ok) {
        return {r, {}};
    }
    if (Result r = m_transport->Write(frame, deadline); r != Result::Ok) {
        return {r, {}};
    }

    wire::ReplyDecoder decoder;
    bool foreign = false;
    bool corrupted = false;
    std::optional<Clock::time_point> quietUntil;
    std::vector<std::uint8_t> chunk;
    for (;;) {
        const auto waitUntil = quietUntil ? std::min(*quietUntil, deadline) : deadline;
        if (Result r = m_transport->Read(chunk, waitUntil); r != Result::Ok) {
            return {r, {}};
        }
        if (chunk.empty()) {
            if (Clock::now() < deadline && !quietUntil) {
                continue;
            }
            if (quietUntil && Clock::now() < deadline) {
                return {Result::CrcError, {}};
            }
            break;
        }
        std::optional<wire::Reply> reply;
        if (m_transport->Datagrams()) {
            reply = wire::DecodeReply(chunk);
            if (!reply) {
                ++m_damaged;
                // A datagram of a reply's size that fails is the reply,
                // damaged; anything else is noise.
                if (chunk.size() == wire::kReplySize) {
                    return {Result::CrcError, {}};
                }
                continue;
            }
            if (!wire::Answers(*reply, request)) {
                ++m_echo;
                foreign = foreign || (reply->tag == request.tag && reply->address != request.address);
                continue;
            }
        } else {
            decoder.Feed(chunk);
            const std::size_t crcErrorsBefore = decoder.CrcErrors();
            while ((reply = decoder.Next())) {
                if (wire::Answers(*reply, request)) {
                    break;
                }
                ++m_echo;
                foreign = foreign || (reply->tag == request.tag && reply->address != request.address);
            }
            m_damaged += decoder.CrcErrors() - crcErrorsBefore;
            if (!reply) {
                if (decoder.CrcErrors() > 0) {
                    corrupted = true;
                    quietUntil = Clock::now() + QuietGap(m_config.speed);
                }
                continue;
            }
        }
        const Result status = FromModuleStatus(reply->status);
        if (status != Result::Ok) {
            return {status, {}};
        }
        return {Result::Ok, reply->data};
    }
    if (foreign) {
        return {Result::ForeignAddress, {}};
    }
    return {corrupted ? Result::CrcError : Result::Timeout, {}};
}

}  // namespace drv
