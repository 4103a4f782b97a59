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
    if (FindMode(config.mode) == nullptr && config.mode != kScanMode) {
        return Result::BadMode;
    }
    return Result::Ok;
}

std::chrono::microseconds ReplyTimeout(const LineConfig& config, std::uint32_t udpTimeoutMs, bool udp) {
    if (udp && udpTimeoutMs != 0) {
        return std::chrono::milliseconds(udpTimeoutMs);
    }
    if (config.mode == kScanMode) {
        const std::uint64_t allowanceUs = std::uint64_t{config.allowanceMs} * kScanAllowanceUnitUs;
        // A datagram comes whole, after the reply's line time: there is no
        // first byte to watch, only the whole exchange and the network.
        const std::uint64_t us =
            udp ? wire::TransactionLineTimeUs(config.speed) + allowanceUs + 1000 * kUdpAutoExtraMs
                : wire::LineTimeUs(wire::kRequestSize + 1, config.speed) + allowanceUs;
        return std::chrono::microseconds(us);
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
    Result r = ValidateConfig(config);
    std::lock_guard lock(m_mutex);
    if (r == Result::Ok) {
        r = m_transport->SetSpeed(config.speed);
    }
    if (r == Result::Ok) {
        // The same configuration again keeps what the scan has learnt.
        if (config.speed != m_config.speed || config.allowanceMs != m_config.allowanceMs ||
            config.mode != m_config.mode || !m_configured) {
            m_scanWait.Reset(std::chrono::microseconds(config.allowanceMs * kScanAllowanceUnitUs));
            m_scanSilent = false;
            m_silentRequests.clear();
        }
        m_config = config;
        m_configured = true;
    }
    if (m_trace) {
        m_trace->SetConfig(config.speed, config.allowanceMs, config.mode, r);
    }
    return r;
}

LineConfig Link::Config() const {
    std::lock_guard lock(m_mutex);
    return m_config;
}

void Link::SetTrace(std::unique_ptr<Tracer> tracer) {
    std::lock_guard lock(m_mutex);
    m_trace = std::move(tracer);
}

void Link::Closed() {
    std::lock_guard lock(m_mutex);
    if (m_trace) {
        m_trace->Done(RefusedReplies());
    }
}

Answer Link::Transact(const RequestCells& cells) {
    std::lock_guard lock(m_mutex);
    if (!m_trace) {
        return Exchange(cells, nullptr);
    }
    const auto wallStart = std::chrono::system_clock::now();
    const auto start = Clock::now();
    const Refused before = RefusedReplies();
    TraceRecord record;
    const Answer answer = Exchange(cells, &record);
    if (const auto rest = m_decoder.Unlogged(); !rest.empty()) {
        record.Add(rest, Verdict::Incomplete);
    }
    const Refused after = RefusedReplies();
    m_trace->Send(wallStart, record, answer.result,
                  std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start),
                  after == before ? nullptr : &after);
    return answer;
}

namespace {
// In a scan, when a reply's first byte is due at the earliest: the request's
// line time and that byte's.
std::chrono::microseconds FirstByteDue(std::uint32_t speed) {
    return std::chrono::microseconds(wire::LineTimeUs(wire::kRequestSize + 1, speed));
}
}  // namespace

Answer Link::Exchange(const RequestCells& cells, TraceRecord* record) {
    m_decoder.Clear();
    if (std::any_of(cells.begin(), cells.end(), [](std::uint32_t c) { return c > 0xFFU; })) {
        return {Result::BadParameter, {}};
    }
    wire::Request request{static_cast<std::uint8_t>(cells[0]),
                          static_cast<std::uint8_t>(cells[1]),
                          static_cast<std::uint8_t>(cells[2]),
                          NextTag(),
                          {}};
    for (std::size_t i = 0; i < wire::kDataCount; ++i) {
        request.data[i] = static_cast<std::uint8_t>(cells[3 + i]);
    }
    const auto frame = wire::Encode(request);
    if (record != nullptr) {
        record->request = frame;
    }

    // Scan mode on a byte stream: the deadline is the first byte's, with the
    // allowance the replies so far have earned; bytes that come move it on
    // by what a frame still lacks, up to a bound.
    const bool firstByteRule = m_config.mode == kScanMode && !m_transport->Datagrams();
    const auto firstByteDue = FirstByteDue(m_config.speed);
    // What came since a silent request is looked at before this one's
    // time starts: a late reply still arriving is read to its end.
    const bool strayInput = m_scanSilent && TakeLateInput(record, &request);
    if (Result r = m_transport->Discard(); r != Result::Ok) {
        return {r, {}};
    }
    if (firstByteRule && m_scanSilent && (strayInput || m_transport->DiscardedInput())) {
        m_scanWait.Late();
    }
    m_scanSilent = false;
    const auto sent = Clock::now();
    auto deadline = sent + (firstByteRule ? firstByteDue + m_scanWait.Allowance()
                                          : ReplyTimeout(m_config, m_udpTimeoutMs, m_udp));
    const auto scanSlack = std::max<std::chrono::microseconds>(
        std::chrono::microseconds(m_config.allowanceMs * kScanAllowanceUnitUs),
        std::chrono::milliseconds(kScanTrailSlackMs));
    const auto scanLatest =
        deadline + std::chrono::microseconds(wire::LineTimeUs(kScanTrailBytes, m_config.speed)) + scanSlack;
    const Refused refusedBefore = RefusedReplies();
    std::optional<Clock::time_point> firstByte;
    bool lookedAgain = false;
    if (Result r = m_transport->Write(frame, deadline); r != Result::Ok) {
        return {r, {}};
    }

    m_decoder.LogDropsTo(record != nullptr ? &m_drops : nullptr);
    const auto logDrops = [&] {
        for (const auto& d : m_drops) {
            record->Add(d.bytes, d.damaged ? Verdict::Damaged : Verdict::Noise);
        }
        m_drops.clear();
    };
    bool foreign = false;
    bool corrupted = false;
    std::size_t streamBytes = 0;
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
            // A busy PC may wake this thread later than a reply came: in a
            // scan, one look more before silence is told, since a reply
            // taken now costs nothing and a module missed costs a scan.
            if (firstByteRule && streamBytes == 0 && !lookedAgain) {
                lookedAgain = true;
                continue;
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
                const bool damaged = chunk.size() == wire::kReplySize;
                if (record != nullptr) {
                    record->Add(chunk, damaged ? Verdict::Damaged : Verdict::Noise);
                }
                if (damaged) {
                    return {Result::CrcError, {}};
                }
                continue;
            }
            const bool answers = wire::Answers(*reply, request);
            if (record != nullptr) {
                record->Add(chunk, answers ? Verdict::Taken : WhyRefused(*reply, request));
            }
            if (!answers) {
                NoteLate(*reply);
                ++m_echo;
                foreign = foreign || (reply->tag == request.tag && reply->address != request.address);
                continue;
            }
            if (m_config.mode == kScanMode) {
                if (Result r = SecondAnswer(request, record); r != Result::Ok) {
                    return {r, {}};
                }
            }
        } else {
            if (!firstByte) {
                firstByte = Clock::now();
                if (lookedAgain) {
                    m_scanWait.Late();
                }
            }
            streamBytes += chunk.size();
            m_decoder.Feed(chunk);
            const std::size_t crcErrorsBefore = m_decoder.CrcErrors();
            while ((reply = m_decoder.Next())) {
                const bool answers = wire::Answers(*reply, request);
                if (record != nullptr) {
                    logDrops();
                    record->Add(wire::Encode(*reply), answers ? Verdict::Taken : WhyRefused(*reply, request));
                }
                if (answers) {
                    break;
                }
                NoteLate(*reply);
                ++m_echo;
                streamBytes -= std::min(streamBytes, wire::kReplySize);
                foreign = foreign || (reply->tag == request.tag && reply->address != request.address);
            }
            if (record != nullptr) {
                logDrops();
            }
            m_damaged += m_decoder.CrcErrors() - crcErrorsBefore;
            if (reply && firstByteRule && streamBytes == wire::kReplySize &&
                RefusedReplies() == refusedBefore) {
                // Only a clean reply says when the module's first byte came.
                m_scanWait.Replied(std::chrono::duration_cast<std::chrono::microseconds>(*firstByte - sent) -
                                   firstByteDue);
            }
            if (!reply) {
                if (m_decoder.CrcErrors() > 0) {
                    corrupted = true;
                    quietUntil = Clock::now() + QuietGap(m_config.speed);
                }
                if (firstByteRule) {
                    const auto missing = wire::kReplySize - std::min(m_decoder.Pending(), wire::kReplySize);
                    const auto more = Clock::now() +
                                      std::chrono::microseconds(wire::LineTimeUs(missing, m_config.speed)) +
                                      scanSlack;
                    deadline = std::min(scanLatest, std::max(deadline, more));
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
    // In a scan, bytes that made no valid frame are a reply that was there
    // and came out garbled, as the replies of two modules at one address do.
    const bool garbled = firstByteRule && streamBytes > 0;
    m_scanSilent = m_config.mode == kScanMode && streamBytes == 0 && !corrupted;
    if (m_scanSilent) {
        m_silentRequests.push_back({request, sent});
        if (m_silentRequests.size() > kRecentSilent) {
            m_silentRequests.pop_front();
        }
    }
    // A driver woken this late finds the machine busy, and its replies
    // will be late too: a wider allowance before one is missed.
    if (m_scanSilent && Clock::now() - deadline > m_busyWakeUp) {
        m_scanWait.Late();
    }
    return {corrupted || garbled ? Result::CrcError : Result::Timeout, {}};
}

std::optional<std::uint8_t> Link::LateReply() {
    std::lock_guard lock(m_mutex);
    // What came since the last request is looked at now: the scan's last
    // address has no request after it to find its late reply.
    if (m_scanSilent && TakeLateInput(nullptr, nullptr)) {
        m_scanWait.Late();
    }
    if (m_lateAddresses.empty()) {
        return std::nullopt;
    }
    const std::uint8_t address = m_lateAddresses.front();
    m_lateAddresses.pop_front();
    return address;
}

bool Link::NoteLate(const wire::Reply& reply) {
    const auto it = std::find_if(m_silentRequests.begin(), m_silentRequests.end(),
                                 [&](const SilentRequest& r) { return wire::Answers(reply, r.request); });
    if (it == m_silentRequests.end()) {
        return false;
    }
    // Its lateness is known to within how soon it was looked for: a sample
    // of the tail that the allowance must now cover.
    m_scanWait.Replied(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - it->sent) -
                       FirstByteDue(m_config.speed));
    m_silentRequests.erase(it);
    if (m_lateAddresses.size() < kMaxLateAddresses &&
        std::find(m_lateAddresses.begin(), m_lateAddresses.end(), reply.address) == m_lateAddresses.end()) {
        m_lateAddresses.push_back(reply.address);
    }
    return true;
}

bool Link::TakeLateInput(TraceRecord* record, const wire::Request* current) {
    bool any = false;
    bool explained = false;
    // A reply come late is a reply refused, and the trace shows it with the
    // request it came before.
    const auto refused = [&](const wire::Reply& reply, std::span<const std::uint8_t> bytes) {
        ++m_echo;
        if (record != nullptr && current != nullptr) {
            record->Add(bytes, WhyRefused(reply, *current));
        }
        explained = NoteLate(reply) || explained;
    };
    wire::ReplyDecoder decoder;
    std::vector<std::uint8_t> chunk;
    // A reply still on its way is read to its end: cut off, its rest would
    // garble the next request's answer. Bounded, for a line that never
    // falls quiet is left to Discard.
    auto until = Clock::now();
    for (int i = 0; i < 64; ++i) {
        if (m_transport->Read(chunk, until) != Result::Ok || chunk.empty()) {
            break;
        }
        any = true;
        if (m_transport->Datagrams()) {
            if (const auto reply = wire::DecodeReply(chunk)) {
                refused(*reply, chunk);
            }
            continue;
        }
        decoder.Feed(chunk);
        while (const auto reply = decoder.Next()) {
            refused(*reply, wire::Encode(*reply));
        }
        if (const std::size_t pending = decoder.Pending(); pending > 0 && pending < wire::kReplySize) {
            until = Clock::now() +
                    std::chrono::microseconds(wire::LineTimeUs(wire::kReplySize - pending, m_config.speed)) +
                    std::chrono::microseconds(kLateRestSlackUs);
        }
    }
    return any && !explained;
}

// Over UDP the replies of modules that share an address come as separate
// datagrams: a scan waits briefly after the answer for another one.
Result Link::SecondAnswer(const wire::Request& request, TraceRecord* record) {
    const auto until = Clock::now() + std::chrono::microseconds(kScanDuplicateWaitUs);
    std::vector<std::uint8_t> chunk;
    for (;;) {
        if (Result r = m_transport->Read(chunk, until); r != Result::Ok) {
            return r;
        }
        if (chunk.empty()) {
            return Result::Ok;
        }
        const auto reply = wire::DecodeReply(chunk);
        const bool again = reply && wire::Answers(*reply, request);
        if (record != nullptr) {
            record->Add(chunk, again ? Verdict::Duplicate
                               : reply
                                   ? WhyRefused(*reply, request)
                                   : (chunk.size() == wire::kReplySize ? Verdict::Damaged : Verdict::Noise));
        }
        if (again) {
            return Result::Collision;
        }
        ++(reply ? m_echo : m_damaged);
    }
}

}  // namespace drv
