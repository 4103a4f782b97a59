// The interface library layer against the recording drivers, loaded through
// the real dynamic loader.
#include <gtest/gtest.h>

#include "RecState.h"
#include "link/Txxx318.h"

namespace {

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override { Rec().Reset(); }
    void TearDown() override {
        uint32_t h = 1;
        CloseInterface(m_kind, h);
    }
    uint32_t Open(uint8_t kind, const TInitParams& params = {}) {
        m_kind = kind;
        m_handle = 0;
        return OpenInterface(kind, m_handle, params);
    }
    uint8_t m_kind = 0;
    uint32_t m_handle = 0;
};

struct InitFormCase {
    uint8_t kind;
    const char* library;
    std::vector<uint64_t> expectedArgs;
};
void PrintTo(const InitFormCase& c, std::ostream* os) { *os << c.library; }

class InitFormTest : public LinkTest, public ::testing::WithParamInterface<InitFormCase> {};

TEST_P(InitFormTest, CallsInitOfItsKindWithItsForm) {
    const InitFormCase& c = GetParam();
    TInitParams params{};
    params[0] = 0x2A0;
    params[1] = 77;  // must not reach kinds 0..3
    ASSERT_EQ(Open(c.kind, params), 0u);
    EXPECT_EQ(m_handle, 0x51u);
    const auto inits = Rec().CallsOf("Init");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].library, c.library);
    EXPECT_EQ(inits[0].args, c.expectedArgs);
}

INSTANTIATE_TEST_SUITE_P(Kinds, InitFormTest,
                         ::testing::Values(InitFormCase{0, "TCOM318", {0x2A0}},
                                           InitFormCase{1, "TPCI318", {0x2A0}},
                                           InitFormCase{2, "TPCI1318", {}}, InitFormCase{3, "TUSB1318", {}}));

TEST_F(LinkTest, LanInitGetsIpTextPortAndTimeoutIntact) {
    const std::string ip = "127.0.0.1";
    TInitParams params{};
    params[0] = reinterpret_cast<uintptr_t>(ip.c_str());
    params[1] = 5000;
    params[2] = 65535;
    ASSERT_EQ(Open(4, params), 0u);
    const auto inits = Rec().CallsOf("Init");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].library, "TRQ1318");
    // The full pointer arrives, not its low 32 bits.
    EXPECT_EQ(inits[0].args[0], reinterpret_cast<uintptr_t>(ip.c_str()));
    EXPECT_EQ(inits[0].ipText, ip);
    EXPECT_EQ(inits[0].args[1], 5000u);
    EXPECT_EQ(inits[0].args[2], 65535u);
    EXPECT_EQ(inits[0].args[3], 0u);
}

TEST_F(LinkTest, InitFailureKeepsLibraryBoundForItsErrorText) {
    Rec().initResult = 42;
    Rec().errorTexts[42] = "port nelze otevřít";
    EXPECT_EQ(Open(0), 42u);
    EXPECT_EQ(ResultMessage(0, 42), "port nelze otevřít");
}

TEST_F(LinkTest, InvalidKindAnswers10AndCallsNothing) {
    ASSERT_EQ(Open(2), 0u);
    Rec().calls.clear();
    uint32_t handle = 0;
    EXPECT_EQ(OpenInterface(5, handle, {}), kResultNotBound);
    // Step 2 marked everything absent: the earlier binding is gone too.
    TCellBlock req{}, rep{};
    uint32_t out = 0, status = 0;
    EXPECT_EQ(InterfaceSend(2, 0x51, req, rep, out, status), kResultNotBound);
    EXPECT_EQ(InterfaceSetConfig(2, 0x51, 9600, 13, 2), kResultNotBound);
    EXPECT_TRUE(Rec().calls.empty());
}

TEST_F(LinkTest, WrappersCheckTheKind) {
    ASSERT_EQ(Open(0), 0u);
    Rec().calls.clear();
    TCellBlock req{}, rep{};
    uint32_t out = 0, status = 0;
    EXPECT_EQ(InterfaceSend(9, 0x51, req, rep, out, status), kResultNotBound);
    EXPECT_EQ(InterfaceSetConfig(5, 0x51, 9600, 13, 2), kResultNotBound);
    uint32_t h = 0x51;
    EXPECT_EQ(CloseInterface(5, h), kResultNotBound);
    EXPECT_TRUE(Rec().calls.empty());
    // Still bound: kind 5 released nothing.
    EXPECT_EQ(InterfaceSetConfig(0, 0x51, 9600, 13, 2), 0u);
}

TEST_F(LinkTest, SetConfigPassesItsArguments) {
    ASSERT_EQ(Open(4), 0u);
    Rec().setConfigResult = 7;
    EXPECT_EQ(InterfaceSetConfig(4, 0x51, 115200, 5, 2), 7u);
    const auto calls = Rec().CallsOf("SetConfig");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<uint64_t>{0x51, 115200, 5, 2}));
}

TEST_F(LinkTest, CloseCallsDoneWithTheHandleVariableAndUnbinds) {
    ASSERT_EQ(Open(3), 0u);
    Rec().doneHandleAfter = 0;
    Rec().doneResult = 3;
    uint32_t handle = 0x51;
    EXPECT_EQ(CloseInterface(3, handle), 3u);
    EXPECT_EQ(handle, 0u);
    const auto done = Rec().CallsOf("Done");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].args[0], 0x51u);
    Rec().calls.clear();
    TCellBlock req{}, rep{};
    uint32_t out = 0, status = 0;
    EXPECT_EQ(InterfaceSend(3, 0x51, req, rep, out, status), kResultNotBound);
    EXPECT_EQ(CloseInterface(3, handle), kResultNotBound);
    EXPECT_TRUE(Rec().calls.empty());
}

// ---- ModuleTransaction ----

struct Bytes {
    uint8_t d0, d1, d2, d3, d4, status;
};

class TransactionTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        ASSERT_EQ(Open(4), 0u);
    }
    Bytes Run(uint8_t address, uint8_t command, uint8_t index, Bytes in, uint32_t handle = 0x51) {
        ModuleTransaction(4, handle, address, command, index, in.d0, in.d1, in.d2, in.d3, in.d4, in.status,
                          m_reply);
        return in;
    }
    TCellBlock m_reply{};
};

TEST_F(TransactionTest, BuildsTheRequestBlock) {
    Run(7, 103, 0, {0, 63, 63, 12, 12, 99});
    const auto sent = Rec().SentRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::array<uint32_t, 8>{7, 103, 0, 0, 63, 63, 12, 12}));
}

TEST_F(TransactionTest, TakesReplyBytesFromOutAndCells) {
    Rec().replies.push_back({0, 0, 0x1F5, {0x141, 2, 0xFFFFFF03, 4}});
    const Bytes r = Run(1, 200, 0, {9, 9, 9, 9, 9, 9});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.d0, 0xF5);
    EXPECT_EQ(r.d1, 0x41);
    EXPECT_EQ(r.d2, 2);
    EXPECT_EQ(r.d3, 3);
    EXPECT_EQ(r.d4, 4);
}

struct FailureCase {
    uint32_t result;
    uint32_t status;
    uint8_t expectedStatus;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << "result " << c.result << " status " << c.status;
}

class TransactionFailureTest : public TransactionTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(TransactionFailureTest, ZeroesDataAndReportsTheCode) {
    const FailureCase& c = GetParam();
    Rec().replies.push_back({c.result, c.status, 5, {6, 7, 8, 9}});
    const Bytes r = Run(1, 1, 64, {1, 2, 3, 4, 5, 0});
    EXPECT_EQ(r.status, c.expectedStatus);
    EXPECT_EQ(r.d0 | r.d1 | r.d2 | r.d3 | r.d4, 0);
}

INSTANTIATE_TEST_SUITE_P(Codes, TransactionFailureTest,
                         ::testing::Values(FailureCase{0, 3, 3},  // module status
                                           FailureCase{7, 0, 7},  // Send's own result
                                           FailureCase{7, 3, 7},  // result wins over status
                                           // A low byte of 0 alone must not read as success.
                                           FailureCase{0, 0x100, kResultWideStatus},
                                           FailureCase{0, 0x1FF00, kResultWideStatus},
                                           FailureCase{0xFFFFFF00, 0, kResultWideStatus},
                                           FailureCase{0, 0x101, 1}, FailureCase{0, 0x1FF, 0xFF},
                                           FailureCase{0, 0xFFFFFFFF, 0xFF}));

TEST_F(TransactionTest, HandleZeroSendsNothingAndTouchesNothing) {
    m_reply[0] = 1234;
    const Bytes r = Run(1, 0, 64, {1, 2, 3, 4, 5, 66}, 0);
    EXPECT_EQ(r.d0, 1);
    EXPECT_EQ(r.d4, 5);
    EXPECT_EQ(r.status, 66);
    EXPECT_EQ(m_reply[0], 1234u);
    EXPECT_TRUE(Rec().SentRequests().empty());
}

TEST_F(TransactionTest, UnboundLibraryGivesStatus10) {
    uint32_t h = 0x51;
    CloseInterface(4, h);
    const Bytes r = Run(1, 0, 64, {1, 2, 3, 4, 5, 0});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.d1, 0);
}

// ---- Result texts ----

TEST_F(LinkTest, LibraryCodesComeFromItsErrorEntry) {
    ASSERT_EQ(Open(1), 0u);
    Rec().errorTexts[0] = "OK";
    EXPECT_EQ(ResultMessage(1, 0), "OK");
    EXPECT_EQ(ResultMessage(1, 99), "E99");
    const auto calls = Rec().CallsOf("Error");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].args[0], 99u);
}

TEST_F(LinkTest, LibraryCodeWithoutBindingLeavesBlockUntouched) {
    TCellBlock block{};
    block[1] = 'x';
    EXPECT_EQ(ResultText(0, 10, block), kResultNotBound);
    EXPECT_EQ(block[1], static_cast<uint32_t>('x'));
    ASSERT_EQ(Open(0), 0u);
    EXPECT_EQ(ResultText(6, 10, block), kResultNotBound);
    EXPECT_TRUE(Rec().CallsOf("Error").empty());
}

struct TextCase {
    uint32_t code;
    const char* text;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << "code " << c.code; }

class LayerTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(LayerTextTest, HasItsOwnTextWhateverTheKind) {
    for (const uint8_t kind : {uint8_t{0}, uint8_t{4}, uint8_t{200}}) {
        TCellBlock block{};
        block[0] = 1234;  // must be overwritten: the whole block is filled
        EXPECT_EQ(ResultText(kind, GetParam().code, block), 0u);
        EXPECT_EQ(block[0], 0u);
        EXPECT_EQ(CellsToText(block), GetParam().text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, LayerTextTest,
    ::testing::Values(
        TextCase{100, "chyba inicializace knihovny TCOM318.DLL"},
        TextCase{101, "chyba inicializace knihovny TPCI318.DLL"},
        TextCase{102, "chyba inicializace knihovny TPCI1318.DLL"},
        TextCase{103, "chyba inicializace knihovny TUSB1318.DLL"},
        TextCase{104, "chyba inicializace knihovny TRQ1318.DLL"},
        TextCase{110, "chybná knihovna TCOM318.DLL"}, TextCase{111, "chybná knihovna TPCI318.DLL"},
        TextCase{112, "chybná knihovna TPCI1318.DLL"}, TextCase{113, "chybná knihovna TUSB1318.DLL"},
        TextCase{114, "chybná knihovna TRQ1318.DLL"}, TextCase{120, "neplatný stav přenosu od knihovny"},
        TextCase{105, "neznámý chybový kód"}, TextCase{107, "neznámý chybový kód"},
        TextCase{109, "neznámý chybový kód"}, TextCase{115, "neznámý chybový kód"},
        TextCase{256, "neznámý chybový kód"}, TextCase{0xFFFFFFFF, "neznámý chybový kód"}));

}  // namespace
