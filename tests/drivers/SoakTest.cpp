// Fault soak: twenty thousand transactions while the simulator drops,
// corrupts, delays, misaddresses and garbles a fifth of its replies. Every
// result must be either the right data or an error code.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <thread>

#include "DriverFixture.h"

namespace {

using namespace drvtest;

constexpr int kTransactionsPerLink = 10000;
constexpr std::uint8_t kInputPins = 0x5A;
constexpr std::uint32_t kPowerUpStatus = 0x30;
// What an injected fault may turn into; anything else is a driver fault.
const std::set<std::uint32_t> kFaultCodes = {11, 12, 13};
constexpr std::uint32_t kUnknownCommand = 21;

struct Tally {
    std::map<std::uint32_t, int> codes;
    int wrongValues = 0;
    int unexpectedCodes = 0;
    std::vector<std::string> firstProblems;

    void Problem(const std::string& what) {
        if (firstProblems.size() < 10) {
            firstProblems.push_back(what);
        }
    }
};

// What the test knows about the module: for each register the values it may
// hold (a write whose reply was lost may or may not have happened), and the
// same for the status register.
struct Expectation {
    std::map<std::uint8_t, std::set<std::uint8_t>> registers;
    std::set<std::uint32_t> status = {kPowerUpStatus};
    Expectation() {
        for (std::uint8_t r = 32; r <= 37; ++r) {
            registers[r] = {0};
        }
    }
};

void Soak(simharness::DriverLib& lib, std::uint32_t handle, std::uint8_t address, std::uint32_t seed,
          Tally& tally) {
    std::mt19937 random(seed);
    Expectation known;
    const std::string identity = "RQ-905  1.02";
    for (int n = 0; n < kTransactionsPerLink; ++n) {
        const int op = static_cast<int>(random() % 9);
        const auto reg = static_cast<std::uint8_t>(32 + random() % 6);
        const auto value = static_cast<std::uint8_t>(random());
        Tx tx;
        switch (op) {
            case 0: {
                const auto index = static_cast<std::uint8_t>(random() % 3);
                tx = Transact(lib, handle, address, 200, index);
                if (tx.Ok() &&
                    std::string(tx.data.begin() + 1, tx.data.end()) != identity.substr(4 * index, 4)) {
                    ++tally.wrongValues;
                    tally.Problem("identification " + std::to_string(index));
                }
                break;
            }
            case 1:
                tx = Transact(lib, handle, address, 103, 0, {0, reg, reg, value, value});
                if (tx.Ok()) {
                    known.registers[reg] = {value};
                } else {
                    known.registers[reg].insert(value);
                }
                break;
            case 2:
                tx = Transact(lib, handle, address, 102, 0, {0, reg, reg, 0, 0});
                if (tx.Ok()) {
                    if (!known.registers[reg].contains(tx.data[3]) || tx.data[1] != reg) {
                        ++tally.wrongValues;
                        tally.Problem("register " + std::to_string(reg) + " read " +
                                      std::to_string(tx.data[3]));
                    }
                    known.registers[reg] = {tx.data[3]};
                }
                break;
            case 3: {
                tx = Transact(lib, handle, address, 0, 64);
                bool plausible = false;
                for (const auto negation : known.registers[33]) {
                    plausible = plausible || tx.data[1] == (kInputPins ^ negation);
                }
                if (tx.Ok() && !plausible) {
                    ++tally.wrongValues;
                    tally.Problem("inputs read " + std::to_string(tx.data[1]));
                }
                break;
            }
            case 4: {
                tx = Transact(lib, handle, address, 100, 0);
                const std::uint32_t status = tx.data[1] | tx.data[2] << 8 | tx.data[3] << 16 |
                                             static_cast<std::uint32_t>(tx.data[4]) << 24;
                if (tx.Ok()) {
                    if (!known.status.contains(status)) {
                        ++tally.wrongValues;
                        tally.Problem("status read " + std::to_string(status));
                    }
                    known.status = {status};
                }
                break;
            }
            case 5:
                tx = Transact(lib, handle, address, 101, 0);
                if (tx.Ok()) {
                    known.status = {0};
                } else {
                    known.status.insert(0);
                }
                break;
            case 6:
                tx = Transact(lib, handle, address, 1, 64, {0, value, 0, 0, 0});
                break;
            case 7:
                tx = Transact(lib, handle, address, 1, 0, {0, value, reg, 0, 0});
                break;
            default:
                tx = Transact(lib, handle, address, 77, 0);
                if (tx.Ok()) {
                    ++tally.wrongValues;
                    tally.Problem("unknown command accepted");
                }
                if (tx.result == kUnknownCommand) {
                    ++tally.codes[tx.result];
                    continue;
                }
                break;
        }
        ++tally.codes[tx.result];
        if (tx.result != tx.status) {
            ++tally.unexpectedCodes;
            tally.Problem("result " + std::to_string(tx.result) + " but status " + std::to_string(tx.status));
        } else if (tx.result != 0 && !kFaultCodes.contains(tx.result)) {
            ++tally.unexpectedCodes;
            tally.Problem("code " + std::to_string(tx.result) + " for op " + std::to_string(op));
        }
    }
}

void Check(const char* name, const Tally& tally) {
    int total = 0;
    std::string summary;
    for (const auto& [code, count] : tally.codes) {
        total += count;
        summary += " " + std::to_string(code) + ":" + std::to_string(count);
    }
    std::printf("%s: %d transactions, codes%s\n", name, total, summary.c_str());
    EXPECT_EQ(total, kTransactionsPerLink);
    EXPECT_EQ(tally.wrongValues, 0) << name;
    EXPECT_EQ(tally.unexpectedCodes, 0) << name;
    for (const auto& p : tally.firstProblems) {
        ADD_FAILURE() << name << ": " << p;
    }
    // The faults were really injected, and most transactions still succeed.
    const auto count = [&](std::uint32_t code) {
        return tally.codes.contains(code) ? tally.codes.at(code) : 0;
    };
    EXPECT_GT(count(11), 0) << name;
    EXPECT_GT(count(12), 0) << name;
    EXPECT_GT(count(13), 0) << name;
    EXPECT_GT(count(0) + count(kUnknownCommand), total * 2 / 5) << name;
}

TEST(FaultSoak, EveryResultIsRightDataOrAnErrorCode) {
    TempDir dir;
    auto sim = StartSim({"--fresh", "--state", dir.Path("state"), "--pty", "--udp", "0", "--modules", "2",
                         "--speed", "115200", "--inputs", "0x5A", "--faults", "0.2", "--delay-ms", "12",
                         "--seed", "905", "--quiet"});
    ASSERT_TRUE(sim->Ready());

    auto& com = Library("TCOM318");
    auto& lan = Library("TRQ1318");
    std::uint32_t serialHandle = 0;
    std::uint32_t udpHandle = 0;
    ASSERT_EQ(Open(kKinds[0], *sim, serialHandle), 0U);
    // The tight mode with a 2 ms allowance: a lost reply costs little time.
    ASSERT_EQ(com.setConfig(serialHandle, 115200, 2, 1), 0U);
    ASSERT_EQ(Open(kKinds[4], *sim, udpHandle, 4), 0U);

    Tally serial;
    Tally udp;
    std::thread serialThread([&] { Soak(com, serialHandle, 1, 1, serial); });
    std::thread udpThread([&] { Soak(lan, udpHandle, 2, 2, udp); });
    serialThread.join();
    udpThread.join();

    Check("pseudo-terminal", serial);
    Check("udp", udp);
    EXPECT_EQ(com.done(&serialHandle), 0U);
    EXPECT_EQ(lan.done(&udpHandle), 0U);
    EXPECT_EQ(sim->Stop(), 0);
}

}  // namespace
