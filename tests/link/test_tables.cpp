// Cell texts and line-speed tables.
#include <gtest/gtest.h>

#include "link/Txxx318.h"

namespace {

TCellBlock Block(std::initializer_list<std::pair<std::size_t, uint32_t>> cells) {
    TCellBlock block{};
    for (const auto& [i, v] : cells) block[i] = v;
    return block;
}

struct CellsCase {
    const char* name;
    TCellBlock block;
    std::string text;
};
void PrintTo(const CellsCase& c, std::ostream* os) { *os << c.name; }

class CellsToTextTest : public ::testing::TestWithParam<CellsCase> {};

TEST_P(CellsToTextTest, ReadsTheText) { EXPECT_EQ(CellsToText(GetParam().block), GetParam().text); }

TCellBlock Full(uint32_t v) {
    TCellBlock b;
    b.fill(v);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, CellsToTextTest,
    ::testing::Values(CellsCase{"FromCell1", Block({{1, 'a'}, {2, 'b'}, {3, 'c'}}), "abc"},
                      CellsCase{"FromCell0", Block({{0, 'a'}, {1, 'b'}, {2, 'c'}}), "abc"},
                      CellsCase{"EmptyWhenCells0And1Zero", Block({{2, 'x'}, {3, 'y'}}), ""},
                      CellsCase{"NoTerminator", Full('z'), std::string(100, 'z')},
                      CellsCase{"LowEightBits", Block({{1, 0x1F8}, {2, 0xFFFFFF61}}),
                                "\xF8"
                                "a"},
                      CellsCase{"Cell0OnlyThenZero", Block({{0, 'q'}, {2, 'r'}}), "q"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TextToCells, PutsTextFromCell1AndClearsTheRest) {
    TCellBlock block = Full(0xEE);
    EXPECT_EQ(TextToCells("abc", block), 0u);
    EXPECT_EQ(block[0], 0u);
    EXPECT_EQ(block[1], 97u);
    EXPECT_EQ(block[2], 98u);
    EXPECT_EQ(block[3], 99u);
    for (std::size_t i = 4; i < block.size(); ++i) EXPECT_EQ(block[i], 0u) << i;
    EXPECT_EQ(CellsToText(block), "abc");
}

TEST(TextToCells, KeepsAtMost99CharactersAndHighBytesUnsigned) {
    std::string text(120, 'k');
    text[0] = '\xE1';
    TCellBlock block{};
    TextToCells(text, block);
    EXPECT_EQ(block[1], 0xE1u);
    EXPECT_EQ(CellsToText(block), text.substr(0, 99));
}

struct SpeedCase {
    uint8_t index;
    uint32_t baud;
    uint32_t value;
};
void PrintTo(const SpeedCase& c, std::ostream* os) { *os << "index " << int{c.index}; }

class SpeedTest : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(SpeedTest, MapsBothWays) {
    const SpeedCase& c = GetParam();
    EXPECT_EQ(SpeedFromIndex(c.index), c.baud);
    EXPECT_EQ(IndexFromSpeed(c.baud), c.index);
    EXPECT_EQ(SpeedConfigValue(c.index), c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, SpeedTest,
                         ::testing::Values(SpeedCase{0, 600, 100}, SpeedCase{1, 1200, 100},
                                           SpeedCase{2, 2400, 50}, SpeedCase{3, 4800, 25},
                                           SpeedCase{4, 9600, 13}, SpeedCase{5, 19200, 7},
                                           SpeedCase{6, 38400, 5}, SpeedCase{7, 57600, 5},
                                           SpeedCase{8, 115200, 5}));

TEST(Speed, FallsBackToTheDefault) {
    EXPECT_EQ(SpeedFromIndex(9), 9600u);
    EXPECT_EQ(SpeedFromIndex(255), 9600u);
    EXPECT_EQ(IndexFromSpeed(9601), 4);
    EXPECT_EQ(IndexFromSpeed(0), 4);
    EXPECT_EQ(IndexFromSpeed(static_cast<uint32_t>(-600)), 4);
    EXPECT_EQ(IndexFromSpeed(14400), 4);
    EXPECT_EQ(SpeedConfigValue(9), 13u);
    EXPECT_EQ(SpeedConfigValue(0xFFFFFFFF), 13u);
    EXPECT_EQ(std::string(kLineSpeeds[8].listText), "115200 Bd");
}

}  // namespace
