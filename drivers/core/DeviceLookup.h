// How each serial interface kind finds its device. A per-user environment
// variable naming a device path always wins, so any kind can be pointed at
// the simulator's pseudo-terminal without root; then the user's devices
// file; then the kind's default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Result.h"

namespace drv {

// Where a device's path came from.
enum class DeviceSource : std::uint8_t { Default, Variable, DevicesFile };

struct Device {
    Result result = Result::Ok;
    std::string path;
    DeviceSource source = DeviceSource::Default;
    std::string origin{};  // the variable's name or the devices file's path
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

// Linux: the same lookups with the roots of /sys and /dev given, so that a
// tool can show what the drivers would open, and on a prepared tree.
struct DeviceRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};
Device ComPortDevice(std::uint32_t number, const DeviceRoots& roots);
Device IsaCardDevice(std::uint32_t baseAddress, const DeviceRoots& roots);
Device PciCardDevice(const DeviceRoots& roots);
Device UsbConverterDevice(const DeviceRoots& roots);

// Linux: the user's devices file, $XDG_CONFIG_HOME/rq905/devices.ini
// (~/.config/rq905/devices.ini); "" without a home. Its section [Zařízení]
// maps keys named as the variables without "RQ905_" (COM1, PCI318, PCI1318,
// USB1318) to device paths.
std::string DevicesFilePath();
// The value of key in that section of file, if there is one.
std::optional<std::string> DevicesFileEntry(const std::string& file, std::string_view key);

// The searches behind the defaults, with the roots of /sys and /dev as
// arguments so they can be tried on a prepared tree.
Device FindIsaCard(const std::string& sysRoot, const std::string& devRoot, std::uint32_t baseAddress);
Device FindPciCard(const std::string& sysRoot, const std::string& devRoot);
Device FindUsbConverter(const std::string& devRoot);

}  // namespace drv
