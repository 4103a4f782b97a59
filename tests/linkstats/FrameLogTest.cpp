// The frames of a trace line as the traffic window lists them: which frames,
// in which order, decoded where they are whole frames, and the ring that
// keeps only the newest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <span>
#include <string>

#include "Wire.h"
#include "link/Txxx318.h"
#include "linkstats/FrameLog.h"

namespace {

const wire::Request kRequest{1, 102, 0, 0x73FE, {0, 62, 62, 0, 0}};

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    wire::AppendHex(text, bytes);
    return text;
}

std::string Reply(uint8_t address, uint8_t status, bool damage = false) {
    wire::ReplyFrame frame = wire::Encode(wire::Reply{address, 102, 0, 0x73FE, status, {0, 62, 62, 4, 0}});
    if (damage) frame[7] ^= 0x40;
    return Hex(frame);
}

std::string SendLine(const std::string& received, const std::string& tail) {
    return "2026-12-08 10:01:02.000123 77 TRQ1318 03180001 Send " + Hex(wire::Encode(kRequest)) + received +
           " | " + tail;
}

struct Expected {
    bool sent;
    std::optional<uint8_t> address;
    bool decoded;
    const char* verdict;
};

struct FrameCase {
    const char* name;
    std::string line;
    std::vector<Expected> frames;
};
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class TraceFrames : public testing::TestWithParam<FrameCase> {};

TEST_P(TraceFrames, AreListedInLineOrder) {
    const FrameCase& c = GetParam();
    std::vector<TFrame> frames;
    FramesOfTraceLine(c.line, frames);
    ASSERT_EQ(frames.size(), c.frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].sent, c.frames[i].sent);
        EXPECT_EQ(frames[i].address, c.frames[i].address);
        EXPECT_EQ(frames[i].decoded, c.frames[i].decoded);
        EXPECT_EQ(frames[i].verdict, c.frames[i].verdict);
        EXPECT_EQ(frames[i].kind, kKindLan);
        // Every frame of a whole request still filters by its command.
        if (frames[i].address) {
            EXPECT_EQ(frames[i].command, 102);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    LinkStats, TraceFrames,
    testing::Values(
        FrameCase{"Taken",
                  SendLine(" | " + Reply(1, 0) + " taken", "result 0 | 4023 us"),
                  {{true, 1, true, ""}, {false, 1, true, "taken"}}},
        FrameCase{"AnotherModuleThenTimeout",
                  SendLine(" | " + Reply(2, 0) + " ignored address",
                           "result 11 | 64247 us | refused damaged 0 echo 1"),
                  {{true, 1, true, ""}, {false, 2, true, "ignored address"}}},
        // A damaged frame is no reply: it is filed under the request's address.
        FrameCase{
            "DamagedThenNoise",
            SendLine(" | " + Reply(5, 0, true) + " ignored crc | 78 13 ignored noise",
                     "result 12 | 900 us | refused damaged 1 echo 0"),
            {{true, 1, true, ""}, {false, 1, false, "ignored crc"}, {false, 1, false, "ignored noise"}}},
        FrameCase{"Unsent",
                  "2026-12-08 10:01:02.000123 77 TRQ1318 03180001 Send - | result 2 | 3 us",
                  {{true, std::nullopt, false, ""}}},
        FrameCase{
            "InitHasNone",
            "2026-12-08 10:01:02.000123 77 TRQ1318 03180001 Init host 127.0.0.1 port 3180 timeout 100 | "
            "result 0 | 136 us",
            {}},
        FrameCase{
            "ForeignHasNone", "2026-12-08 10:01:02.000123 77 TRQ1318 03180001 Send A5 01 XY | result 0", {}}),
    [](const auto& p) { return std::string(p.param.name); });

struct RingCase {
    const char* name;
    std::size_t capacity;
    uint64_t pushed;
};
void PrintTo(const RingCase& c, std::ostream* os) { *os << c.name; }

class FrameRing : public testing::TestWithParam<RingCase> {};

TEST_P(FrameRing, KeepsTheNewestInOrder) {
    const RingCase& c = GetParam();
    TFrameRing ring(c.capacity);
    for (uint64_t n = 0; n < c.pushed; ++n) {
        TFrame frame;
        frame.result = static_cast<uint32_t>(n);
        ring.Push(std::move(frame));
    }
    const uint64_t kept = std::min<uint64_t>(c.capacity, c.pushed);
    EXPECT_EQ(ring.End(), c.pushed);
    EXPECT_EQ(ring.First(), c.pushed - kept);
    EXPECT_EQ(ring.At(ring.First() - 1), nullptr);
    EXPECT_EQ(ring.At(ring.End()), nullptr);
    for (uint64_t n = ring.First(); n < ring.End(); ++n) {
        ASSERT_NE(ring.At(n), nullptr);
        EXPECT_EQ(ring.At(n)->result, n);
    }
}

INSTANTIATE_TEST_SUITE_P(LinkStats, FrameRing,
                         testing::Values(RingCase{"NotFull", 5, 3}, RingCase{"JustFull", 4, 4},
                                         RingCase{"WrappedTwice", 3, 8}),
                         [](const auto& p) { return std::string(p.param.name); });

struct TraceVariableCase {
    const char* name;
    const char* before;  // nullptr: unset
    const char* after;
};
void PrintTo(const TraceVariableCase& c, std::ostream* os) { *os << c.name; }

class TraceVariable : public testing::TestWithParam<TraceVariableCase> {};

// A log points the drivers at its private file while it lives; a later
// log must not take that file, gone by then, for a trace the user asked for.
TEST_P(TraceVariable, IsGivenBackWhenTheLogEnds) {
    const TraceVariableCase& c = GetParam();
    if (c.before != nullptr) {
        SetTraceFile(c.before);
    } else {
        ::unsetenv("RQ905_TRACE");
    }
    {
        const TTrafficLog log;
        EXPECT_NE(std::string(std::getenv("RQ905_TRACE")), c.after);
    }
    EXPECT_EQ(std::string(std::getenv("RQ905_TRACE")), c.after);
}

INSTANTIATE_TEST_SUITE_P(LinkStats, TraceVariable,
                         testing::Values(TraceVariableCase{"Unset", nullptr, ""},
                                         TraceVariableCase{"Empty", "", ""},
                                         TraceVariableCase{"UsersFile", "/dev/null", "/dev/null"}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
