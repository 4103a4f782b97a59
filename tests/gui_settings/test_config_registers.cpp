// The register primitives and the three dialogs' sequences, without Qt:
// what goes out, in which order, what is shown and where the pauses fall.
#include <gtest/gtest.h>

#include "ScriptedModule.h"
#include "core/ConfigRegisters.h"

using namespace settingstest;

namespace {

class ConfigRegistersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        SetDefaults(&m_data);
        m_data.Kind = kKindLan;
        m_data.ModuleAddress = 9;
        uint32_t handle = 0;
        ASSERT_EQ(OpenInterface(kKindLan, handle, m_data.InitParams), 0u);
        m_data.Handle = handle;
        m_data.Connected = 1;
        Rec().calls.clear();
        m_module.log = &m_log;
        m_module.Install();
    }
    void TearDown() override {
        uint32_t handle = m_data.Handle;
        CloseInterface(m_data.Kind, handle);
    }
    TSequenceHooks Hooks() {
        return {[this](const std::string& text) { m_log.push_back("show" + text); },
                [this] { m_log.push_back("pause"); }};
    }
    TModuleLink Link() const { return LinkOf(m_data); }

    TData m_data;
    TScriptedModule m_module;
    std::vector<std::string> m_log;
};

std::string Shown(const char* prefix, unsigned percent) { return "show" + ProgressText(prefix, percent); }

TEST_F(ConfigRegistersTest, ReadRegisterSendsTheNumberTwiceAndTakesD3) {
    m_module.registers[40] = 0xA5;
    uint8_t value = 0;
    EXPECT_EQ(ReadRegister(Link(), 40, value), 0);
    EXPECT_EQ(value, 0xA5);
    EXPECT_EQ(ReadRegister(Link(), 40, value, 0x3C), 0);
    const auto sent = Rec().SentRequests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (std::array<uint32_t, 8>{9, 102, 0, 0, 40, 40, 0, 0}));
    EXPECT_EQ(sent[1], (std::array<uint32_t, 8>{9, 102, 0, 0, 40, 40, 0x3C, 0x3C}));
}

TEST_F(ConfigRegistersTest, WriteRegisterSendsTheValueTwice) {
    EXPECT_EQ(WriteRegister(Link(), 37, 133), 0);
    const auto sent = Rec().SentRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::array<uint32_t, 8>{9, 103, 0, 0, 37, 37, 133, 133}));
    EXPECT_EQ(m_module.registers[37], 133u);
}

struct VerifyCase {
    const char* name;
    int failAt;
    int skewAt;
    TReadBack readBack;
    uint8_t code;
    const char* text;
    std::vector<std::string> log;
};
void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.name; }

class WriteAndVerifyTest : public ConfigRegistersTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(WriteAndVerifyTest, OutcomeAndTransactions) {
    const VerifyCase& c = GetParam();
    m_module.failAt = c.failAt;
    m_module.failStatus = 12;
    Rec().errorTexts[12] = "linka mlčí";
    m_module.skewAt = c.skewAt;
    const TWriteOutcome outcome =
        WriteAndVerify(Link(), 34, 200, c.readBack, [this] { m_log.push_back("pause"); });
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.text, c.text);
    EXPECT_EQ(outcome.mismatch, c.code == kWriteMismatch);
    EXPECT_EQ(m_log, c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteAndVerifyTest,
    ::testing::Values(
        VerifyCase{"Done", -1, -1, TReadBack::Zeros, 0, "", {Write(34, 200), "pause", Read(34)}},
        VerifyCase{"EchoReadBack", -1, -1, TReadBack::Echo, 0, "", {Write(34, 200), "pause", Read(34, 200)}},
        VerifyCase{"WriteFails", 0, -1, TReadBack::Zeros, 12, "linka mlčí", {Write(34, 200)}},
        VerifyCase{"ReadBackFails",
                   1,
                   -1,
                   TReadBack::Echo,
                   12,
                   "linka mlčí",
                   {Write(34, 200), "pause", Read(34, 200)}},
        VerifyCase{"Mismatch",
                   -1,
                   1,
                   TReadBack::Zeros,
                   kWriteMismatch,
                   "Chyba zápisu dat.",
                   {Write(34, 200), "pause", Read(34)}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ConfigRegistersTest, LibraryStatusNineIsNotAMismatch) {
    m_module.failAt = 1;
    m_module.failStatus = kWriteMismatch;
    const TWriteOutcome outcome = WriteAndVerify(Link(), 34, 1, TReadBack::Zeros);
    EXPECT_EQ(outcome.code, kWriteMismatch);
    EXPECT_FALSE(outcome.mismatch);
    EXPECT_EQ(outcome.text, "E9");
}

// A config whose every register value differs from the defaults and from
// every other register, so a value landing in the wrong field shows.
TModuleConfig Distinct() {
    TModuleConfig c;
    c.BusAddress = 21;
    c.SpeedIndex = 6;
    c.PwmInitial = 0x1234;
    c.PwmMode = 0x85;
    c.DinNegation = {0x81, 1, 2, 3};
    c.DoutNegation = {0x42, 4, 5, 6};
    c.DoutInitial = {0x18, 7, 8, 9};
    return c;
}

// Distinct() after the first n registers were read from a module holding
// 32:1 33:2 34:3 35:4 36:5 37:6 62:7 63:8.
TModuleConfig AddressSpeedAfter(std::size_t n) {
    TModuleConfig c = Distinct();
    if (n >= 1) c.BusAddress = 8;
    if (n >= 2) c.SpeedIndex = 7;
    return c;
}
TModuleConfig DigitalIoAfter(std::size_t n) {
    TModuleConfig c = Distinct();
    if (n >= 1) c.DoutInitial[0] = 1;
    if (n >= 2) c.DinNegation[0] = 2;
    if (n >= 3) c.DoutNegation[0] = 3;
    return c;
}
TModuleConfig PwmAfter(std::size_t n) {
    TModuleConfig c = Distinct();
    if (n >= 2) c.PwmInitial = 5 * 256 + 4;
    if (n >= 3) c.PwmMode = 6;
    return c;
}

struct SequenceCase {
    const char* name;
    const TRegisterSequence* sequence;
    std::vector<std::string> readLog;
    std::vector<std::string> writeLog;
    TModuleConfig (*afterReading)(std::size_t registersRead);
    TModuleConfig readAll;  // defaults after a full read of Distinct()'s values
};
void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class SequenceTest : public ConfigRegistersTest, public ::testing::WithParamInterface<SequenceCase> {};

const char* kR = kReadProgressText;
const char* kW = kWriteProgressText;
const std::string kReadDone = std::string("show") + kReadDoneText;
const std::string kWriteDone = std::string("show") + kWriteDoneText;

TEST_P(SequenceTest, ReadShowsPausesAndStores) {
    const TModuleConfig module = Distinct();
    m_module.registers = {{32, 0x18}, {33, 0x81}, {34, 0x42}, {35, 0x34},
                          {36, 0x12}, {37, 0x85}, {62, 6},    {63, 21}};
    TModuleConfig config;  // defaults
    const TSequenceOutcome outcome = ReadConfig(m_data, *GetParam().sequence, config, Hooks());
    EXPECT_EQ(outcome.result, TSequenceResult::Done);
    EXPECT_EQ(m_log, GetParam().readLog);
    // The registers of this sequence now hold the module's values; the rest
    // of the record is left alone.
    EXPECT_EQ(config, GetParam().readAll);
    for (const TRegisterField& field : GetParam().sequence->fields) {
        EXPECT_EQ(field.value(config), field.value(module)) << int(field.reg);
    }
}

TEST_P(SequenceTest, WriteShowsPausesAndVerifies) {
    const TModuleConfig config = Distinct();
    const TSequenceOutcome outcome = WriteConfig(m_data, *GetParam().sequence, config, Hooks());
    EXPECT_EQ(outcome.result, TSequenceResult::Done);
    EXPECT_EQ(m_log, GetParam().writeLog);
    for (const std::array<uint32_t, 8>& sent : Rec().SentRequests()) EXPECT_EQ(sent[0], 9u);
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, SequenceTest,
    ::testing::Values(SequenceCase{"AddressSpeed",
                                   &kAddressSpeedRegisters,
                                   {Shown(kR, 0), Read(63), Shown(kR, 50), "pause", Read(62), Shown(kR, 100),
                                    kReadDone},
                                   {Shown(kW, 0), Write(63, 21), "pause", Read(63), Shown(kW, 50), "pause",
                                    Write(62, 6), "pause", Read(62), Shown(kW, 100), kWriteDone},
                                   AddressSpeedAfter,
                                   [] {
                                       TModuleConfig c;
                                       c.BusAddress = 21;
                                       c.SpeedIndex = 6;
                                       return c;
                                   }()},
                      SequenceCase{"DigitalIo",
                                   &kDigitalIoRegisters,
                                   {Shown(kR, 0), Read(32), Shown(kR, 8), "pause", Read(33), Shown(kR, 41),
                                    "pause", Read(34), Shown(kR, 75), "pause", kReadDone},
                                   {Shown(kW, 0), Write(32, 0x18), "pause", Read(32), Shown(kW, 8), "pause",
                                    Write(33, 0x81), "pause", Read(33), Shown(kW, 41), "pause",
                                    Write(34, 0x42), "pause", Read(34), Shown(kW, 75), "pause", kWriteDone},
                                   DigitalIoAfter,
                                   [] {
                                       TModuleConfig c;
                                       c.DoutInitial[0] = 0x18;
                                       c.DinNegation[0] = 0x81;
                                       c.DoutNegation[0] = 0x42;
                                       return c;
                                   }()},
                      SequenceCase{"Pwm",
                                   &kPwmRegisters,
                                   {Shown(kR, 0), Read(35), Shown(kR, 33), Read(36), Shown(kR, 66), Read(37),
                                    Shown(kR, 100), kReadDone},
                                   {Shown(kW, 0), Write(35, 0x34), Read(35, 0x34), Shown(kW, 33),
                                    Write(36, 0x12), Read(36, 0x12), Shown(kW, 66), Write(37, 0x85),
                                    Read(37, 0x85), Shown(kW, 100), kWriteDone},
                                   PwmAfter,
                                   [] {
                                       TModuleConfig c;
                                       c.PwmInitial = 0x1234;
                                       c.PwmMode = 0x85;
                                       return c;
                                   }()}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_P(SequenceTest, NothingWithoutAConnection) {
    for (const auto& [connected, handle] : {std::pair<uint8_t, uint32_t>{0, m_data.Handle}, {1, 0}}) {
        TData closed = m_data;
        closed.Connected = connected;
        closed.Handle = handle;
        TModuleConfig config = Distinct();
        EXPECT_EQ(ReadConfig(closed, *GetParam().sequence, config, Hooks()).result,
                  TSequenceResult::NotConnected);
        EXPECT_EQ(WriteConfig(closed, *GetParam().sequence, config, Hooks()).result,
                  TSequenceResult::NotConnected);
        EXPECT_EQ(config, Distinct());
    }
    EXPECT_TRUE(m_log.empty());
    EXPECT_TRUE(Rec().SentRequests().empty());
}

// A failure at transaction k: the sequence sends exactly the first k+1
// requests of a successful run and ends with the failure text.
TEST_P(SequenceTest, EveryTransactionCanFail) {
    const TRegisterSequence& sequence = *GetParam().sequence;
    Rec().errorTexts[5] = "porucha";
    const std::size_t count = sequence.fields.size();
    for (bool write : {false, true}) {
        const std::size_t transactions = write ? 2 * count : count;
        for (std::size_t k = 0; k < transactions; ++k) {
            for (bool skew : {false, true}) {
                // Only a read-back can disagree with what was written.
                if (skew && (!write || k % 2 == 0)) continue;
                SCOPED_TRACE((write ? "write " : "read ") + std::to_string(k) + (skew ? " skew" : " status"));
                m_module = TScriptedModule{};
                std::vector<std::string> sent;
                m_module.log = &sent;
                m_module.failAt = skew ? -1 : static_cast<int>(k);
                m_module.skewAt = skew ? static_cast<int>(k) : -1;
                m_module.registers = {{32, 1}, {33, 2}, {34, 3}, {35, 4}, {36, 5}, {37, 6}, {62, 7}, {63, 8}};
                m_log.clear();
                TModuleConfig config = Distinct();
                const TSequenceOutcome outcome = write ? WriteConfig(m_data, sequence, config, Hooks())
                                                       : ReadConfig(m_data, sequence, config, Hooks());
                const std::vector<std::string>& full = write ? GetParam().writeLog : GetParam().readLog;
                std::vector<std::string> expectedSent;
                for (const std::string& e : full) {
                    if (e != "pause" && e.rfind("show", 0) != 0) expectedSent.push_back(e);
                }
                expectedSent.resize(k + 1);
                EXPECT_EQ(sent, expectedSent);
                ASSERT_FALSE(m_log.empty());
                EXPECT_EQ(m_log.back(), skew ? "show Chyba zápisu dat." : "show porucha");
                const std::size_t failedField = write ? k / 2 : k;
                EXPECT_EQ(outcome.result,
                          skew ? TSequenceResult::Mismatch : TSequenceResult::TransactionFailed);
                EXPECT_EQ(outcome.reg, sequence.fields[failedField].reg);
                EXPECT_EQ(outcome.status, skew ? 0 : 5);
                // Progress texts: the 0 % one and one per register done.
                std::size_t progress = 0;
                for (const std::string& e : m_log) {
                    if (e.find(" %)") != std::string::npos) ++progress;
                }
                EXPECT_EQ(progress, failedField + 1);
                // Registers read before the failure reach the record; a
                // value split over two registers only when complete. A write
                // leaves the record alone.
                EXPECT_EQ(config, write ? Distinct() : GetParam().afterReading(failedField));
            }
        }
    }
}

TEST_F(ConfigRegistersTest, WriteLeavesTheRecordAndTakesLinkOnce) {
    TModuleConfig config = Distinct();
    config.PwmInitial = 65535;
    // Whatever the record says once the sequence is under way, it keeps the
    // address it began with.
    TSequenceHooks hooks{[this](const std::string& text) {
                             if (text != ProgressText(kWriteProgressText, 0)) m_data.ModuleAddress = 99;
                         },
                         {}};
    WriteConfig(m_data, kPwmRegisters, config, hooks);
    const auto sent = Rec().SentRequests();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0], (std::array<uint32_t, 8>{9, 103, 0, 0, 35, 35, 255, 255}));
    EXPECT_EQ(sent[2], (std::array<uint32_t, 8>{9, 103, 0, 0, 36, 36, 255, 255}));
    EXPECT_EQ(sent[5][0], 9u);
    EXPECT_EQ(config.PwmInitial, 65535);
}

}  // namespace
