// The gateway's Modbus map: what a request to a module may do, decided
// from its PDU and the module's cached state alone, so that nothing that
// the map does not hold reaches the line. The protocol itself is
// libmodbus'; this is the map and the exceptions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/ConfigRegisters.h"

// Modbus exception codes the gateway answers with.
inline constexpr uint8_t kExIllegalFunction = 1;
inline constexpr uint8_t kExIllegalAddress = 2;
inline constexpr uint8_t kExIllegalValue = 3;
inline constexpr uint8_t kExDeviceFailure = 4;
inline constexpr uint8_t kExPathUnavailable = 10;
inline constexpr uint8_t kExTargetSilent = 11;

// The configuration registers, in the order the cache keeps them.
inline constexpr std::array<uint8_t, 8> kConfigRegisters{
    kRegDoutInitial,    kRegDinNegation, kRegDoutNegation, kRegPwmInitialLow,
    kRegPwmInitialHigh, kRegPwmMode,     kRegSpeedIndex,   kRegBusAddress};
int ConfigSlot(unsigned reg);  // -1 when reg is no configuration register

// Register and bit counts the scratch mapping must hold.
inline constexpr int kMapBits = 8;
inline constexpr int kMapInputRegisters = 2;
inline constexpr int kMapRegisters = 64;

// A module as a request sees it.
struct TModuleView {
    bool fresh = false;  // answered its last poll, and the sample is recent enough
    uint8_t inputs = 0;
    uint32_t status = 0;
    std::optional<uint8_t> outputs;  // as the gateway last wrote them
    std::optional<uint16_t> pwm;     // as the gateway last wrote it
    std::array<std::optional<uint8_t>, kConfigRegisters.size()> config;
};

struct TPermissions {
    bool write = false;
    bool config = false;
};

// What a write asks of the module.
struct TWriteRequest {
    enum class TKind : uint8_t { Outputs, Pwm, Config } kind = TKind::Outputs;
    uint8_t mask = 0;    // outputs: the coils written
    uint8_t values = 0;  // outputs: their new states
    uint16_t pwm = 0;
    std::vector<std::pair<uint8_t, uint8_t>> registers;  // config: register, value
};

struct TDecision {
    enum class TAction : uint8_t { Reply, Exception, Write } action = TAction::Exception;
    uint8_t exception = 0;
    TWriteRequest write;
};

// Scratch tables that a read's reply is built from.
struct TMapTables {
    uint8_t* bits;        // coils, kMapBits
    uint8_t* inputBits;   // discrete inputs, kMapBits
    uint16_t* inputRegs;  // kMapInputRegisters
    uint16_t* registers;  // holding registers, kMapRegisters
};

// pdu starts at the function code. A Reply has filled tables for
// modbus_reply; a Write waits for the module before its reply.
TDecision Decide(const uint8_t* pdu, std::size_t length, const TModuleView& module,
                 const TPermissions& allowed, const TMapTables& tables);
