// The pieces of rq905ctl's CSV, watch times and link statistics, in-process:
// field quoting, the timestamp's form, percentiles and how transactions are
// sorted.
#include <gtest/gtest.h>

#include "CtlOutput.h"
#include "CtlStats.h"
#include "core/LocalTime.h"

namespace {

struct CsvCase {
    const char* name;
    std::vector<std::string> fields;
    const char* line;
};
void PrintTo(const CsvCase& c, std::ostream* os) { *os << c.name; }

class CsvQuoting : public testing::TestWithParam<CsvCase> {};

TEST_P(CsvQuoting, FollowsRfc4180) { EXPECT_EQ(CsvLine(GetParam().fields), GetParam().line); }

INSTANTIATE_TEST_SUITE_P(Ctl, CsvQuoting,
                         testing::Values(CsvCase{"Plain", {"1", "RQ-905  ", ""}, "1,RQ-905  ,"},
                                         CsvCase{"Comma", {"a,b", "c"}, "\"a,b\",c"},
                                         CsvCase{"Quote", {"say \"hi\""}, "\"say \"\"hi\"\"\""},
                                         CsvCase{
                                             "LineEnds", {"two\nlines", "cr\r"}, "\"two\nlines\",\"cr\r\""},
                                         CsvCase{"QuoteOnly", {"\""}, "\"\"\"\""}),
                         [](const auto& p) { return std::string(p.param.name); });

struct TimeCase {
    const char* name;
    TCivilTime time;
    const char* clock;
    const char* iso;
};
void PrintTo(const TimeCase& c, std::ostream* os) { *os << c.name; }

class WatchTimes : public testing::TestWithParam<TimeCase> {};

TEST_P(WatchTimes, AreIso8601WithMillisecondsAndOffset) {
    const TLocalTime t = FormatLocalTime(GetParam().time);
    EXPECT_EQ(t.clock, GetParam().clock);
    EXPECT_EQ(t.iso, GetParam().iso);
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, WatchTimes,
    testing::Values(
        TimeCase{
            "WinterPrague", {2026, 12, 8, 5, 1, 2, 123, 60}, "05:01:02.123", "2026-12-08T05:01:02.123+01:00"},
        TimeCase{"Utc", {2027, 1, 1, 0, 0, 0, 0, 0}, "00:00:00.000", "2027-01-01T00:00:00.000+00:00"},
        TimeCase{"NegativeHalfHour",
                 {2026, 7, 31, 23, 59, 59, 999, -210},
                 "23:59:59.999",
                 "2026-07-31T23:59:59.999-03:30"},
        TimeCase{
            "QuarterHour", {2026, 3, 9, 12, 30, 5, 7, 345}, "12:30:05.007", "2026-03-09T12:30:05.007+05:45"}),
    [](const auto& p) { return std::string(p.param.name); });

struct PercentileCase {
    const char* name;
    std::vector<uint32_t> sorted;
    unsigned perMille;
    uint32_t expected;
};
void PrintTo(const PercentileCase& c, std::ostream* os) { *os << c.name; }

class Percentiles : public testing::TestWithParam<PercentileCase> {};

TEST_P(Percentiles, TakeTheNearestRank) {
    EXPECT_EQ(Percentile(GetParam().sorted, GetParam().perMille), GetParam().expected);
}

std::vector<uint32_t> OneTo(uint32_t n) {
    std::vector<uint32_t> v;
    for (uint32_t i = 1; i <= n; ++i) v.push_back(i);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Ctl, Percentiles,
                         testing::Values(PercentileCase{"Single", {7}, 990, 7},
                                         PercentileCase{"EvenMedianIsTheLower", {1, 2, 3, 4}, 500, 2},
                                         PercentileCase{"OddMedian", {1, 2, 9}, 500, 2},
                                         PercentileCase{"P99Of100", OneTo(100), 990, 99},
                                         PercentileCase{"P99Of1000", OneTo(1000), 990, 990},
                                         PercentileCase{"P99Of10IsTheMaximum", OneTo(10), 990, 10},
                                         PercentileCase{"P99Of101", OneTo(101), 990, 100},
                                         PercentileCase{"Zero", {3, 4}, 0, 3}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CtlStats, SortsEachOutcomeAndTimesOnlyAnswers) {
    TLinkStats stats;
    stats.Add(2, 0, 400);
    stats.Add(2, 22, 600);    // a module's status is an answer
    stats.Add(2, 11, 90000);  // a time-out's wait is no round trip
    stats.Add(1, 12, 5000);
    stats.Add(1, 13, 5000);
    stats.Add(1, 0, 500);
    stats.AddRefused(1, 3);
    const TStatsSummary total = stats.Total();
    EXPECT_EQ(total.counts.transactions, 6u);
    EXPECT_EQ(total.counts.answered, 3u);
    EXPECT_EQ(total.counts.moduleErrors, 1u);
    EXPECT_EQ(total.counts.timeouts, 1u);
    EXPECT_EQ(total.counts.damaged, 1u);
    EXPECT_EQ(total.counts.otherFailures, 1u);
    EXPECT_EQ(total.counts.refused, 3u);
    ASSERT_TRUE(total.roundTrip);
    EXPECT_EQ(total.roundTrip->minUs, 400u);
    EXPECT_EQ(total.roundTrip->medianUs, 500u);
    EXPECT_EQ(total.roundTrip->maxUs, 600u);
    const auto perAddress = stats.PerAddress();
    ASSERT_EQ(perAddress.size(), 2u);
    EXPECT_EQ(perAddress[0].first, 2);  // in the order first seen
    EXPECT_EQ(perAddress[1].second.counts.refused, 3u);
    EXPECT_EQ(perAddress[1].second.roundTrip->maxUs, 500u);
}

}  // namespace
