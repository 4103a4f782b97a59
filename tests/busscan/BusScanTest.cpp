// The shared scanner through the real drivers against the simulator, on a
// pseudo-terminal and over UDP: what each address gives, modules that share
// an address, and how soon a cancel takes hold.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "BusScan.h"
#include "SimProcess.h"

namespace {

using busscan::TProbeResult;
using busscan::TScanEnd;

struct ScanCase {
    const char* name;
    bool udp;
    const char* simArgs;  // separated by blanks
    const char* console;  // commands once it runs, separated by ';'
    busscan::TScanSettings settings;
    int cancelAfterTransactions;  // -1: never
    const char* addresses;        // what the observer was told, in order
    TScanEnd end;
};
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

template <typename T>
std::string Named(const ::testing::TestParamInfo<T>& info) {
    return info.param.name;
}

char Letter(TProbeResult r) {
    switch (r) {
        case TProbeResult::Module:
            return 'M';
        case TProbeResult::Silent:
            return 'S';
        case TProbeResult::Collision:
            return 'C';
        case TProbeResult::Failed:
            return 'F';
        case TProbeResult::Interrupted:
            break;
    }
    return '?';
}

busscan::TScanSettings Range(uint8_t from, uint8_t to, bool first = false) {
    busscan::TScanSettings s;
    s.from = from;
    s.to = to;
    s.stopAtFirst = first;
    return s;
}

struct Counter {
    int transactions = 0;
    int cancelAt = -1;
    int afterCancel = 0;
    busscan::TBusScanner* scanner = nullptr;
};

void Count(void* context, uint8_t, uint32_t, uint32_t) {
    auto* c = static_cast<Counter*>(context);
    if (c->cancelAt >= 0 && c->transactions >= c->cancelAt) ++c->afterCancel;
    if (++c->transactions == c->cancelAt) c->scanner->Cancel();
}

class ScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, ReportsEachAddressAndStopsWhenTold) {
    const ScanCase& c = GetParam();
    const auto dir = std::filesystem::temp_directory_path() / ("rq905-busscan-" + std::to_string(::getpid()));
    std::vector<std::string> args{"--fresh", "--state", (dir / c.name).string(), "--pty", "--udp",
                                  "0",       "--quiet"};
    for (const auto& arg : Split(c.simArgs, ' ')) args.push_back(arg);
    std::filesystem::create_directories(dir);
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE, args);
    ASSERT_TRUE(sim.Ready());
    for (const auto& line : Split(c.console, ';')) ASSERT_EQ(sim.Command(line), "ok") << line;

    TInitParams params{};
    const std::string host = "127.0.0.1";
    uint8_t kind = kKindCom;
    if (c.udp) {
        kind = kKindLan;
        params[0] = reinterpret_cast<uintptr_t>(host.c_str());
        params[1] = sim.UdpPort();
    } else {
        ::setenv("RQ905_COM1", sim.PtyPath().c_str(), 1);
        params[0] = 1;
    }
    uint32_t handle = 0;
    ASSERT_EQ(OpenInterface(kind, handle, params), 0U);

    busscan::TBusScanner scanner;
    Counter counter{0, c.cancelAfterTransactions, 0, &scanner};
    SetTransactionObserver(Count, &counter);
    std::string told;
    uint32_t count = 0;
    busscan::TScanObserver observer;
    observer.address = [&](const busscan::TScanAddress& a, const busscan::TScanProgress& p) {
        told += (told.empty() ? "" : " ") + std::to_string(a.address) + Letter(a.result);
        EXPECT_EQ(p.done, ++count);
        EXPECT_LE(p.done, p.total);
        if (a.result == TProbeResult::Module) {
            EXPECT_EQ(a.ident.Text(), "RQ-905   v.1.02");
        }
        if (a.result == TProbeResult::Collision) {
            EXPECT_EQ(a.text, busscan::CollisionText(a.address));
        }
        return true;
    };
    const busscan::TScanOutcome outcome = scanner.Run(kind, handle, c.settings, kDefaultSpeedIndex, observer);
    SetTransactionObserver(nullptr, nullptr);
    CloseInterface(kind, handle);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    EXPECT_EQ(told, c.addresses);
    EXPECT_EQ(outcome.end, c.end);
    // A cancel takes hold before the next transaction, even inside one
    // address's identification.
    EXPECT_EQ(counter.afterCancel, 0);
}

const ScanCase kCases[] = {
    {"ModulesAndSilenceSerial", false, "--modules 2 --address 2", "", Range(1, 4), -1, "1S 2M 3M 4S",
     TScanEnd::Finished},
    {"ModulesAndSilenceUdp", true, "--modules 2 --address 2", "", Range(1, 4), -1, "1S 2M 3M 4S",
     TScanEnd::Finished},
    // Two modules at address 1: garbled on the line, two datagrams over UDP.
    {"CollisionSerial", false, "", "add;add 3", Range(0, 3), -1, "0S 1C 2S 3M", TScanEnd::Finished},
    {"CollisionUdp", true, "", "add;add 3", Range(0, 3), -1, "0S 1C 2S 3M", TScanEnd::Finished},
    // The module answers after the scan's wait: found by its late reply
    // and asked again.
    {"LateReplyAskedAgain", false, "--modules 1 --address 2 --line-time --turnaround-ms 9", "", Range(1, 4),
     -1, "1S 2M 3S 4S", TScanEnd::Finished},
    {"StopAtFirst", false, "--modules 2 --address 3", "", Range(1, 9, true), -1, "1S 2S 3M",
     TScanEnd::Stopped},
    // Address 1 is silent (one transaction); address 2's identification is
    // cut after its second request of three.
    {"CancelInsideAnIdentification", false, "--modules 1 --address 2", "", Range(1, 9), 3, "1S",
     TScanEnd::Cancelled},
    // A silent address cut short is not told as silent.
    {"CancelDuringASilentAddress", true, "--modules 1 --address 5", "", Range(1, 9), 2, "1S",
     TScanEnd::Cancelled},
};

INSTANTIATE_TEST_SUITE_P(Cases, ScanTest, ::testing::ValuesIn(kCases), Named<ScanCase>);

struct ClockCase {
    const char* name;
    std::vector<std::pair<uint8_t, int64_t>> done;  // speed index and what each address took, us
    std::vector<std::pair<uint8_t, uint32_t>> remaining;
    int64_t leftMs;
};
void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.name; }

class ScanClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(ScanClockTest, ScalesTheLinesModelByWhatAddressesTook) {
    busscan::TScanClock clock;
    for (const auto& [speed, us] : GetParam().done) {
        clock.Add(speed, busscan::ScanAllowance(speed, 0), std::chrono::microseconds(us));
    }
    EXPECT_EQ(clock.Left(GetParam().remaining, 0).count(), GetParam().leftMs);
}

// A silent address by the model: 9600 Bd 14583 + 6100 = 20683 us,
// 115200 Bd 1215 + 2800 = 4015 us, 1200 Bd 116667 + 31700 = 148367 us.
INSTANTIATE_TEST_SUITE_P(
    Cases, ScanClockTest,
    ::testing::Values(ClockCase{"ModelBeforeAnyAddress", {}, {{4, 100}}, 2068},
                      ClockCase{"TwiceTheModel", {{4, 41367}}, {{4, 100}}, 4137},
                      ClockCase{"RatioCarriesToSlowerSpeeds", {{8, 2008}, {8, 2008}}, {{8, 0}, {1, 10}}, 742},
                      ClockCase{"NothingLeft", {{4, 30000}}, {{4, 0}}, 0}),
    Named<ClockCase>);

}  // namespace
