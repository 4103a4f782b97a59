// The modules on one simulated bus, and the console commands that act on
// them while the simulator runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Faults.h"
#include "Module.h"

namespace sim {

class Bus {
  public:
    Bus(const std::vector<Registers>& stored, const Identity& identity);

    // The first module answering at this address, or nullptr: nobody answers.
    Module* Find(std::uint8_t address);
    // Every module at this address: new modules all arrive at one, and
    // those left there answer together.
    std::vector<Module*> FindAll(std::uint8_t address);
    std::vector<Module>& Modules() { return m_modules; }
    std::vector<Registers> StoredState() const;

    // Where a module connected from the console starts: the factory
    // settings of new modules.
    void SetFactory(std::uint8_t address, std::uint8_t speedIndex);
    Module& Add(std::optional<std::uint8_t> address, std::optional<std::uint8_t> speedIndex);
    // Disconnects the module at the address connected last; false if none.
    bool Remove(std::uint8_t address);

  private:
    std::vector<Module> m_modules;
    Identity m_identity;
    std::uint8_t m_factoryAddress = 1;
    std::uint8_t m_factorySpeedIndex = 4;
};

// What a serial line carries when several modules send at once: each
// reply as UART frames (start bit, eight data bits from bit 0, stop bit),
// the next sender offsetBits later than the one before, the line low while
// any sender drives it low, read back by a UART that takes a stop bit
// found low as a framing error (byte 0) and waits for the line to rise
// before the next start bit.
std::vector<std::uint8_t> Collide(const std::vector<std::vector<std::uint8_t>>& replies, unsigned offsetBits);

struct ConsoleTarget {
    Bus& bus;
    FaultInjector& faults;
    bool& silent;
    bool& quit;
    // Set when modules were connected, disconnected or restarted, so that
    // the state file follows.
    bool* busChanged = nullptr;
};

// Runs one console line; the answer ends with "ok" or is "error: ...".
std::string RunConsoleCommand(const std::string& line, ConsoleTarget target);

}  // namespace sim
