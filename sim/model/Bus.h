// The modules on one simulated bus, and the console commands that act on
// them while the simulator runs.
#pragma once

#include <string>
#include <vector>

#include "Faults.h"
#include "Module.h"

namespace sim {

class Bus {
  public:
    Bus(const std::vector<Registers>& stored, const Identity& identity);

    // The module answering at this address, or nullptr: nobody answers.
    Module* Find(std::uint8_t address);
    std::vector<Module>& Modules() { return m_modules; }
    std::vector<Registers> StoredState() const;

  private:
    std::vector<Module> m_modules;
};

struct ConsoleTarget {
    Bus& bus;
    FaultInjector& faults;
    bool& silent;
    bool& quit;
};

// Runs one console line; the answer ends with "ok" or is "error: ...".
std::string RunConsoleCommand(const std::string& line, ConsoleTarget target);

}  // namespace sim
