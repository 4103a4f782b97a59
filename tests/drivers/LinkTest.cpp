// The transaction logic over a scripted transport: which replies are taken,
// which are ignored, and what each failure turns into.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "CaseName.h"
#include "Link.h"

namespace {

using drv::Result;
using Bytes = std::vector<std::uint8_t>;

// Builds what arrives on the line from the request that was sent.
using Script = std::function<std::vector<Bytes>(const wire::Request&)>;

// A wait that ends no earlier than its deadline, as the drivers' waits do:
// MinGW's sleep_until sleeps whole milliseconds once and may wake short.
void SleepUntil(drv::Clock::time_point until) {
    while (drv::Clock::now() < until) std::this_thread::sleep_until(until);
}

class ScriptedTransport final : public drv::Transport {
  public:
    ScriptedTransport(Script script, bool datagrams) : m_script(std::move(script)), m_datagrams(datagrams) {}

    drv::Result SetSpeed(std::uint32_t baud) override {
        speed = baud;
        return Result::Ok;
    }
    drv::Result Discard() override {
        ++discards;
        m_discardedInput = inputWaiting;
        return Result::Ok;
    }
    drv::Result Write(std::span<const std::uint8_t> bytes, drv::Clock::time_point) override {
        writtenAt = drv::Clock::now();
        const auto request = wire::DecodeRequest(bytes);
        EXPECT_TRUE(request.has_value());
        if (request) {
            sent.push_back(*request);
            for (auto& chunk : m_script(*request)) {
                m_incoming.push_back(std::move(chunk));
            }
        }
        return Result::Ok;
    }
    drv::Result Read(std::vector<std::uint8_t>& chunk, drv::Clock::time_point deadline) override {
        chunk.clear();
        if (!m_incoming.empty() && lateWakeUps > 0) {
            // Woken only at the deadline, the reply come meanwhile.
            --lateWakeUps;
            SleepUntil(deadline);
        } else if (!m_incoming.empty()) {
            chunk = std::move(m_incoming.front());
            m_incoming.pop_front();
        } else {
            waited = std::chrono::duration_cast<std::chrono::microseconds>(deadline - writtenAt);
            SleepUntil(deadline + oversleep);
        }
        return Result::Ok;
    }
    bool Datagrams() const override { return m_datagrams; }
    // Input that comes with no request: a reply late for an earlier one.
    void Arrive(Bytes bytes) { m_incoming.push_back(std::move(bytes)); }

    std::vector<wire::Request> sent;
    int discards = 0;
    std::uint32_t speed = 0;
    bool inputWaiting = false;               // what Discard finds
    int lateWakeUps = 0;                     // Reads that see nothing though input is there
    std::chrono::microseconds oversleep{0};  // how late a wait in silence wakes
    drv::Clock::time_point writtenAt;
    std::chrono::microseconds waited{0};  // the last wait in silence, from the write

  private:
    Script m_script;
    bool m_datagrams;
    std::deque<Bytes> m_incoming;
};

Bytes Frame(const wire::Reply& reply) {
    const auto f = wire::Encode(reply);
    return {f.begin(), f.end()};
}

// Echoes the register number, as the module does for register commands.
wire::Reply AnswerTo(const wire::Request& r, std::uint8_t status = 0) {
    return {r.address, r.command, r.index, r.tag, status, {0x10, r.data[1], r.data[2], 0x13, 0x14}};
}

Bytes Join(std::vector<Bytes> parts) {
    Bytes all;
    for (auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

struct LinkCase {
    const char* name;
    bool datagrams;
    Script script;
    Result result;
    std::uint32_t mode = 1;
    int lateWakeUps = 0;
};
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class LinkTransactTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkTransactTest, TakesOnlyTheAnswer) {
    auto transport = std::make_unique<ScriptedTransport>(GetParam().script, GetParam().datagrams);
    ScriptedTransport* t = transport.get();
    t->lateWakeUps = GetParam().lateWakeUps;
    // A short wait keeps the silent cases quick.
    drv::Link link(std::move(transport), GetParam().datagrams, GetParam().datagrams ? 5 : 0);
    ASSERT_EQ(link.Configure({115200, 2, GetParam().mode}), Result::Ok);

    const drv::Answer answer = link.Transact({7, 102, 0, 0, 33, 33, 0, 0});
    EXPECT_EQ(answer.result, GetParam().result);
    if (answer.result == Result::Ok) {
        EXPECT_EQ(answer.data, (wire::Data{0x10, 33, 33, 0x13, 0x14}));
    } else {
        EXPECT_EQ(answer.data, wire::Data{});
    }
    ASSERT_EQ(t->sent.size(), 1U);
    EXPECT_EQ(t->sent[0].address, 7);
    EXPECT_EQ(t->sent[0].command, 102);
    EXPECT_EQ(t->sent[0].data, (wire::Data{0, 33, 33, 0, 0}));
    EXPECT_EQ(t->discards, 1);
}

template <typename Field>
wire::Reply Changed(wire::Reply reply, Field wire::Reply::*field, int delta) {
    reply.*field = static_cast<Field>(reply.*field + delta);
    return reply;
}

// The reply a request for another register got, late, whose tag came round.
wire::Reply OtherRegister(const wire::Request& r) {
    wire::Reply reply = AnswerTo(r);
    reply.data = {0, 36, 36, 0x99, 0x99};
    return reply;
}

const LinkCase kCases[] = {
    {"Clean", false, [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r))}; },
     Result::Ok},
    {"ByteByByte", false,
     [](const wire::Request& r) {
         std::vector<Bytes> bytes;
         for (auto b : Frame(AnswerTo(r))) {
             bytes.push_back({b});
         }
         return bytes;
     },
     Result::Ok},
    {"LateReplyFirst", false,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(Changed(AnswerTo(r), &wire::Reply::tag, -1)), Frame(AnswerTo(r))};
     },
     Result::Ok},
    {"OtherCommandFirst", false,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(Changed(AnswerTo(r), &wire::Reply::command, 1)), Frame(AnswerTo(r))};
     },
     Result::Ok},
    {"LateRegisterSameTagFirst", false,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(OtherRegister(r)), Frame(AnswerTo(r))};
     },
     Result::Ok},
    {"NoiseWithFalseStart", false,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Join({{0x00, 0x5A, 0x01, 0xC8, 0xFF}, Frame(AnswerTo(r))})};
     },
     Result::Ok},
    {"ForeignOnly", false,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(Changed(AnswerTo(r), &wire::Reply::address, 1))};
     },
     Result::ForeignAddress},
    {"ForeignThenOwn", false,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(Changed(AnswerTo(r), &wire::Reply::address, 1)), Frame(AnswerTo(r))};
     },
     Result::Ok},
    {"Corrupted", false,
     [](const wire::Request& r) {
         auto f = Frame(AnswerTo(r));
         f[8] ^= 0x04;
         return std::vector<Bytes>{f};
     },
     Result::CrcError},
    {"Silent", false, [](const wire::Request&) { return std::vector<Bytes>{}; }, Result::Timeout},
    {"UnknownCommand", false,
     [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r, 1))}; },
     Result::ModuleUnknownCommand},
    {"UnknownRegister", false,
     [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r, 2))}; },
     Result::ModuleUnknownIndex},
    {"BadData", false, [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r, 3))}; },
     Result::ModuleBadData},
    {"OtherModuleStatus", false,
     [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r, 9))}; }, Result::ModuleFailure},
    {"DatagramClean", true, [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r))}; },
     Result::Ok},
    {"DatagramNoiseFirst", true,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Bytes{1, 2, 3}, Frame(AnswerTo(r))};
     },
     Result::Ok},
    {"DatagramLateFirst", true,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(Changed(AnswerTo(r), &wire::Reply::tag, 1)), Frame(AnswerTo(r))};
     },
     Result::Ok},
    {"DatagramCorrupted", true,
     [](const wire::Request& r) {
         auto f = Frame(AnswerTo(r));
         f[0] ^= 0x80;
         return std::vector<Bytes>{f, Frame(AnswerTo(r))};
     },
     Result::CrcError},
    {"DatagramTwoFramesInOne", true,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Join({Frame(AnswerTo(r)), Frame(AnswerTo(r))})};
     },
     Result::Timeout},
    {"DatagramForeign", true,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(Changed(AnswerTo(r), &wire::Reply::address, 1))};
     },
     Result::ForeignAddress},
    {"DatagramSilent", true, [](const wire::Request&) { return std::vector<Bytes>{}; }, Result::Timeout},
    // A scan tells garbled replies from silence, and a second answer from one.
    {"ScanGarbled", false,
     [](const wire::Request&) {
         return std::vector<Bytes>{Bytes{0x52, 0x01, 0xC0, 0x00, 0x3D, 0x12}};
     },
     Result::CrcError, 4},
    {"ScanLateReplyOnly", false,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(Changed(AnswerTo(r), &wire::Reply::tag, 1))};
     },
     Result::Timeout, 4},
    {"ScanSilent", false, [](const wire::Request&) { return std::vector<Bytes>{}; }, Result::Timeout, 4},
    {"ScanClean", false, [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r))}; },
     Result::Ok, 4},
    {"ScanDatagramTwice", true,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(AnswerTo(r)), Frame(AnswerTo(r))};
     },
     Result::Collision, 4},
    {"ScanDatagramThenOthers", true,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(AnswerTo(r)), Frame(Changed(AnswerTo(r), &wire::Reply::tag, 1)),
                                   Bytes{1, 2, 3}};
     },
     Result::Ok, 4},
    // A scan looks once more before it tells silence; other modes do not.
    {"ScanReplyAfterALateWakeUp", false,
     [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r))}; }, Result::Ok, 4, 1},
    {"LateWakeUpOutsideAScan", false,
     [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r))}; }, Result::Timeout, 1, 1},
    {"DatagramTwiceOutsideAScan", true,
     [](const wire::Request& r) {
         return std::vector<Bytes>{Frame(AnswerTo(r)), Frame(AnswerTo(r))};
     },
     Result::Ok},
};

INSTANTIATE_TEST_SUITE_P(Cases, LinkTransactTest, ::testing::ValuesIn(kCases), CaseName<LinkCase>);

TEST(Link, TagsAreDrawnNotCounted) {
    auto transport = std::make_unique<ScriptedTransport>(
        [](const wire::Request& r) { return std::vector<Bytes>{Frame(AnswerTo(r))}; }, false);
    ScriptedTransport* t = transport.get();
    drv::Link link(std::move(transport), false, 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(link.Transact({1, 200, 0, 0, 0, 0, 0, 0}).result, Result::Ok);
    }
    ASSERT_EQ(t->sent.size(), 6U);
    std::set<std::uint16_t> steps;
    bool highByteUsed = false;
    for (std::size_t i = 0; i + 1 < t->sent.size(); ++i) {
        EXPECT_NE(t->sent[i].tag, t->sent[i + 1].tag);
        steps.insert(static_cast<std::uint16_t>(t->sent[i + 1].tag - t->sent[i].tag));
        highByteUsed = highByteUsed || t->sent[i].tag > 0xFF;
    }
    // A counter steps evenly and a one-byte tag stays below 256; random
    // tags do either only by a chance below 2^-48.
    EXPECT_GT(steps.size(), 1U);
    EXPECT_TRUE(highByteUsed);
}

TEST(Link, RefusedRepliesAreCounted) {
    auto transport = std::make_unique<ScriptedTransport>(
        [](const wire::Request& r) {
            return std::vector<Bytes>{Bytes{1, 2, 3}, Frame(Changed(AnswerTo(r), &wire::Reply::tag, 1)),
                                      Frame(OtherRegister(r)), Frame(AnswerTo(r))};
        },
        true);
    drv::Link link(std::move(transport), true, 5);
    EXPECT_EQ(link.Transact({7, 102, 0, 0, 33, 33, 0, 0}).result, Result::Ok);
    EXPECT_EQ(link.Transact({7, 102, 0, 0, 33, 33, 0, 0}).result, Result::Ok);
    EXPECT_EQ(link.RefusedReplies().damaged, 2U);
    EXPECT_EQ(link.RefusedReplies().echo, 4U);
}

TEST(Link, CellsAboveAByteAreRefusedUnsent) {
    auto transport =
        std::make_unique<ScriptedTransport>([](const wire::Request&) { return std::vector<Bytes>{}; }, false);
    ScriptedTransport* t = transport.get();
    drv::Link link(std::move(transport), false, 0);
    EXPECT_EQ(link.Transact({256, 0, 64, 0, 0, 0, 0, 0}).result, Result::BadParameter);
    EXPECT_EQ(link.Transact({1, 0, 64, 0, 0, 0, 0, 0x100}).result, Result::BadParameter);
    EXPECT_TRUE(t->sent.empty());
}

// Scan mode on a byte stream: the wait for a reply's first byte comes down
// from the configured allowance as replies come at once, and widens again
// when input is found waiting after a silent address (its reply, late).
TEST(Link, ScanWaitFollowsTheReplies) {
    auto transport = std::make_unique<ScriptedTransport>(
        [](const wire::Request& r) {
            return r.address < 100 ? std::vector<Bytes>{Frame(AnswerTo(r))} : std::vector<Bytes>{};
        },
        false);
    ScriptedTransport* t = transport.get();
    drv::Link link(std::move(transport), false, 0);
    // Only the late wake-up below may count, not this machine's own.
    constexpr std::chrono::milliseconds kBusy{200};
    link.SetBusyWakeUp(kBusy);
    ASSERT_EQ(link.Configure({115200, 50, 4}), Result::Ok);
    const auto due = static_cast<std::int64_t>(wire::LineTimeUs(wire::kRequestSize + 1, 115200));
    const auto silentWait = [&] {
        EXPECT_EQ(link.Transact({200, 200, 0, 0, 0, 0, 0, 0}).result, Result::Timeout);
        return static_cast<double>(t->waited.count() - due);
    };
    EXPECT_NEAR(silentWait(), 5000, 300);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(link.Transact({1, 200, 0, 0, 0, 0, 0, 0}).result, Result::Ok);
    EXPECT_NEAR(silentWait(), 2000, 300);
    // The same configuration again keeps what was learnt.
    ASSERT_EQ(link.Configure({115200, 50, 4}), Result::Ok);
    EXPECT_NEAR(silentWait(), 2000, 300);
    t->inputWaiting = true;
    EXPECT_EQ(link.Transact({1, 200, 0, 0, 0, 0, 0, 0}).result, Result::Ok);
    t->inputWaiting = false;
    EXPECT_NEAR(silentWait(), 5000, 300);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(link.Transact({1, 200, 0, 0, 0, 0, 0, 0}).result, Result::Ok);
    EXPECT_NEAR(silentWait(), 2000, 300);
    // A wait in silence that ends late finds the machine busy.
    t->oversleep = kBusy + std::chrono::microseconds(4000);
    silentWait();
    t->oversleep = std::chrono::microseconds(0);
    EXPECT_NEAR(silentWait(), 5000, 300);
    // Another configuration starts again from its own value.
    ASSERT_EQ(link.Configure({115200, 30, 4}), Result::Ok);
    EXPECT_NEAR(silentWait(), 3000, 300);
}

// A reply that comes after its request was told silent: in a scan the
// driver tells that address once, whether the reply comes before the next
// request or during it, and the next request's own silence stays silence.
struct LateCase {
    const char* name;
    bool datagrams;
    std::uint32_t mode;
    bool duringNext;  // else found by LateReply itself, before anything else
    bool ownTag;      // a reply with another tag is no late reply
    std::optional<std::uint8_t> told;
};
void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }

class LinkLateTest : public ::testing::TestWithParam<LateCase> {};

TEST_P(LinkLateTest, TellsTheAddressOnce) {
    const LateCase& c = GetParam();
    std::optional<wire::Request> silent;
    auto transport = std::make_unique<ScriptedTransport>(
        [&](const wire::Request& r) {
            if (r.address == 7) silent = r;
            return std::vector<Bytes>{};
        },
        c.datagrams);
    ScriptedTransport* t = transport.get();
    drv::Link link(std::move(transport), c.datagrams, 1);
    ASSERT_EQ(link.Configure({115200, 28, c.mode}), Result::Ok);
    ASSERT_EQ(link.Transact({7, 200, 0, 0, 0, 0, 0, 0}).result, Result::Timeout);
    ASSERT_TRUE(silent.has_value());
    wire::Reply late = AnswerTo(*silent);
    if (!c.ownTag) late.tag = static_cast<std::uint16_t>(late.tag + 1);
    t->Arrive(Frame(late));
    if (c.duringNext) {
        EXPECT_EQ(link.Transact({8, 200, 0, 0, 0, 0, 0, 0}).result, Result::Timeout);
    }
    EXPECT_EQ(link.LateReply(), c.told);
    EXPECT_EQ(link.LateReply(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkLateTest,
                         ::testing::Values(LateCase{"StreamDuringTheNextRequest", false, 4, true, true, 7},
                                           LateCase{"StreamBeforeAnythingElse", false, 4, false, true, 7},
                                           LateCase{"DatagramDuringTheNextRequest", true, 4, true, true, 7},
                                           LateCase{"AnotherTagIsNoLateReply", false, 4, true, false,
                                                    std::nullopt},
                                           LateCase{"OnlyInAScan", false, 1, true, true, std::nullopt}),
                         CaseName<LateCase>);

struct ConfigCase {
    drv::LineConfig config;
    Result result;
};
void PrintTo(const ConfigCase& c, std::ostream* os) {
    *os << c.config.speed << " Bd allowance " << c.config.allowanceMs << " mode " << c.config.mode;
}

class LinkConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(LinkConfigTest, ValidatesAndApplies) {
    auto transport =
        std::make_unique<ScriptedTransport>([](const wire::Request&) { return std::vector<Bytes>{}; }, false);
    ScriptedTransport* t = transport.get();
    drv::Link link(std::move(transport), false, 0);
    const drv::LineConfig before = link.Config();
    EXPECT_EQ(link.Configure(GetParam().config), GetParam().result);
    const drv::LineConfig after = link.Config();
    const drv::LineConfig expected = GetParam().result == Result::Ok ? GetParam().config : before;
    EXPECT_EQ(after.speed, expected.speed);
    EXPECT_EQ(after.allowanceMs, expected.allowanceMs);
    EXPECT_EQ(after.mode, expected.mode);
    EXPECT_EQ(t->speed, GetParam().result == Result::Ok ? GetParam().config.speed : 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LinkConfigTest,
    ::testing::Values(ConfigCase{{600, 100, 2}, Result::Ok}, ConfigCase{{115200, 5, 2}, Result::Ok},
                      ConfigCase{{9600, 13, 1}, Result::Ok}, ConfigCase{{9600, 13, 3}, Result::Ok},
                      ConfigCase{{14400, 13, 2}, Result::BadSpeed}, ConfigCase{{0, 13, 2}, Result::BadSpeed},
                      ConfigCase{{9600, 0, 2}, Result::BadParameter},
                      ConfigCase{{9600, 1001, 2}, Result::BadParameter},
                      ConfigCase{{9600, 13, 0}, Result::BadMode}, ConfigCase{{9600, 25, 4}, Result::Ok},
                      ConfigCase{{9600, 13, 5}, Result::BadMode}));

struct TimeoutCase {
    drv::LineConfig config;
    std::uint32_t udpTimeoutMs;
    bool udp;
    std::int64_t us;
};
void PrintTo(const TimeoutCase& c, std::ostream* os) {
    *os << (c.udp ? "udp " : "serial ") << c.config.speed << " Bd mode " << c.config.mode << " timeout "
        << c.udpTimeoutMs;
}

class ReplyTimeoutTest : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(ReplyTimeoutTest, LineTimePlusAllowance) {
    EXPECT_EQ(drv::ReplyTimeout(GetParam().config, GetParam().udpTimeoutMs, GetParam().udp).count(),
              GetParam().us);
}

// 27 bytes of request and reply at 9600 Bd take 28125 us, at 115200 Bd 2344 us,
// at 600 Bd 450000 us.
INSTANTIATE_TEST_SUITE_P(Table, ReplyTimeoutTest,
                         ::testing::Values(TimeoutCase{{9600, 13, 2}, 0, false, 28125 + 36000},
                                           TimeoutCase{{9600, 13, 1}, 0, false, 28125 + 13000},
                                           TimeoutCase{{9600, 13, 3}, 0, false, 28125 + 102000},
                                           TimeoutCase{{115200, 5, 2}, 0, false, 2344 + 20000},
                                           TimeoutCase{{600, 100, 2}, 0, false, 450000 + 210000},
                                           TimeoutCase{{9600, 13, 2}, 0, true, 28125 + 56000},
                                           TimeoutCase{{9600, 13, 2}, 250, true, 250000},
                                           TimeoutCase{{9600, 13, 2}, 250, false, 28125 + 36000},
                                           // Scan: request and one byte (14584 us), tenths of a ms.
                                           TimeoutCase{{9600, 25, 4}, 0, false, 14584 + 2500},
                                           TimeoutCase{{115200, 25, 4}, 0, false, 1216 + 2500},
                                           TimeoutCase{{9600, 25, 4}, 0, true, 28125 + 2500 + 20000},
                                           TimeoutCase{{9600, 25, 4}, 250, true, 250000}));

class MemorySink final : public drv::TraceSink {
  public:
    void Append(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

struct TraceCase {
    const char* name;
    bool datagrams;
    std::vector<const char*> verdicts;  // in the order the Send line must show them
};
void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

class LinkTraceTest : public ::testing::TestWithParam<TraceCase> {};

// Everything that can come before the answer, once each; a datagram link
// stops at a damaged reply, so it gets none.
TEST_P(LinkTraceTest, SendLineMarksEveryFrame) {
    const bool datagrams = GetParam().datagrams;
    auto transport = std::make_unique<ScriptedTransport>(
        [datagrams](const wire::Request& r) {
            auto damaged = Frame(AnswerTo(r));
            damaged[8] ^= 0x04;
            std::vector<Bytes> chunks{Bytes{0x00, 0x11}};
            if (!datagrams) {
                chunks.push_back(damaged);
            }
            for (auto reply :
                 {Changed(AnswerTo(r), &wire::Reply::tag, 1), Changed(AnswerTo(r), &wire::Reply::address, 1),
                  OtherRegister(r), AnswerTo(r)}) {
                chunks.push_back(Frame(reply));
            }
            return chunks;
        },
        datagrams);
    auto sink = std::make_shared<MemorySink>();
    drv::Link link(std::move(transport), datagrams, datagrams ? 5 : 0);
    link.SetTrace(std::make_unique<drv::Tracer>(sink, "TEST318"));
    ASSERT_EQ(link.Configure({9600, 13, 2}), Result::Ok);
    EXPECT_EQ(link.Transact({7, 102, 0, 0, 33, 33, 0, 0}).result, Result::Ok);
    link.Closed();

    ASSERT_EQ(sink->lines.size(), 3U);
    EXPECT_NE(sink->lines[0].find(" TEST318 "), std::string::npos);
    EXPECT_NE(sink->lines[0].find("SetConfig speed 9600 value 13 mode 2 | result 0\n"), std::string::npos);
    const std::string& send = sink->lines[1];
    EXPECT_NE(send.find("Send A5 07 66 00 "), std::string::npos) << send;
    std::size_t at = 0;
    for (const char* verdict : GetParam().verdicts) {
        at = send.find(std::string(" ") + verdict + " |", at);
        ASSERT_NE(at, std::string::npos) << verdict << " in " << send;
    }
    EXPECT_NE(send.find("| result 0 |"), std::string::npos) << send;
    // A false sync byte inside the damaged frame may count as one more.
    const drv::Refused refused = link.RefusedReplies();
    EXPECT_GE(refused.damaged, 1U);
    EXPECT_EQ(refused.echo, 3U);
    const std::string totals =
        "refused damaged " + std::to_string(refused.damaged) + " echo " + std::to_string(refused.echo);
    EXPECT_NE(send.find(totals + "\n"), std::string::npos) << send;
    EXPECT_NE(sink->lines[2].find("Done " + totals + " | result 0\n"), std::string::npos) << sink->lines[2];
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkTraceTest,
                         ::testing::Values(TraceCase{"Stream",
                                                     false,
                                                     {"ignored noise", "ignored crc", "ignored tag",
                                                      "ignored address", "ignored echo", "taken"}},
                                           TraceCase{"Datagrams",
                                                     true,
                                                     {"ignored noise", "ignored tag", "ignored address",
                                                      "ignored echo", "taken"}}),
                         CaseName<TraceCase>);

// A late reply found before the next request is a reply refused, on that
// request's trace line and in the counts, not bytes thrown away unseen.
TEST(Link, LateReplyBeforeTheNextRequestIsTraced) {
    std::optional<wire::Request> silent;
    auto transport = std::make_unique<ScriptedTransport>(
        [&](const wire::Request& r) {
            if (r.address == 7) silent = r;
            return std::vector<Bytes>{};
        },
        false);
    ScriptedTransport* t = transport.get();
    auto sink = std::make_shared<MemorySink>();
    drv::Link link(std::move(transport), false, 0);
    link.SetTrace(std::make_unique<drv::Tracer>(sink, "TEST318"));
    ASSERT_EQ(link.Configure({115200, 28, 4}), Result::Ok);
    ASSERT_EQ(link.Transact({7, 200, 0, 0, 0, 0, 0, 0}).result, Result::Timeout);
    ASSERT_TRUE(silent.has_value());
    t->Arrive(Frame(AnswerTo(*silent)));
    EXPECT_EQ(link.Transact({8, 200, 0, 0, 0, 0, 0, 0}).result, Result::Timeout);
    EXPECT_EQ(link.RefusedReplies().echo, 1U);
    ASSERT_EQ(sink->lines.size(), 3U);
    EXPECT_NE(sink->lines[2].find(" ignored address | result 11 "), std::string::npos) << sink->lines[2];
    EXPECT_EQ(link.LateReply(), std::optional<std::uint8_t>(7));
}

}  // namespace
