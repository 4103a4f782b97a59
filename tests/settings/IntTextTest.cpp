#include <gtest/gtest.h>

#include <optional>

#include "core/IntText.h"

namespace {

struct TIntCase {
    const char* text;
    std::optional<int32_t> expected;  // nullopt: not an integer
};
void PrintTo(const TIntCase& c, std::ostream* os) { *os << testing::PrintToString(std::string(c.text)); }

class IntTextTest : public testing::TestWithParam<TIntCase> {};

TEST_P(IntTextTest, StrictAndWithDefault) {
    const TIntCase& c = GetParam();
    // The untouched output must survive a failure.
    int32_t value = 777;
    EXPECT_EQ(TryStrToInt(c.text, value), c.expected.has_value());
    EXPECT_EQ(value, c.expected.value_or(777));
    EXPECT_EQ(StrToIntDef(c.text, -99), c.expected.value_or(-99));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IntTextTest,
    testing::Values(TIntCase{"  12", 12}, TIntCase{"+5", 5}, TIntCase{"-7", -7}, TIntCase{"0", 0},
                    TIntCase{"-0", 0}, TIntCase{"007", 7}, TIntCase{"2147483647", 2147483647},
                    TIntCase{"-2147483648", INT32_MIN}, TIntCase{"2147483648", std::nullopt},
                    TIntCase{"-2147483649", std::nullopt}, TIntCase{"99999999999999999999", std::nullopt},
                    TIntCase{"$FFFFFFFF", -1}, TIntCase{"$7fffffff", 2147483647},
                    TIntCase{"$80000000", INT32_MIN}, TIntCase{"0x10", 16}, TIntCase{"x1f", 31},
                    TIntCase{"X1F", 31}, TIntCase{"0X1F", 31}, TIntCase{"0x2A0", 672}, TIntCase{"$2A0", 672},
                    TIntCase{" $00000000000000A", 10}, TIntCase{"$", std::nullopt},
                    TIntCase{"0x", std::nullopt}, TIntCase{"1 ", std::nullopt}, TIntCase{"", std::nullopt},
                    TIntCase{" ", std::nullopt}, TIntCase{"-$10", std::nullopt},
                    TIntCase{"+0x10", std::nullopt}, TIntCase{"2A0h", std::nullopt},
                    TIntCase{"$100000000", std::nullopt}, TIntCase{"$1G", std::nullopt},
                    TIntCase{"+", std::nullopt}, TIntCase{"-", std::nullopt}, TIntCase{"--1", std::nullopt},
                    TIntCase{"\t1", std::nullopt}, TIntCase{"1.0", std::nullopt},
                    TIntCase{"0x-1", std::nullopt}, TIntCase{"$ 1", std::nullopt}));

TEST(IntToStrTest, WritesDecimal) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-2147483648LL), "-2147483648");
    EXPECT_EQ(IntToStr(4294967295LL), "4294967295");
}

}  // namespace
