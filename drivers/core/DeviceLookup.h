// How each serial interface kind finds its device. A per-user environment
// variable naming a device path always wins, so any kind can be pointed at
// the simulator's pseudo-terminal without root.
#pragma once

#include <cstdint>
#include <string>

#include "Result.h"

namespace drv {

struct Device {
    Result result = Result::Ok;
    std::string path;
};

// Names of the override variables; COM n reads "RQ905_COM<n>".
inline constexpr const char* kComVariablePrefix = "RQ905_COM";
inline constexpr const char* kIsaCardVariable = "RQ905_PCI318";
inline constexpr const char* kPciCardVariable = "RQ905_PCI1318";
inline constexpr const char* kUsbVariable = "RQ905_USB1318";

Device ComPortDevice(std::uint32_t number);
Device IsaCardDevice(std::uint32_t baseAddress);
Device PciCardDevice();
Device UsbConverterDevice();

// The searches behind the defaults, with the roots of /sys and /dev as
// arguments so they can be tried on a prepared tree.
Device FindIsaCard(const std::string& sysRoot, const std::string& devRoot, std::uint32_t baseAddress);
Device FindPciCard(const std::string& sysRoot, const std::string& devRoot);
Device FindUsbConverter(const std::string& devRoot);

}  // namespace drv
