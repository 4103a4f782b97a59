// The trace reader against lines as the drivers write them, and against
// lines cut short or from elsewhere, which must be refused, not misread.
#include <gtest/gtest.h>

#include "linkstats/LinkStats.h"
#include "linkstats/TraceLine.h"

namespace {

struct LineCase {
    const char* name;
    const char* line;
    bool valid;
    const char* entry;
    std::size_t requestBytes;  // 0: none
    std::size_t received;
    std::optional<uint32_t> result;
    std::optional<uint32_t> micros;
    std::optional<uint64_t> echo;
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class TraceLines : public testing::TestWithParam<LineCase> {};

TEST_P(TraceLines, AreReadByTheirFields) {
    const LineCase& c = GetParam();
    const auto line = ParseTraceLine(c.line);
    ASSERT_EQ(line.has_value(), c.valid);
    if (!c.valid) return;
    EXPECT_EQ(line->entry, c.entry);
    EXPECT_EQ(line->request ? line->request->size() : 0u, c.requestBytes);
    EXPECT_EQ(line->received.size(), c.received);
    EXPECT_EQ(line->result, c.result);
    EXPECT_EQ(line->micros, c.micros);
    EXPECT_EQ(line->refusedEcho, c.echo);
}

INSTANTIATE_TEST_SUITE_P(
    LinkStats, TraceLines,
    testing::Values(
        LineCase{
            "Init",
            "2026-12-07 23:05:29.913401 11492 TCOM318 03180001 Init port 3 device /dev/pts/0 | result 0 | "
            "136 us\n",
            true, "Init", 0, 0, 0u, 136u, std::nullopt},
        LineCase{"SetConfig",
                 "2026-12-07 23:05:29.913438 11492 TCOM318 03180001 SetConfig speed 9600 value 13 mode 2 | "
                 "result 0",
                 true, "SetConfig", 0, 0, 0u, std::nullopt, std::nullopt},
        LineCase{
            "SendRefusedThenTaken",
            "2026-12-07 23:05:29.982231 11492 TCOM318 03180001 Send A5 01 C8 00 30 F6 00 00 00 00 00 57 BF "
            "| 78 13 91 ignored noise | 5A 01 C8 00 30 F6 00 00 52 51 2D 39 35 C0 taken | result 0 | 4023 "
            "us | refused damaged 0 echo 2",
            true, "Send", 13, 2, 0u, 4023u, 2u},
        LineCase{"SendUnsent", "2026-12-07 23:05:29.982231 1 TRQ1318 00000000 Send - | result 110 | 3 us",
                 true, "Send", 0, 0, 110u, 3u, std::nullopt},
        LineCase{"Done",
                 "2026-12-07 23:05:29.986359 11492 TCOM318 03180001 Done refused damaged 1 echo 4 | result 0",
                 true, "Done", 0, 0, 0u, std::nullopt, 4u},
        LineCase{"CutInTheResult", "2026-12-07 23:05:29.982231 11492 TCOM318 03180001 Send A5 01 | result",
                 false, "", 0, 0, std::nullopt, std::nullopt, std::nullopt},
        LineCase{"NotHexHandle", "2026-12-07 23:05:29.982231 11492 TCOM318 handle Send A5 01 | result 0",
                 false, "", 0, 0, std::nullopt, std::nullopt, std::nullopt},
        LineCase{"Foreign", "TRQ1318: RQ905_TRACE: stopa rámců vypnuta", false, "", 0, 0, std::nullopt,
                 std::nullopt, std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(LinkStats, OutcomeClassesAndResetCountAlike) {
    TLinkStats stats;
    for (const uint32_t result : {0u, 21u, 24u, 11u, 12u, 120u, 256u}) stats.Add(3, result, 1000);
    stats.AddRefused(3, 2);
    const TStatsCounts c = stats.Total().counts;
    EXPECT_EQ(c.transactions, 7u);
    EXPECT_EQ(c.answered, 3u);
    EXPECT_EQ(c.moduleErrors, 2u);
    EXPECT_EQ(c.timeouts, 1u);
    EXPECT_EQ(c.damaged, 1u);
    EXPECT_EQ(c.otherFailures, 2u);
    EXPECT_EQ(c.refused, 2u);
    stats.Reset();
    EXPECT_EQ(stats.Total().counts.transactions, 0u);
    EXPECT_FALSE(stats.Total().roundTrip);
}

}  // namespace
