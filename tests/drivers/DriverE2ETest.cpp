// Every driver library against the simulator: over a pseudo-terminal for
// the serial kinds, over UDP on loopback for the LAN converter.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <set>

#include "CaseName.h"
#include "DriverFixture.h"

namespace {

using namespace drvtest;
using namespace std::chrono_literals;

constexpr std::uint8_t kAddress = 1;
// Result codes of the drivers that the tests tell apart.
constexpr std::uint32_t kBadHandle = 1;
constexpr std::uint32_t kBadParameter = 2;
constexpr std::uint32_t kDeviceBusy = 4;
constexpr std::uint32_t kNoDevice = 5;
constexpr std::uint32_t kBadSpeed = 6;
constexpr std::uint32_t kTimeout = 11;
constexpr std::uint32_t kCrcError = 12;
constexpr std::uint32_t kForeignAddress = 13;
constexpr std::uint32_t kUnknownCommand = 21;
constexpr std::uint32_t kUnknownIndex = 22;
constexpr std::uint32_t kBadData = 23;
constexpr std::uint32_t kBadMode = 26;

class DriverTest : public ::testing::TestWithParam<Kind> {
  protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        s_sim =
            StartSim({"--fresh", "--state", s_dir->Path("state"), "--pty", "--udp", "0", "--inputs", "0xA5"})
                .release();
    }
    static void TearDownTestSuite() {
        delete s_sim;
        delete s_dir;
    }

    void SetUp() override {
        ASSERT_TRUE(s_sim->Ready());
        ASSERT_TRUE(Lib().Loaded());
        ASSERT_EQ(Open(GetParam(), *s_sim, m_handle), 0U);
        ASSERT_NE(m_handle, 0U);
        ASSERT_EQ(Lib().setConfig(m_handle, 9600, 13, 2), 0U);
    }
    void TearDown() override {
        s_sim->Command("faults off");
        s_sim->Command("silent off");
        if (m_handle != 0) {
            EXPECT_EQ(Lib().done(&m_handle), 0U);
            EXPECT_EQ(m_handle, 0U);
        }
    }

    simharness::DriverLib& Lib() { return Library(GetParam().prefix); }
    Tx Do(std::uint8_t command, std::uint8_t index, std::array<std::uint8_t, 5> data = {}) {
        return Transact(Lib(), m_handle, kAddress, command, index, data);
    }
    std::uint8_t ReadRegister(std::uint8_t number) {
        const Tx tx = Do(102, 0, {0, number, number, 0, 0});
        EXPECT_TRUE(tx.Ok()) << "reading register " << unsigned{number} << ": " << tx.result;
        return tx.data[3];
    }
    void WriteRegister(std::uint8_t number, std::uint8_t value) {
        const Tx tx = Do(103, 0, {0, number, number, value, value});
        EXPECT_TRUE(tx.Ok()) << "writing register " << unsigned{number} << ": " << tx.result;
    }
    // A value that differs between kinds, so a test never passes on what an
    // earlier kind left in the shared simulator.
    std::uint8_t Distinct(std::uint8_t base) const {
        for (std::size_t i = 0; i < std::size(kKinds); ++i) {
            if (std::string(kKinds[i].prefix) == GetParam().prefix) {
                return static_cast<std::uint8_t>(base + 17 * i);
            }
        }
        return base;
    }
    bool Serial() const { return GetParam().form != InitForm::Block; }

    static TempDir* s_dir;
    static simharness::SimProcess* s_sim;
    std::uint32_t m_handle = 0;
};

TempDir* DriverTest::s_dir = nullptr;
simharness::SimProcess* DriverTest::s_sim = nullptr;

TEST_P(DriverTest, IdentifiesTheModule) {
    std::string text;
    for (std::uint8_t index = 0; index < 3; ++index) {
        const Tx tx = Do(200, index);
        ASSERT_TRUE(tx.Ok()) << tx.result;
        for (std::size_t i = 1; i < 5; ++i) {
            text += static_cast<char>(tx.data[i]);
        }
    }
    EXPECT_EQ(text, "RQ-905  1.02");
}

TEST_P(DriverTest, RegistersReadBackWhatWasWritten) {
    const std::pair<std::uint8_t, std::uint8_t> writes[] = {
        {32, Distinct(0x21)},
        {33, Distinct(0x03)},
        {34, Distinct(0x40)},
        {35, Distinct(0x99)},
        {36, Distinct(0x07)},
        {37, Distinct(0x12)},
        {62, static_cast<std::uint8_t>(Distinct(1) % 9)},
        {63, Distinct(0x30)},
    };
    for (const auto& [number, value] : writes) {
        WriteRegister(number, value);
    }
    for (const auto& [number, value] : writes) {
        EXPECT_EQ(ReadRegister(number), value) << "register " << unsigned{number};
    }
    // Address and speed wait for the next start: the module still answers here.
    EXPECT_TRUE(Do(200, 0).Ok());
    WriteRegister(62, 4);
    WriteRegister(63, kAddress);
}

TEST_P(DriverTest, OutputsGoOutThroughTheOutputNegation) {
    WriteRegister(34, 0x0F);
    const std::uint8_t outputs = Distinct(0x30);
    char expected[64];
    std::snprintf(expected, sizeof expected, "outputs 0x%02X (pins 0x%02X)", unsigned{outputs},
                  outputs ^ 0x0FU);
    ASSERT_TRUE(Do(1, 64, {0, outputs, 0, 0, 0}).Ok());
    EXPECT_TRUE(s_sim->WaitFor(expected, 2s, true)) << expected;
    WriteRegister(34, 0);
}

TEST_P(DriverTest, InputsComeInThroughTheInputNegation) {
    ASSERT_EQ(s_sim->Command("inputs 1 0xA5"), "ok");
    WriteRegister(33, 0x0F);
    Tx tx = Do(0, 64);
    ASSERT_TRUE(tx.Ok());
    EXPECT_EQ(tx.data[1], 0xAA);
    WriteRegister(33, 0);
    ASSERT_EQ(s_sim->Command("inputs 0x3C"), "ok");
    tx = Do(0, 64);
    ASSERT_TRUE(tx.Ok());
    EXPECT_EQ(tx.data[1], 0x3C);
}

TEST_P(DriverTest, StatusRegisterRaisedAndCleared) {
    ASSERT_EQ(s_sim->Command("status 1 0x40000044"), "ok");
    Tx tx = Do(100, 0);
    ASSERT_TRUE(tx.Ok());
    EXPECT_EQ(tx.data[1] & 0x44, 0x44);
    EXPECT_EQ(tx.data[4], 0x40);
    ASSERT_TRUE(Do(101, 0).Ok());
    tx = Do(100, 0);
    ASSERT_TRUE(tx.Ok());
    EXPECT_EQ(tx.data, (std::array<std::uint8_t, 5>{}));
}

TEST_P(DriverTest, PwmValueArrives) {
    const unsigned value = 1000U + Distinct(0);
    ASSERT_TRUE(
        Do(1, 0, {0, static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8), 0, 0})
            .Ok());
    EXPECT_TRUE(s_sim->WaitFor("pwm " + std::to_string(value), 2s, true));
}

struct ModuleErrorCase {
    std::uint8_t command;
    std::uint8_t index;
    std::array<std::uint8_t, 5> data;
    std::uint32_t code;
};

TEST_P(DriverTest, ModuleErrorsBecomeCodes) {
    const ModuleErrorCase cases[] = {
        {77, 0, {}, kUnknownCommand},          {0, 1, {}, kUnknownIndex},
        {200, 3, {}, kUnknownIndex},           {102, 0, {0, 40, 40, 0, 0}, kUnknownIndex},
        {102, 0, {0, 33, 34, 0, 0}, kBadData}, {103, 0, {0, 33, 33, 1, 2}, kBadData},
        {103, 0, {0, 62, 62, 9, 9}, kBadData},
    };
    for (const auto& c : cases) {
        const Tx tx = Do(c.command, c.index, c.data);
        EXPECT_EQ(tx.result, c.code) << "command " << unsigned{c.command} << "/" << unsigned{c.index};
        EXPECT_EQ(tx.status, c.code);
    }
    EXPECT_EQ(ReadRegister(33), 0);
}

TEST_P(DriverTest, SilentModuleTimesOut) {
    ASSERT_EQ(s_sim->Command("silent on"), "ok");
    EXPECT_EQ(Do(200, 0).result, kTimeout);
    ASSERT_EQ(s_sim->Command("silent off"), "ok");
    EXPECT_TRUE(Do(200, 0).Ok());
}

TEST_P(DriverTest, NobodyAtAnotherAddress) {
    EXPECT_EQ(Transact(Lib(), m_handle, 99, 200, 0).result, kTimeout);
}

TEST_P(DriverTest, ReplyFromAnotherAddressIsNotTaken) {
    ASSERT_EQ(s_sim->Command("faults wrong=1"), "ok");
    EXPECT_EQ(Do(200, 0).result, kForeignAddress);
}

TEST_P(DriverTest, CorruptedRepliesNeverGiveData) {
    ASSERT_EQ(s_sim->Command("faults corrupt=1"), "ok");
    for (int i = 0; i < 10; ++i) {
        std::array<std::uint32_t, abi318::kCellCount> request{kAddress, 200, 0};
        std::array<std::uint32_t, abi318::kCellCount> reply{};
        std::uint32_t out = 0;
        std::uint32_t status = 0;
        const std::uint32_t result = Lib().send(m_handle, request.data(), reply.data(), &out, &status);
        // A flipped sync byte hides the frame entirely: then it is a time-out.
        EXPECT_TRUE(result == kCrcError || result == kTimeout) << result;
        EXPECT_EQ(status, result);
        EXPECT_EQ(out, 0U);
        EXPECT_EQ(reply[0] | reply[1] | reply[2] | reply[3], 0U);
    }
}

TEST_P(DriverTest, NoiseBeforeTheReplyIsSkipped) {
    ASSERT_EQ(s_sim->Command("faults noise=1"), "ok");
    for (int i = 0; i < 20; ++i) {
        const Tx tx = Do(200, 2);
        ASSERT_TRUE(tx.Ok()) << tx.result;
        EXPECT_EQ(std::string(tx.data.begin() + 1, tx.data.end()), "1.02");
    }
}

TEST_P(DriverTest, LineAtAnotherSpeedThanTheModule) {
    ASSERT_EQ(Lib().setConfig(m_handle, 19200, 7, 2), 0U);
    // On a serial line the module cannot read a request at the wrong speed;
    // the LAN converter carries datagrams whatever the speed.
    EXPECT_EQ(Do(200, 0).result, Serial() ? kTimeout : 0U);
    ASSERT_EQ(Lib().setConfig(m_handle, 9600, 13, 2), 0U);
    EXPECT_TRUE(Do(200, 0).Ok());
}

TEST_P(DriverTest, ConfigurationChecked) {
    EXPECT_EQ(Lib().setConfig(m_handle, 14400, 13, 2), kBadSpeed);
    EXPECT_EQ(Lib().setConfig(m_handle, 9600, 0, 2), kBadParameter);
    EXPECT_EQ(Lib().setConfig(m_handle, 9600, 13, 7), kBadMode);
    std::uint32_t speed = 0, value = 0, mode = 0;
    ASSERT_EQ(Lib().getConfig(m_handle, &speed, &value, &mode), 0U);
    EXPECT_EQ(speed, 9600U);
    EXPECT_EQ(value, 13U);
    EXPECT_EQ(mode, 2U);
}

TEST_P(DriverTest, ClosedHandleIsRefused) {
    std::uint32_t stale = m_handle;
    ASSERT_EQ(Lib().done(&m_handle), 0U);
    EXPECT_EQ(m_handle, 0U);
    EXPECT_EQ(Transact(Lib(), stale, kAddress, 200, 0).result, kBadHandle);
    EXPECT_EQ(Lib().setConfig(stale, 9600, 13, 2), kBadHandle);
    EXPECT_EQ(Lib().done(&stale), kBadHandle);
    EXPECT_EQ(Lib().done(&m_handle), kBadHandle);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DriverTest, ::testing::ValuesIn(kKinds), CaseName<Kind>);

// What every library does without a simulator.
class DriverBoundaryTest : public ::testing::TestWithParam<Kind> {
  protected:
    simharness::DriverLib& Lib() { return Library(GetParam().prefix); }
};

TEST_P(DriverBoundaryTest, ErrorTextsStayInsideTheBlock) {
    ASSERT_TRUE(Lib().Loaded());
    for (std::uint32_t code = 0; code < 100; ++code) {
        std::array<std::uint32_t, abi318::kCellCount + 8> cells;
        cells.fill(0xDEADBEEF);
        Lib().error(code, cells.data());
        std::size_t length = 0;
        while (length < abi318::kCellCount && cells[length] != 0) {
            EXPECT_LT(cells[length], 256U) << "code " << code << " cell " << length;
            EXPECT_GE(cells[length], 32U) << "code " << code << " cell " << length;
            ++length;
        }
        EXPECT_GT(length, 0U) << "code " << code;
        EXPECT_LT(length, abi318::kCellCount) << "code " << code << " has no terminator";
        for (std::size_t i = abi318::kCellCount; i < cells.size(); ++i) {
            EXPECT_EQ(cells[i], 0xDEADBEEF) << "code " << code << " wrote past the block";
        }
    }
}

std::string TextOf(simharness::DriverLib& lib, std::uint32_t code) {
    std::array<std::uint32_t, abi318::kCellCount> cells{};
    lib.error(code, cells.data());
    std::string text;
    for (std::uint32_t c : cells) {
        if (c == 0) {
            break;
        }
        text += static_cast<char>(c);
    }
    return text;
}

TEST_P(DriverBoundaryTest, ErrorTextsAreWindows1250) {
    // "modul neodpovídá" with í = 0xED and á = 0xE1 in Windows-1250.
    EXPECT_EQ(TextOf(Lib(), kTimeout),
              "modul neodpov\xED"
              "d\xE1");
    // "neplatné číslo spojení": é 0xE9, č 0xE8, í 0xED.
    EXPECT_EQ(TextOf(Lib(), kBadHandle), "neplatn\xE9 \xE8\xEDslo spojen\xED");
    EXPECT_NE(TextOf(Lib(), 0), TextOf(Lib(), kTimeout));
    EXPECT_EQ(TextOf(Lib(), 98), TextOf(Lib(), 99));
    EXPECT_NE(TextOf(Lib(), 98), TextOf(Lib(), kTimeout));
}

TEST_P(DriverBoundaryTest, UnknownHandlesAndNullPointers) {
    std::array<std::uint32_t, abi318::kCellCount> request{1, 200}, reply{};
    std::uint32_t out = 0, status = 0;
    EXPECT_EQ(Lib().send(0, request.data(), reply.data(), &out, &status), kBadHandle);
    EXPECT_EQ(status, kBadHandle);
    EXPECT_EQ(Lib().send(0x12345678, request.data(), reply.data(), &out, &status), kBadHandle);
    EXPECT_EQ(Lib().send(0x12345678, nullptr, reply.data(), &out, &status), kBadParameter);
    EXPECT_EQ(Lib().send(0x12345678, request.data(), reply.data(), &out, nullptr), kBadParameter);
    EXPECT_EQ(Lib().setConfig(0, 9600, 13, 2), kBadHandle);
    EXPECT_EQ(Lib().getConfig(0, nullptr, nullptr, nullptr), kBadHandle);
    EXPECT_EQ(Lib().done(nullptr), kBadParameter);
    std::uint32_t handle = 0x4242;
    EXPECT_EQ(Lib().done(&handle), kBadHandle);
    EXPECT_EQ(Lib().error(0, nullptr), kBadParameter);
    EXPECT_EQ(Lib().version(), 0x0102U);
}

TEST_P(DriverBoundaryTest, InitWithoutAHandleVariable) {
    switch (GetParam().form) {
        case InitForm::Param:
            EXPECT_EQ(Lib().initParam(nullptr, GetParam().param), kBadParameter);
            break;
        case InitForm::Plain:
            EXPECT_EQ(Lib().initPlain(nullptr), kBadParameter);
            break;
        case InitForm::Block: {
            std::array<std::uintptr_t, abi318::kInitParamCount> params{};
            EXPECT_EQ(Lib().initBlock(nullptr, params.data()), kBadParameter);
            break;
        }
    }
}

TEST_P(DriverBoundaryTest, MissingDeviceIsReported) {
    if (GetParam().variable == nullptr) {
        GTEST_SKIP() << "the LAN converter has no device";
    }
    ::setenv(GetParam().variable, "/nonexistent/rq905-port", 1);
    std::uint32_t handle = 77;
    const std::uint32_t result = GetParam().form == InitForm::Param
                                     ? Lib().initParam(&handle, GetParam().param)
                                     : Lib().initPlain(&handle);
    EXPECT_EQ(result, kNoDevice);
    EXPECT_EQ(handle, 0U);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DriverBoundaryTest, ::testing::ValuesIn(kKinds), CaseName<Kind>);

struct UdpInitCase {
    const char* name;
    const char* host;
    std::uintptr_t port;
    std::uintptr_t timeout;
    std::uint32_t code;
};
void PrintTo(const UdpInitCase& c, std::ostream* os) { *os << c.name; }

class UdpInitTest : public ::testing::TestWithParam<UdpInitCase> {};

TEST_P(UdpInitTest, ParametersChecked) {
    auto& lib = Library("TRQ1318");
    std::array<std::uintptr_t, abi318::kInitParamCount> params{};
    params[0] = reinterpret_cast<std::uintptr_t>(GetParam().host);
    params[1] = GetParam().port;
    params[2] = GetParam().timeout;
    std::uint32_t handle = 0;
    EXPECT_EQ(lib.initBlock(&handle, params.data()), GetParam().code);
    EXPECT_EQ(handle != 0, GetParam().code == 0);
    if (handle != 0) {
        EXPECT_EQ(lib.done(&handle), 0U);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, UdpInitTest,
                         ::testing::Values(UdpInitCase{"Good", "127.0.0.1", 3180, 100, 0},
                                           UdpInitCase{"AutomaticTimeout", "127.0.0.1", 3180, 0, 0},
                                           UdpInitCase{"NoText", nullptr, 3180, 100, 17},
                                           UdpInitCase{"EmptyText", "", 3180, 100, 17},
                                           UdpInitCase{"NotAnAddress", "999.1.2.3", 3180, 100, 17},
                                           UdpInitCase{"NotAHostName", "converter 1", 3180, 100, 17},
                                           UdpInitCase{"UnresolvableName", "rq1318.invalid", 3180, 100, 28},
                                           UdpInitCase{"HostName", "localhost", 3180, 100, 0},
                                           UdpInitCase{"PortZero", "127.0.0.1", 0, 100, 18},
                                           UdpInitCase{"PortTooBig", "127.0.0.1", 70000, 100, 18},
                                           UdpInitCase{"TimeoutTooLong", "127.0.0.1", 3180, 60001, 27}),
                         CaseName<UdpInitCase>);

TEST(SerialInit, BadPortNumberOrBaseAddress) {
    std::uint32_t handle = 0;
    EXPECT_EQ(Library("TCOM318").initParam(&handle, 0), kBadParameter);
    EXPECT_EQ(Library("TCOM318").initParam(&handle, 256), kBadParameter);
    EXPECT_EQ(Library("TPCI318").initParam(&handle, 0), kBadParameter);
    EXPECT_EQ(Library("TPCI318").initParam(&handle, 0x10000), kBadParameter);
    EXPECT_EQ(handle, 0U);
}

TEST(SerialInit, PortIsExclusive) {
    TempDir dir;
    auto sim = StartSim({"--fresh", "--state", dir.Path("state"), "--pty"});
    ASSERT_TRUE(sim->Ready());
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    ASSERT_EQ(Open(kKinds[0], *sim, first), 0U);
    EXPECT_EQ(Open(kKinds[1], *sim, second), kDeviceBusy);
    EXPECT_EQ(second, 0U);
    EXPECT_EQ(Library("TCOM318").done(&first), 0U);
    ASSERT_EQ(Open(kKinds[1], *sim, second), 0U);
    EXPECT_EQ(Library("TPCI318").done(&second), 0U);
}

TEST(UdpLinks, SeveralOpenAtOnce) {
    TempDir dir;
    auto sim = StartSim({"--fresh", "--state", dir.Path("state"), "--udp", "0", "--modules", "2"});
    ASSERT_TRUE(sim->Ready());
    auto& lib = Library("TRQ1318");
    std::array<std::uint32_t, 3> handles{};
    for (auto& h : handles) {
        ASSERT_EQ(Open(kKinds[4], *sim, h), 0U);
    }
    EXPECT_NE(handles[0], handles[1]);
    EXPECT_NE(handles[1], handles[2]);
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < handles.size(); ++i) {
            const std::uint8_t address = static_cast<std::uint8_t>(1 + i % 2);
            const std::uint8_t value = static_cast<std::uint8_t>(10 * round + i);
            ASSERT_TRUE(Transact(lib, handles[i], address, 103, 0, {0, 37, 37, value, value}).Ok());
            const Tx tx = Transact(lib, handles[i], address, 102, 0, {0, 37, 37, 0, 0});
            ASSERT_TRUE(tx.Ok());
            EXPECT_EQ(tx.data[3], value);
        }
    }
    for (auto& h : handles) {
        EXPECT_EQ(lib.done(&h), 0U);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SimulatorState, NewAddressAndSpeedTakeEffectAtTheNextStart) {
    TempDir dir;
    const std::string state = dir.Path("state");
    auto& lib = Library("TRQ1318");
    std::uint32_t handle = 0;
    {
        auto sim = StartSim({"--fresh", "--state", state, "--udp", "0", "--address", "5"});
        ASSERT_TRUE(sim->Ready());
        ASSERT_EQ(Open(kKinds[4], *sim, handle, 50), 0U);
        ASSERT_TRUE(Transact(lib, handle, 5, 103, 0, {0, 63, 63, 9, 9}).Ok());
        ASSERT_TRUE(Transact(lib, handle, 5, 103, 0, {0, 62, 62, 6, 6}).Ok());
        ASSERT_TRUE(Transact(lib, handle, 5, 103, 0, {0, 32, 32, 0x81, 0x81}).Ok());
        const Tx tx = Transact(lib, handle, 5, 102, 0, {0, 63, 63, 0, 0});
        ASSERT_TRUE(tx.Ok());
        EXPECT_EQ(tx.data[3], 9);
        EXPECT_EQ(Transact(lib, handle, 9, 200, 0).result, kTimeout);
        EXPECT_EQ(lib.done(&handle), 0U);
        EXPECT_EQ(sim->Stop(), 0);
    }
    EXPECT_NE(ReadFile(state).find("module 32=129 33=0 34=0 35=0 36=0 37=0 62=6 63=9"), std::string::npos)
        << ReadFile(state);

    auto sim = StartSim({"--state", state, "--pty", "--udp", "0"});
    ASSERT_TRUE(sim->Ready());
    EXPECT_TRUE(sim->WaitFor("module 9 at 38400 Bd", 1s, true));
    ASSERT_EQ(Open(kKinds[4], *sim, handle, 50), 0U);
    EXPECT_EQ(Transact(lib, handle, 5, 200, 0).result, kTimeout);
    EXPECT_TRUE(Transact(lib, handle, 9, 200, 0).Ok());
    const Tx tx = Transact(lib, handle, 9, 102, 0, {0, 32, 32, 0, 0});
    ASSERT_TRUE(tx.Ok());
    EXPECT_EQ(tx.data[3], 0x81);
    EXPECT_EQ(lib.done(&handle), 0U);

    // The serial line must now run at the new speed too.
    auto& com = Library("TCOM318");
    ASSERT_EQ(Open(kKinds[0], *sim, handle), 0U);
    ASSERT_EQ(com.setConfig(handle, 9600, 13, 2), 0U);
    EXPECT_EQ(Transact(com, handle, 9, 200, 0).result, kTimeout);
    ASSERT_EQ(com.setConfig(handle, 38400, 5, 2), 0U);
    EXPECT_TRUE(Transact(com, handle, 9, 200, 0).Ok());
    EXPECT_EQ(com.done(&handle), 0U);
}

TEST(SimulatorState, QuietSimulatorStillSavesEveryWriteAtOnce) {
    TempDir dir;
    const std::string state = dir.Path("state");
    auto& lib = Library("TRQ1318");
    std::uint32_t handle = 0;
    auto sim = StartSim({"--fresh", "--quiet", "--state", state, "--udp", "0"});
    ASSERT_TRUE(sim->Ready());
    ASSERT_EQ(Open(kKinds[4], *sim, handle, 50), 0U);
    ASSERT_TRUE(Transact(lib, handle, 1, 103, 0, {0, 37, 37, 0x85, 0x85}).Ok());
    // Read while it still runs: nothing may wait for the exit.
    EXPECT_NE(ReadFile(state).find("37=133"), std::string::npos) << ReadFile(state);
    EXPECT_EQ(lib.done(&handle), 0U);
}

TEST(SimulatorState, StuckRegisterDoesNotKeepTheWrite) {
    TempDir dir;
    auto sim = StartSim({"--fresh", "--state", dir.Path("state"), "--udp", "0", "--stuck-register", "35"});
    ASSERT_TRUE(sim->Ready());
    auto& lib = Library("TRQ1318");
    std::uint32_t handle = 0;
    ASSERT_EQ(Open(kKinds[4], *sim, handle, 100), 0U);
    EXPECT_TRUE(Transact(lib, handle, 1, 103, 0, {0, 35, 35, 7, 7}).Ok());
    EXPECT_TRUE(Transact(lib, handle, 1, 103, 0, {0, 36, 36, 7, 7}).Ok());
    EXPECT_EQ(Transact(lib, handle, 1, 102, 0, {0, 35, 35, 0, 0}).data[3], 0);
    EXPECT_EQ(Transact(lib, handle, 1, 102, 0, {0, 36, 36, 0, 0}).data[3], 7);
    EXPECT_EQ(lib.done(&handle), 0U);
}

TEST(SimulatorInputs, PatternKeepsChanging) {
    TempDir dir;
    auto sim = StartSim(
        {"--fresh", "--state", dir.Path("state"), "--udp", "0", "--pattern", "count", "--pattern-ms", "5"});
    ASSERT_TRUE(sim->Ready());
    auto& lib = Library("TRQ1318");
    std::uint32_t handle = 0;
    ASSERT_EQ(Open(kKinds[4], *sim, handle, 100), 0U);
    std::set<std::uint8_t> seen;
    for (int i = 0; i < 50 && seen.size() < 3; ++i) {
        const Tx tx = Transact(lib, handle, 1, 0, 64);
        ASSERT_TRUE(tx.Ok());
        seen.insert(tx.data[1]);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(seen.size(), 3U);
    EXPECT_EQ(lib.done(&handle), 0U);
}

}  // namespace
