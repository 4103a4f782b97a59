#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Frame.h"

namespace {

struct Buffer {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
};

bool Take(void* context, std::uint8_t* data, std::size_t n) {
    auto& b = *static_cast<Buffer*>(context);
    if (b.bytes.size() - b.at < n) {
        return false;
    }
    std::memcpy(data, b.bytes.data() + b.at, n);
    b.at += n;
    return true;
}

bool Put(void* context, const std::uint8_t* data, std::size_t n) {
    static_cast<Buffer*>(context)->bytes.insert(static_cast<Buffer*>(context)->bytes.end(), data, data + n);
    return true;
}

TEST(Frame, RoundTripIsLittleEndian) {
    drvhost::Frame out;
    out.tag = 0x01020304;
    out.Push(0xA1B2C3D4);
    out.Push(0);
    Buffer b;
    ASSERT_TRUE(drvhost::WriteFrame(Put, &b, out));
    const std::vector<std::uint8_t> expected = {4, 3, 2, 1, 2, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1, 0, 0, 0, 0};
    EXPECT_EQ(b.bytes, expected);
    drvhost::Frame in;
    ASSERT_TRUE(drvhost::ReadFrame(Take, &b, in));
    EXPECT_EQ(in.tag, out.tag);
    ASSERT_EQ(in.count, 2u);
    EXPECT_EQ(in.words[0], 0xA1B2C3D4u);
}

TEST(Frame, RefusesOversizedOrCutFrames) {
    struct Case {
        std::uint32_t count;
        std::size_t wordsPresent;
        bool ok;
    };
    const std::uint32_t max = drvhost::kMaxWords;
    for (const Case c :
         {Case{max, max, true}, Case{max + 1, max + 1, false}, Case{3, 2, false}, Case{0, 0, true}}) {
        Buffer b;
        b.bytes.resize(drvhost::kHeaderBytes + 4 * c.wordsPresent);
        std::memcpy(b.bytes.data() + 4, &c.count, 4);
        drvhost::Frame in;
        EXPECT_EQ(drvhost::ReadFrame(Take, &b, in), c.ok) << c.count;
    }
}

}  // namespace
