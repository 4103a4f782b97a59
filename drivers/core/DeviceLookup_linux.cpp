// Device discovery through Linux sysfs and udev's /dev/serial links; other
// systems need a file of their own.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "DeviceLookup.h"

namespace drv {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> Override(const std::string& variable) {
    const char* value = std::getenv(variable.c_str());
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

// ttyS entries in name order, so ttyS2 comes before ttyS10.
std::vector<fs::path> SerialEntries(const fs::path& classDir) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(classDir, ec)) {
        if (entry.path().filename().string().starts_with("ttyS")) {
            entries.push_back(entry.path());
        }
    }
    std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
        const auto na = a.filename().string();
        const auto nb = b.filename().string();
        return na.size() != nb.size() ? na.size() < nb.size() : na < nb;
    });
    return entries;
}

std::optional<unsigned long> ReadNumber(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!(in >> text)) {
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

}  // namespace

Device ComPortDevice(std::uint32_t number) {
    if (number < 1 || number > 255) {
        return {Result::BadParameter, {}};
    }
    if (auto path = Override(kComVariablePrefix + std::to_string(number))) {
        return {Result::Ok, *path};
    }
    return {Result::Ok, "/dev/ttyS" + std::to_string(number - 1)};
}

Device IsaCardDevice(std::uint32_t baseAddress) {
    if (baseAddress == 0 || baseAddress > 0xFFFF) {
        return {Result::BadParameter, {}};
    }
    if (auto path = Override(kIsaCardVariable)) {
        return {Result::Ok, *path};
    }
    return FindIsaCard("/sys", "/dev", baseAddress);
}

Device PciCardDevice() {
    if (auto path = Override(kPciCardVariable)) {
        return {Result::Ok, *path};
    }
    return FindPciCard("/sys", "/dev");
}

Device UsbConverterDevice() {
    if (auto path = Override(kUsbVariable)) {
        return {Result::Ok, *path};
    }
    return FindUsbConverter("/dev");
}

Device FindIsaCard(const std::string& sysRoot, const std::string& devRoot, std::uint32_t baseAddress) {
    for (const auto& entry : SerialEntries(fs::path(sysRoot) / "class" / "tty")) {
        if (ReadNumber(entry / "port") == baseAddress) {
            return {Result::Ok, (fs::path(devRoot) / entry.filename()).string()};
        }
    }
    return {Result::NoDevice, {}};
}

Device FindPciCard(const std::string& sysRoot, const std::string& devRoot) {
    for (const auto& entry : SerialEntries(fs::path(sysRoot) / "class" / "tty")) {
        std::error_code ec;
        const fs::path subsystem = fs::read_symlink(entry / "device" / "subsystem", ec);
        if (!ec && subsystem.filename() == "pci") {
            return {Result::Ok, (fs::path(devRoot) / entry.filename()).string()};
        }
    }
    return {Result::NoDevice, {}};
}

Device FindUsbConverter(const std::string& devRoot) {
    std::vector<fs::path> links;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(devRoot) / "serial" / "by-id", ec)) {
        links.push_back(entry.path());
    }
    std::sort(links.begin(), links.end());
    if (!links.empty()) {
        return {Result::Ok, links.front().string()};
    }
    for (const char* name : {"ttyUSB0", "ttyACM0"}) {
        const fs::path candidate = fs::path(devRoot) / name;
        if (fs::exists(candidate, ec)) {
            return {Result::Ok, candidate.string()};
        }
    }
    return {Result::NoDevice, {}};
}

}  // namespace drv
