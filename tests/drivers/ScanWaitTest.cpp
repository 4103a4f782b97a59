// The scan mode's allowance as the replies a scan sees move it: where it
// starts, how far it comes down, and how late replies widen it again.
#include <gtest/gtest.h>

#include <sstream>

#include "CaseName.h"
#include "ScanWait.h"

namespace {

struct WaitCase {
    const char* name;
    int configuredUs;
    // "R2100x40": 40 replies whose first byte came 2100 us after it was due
    // without turnaround; "L": a reply came after the wait.
    const char* events;
    int atLeastUs;
    int atMostUs;
};
void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }

class ScanWaitTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(ScanWaitTest, FollowsTheReplies) {
    drv::ScanWait wait;
    wait.Reset(std::chrono::microseconds(GetParam().configuredUs));
    std::istringstream events(GetParam().events);
    for (std::string e; events >> e;) {
        if (e == "L") {
            wait.Late();
            continue;
        }
        const auto x = e.find('x');
        const int us = std::stoi(e.substr(1, x - 1));
        const int times = x == std::string::npos ? 1 : std::stoi(e.substr(x + 1));
        for (int i = 0; i < times; ++i) wait.Replied(std::chrono::microseconds(us));
    }
    EXPECT_GE(wait.Allowance().count(), GetParam().atLeastUs);
    EXPECT_LE(wait.Allowance().count(), GetParam().atMostUs);
}

// 2800 us: the table's start at 115200 Bd, 6100 us at 9600 Bd.
INSTANTIATE_TEST_SUITE_P(
    Cases, ScanWaitTest,
    ::testing::Values(WaitCase{"StartsAtTheConfiguredValue", 2800, "", 2800, 2800},
                      WaitCase{"FirstReplyKeepsTheStart", 6100, "R2100", 6100, 6100},
                      WaitCase{"SteadyRepliesBringItDown", 6100, "R2100x40", 2200, 2300},
                      WaitCase{"JitterKeepsRoom", 6100, "R2000x20 R3000 R2000 R3000 R2000 R3000", 3400, 4600},
                      WaitCase{"NeverBelowTheTurnaround", 6100, "R300x40", 2000, 2000},
                      WaitCase{"ACallersSmallerValueStays", 1000, "R300x40", 1000, 1000},
                      WaitCase{"LateRepliesWidenPastTheStart", 2800, "R2000x20 R9000 R1000 R9000", 9000,
                               20000},
                      WaitCase{"NeverAboveTheWidest", 2800, "R2000 R60000x20", 20000, 20000},
                      WaitCase{"ACallersSmallerValueStaysThroughLateReplies", 1000, "R9000x5", 1000, 1000},
                      WaitCase{"LateReplyWidensAtOnce", 2800, "R2100x40 L", 2800, 2800},
                      WaitCase{"LateBeforeAnyReply", 2800, "L", 2800, 2800},
                      WaitCase{"LateIsNotForgottenAtOnce", 6100, "R2100x40 L R2100x10", 4400, 4600},
                      WaitCase{"LateFadesAfterManyReplies", 2800, "R2100x40 L R2100x200", 2200, 2300}),
    CaseName<WaitCase>);

}  // namespace
