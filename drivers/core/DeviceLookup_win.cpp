// Device lookup on Windows: every serial kind ends at a COM port. The
// override variables work as on Linux and may name "COM3" or "\\.\COM3";
// the defaults come from the standard ISA port addresses and from the
// list of present ports the serial drivers publish in the registry.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "DeviceLookup.h"

namespace drv {

namespace {

std::optional<std::string> Override(const std::string& variable) {
    const char* value = std::getenv(variable.c_str());
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

// "COM10" and above open only through the device namespace; the prefix
// serves every port alike.
std::string DevicePath(const std::string& name) { return name.starts_with("\\\\") ? name : "\\\\.\\" + name; }

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct Port {
    unsigned number = 0;  // n of COMn
    std::string device;   // the kernel device behind it, upper case
};

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value per present port, named
// after its kernel device ("\Device\Serial0", "\Device\VCP0") and holding
// "COMn". Sorted by port number.
std::vector<Port> PresentPorts() {
    std::vector<Port> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name;
        BYTE data[64] = {};
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
            break;
        }
        const std::string com = Upper(reinterpret_cast<const char*>(data));
        if (type != REG_SZ || !com.starts_with("COM")) continue;
        const unsigned long number = std::strtoul(com.c_str() + 3, nullptr, 10);
        if (number >= 1 && number <= 255) {
            ports.push_back({static_cast<unsigned>(number), Upper(std::string(name, nameSize))});
        }
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const Port& a, const Port& b) { return a.number < b.number; });
    return ports;
}

bool IsUsb(const Port& port) {
    return port.device.find("USB") != std::string::npos || port.device.find("VCP") != std::string::npos;
}

bool IsOnBoard(const Port& port) {
    return port.device == "\\DEVICE\\SERIAL0" || port.device == "\\DEVICE\\SERIAL1";
}

template <typename Accept>
Device FirstPort(Accept accept) {
    for (const Port& port : PresentPorts()) {
        if (accept(port)) {
            return {Result::Ok, DevicePath("COM" + std::to_string(port.number))};
        }
    }
    return {Result::NoDevice, {}};
}

// The I/O addresses the PC has given COM1 to COM4 since the first models.
constexpr std::pair<std::uint32_t, std::uint32_t> kIsaBases[] = {
    {0x3F8, 1}, {0x2F8, 2}, {0x3E8, 3}, {0x2E8, 4}};

}  // namespace

Device ComPortDevice(std::uint32_t number) {
    if (number < 1 || number > 255) {
        return {Result::BadParameter, {}};
    }
    if (auto path = Override(kComVariablePrefix + std::to_string(number))) {
        return {Result::Ok, DevicePath(*path)};
    }
    return {Result::Ok, DevicePath("COM" + std::to_string(number))};
}

Device IsaCardDevice(std::uint32_t baseAddress) {
    if (baseAddress == 0 || baseAddress > 0xFFFF) {
        return {Result::BadParameter, {}};
    }
    if (auto path = Override(kIsaCardVariable)) {
        return {Result::Ok, DevicePath(*path)};
    }
    for (const auto& [base, number] : kIsaBases) {
        if (base == baseAddress) {
            return {Result::Ok, DevicePath("COM" + std::to_string(number))};
        }
    }
    return {Result::NoDevice, {}};
}

Device PciCardDevice() {
    if (auto path = Override(kPciCardVariable)) {
        return {Result::Ok, DevicePath(*path)};
    }
    return FirstPort([](const Port& port) { return !IsUsb(port) && !IsOnBoard(port); });
}

Device UsbConverterDevice() {
    if (auto path = Override(kUsbVariable)) {
        return {Result::Ok, DevicePath(*path)};
    }
    return FirstPort(IsUsb);
}

}  // namespace drv
