// Device discovery through Linux sysfs and udev's /dev/serial links; other
// systems need a file of their own.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "DeviceLookup.h"
#include "TraceSink.h"

namespace drv {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// The user writes the file with a Linux editor, so in UTF-8; the
// Windows-1250 spelling costs nothing and spares a copied Windows file.
constexpr std::string_view kDevicesSectionUtf8 = "Za\xC5\x99\xC3\xADzen\xC3\xAD";
constexpr std::string_view kDevicesSectionCp1250 = "Za\xF8\xEDzen\xED";
constexpr std::string_view kVariablePrefix = "RQ905_";

// A few lines of paths; anything larger is not the devices file.
constexpr std::size_t kMaxDevicesFile = std::size_t{1} << 20;

const char* U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string ErrorText(int error) {
    char buffer[128];
    return ::strerror_r(error, buffer, sizeof buffer);  // GNU: the text, maybe not in buffer
}

// Every connection reads the file, so a file passed over is told once.
void PassedOver(const std::string& file, const std::string& why) {
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
        WarnLine(file + U8(u8": soubor zařízení přeskočen, ") + why + "\n");
    }
}

// The file's text, or nothing when it is missing or passed over. A FIFO
// would block every connection and a device may never end, so only a
// regular file is opened, and that without blocking.
std::optional<std::string> ReadDevicesFile(const std::string& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            PassedOver(file, ErrorText(errno));
        }
        return std::nullopt;
    }
    const int fd =
        S_ISREG(info.st_mode) ? ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd >= 0 && ::fstat(fd, &info) != 0) {
        info.st_mode = 0;
    }
    if (!S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        PassedOver(file, U8(u8"není to obyčejný soubor"));
        return std::nullopt;
    }
    if (fd < 0) {
        PassedOver(file, ErrorText(errno));
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || text.size() + static_cast<std::size_t>(got) > kMaxDevicesFile) {
            ::close(fd);
            if (got == 0) {
                return text;
            }
            PassedOver(file, got < 0 ? ErrorText(errno) : U8(u8"větší než 1 MiB"));
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace

// The key's value in the devices section; the first one of a name counts,
// an empty one as none.
std::optional<std::string> DevicesFileEntry(const std::string& file, std::string_view key) {
    const std::optional<std::string> content = ReadDevicesFile(file);
    if (!content) {
        return std::nullopt;
    }
    std::istringstream in(*content);
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        std::string_view text = Trim(line);
        if (text.starts_with("\xEF\xBB\xBF")) {
            text = Trim(text.substr(3));
        }
        if (text.empty() || text.front() == ';' || text.front() == '#') {
            continue;
        }
        if (text.front() == '[') {
            const std::string_view name = Trim(text.substr(1, text.find(']') - 1));
            inSection = EqualNoCase(name, kDevicesSectionUtf8) || EqualNoCase(name, kDevicesSectionCp1250);
            continue;
        }
        const auto eq = text.find('=');
        if (inSection && eq != std::string_view::npos && EqualNoCase(Trim(text.substr(0, eq)), key)) {
            const std::string_view value = Trim(text.substr(eq + 1));
            return value.empty() ? std::nullopt : std::optional<std::string>(value);
        }
    }
    return std::nullopt;
}

namespace {

// A device named by the variable, else by the devices file under the
// variable's name without its prefix.
std::optional<Device> Chosen(const std::string& variable) {
    if (auto path = Variable(variable.c_str())) {
        return Device{Result::Ok, *path, DeviceSource::Variable, variable};
    }
    const std::string file = DevicesFilePath();
    if (file.empty()) {
        return std::nullopt;
    }
    if (auto path = DevicesFileEntry(file, std::string_view(variable).substr(kVariablePrefix.size()))) {
        return Device{Result::Ok, *path, DeviceSource::DevicesFile, file};
    }
    return std::nullopt;
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

std::string DevicesFilePath() {
    if (auto config = Variable("XDG_CONFIG_HOME"); config && config->front() == '/') {
        return *config + "/rq905/devices.ini";
    }
    auto home = Variable("HOME");
    if (!home) {
        const passwd* user = ::getpwuid(::getuid());
        if (user == nullptr || user->pw_dir == nullptr || *user->pw_dir == '\0') {
            return {};
        }
        home = user->pw_dir;
    }
    return *home + "/.config/rq905/devices.ini";
}

Device ComPortDevice(std::uint32_t number, const DeviceRoots& roots) {
    if (number < 1 || number > 255) {
        return {Result::BadParameter, {}};
    }
    if (auto chosen = Chosen(kComVariablePrefix + std::to_string(number))) {
        return *chosen;
    }
    return {Result::Ok, roots.dev + "/ttyS" + std::to_string(number - 1)};
}

Device IsaCardDevice(std::uint32_t baseAddress, const DeviceRoots& roots) {
    if (baseAddress == 0 || baseAddress > 0xFFFF) {
        return {Result::BadParameter, {}};
    }
    if (auto chosen = Chosen(kIsaCardVariable)) {
        return *chosen;
    }
    return FindIsaCard(roots.sys, roots.dev, baseAddress);
}

Device PciCardDevice(const DeviceRoots& roots) {
    if (auto chosen = Chosen(kPciCardVariable)) {
        return *chosen;
    }
    return FindPciCard(roots.sys, roots.dev);
}

Device UsbConverterDevice(const DeviceRoots& roots) {
    if (auto chosen = Chosen(kUsbVariable)) {
        return *chosen;
    }
    return FindUsbConverter(roots.dev);
}

Device ComPortDevice(std::uint32_t number) { return ComPortDevice(number, DeviceRoots{}); }
Device IsaCardDevice(std::uint32_t baseAddress) { return IsaCardDevice(baseAddress, DeviceRoots{}); }
Device PciCardDevice() { return PciCardDevice(DeviceRoots{}); }
Device UsbConverterDevice() { return UsbConverterDevice(DeviceRoots{}); }

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
