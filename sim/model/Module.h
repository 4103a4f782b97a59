// The simulated RQ-905 module: its stored registers, its live inputs and
// outputs and its status register, and how it answers each command. No I/O
// here; the server feeds it decoded requests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Wire.h"

namespace sim {

namespace reg {
inline constexpr std::uint8_t kDoutInitial = 32;
inline constexpr std::uint8_t kDinNegation = 33;
inline constexpr std::uint8_t kDoutNegation = 34;
inline constexpr std::uint8_t kPwmInitialLow = 35;
inline constexpr std::uint8_t kPwmInitialHigh = 36;
inline constexpr std::uint8_t kPwmMode = 37;
inline constexpr std::uint8_t kSpeedIndex = 62;
inline constexpr std::uint8_t kBusAddress = 63;
}  // namespace reg

// Register numbers in the order they are stored.
inline constexpr std::array<std::uint8_t, 8> kRegisterNumbers = {
    reg::kDoutInitial,    reg::kDinNegation, reg::kDoutNegation, reg::kPwmInitialLow,
    reg::kPwmInitialHigh, reg::kPwmMode,     reg::kSpeedIndex,   reg::kBusAddress,
};
std::optional<std::size_t> RegisterSlot(std::uint8_t number);

// Stored values, by slot of kRegisterNumbers.
struct Registers {
    std::array<std::uint8_t, kRegisterNumbers.size()> values{};
    std::uint8_t Get(std::uint8_t number) const { return values[*RegisterSlot(number)]; }
    void Set(std::uint8_t number, std::uint8_t value) { values[*RegisterSlot(number)] = value; }
    bool operator==(const Registers&) const = default;
};
// Factory settings of a module at this bus address and speed index.
Registers FactoryRegisters(std::uint8_t address, std::uint8_t speedIndex);

namespace status {
inline constexpr std::uint32_t kFn = 1U << 1;
inline constexpr std::uint32_t kPrf = 1U << 2;
inline constexpr std::uint32_t kPwr = 1U << 4;
inline constexpr std::uint32_t kRst = 1U << 5;
inline constexpr std::uint32_t kErr24 = 1U << 6;
}  // namespace status

namespace cmd {
inline constexpr std::uint8_t kRead = 0;
inline constexpr std::uint8_t kWrite = 1;
inline constexpr std::uint8_t kReadStatus = 100;
inline constexpr std::uint8_t kClearStatus = 101;
inline constexpr std::uint8_t kReadRegister = wire::kReadRegister;
inline constexpr std::uint8_t kWriteRegister = wire::kWriteRegister;
inline constexpr std::uint8_t kIdentify = 200;
inline constexpr std::uint8_t kDigitalIndex = 64;
inline constexpr std::uint8_t kPwmIndex = 0;
}  // namespace cmd

struct Identity {
    std::string name = "RQ-905  ";  // 8 characters, two answers of 4
    std::string version = "1.02";   // 4 characters
};

// What a request changed, for the console.
struct Changes {
    bool outputs = false;
    bool pwm = false;
    std::optional<std::uint8_t> registerWritten;
    bool statusCleared = false;
};

class Module {
  public:
    Module(const Registers& stored, Identity identity);

    // The reply to a request addressed to this module; echo fields copied.
    wire::Reply Handle(const wire::Request& request, Changes* changes = nullptr);

    // Address and speed as they were at start; a written value waits for
    // the next start.
    std::uint8_t Address() const { return m_address; }
    std::uint8_t SpeedIndex() const { return m_speedIndex; }
    const Registers& Stored() const { return m_stored; }

    void SetInputs(std::uint8_t pins) { m_inputPins = pins; }
    std::uint8_t InputPins() const { return m_inputPins; }
    std::uint8_t Outputs() const { return m_outputs; }
    // What the output pins carry after the output negation.
    std::uint8_t OutputPins() const { return m_outputs ^ m_stored.Get(reg::kDoutNegation); }
    std::uint16_t Pwm() const { return m_pwm; }
    std::uint32_t Status() const { return m_status; }
    void RaiseStatus(std::uint32_t bits) { m_status |= bits; }
    // A stuck register accepts writes and keeps its old value, as a worn
    // EEPROM cell would.
    void SetStuck(std::uint8_t number) { m_stuck.insert(number); }
    // Power off and on: the stored address and speed take effect, the
    // outputs take their initial state. Input pins and stuck registers are
    // the wiring's and stay.
    void Restart();

  private:
    wire::ModuleStatus Digital(const wire::Request& r, wire::Reply& reply, Changes& changes);
    wire::ModuleStatus Register(const wire::Request& r, wire::Reply& reply, Changes& changes);

    Registers m_stored;
    Identity m_identity;
    std::uint8_t m_address;
    std::uint8_t m_speedIndex;
    std::uint8_t m_inputPins = 0;
    std::uint8_t m_outputs;
    std::uint16_t m_pwm;
    std::uint32_t m_status = status::kPwr | status::kRst;
    std::set<std::uint8_t> m_stuck;
};

// State file: one line per module, "module 32=0 33=0 ... 63=1". Saving
// writes a temporary file beside it and renames it over, so a killed
// simulator leaves either the old or the new state, never a torn one. A
// path that is there but no regular file (a FIFO, a device) is refused.
std::optional<std::vector<Registers>> LoadState(const std::string& path, std::string* error);
bool SaveState(const std::string& path, const std::vector<Registers>& modules, std::string* error);

}  // namespace sim
