// The Modbus map: each row a request PDU in hex, the module's cached state
// and what the gateway allows, and what it must answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GatewayOptions.h"
#include "ModbusMap.h"

namespace {

using TAction = TDecision::TAction;

enum class TState { Fresh, Silent, Written };
struct TMapCase {
    const char* name;
    const char* pdu;  // hex
    TState state;
    TPermissions allowed;
    TAction action;
    uint8_t exception;
    int table;  // for a Reply: 0 coils, 1 inputs, 2 input registers, 3 holding; -1 none
    int slot;
    uint16_t value;
};
void PrintTo(const TMapCase& c, std::ostream* os) { *os << c.name; }

constexpr TPermissions kNone{false, false};
constexpr TPermissions kWrite{true, false};
constexpr TPermissions kAll{true, true};

const TMapCase kCases[] = {
    {"ReadInputs", "0200000008", TState::Fresh, kNone, TAction::Reply, 0, 1, 7, 1},
    {"ReadInputsPastMap", "0200010008", TState::Fresh, kNone, TAction::Exception, 2, -1, 0, 0},
    {"ReadInputsZeroCount", "0200000000", TState::Fresh, kNone, TAction::Exception, 3, -1, 0, 0},
    {"ReadInputsSilent", "0200000008", TState::Silent, kNone, TAction::Exception, 11, -1, 0, 0},
    {"ReadInputsTruncated", "02000000", TState::Fresh, kNone, TAction::Exception, 3, -1, 0, 0},
    {"ReadCoilsBeforeWrite", "0100000008", TState::Fresh, kNone, TAction::Exception, 4, -1, 0, 0},
    {"ReadCoilsWritten", "0100000008", TState::Written, kNone, TAction::Reply, 0, 0, 2, 1},
    {"StatusLowWord", "0400000002", TState::Fresh, kNone, TAction::Reply, 0, 2, 0, 0x0030},
    {"StatusHighWord", "0400010001", TState::Fresh, kNone, TAction::Reply, 0, 2, 1, 0x8001},
    {"StatusPastMap", "0400020001", TState::Fresh, kNone, TAction::Exception, 2, -1, 0, 0},
    {"PwmBeforeWrite", "0300000001", TState::Fresh, kNone, TAction::Exception, 4, -1, 0, 0},
    {"PwmWritten", "0300000001", TState::Written, kNone, TAction::Reply, 0, 3, 0, 1000},
    {"ConfigBlock", "0300200006", TState::Fresh, kNone, TAction::Reply, 0, 3, 37, 0x25},
    {"ConfigSpeedAddress", "03003E0002", TState::Fresh, kNone, TAction::Reply, 0, 3, 63, 1},
    {"HoldingGap", "0300260001", TState::Fresh, kNone, TAction::Exception, 2, -1, 0, 0},
    {"HoldingAcrossBlocks", "0300000021", TState::Fresh, kNone, TAction::Exception, 2, -1, 0, 0},
    {"HoldingPastConfig", "03003F0002", TState::Fresh, kNone, TAction::Exception, 2, -1, 0, 0},
    {"WriteCoilNotAllowed", "050003FF00", TState::Fresh, kNone, TAction::Exception, 1, -1, 0, 0},
    {"WriteCoil", "050003FF00", TState::Fresh, kWrite, TAction::Write, 0, -1, 0, 0},
    {"WriteCoilBadValue", "0500031234", TState::Fresh, kWrite, TAction::Exception, 3, -1, 0, 0},
    {"WriteCoilPastMap", "050008FF00", TState::Fresh, kWrite, TAction::Exception, 2, -1, 0, 0},
    {"WriteCoilSilent", "050003FF00", TState::Silent, kWrite, TAction::Exception, 11, -1, 0, 0},
    {"WriteCoils", "0F000200040105", TState::Fresh, kWrite, TAction::Write, 0, -1, 0, 0},
    {"WriteCoilsByteCount", "0F000200040205", TState::Fresh, kWrite, TAction::Exception, 3, -1, 0, 0},
    {"WriteCoilsPastMap", "0F000600040105", TState::Fresh, kWrite, TAction::Exception, 2, -1, 0, 0},
    {"WritePwm", "06000003E8", TState::Fresh, kWrite, TAction::Write, 0, -1, 0, 0},
    {"WritePwmNotAllowed", "06000003E8", TState::Fresh, kNone, TAction::Exception, 1, -1, 0, 0},
    {"WriteConfigReadOnly", "0600210001", TState::Fresh, kWrite, TAction::Exception, 1, -1, 0, 0},
    {"WriteConfig", "1000210002040001000F", TState::Fresh, kAll, TAction::Write, 0, -1, 0, 0},
    {"WriteConfigTooBig", "0600210100", TState::Fresh, kAll, TAction::Exception, 3, -1, 0, 0},
    {"WriteRegistersLength", "100021000204000100", TState::Fresh, kAll, TAction::Exception, 3, -1, 0, 0},
    {"WriteGap", "0600100001", TState::Fresh, kAll, TAction::Exception, 2, -1, 0, 0},
    {"MaskWrite", "160000FFFF0000", TState::Fresh, kAll, TAction::Exception, 1, -1, 0, 0},
    {"ReadWriteMultiple", "17000000010000000102FFFF", TState::Fresh, kAll, TAction::Exception, 1, -1, 0, 0},
    {"DeviceIdentification", "2B0E0100", TState::Fresh, kAll, TAction::Exception, 1, -1, 0, 0},
    {"FunctionZero", "00", TState::Fresh, kAll, TAction::Exception, 1, -1, 0, 0},
    {"ExceptionFunction", "8100000001", TState::Fresh, kAll, TAction::Exception, 1, -1, 0, 0},
};

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

class GatewayMap : public testing::TestWithParam<TMapCase> {};

TEST_P(GatewayMap, Answers) {
    const TMapCase& c = GetParam();
    TModuleView view;
    view.fresh = c.state != TState::Silent;
    view.inputs = 0x80;
    view.status = 0x80010030;
    for (std::size_t i = 0; i < view.config.size(); ++i) view.config[i] = static_cast<uint8_t>(0x20 + i);
    view.config[6] = 4;
    view.config[7] = 1;
    if (c.state == TState::Written) {
        view.outputs = 0x04;
        view.pwm = 1000;
    }
    uint8_t bits[kMapBits]{}, inputBits[kMapBits]{};
    uint16_t inputRegs[kMapInputRegisters]{}, registers[kMapRegisters]{};
    const std::vector<uint8_t> pdu = FromHex(c.pdu);
    const TDecision d =
        Decide(pdu.data(), pdu.size(), view, c.allowed, {bits, inputBits, inputRegs, registers});
    EXPECT_EQ(d.action, c.action);
    EXPECT_EQ(d.exception, c.exception);
    switch (c.table) {
        case 0:
            EXPECT_EQ(bits[c.slot], c.value);
            break;
        case 1:
            EXPECT_EQ(inputBits[c.slot], c.value);
            break;
        case 2:
            EXPECT_EQ(inputRegs[c.slot], c.value);
            break;
        case 3:
            EXPECT_EQ(registers[c.slot], c.value);
            break;
        default:
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, GatewayMap, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TMapCase>& row) {
                             return std::string(row.param.name);
                         });

// What a write asks of the module: coils become one outputs write.
struct TWriteCase {
    const char* name;
    const char* pdu;
    TWriteRequest::TKind kind;
    uint8_t mask;
    uint8_t values;
    uint16_t pwm;
    std::size_t registers;
};
void PrintTo(const TWriteCase& c, std::ostream* os) { *os << c.name; }

const TWriteCase kWrites[] = {
    {"SingleCoilOn", "050003FF00", TWriteRequest::TKind::Outputs, 0x08, 0x08, 0, 0},
    {"SingleCoilOff", "0500070000", TWriteRequest::TKind::Outputs, 0x80, 0x00, 0, 0},
    {"FourCoils", "0F000200040105", TWriteRequest::TKind::Outputs, 0x3C, 0x14, 0, 0},
    {"AllCoils", "0F00000008011A", TWriteRequest::TKind::Outputs, 0xFF, 0x1A, 0, 0},
    {"Pwm", "06000003E8", TWriteRequest::TKind::Pwm, 0, 0, 1000, 0},
    {"PwmMultiple", "100000000102FFFF", TWriteRequest::TKind::Pwm, 0, 0, 0xFFFF, 0},
    {"TwoRegisters", "1000210002040001000F", TWriteRequest::TKind::Config, 0, 0, 0, 2},
};

class GatewayWrite : public testing::TestWithParam<TWriteCase> {};

TEST_P(GatewayWrite, Asks) {
    const TWriteCase& c = GetParam();
    TModuleView view;
    view.fresh = true;
    uint8_t bits[kMapBits]{}, inputBits[kMapBits]{};
    uint16_t inputRegs[kMapInputRegisters]{}, registers[kMapRegisters]{};
    const std::vector<uint8_t> pdu = FromHex(c.pdu);
    const TDecision d = Decide(pdu.data(), pdu.size(), view, kAll, {bits, inputBits, inputRegs, registers});
    ASSERT_EQ(d.action, TAction::Write);
    EXPECT_EQ(d.write.kind, c.kind);
    EXPECT_EQ(d.write.mask, c.mask);
    EXPECT_EQ(d.write.values, c.values);
    EXPECT_EQ(d.write.pwm, c.pwm);
    EXPECT_EQ(d.write.registers.size(), c.registers);
}

INSTANTIATE_TEST_SUITE_P(Requests, GatewayWrite, testing::ValuesIn(kWrites),
                         [](const testing::TestParamInfo<TWriteCase>& row) {
                             return std::string(row.param.name);
                         });

// --allow-from and the configuration file's lines.
struct TOptionCase {
    const char* name;
    const char* config;
    bool ok;
    const char* peer;  // checked against --allow-from when ok
    bool allowed;
};
void PrintTo(const TOptionCase& c, std::ostream* os) { *os << c.name; }

const TOptionCase kOptionCases[] = {
    {"Loopback", "allow-from 127.0.0.0/8\n", true, "127.0.0.5", true},
    {"OtherNetwork", "allow-from 10.1.0.0/16, 192.168.1.7\n", true, "10.2.0.1", false},
    {"HostExact", "allow-from 10.1.0.0/16,192.168.1.7\n", true, "192.168.1.7", true},
    {"NoList", "# nothing\n\nmodbus 0.0.0.0:502\n", true, "8.8.8.8", true},
    {"BadPrefix", "allow-from 10.0.0.0/33\n", false, "", false},
    {"UnknownOption", "listen 1\n", false, "", false},
    {"FlagWithValue", "allow-write yes\n", false, "", false},
    {"ValueMissing", "modbus\n", false, "", false},
    {"BadPort", "metrics 127.0.0.1:70000\n", false, "", false},
};

class GatewayOptionsFile : public testing::TestWithParam<TOptionCase> {};

TEST_P(GatewayOptionsFile, Reads) {
    const TOptionCase& c = GetParam();
    TGatewayOptions options;
    std::string error;
    ASSERT_EQ(ParseGatewayConfig(c.config, options, error), c.ok) << error;
    if (!c.ok) {
        EXPECT_NE(error.find("line "), std::string::npos);
        return;
    }
    in_addr peer{};
    ASSERT_EQ(::inet_pton(AF_INET, c.peer, &peer), 1);
    EXPECT_EQ(CidrAllows(options.allowFrom, ntohl(peer.s_addr)), c.allowed);
}

INSTANTIATE_TEST_SUITE_P(Lines, GatewayOptionsFile, testing::ValuesIn(kOptionCases),
                         [](const testing::TestParamInfo<TOptionCase>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
