// Shared pieces of the tests that run the real driver libraries against the
// simulator: the five kinds, opening a link of a kind, one transaction.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "DriverLib.h"
#include "SimProcess.h"

namespace drvtest {

enum class InitForm { Param, Plain, Block };

struct Kind {
    const char* name;
    const char* prefix;
    InitForm form;
    // Variable that points the serial kinds at a device; Init's parameter.
    const char* variable;
    std::uint32_t param;
};
inline void PrintTo(const Kind& c, std::ostream* os) { *os << c.name; }

inline constexpr Kind kKinds[] = {
    {"ComPort", "TCOM318", InitForm::Param, "RQ905_COM3", 3},
    {"IsaCard", "TPCI318", InitForm::Param, "RQ905_PCI318", 0x2F8},
    {"PciCard", "TPCI1318", InitForm::Plain, "RQ905_PCI1318", 0},
    {"UsbConverter", "TUSB1318", InitForm::Plain, "RQ905_USB1318", 0},
    {"LanConverter", "TRQ1318", InitForm::Block, nullptr, 0},
};

// The loaded library of a kind; each stays loaded for the whole test run,
// as the program would keep it.
simharness::DriverLib& Library(const char* prefix);

// A temporary directory, removed with everything in it at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

std::unique_ptr<simharness::SimProcess> StartSim(std::vector<std::string> args);

// Init in the kind's form, aimed at the simulator; the Init result.
std::uint32_t Open(const Kind& kind, const simharness::SimProcess& sim, std::uint32_t& handle,
                   std::uint32_t udpTimeoutMs = 0);

struct Tx {
    std::uint32_t result = 0;
    std::uint32_t status = 0;
    std::array<std::uint8_t, 5> data{};
    bool Ok() const { return result == 0 && status == 0; }
};

// One transaction through Send, with D0..D4 taken as the program takes them.
Tx Transact(simharness::DriverLib& lib, std::uint32_t handle, std::uint8_t address, std::uint8_t command,
            std::uint8_t index, std::array<std::uint8_t, 5> data = {});

}  // namespace drvtest
