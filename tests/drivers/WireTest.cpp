// The frame codec against frames written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaseName.h"
#include "Wire.h"

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

template <std::size_t N>
std::vector<std::uint8_t> Bytes(const std::array<std::uint8_t, N>& a) {
    return {a.begin(), a.end()};
}

struct CrcCase {
    std::string hex;
    std::uint16_t crc;
};
void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.hex; }

class Crc16Test : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc16Test, MatchesPublishedValues) { EXPECT_EQ(wire::Crc16(FromHex(GetParam().hex)), GetParam().crc); }

// "123456789" is the standard check string of CRC-16/MODBUS; the others are
// Modbus RTU requests, checked with an independent bitwise implementation.
INSTANTIATE_TEST_SUITE_P(Known, Crc16Test,
                         ::testing::Values(CrcCase{"313233343536373839", 0x4B37}, CrcCase{"", 0xFFFF},
                                           CrcCase{"0103006B0003", 0x1774}, CrcCase{"110300000001", 0x9A86}));

struct RequestCase {
    wire::Request request;
    std::string hex;
};
void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.hex; }

class RequestFrameTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestFrameTest, EncodesToTheFrame) {
    EXPECT_EQ(Bytes(wire::Encode(GetParam().request)), FromHex(GetParam().hex));
}

TEST_P(RequestFrameTest, DecodesBackFromTheFrame) {
    const auto decoded = wire::DecodeRequest(FromHex(GetParam().hex));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, GetParam().request);
}

INSTANTIATE_TEST_SUITE_P(Frames, RequestFrameTest,
                         ::testing::Values(RequestCase{{1, 200, 0, 0x1234, {0, 0, 0, 0, 0}},
                                                       "A5 01 C8 00 34 12 00 00 00 00 00 05 9B"},
                                           RequestCase{{1, 1, 0, 0x80, {0, 232, 3, 0, 0}},
                                                       "A5 01 01 00 80 00 00 E8 03 00 00 0D 17"},
                                           RequestCase{{255, 103, 0, 0xBEEF, {0, 63, 63, 9, 9}},
                                                       "A5 FF 67 00 EF BE 00 3F 3F 09 09 51 75"}));

struct ReplyCase {
    wire::Reply reply;
    std::string hex;
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.hex; }

class ReplyFrameTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyFrameTest, EncodesToTheFrame) {
    EXPECT_EQ(Bytes(wire::Encode(GetParam().reply)), FromHex(GetParam().hex));
}

TEST_P(ReplyFrameTest, DecodesBackFromTheFrame) {
    const auto decoded = wire::DecodeReply(FromHex(GetParam().hex));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(Frames, ReplyFrameTest,
                         ::testing::Values(ReplyCase{{1, 200, 0, 0x1234, 0, {0, 'R', 'Q', '-', '9'}},
                                                     "5A 01 C8 00 34 12 00 00 52 51 2D 39 90 3D"},
                                           ReplyCase{{1, 77, 0, 3, 1, {0, 0, 0, 0, 0}},
                                                     "5A 01 4D 00 03 00 01 00 00 00 00 00 6A CC"}));

TEST(WireDecode, EveryFlippedBitIsRejected) {
    const auto frame = wire::Encode(wire::Reply{5, 102, 0, 33, 0, {0, 35, 35, 200, 200}});
    for (std::size_t byte = 0; byte < frame.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            auto damaged = frame;
            damaged[byte] = static_cast<std::uint8_t>(damaged[byte] ^ (1U << bit));
            EXPECT_FALSE(wire::DecodeReply(damaged).has_value()) << "byte " << byte << " bit " << bit;
        }
    }
}

TEST(WireDecode, WrongLengthIsRejected) {
    const auto frame = Bytes(wire::Encode(wire::Request{1, 0, 64, 1, {}}));
    auto longer = frame;
    longer.push_back(0);
    EXPECT_FALSE(wire::DecodeRequest(longer).has_value());
    EXPECT_FALSE(wire::DecodeRequest(std::span(frame).first(frame.size() - 1)).has_value());
    EXPECT_TRUE(wire::DecodeRequest(frame).has_value());
}

TEST(WireDecode, ARequestIsNotAReply) {
    auto frame = Bytes(wire::Encode(wire::Request{1, 0, 64, 1, {}}));
    frame.push_back(0);
    EXPECT_FALSE(wire::DecodeReply(frame).has_value());
}

struct AnswerCase {
    const char* name;
    wire::Reply reply;
    bool answers;
};
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class AnswersTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswersTest, EchoFieldsDecide) {
    const wire::Request request{4, 102, 0, 0x0309, {0, 33, 33, 0, 0}};
    EXPECT_EQ(wire::Answers(GetParam().reply, request), GetParam().answers);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnswersTest,
    ::testing::Values(AnswerCase{"Same", {4, 102, 0, 0x0309, 0, {0, 33, 33, 7, 7}}, true},
                      AnswerCase{"ErrorStatusStillAnswers", {4, 102, 0, 0x0309, 2, {0, 33, 33, 0, 0}}, true},
                      AnswerCase{"OtherAddress", {5, 102, 0, 0x0309, 0, {0, 33, 33, 7, 7}}, false},
                      AnswerCase{"OtherCommand", {4, 103, 0, 0x0309, 0, {0, 33, 33, 7, 7}}, false},
                      AnswerCase{"OtherIndex", {4, 102, 1, 0x0309, 0, {0, 33, 33, 7, 7}}, false},
                      AnswerCase{"LateTag", {4, 102, 0, 0x0308, 0, {0, 33, 33, 7, 7}}, false},
                      AnswerCase{"TagHighByteDiffers", {4, 102, 0, 0x0409, 0, {0, 33, 33, 7, 7}}, false},
                      AnswerCase{"OtherRegister", {4, 102, 0, 0x0309, 0, {0, 36, 36, 7, 7}}, false},
                      AnswerCase{"OneRegisterCopyDiffers", {4, 102, 0, 0x0309, 0, {0, 33, 36, 7, 7}}, false}),
    CaseName<AnswerCase>);

struct StreamCase {
    const char* name;
    std::string hex;  // the stream, fed in pieces of `piece` bytes
    std::size_t piece;
    std::size_t frames;     // valid frames expected
    std::size_t crcErrors;  // candidates rejected
    std::string drops;      // what a trace is told was dropped, and what is left
};
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class ReplyStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(ReplyStreamTest, FindsTheFramesInTheStream) {
    const auto stream = FromHex(GetParam().hex);
    wire::ReplyDecoder decoder;
    std::vector<wire::ReplyDecoder::Dropped> drops;
    decoder.LogDropsTo(&drops);
    std::size_t found = 0;
    for (std::size_t at = 0; at < stream.size(); at += GetParam().piece) {
        decoder.Feed(std::span(stream).subspan(at, std::min(GetParam().piece, stream.size() - at)));
        while (auto reply = decoder.Next()) {
            EXPECT_EQ(reply->tag, 7);
            EXPECT_EQ(reply->data[4], '9');
            ++found;
        }
    }
    EXPECT_EQ(found, GetParam().frames);
    EXPECT_EQ(decoder.CrcErrors(), GetParam().crcErrors);
    std::string log;
    for (const auto& d : drops) {
        log += d.damaged ? "crc " : "noise ";
        wire::AppendHex(log, d.bytes);
        log += "; ";
    }
    if (!decoder.Unlogged().empty()) {
        log += "rest ";
        wire::AppendHex(log, decoder.Unlogged());
    }
    EXPECT_EQ(log, GetParam().drops);
}

// The identification reply 5A01C80007000000 52512D39E13D in different company.
INSTANTIATE_TEST_SUITE_P(
    Streams, ReplyStreamTest,
    ::testing::Values(
        StreamCase{"Alone", "5A01C80007000000 52512D39E13D", 14, 1, 0, ""},
        StreamCase{"ByteByByte", "5A01C80007000000 52512D39E13D", 1, 1, 0, ""},
        StreamCase{"AfterNoise", "0011FF 5A01C80007000000 52512D39E13D", 5, 1, 0, "noise 00 11 FF; "},
        // A noise byte that looks like the start of a frame costs one rejected
        // candidate, and the real frame behind it is still found.
        StreamCase{"AfterFalseStart", "5A33 5A01C80007000000 52512D39E13D", 4, 1, 1,
                   "crc 5A 33 5A 01 C8 00 07 00 00 00 52 51 2D 39; "},
        StreamCase{"Twice", "5A01C80007000000 52512D39E13D 5A01C80007000000 52512D39E13D", 7, 2, 0, ""},
        StreamCase{"Corrupted", "5A01C80007000000 52512D38E13D", 14, 0, 1,
                   "crc 5A 01 C8 00 07 00 00 00 52 51 2D 38 E1 3D; "},
        // The false start inside the damaged frame is not shown again.
        StreamCase{"CorruptedWithInnerSync", "5A01C8005A000000 52512D38E13D 778899AA", 18, 0, 2,
                   "crc 5A 01 C8 00 5A 00 00 00 52 51 2D 38 E1 3D; noise 77 88 99 AA; "},
        StreamCase{"CorruptedThenGood", "5A01C80007000000 52512D38E13D 5A01C80007000000 52512D39E13D", 28, 1,
                   1, "crc 5A 01 C8 00 07 00 00 00 52 51 2D 38 E1 3D; "},
        StreamCase{"Truncated", "5A01C80007000000 52512D39", 3, 0, 0,
                   "rest 5A 01 C8 00 07 00 00 00 52 51 2D 39"}),
    CaseName<StreamCase>);

TEST(ReplyStream, ClearForgetsAPartialFrame) {
    const auto frame = FromHex("5A01C80007000000 52512D39E13D");
    wire::ReplyDecoder decoder;
    decoder.Feed(std::span(frame).first(6));
    EXPECT_EQ(decoder.Pending(), 6U);
    decoder.Clear();
    decoder.Feed(std::span(frame).subspan(6));
    EXPECT_FALSE(decoder.Next().has_value());
}

struct LineTimeCase {
    std::size_t bytes;
    std::uint32_t baud;
    std::uint64_t us;
};
void PrintTo(const LineTimeCase& c, std::ostream* os) { *os << c.bytes << " bytes at " << c.baud << " Bd"; }

class LineTimeTest : public ::testing::TestWithParam<LineTimeCase> {};

TEST_P(LineTimeTest, TenBitsPerByteRoundedUp) {
    EXPECT_EQ(wire::LineTimeUs(GetParam().bytes, GetParam().baud), GetParam().us);
}

INSTANTIATE_TEST_SUITE_P(Speeds, LineTimeTest,
                         ::testing::Values(LineTimeCase{27, 600, 450000}, LineTimeCase{27, 9600, 28125},
                                           LineTimeCase{27, 115200, 2344}, LineTimeCase{12, 9600, 12500},
                                           LineTimeCase{1, 0, 0}));

TEST(SpeedIndex, BothDirectionsOfTheTable) {
    for (std::size_t i = 0; i < wire::kSpeeds.size(); ++i) {
        EXPECT_EQ(wire::SpeedIndex(wire::kSpeeds[i]), i);
    }
    EXPECT_FALSE(wire::SpeedIndex(14400).has_value());
    EXPECT_FALSE(wire::SpeedIndex(0).has_value());
}

}  // namespace
