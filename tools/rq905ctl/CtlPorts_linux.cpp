// Serial devices through Linux sysfs, udev's /dev/serial links and the
// drivers' own device lookup, so that what is shown is what a driver would
// open; Windows has a file of its own.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "CtlCommands.h"
#include "CtlPorts.h"
#include "DeviceLookup.h"
#include "core/Cp1250.h"
#include "core/IntText.h"
#include "link/Txxx318.h"

namespace {

namespace fs = std::filesystem;

// Paths and the system's own texts are UTF-8 (or plain ASCII).
std::string Sys(std::string_view utf8) { return Utf8ToCp1250(utf8); }

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

// ttyS2 before ttyS10.
bool NameOrder(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool InSessionGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count <= 0 || ::getgroups(count, groups.data()) < 0) return false;
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool ListedInGroup(const group& g) {
    const passwd* me = ::getpwuid(::getuid());
    for (char** member = g.gr_mem; me != nullptr && member != nullptr && *member != nullptr; ++member) {
        if (std::strcmp(*member, me->pw_name) == 0) return true;
    }
    return false;
}

struct TAccess {
    bool ok = false;
    std::string reason;           // the system's, when not ok
    bool dialoutMissing = false;  // the device's group is dialout and the user is not in it
    std::string hint;             // what to do about it
    std::string text;             // for a person
};

// Serial devices belong to root and the group dialout, and a user added to
// the group has it only from the next login.
TAccess Refused(const std::string& path, int error) {
    TAccess a;
    a.reason = Sys(std::strerror(error));
    struct stat st {};
    const group* g = error == EACCES && ::stat(path.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
    if (g != nullptr && std::strcmp(g->gr_name, "dialout") == 0 && !InSessionGroup(st.st_gid)) {
        a.dialoutMissing = true;
        a.hint = ListedInGroup(*g) ? "; člen skupiny dialout až od příštího přihlášení"
                                   : "; chybí členství ve skupině dialout (sudo usermod -aG dialout $USER, "
                                     "pak se znovu přihlásit)";
    }
    a.text = "nelze otevřít: " + a.reason + a.hint;
    return a;
}

// What a path that is no terminal is instead.
std::string NotTerminalText(mode_t mode) {
    if (S_ISREG(mode)) return "obyčejný soubor, ne terminál";
    if (S_ISFIFO(mode)) return "roura (FIFO), ne terminál";
    if (S_ISDIR(mode)) return "složka, ne terminál";
    if (S_ISCHR(mode)) return "znakové zařízení, ne terminál";
    return "ne terminál";
}

// Only a terminal device is a port: a FIFO, /dev/zero or a folder that
// the user may open would still fail the driver.
TAccess Access(const std::string& path) {
    if (::access(path.c_str(), R_OK | W_OK) != 0) return Refused(path, errno);
    TAccess a;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Refused(path, errno);
    bool terminal = false;
    if (S_ISCHR(st.st_mode)) {
        // Without blocking, as the driver opens it, so a line without
        // carrier does not hold the listing.
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return Refused(path, errno);
        terminal = ::isatty(fd) != 0;
        ::close(fd);
    }
    if (!terminal) {
        a.reason = NotTerminalText(st.st_mode);
        a.text = "nelze použít: " + a.reason;
        return a;
    }
    a.ok = true;
    a.text = "lze otevřít";
    return a;
}

void AccessJson(const TAccess& a, TJsonObject& json) {
    json.Bool("access", a.ok);
    if (!a.ok) json.Text("error", a.reason).Bool("dialout_missing", a.dialoutMissing);
}

struct TUsbInfo {
    std::string vendor;
    std::string product;
    std::string manufacturer;
    std::string name;
};

// The USB device above a tty: the interface's parent holds the ids.
std::optional<TUsbInfo> UsbInfo(const fs::path& sys, const std::string& tty) {
    std::error_code ec;
    fs::path dir = fs::canonical(sys / "class" / "tty" / tty / "device", ec);
    for (int up = 0; !ec && up < 4 && dir.has_relative_path(); ++up, dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) {
            return TUsbInfo{ReadLine(dir / "idVendor"), ReadLine(dir / "idProduct"),
                            ReadLine(dir / "manufacturer"), ReadLine(dir / "product")};
        }
    }
    return std::nullopt;
}

// The kernel registers a ttyS for every port it might have; only those
// whose UART it found have a type other than 0 (PORT_UNKNOWN).
bool HasUart(const fs::path& ttyDir) {
    std::error_code ec;
    if (fs::exists(ttyDir / "type", ec)) {
        const std::string type = ReadLine(ttyDir / "type");
        return !type.empty() && type != "0";
    }
    return fs::exists(ttyDir / "device" / "driver", ec);
}

struct TSerialDevice {
    std::string path;
    std::string target;  // where a by-id link points
    std::string tty;
};

std::vector<TSerialDevice> SerialDevices(const TPortRoots& roots) {
    std::vector<TSerialDevice> list;
    std::set<std::string> covered;
    std::error_code ec;
    std::vector<fs::path> links;
    for (const auto& entry : fs::directory_iterator(fs::path(roots.dev) / "serial" / "by-id", ec)) {
        links.push_back(entry.path());
    }
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        const fs::path target = fs::weakly_canonical(link, ec);
        const std::string tty = ec ? "" : target.filename().string();
        list.push_back({link.string(), ec ? "" : target.string(), tty});
        covered.insert(tty);
    }
    std::vector<std::string> ttys;
    for (const auto& entry : fs::directory_iterator(fs::path(roots.sys) / "class" / "tty", ec)) {
        ttys.push_back(entry.path().filename().string());
    }
    std::sort(ttys.begin(), ttys.end(), NameOrder);
    for (const std::string& tty : ttys) {
        const bool uart = tty.starts_with("ttyS") && HasUart(fs::path(roots.sys) / "class" / "tty" / tty);
        const bool usb = (tty.starts_with("ttyUSB") || tty.starts_with("ttyACM")) && covered.count(tty) == 0;
        if (uart || usb) list.push_back({(fs::path(roots.dev) / tty).string(), "", tty});
    }
    return list;
}

const char* SourceKey(drv::DeviceSource source) {
    switch (source) {
        case drv::DeviceSource::Variable:
            return "variable";
        case drv::DeviceSource::DevicesFile:
            return "devices_file";
        case drv::DeviceSource::Default:
            break;
    }
    return "default";
}

std::string SourceText(const drv::Device& d) {
    switch (d.source) {
        case drv::DeviceSource::Variable:
            return "proměnná " + d.origin;
        case drv::DeviceSource::DevicesFile:
            return "soubor " + Sys(d.origin);
        case drv::DeviceSource::Default:
            break;
    }
    return "výchozí";
}

std::string HexBase(uint16_t base) {
    char text[16];
    std::snprintf(text, sizeof text, "%Xh", base);
    return text;
}

drv::Device KindDevice(uint8_t kind, const TData& data, const drv::DeviceRoots& roots) {
    switch (kind) {
        case kKindCom:
            return drv::ComPortDevice(data.ComPort, roots);
        case kKindIsa:
            return drv::IsaCardDevice(data.IsaBase, roots);
        case kKindPci:
            return drv::PciCardDevice(roots);
        default:
            return drv::UsbConverterDevice(roots);
    }
}

}  // namespace

int ListPorts(const TCtlOptions& options, const TData& data, const TPortRoots& roots, TCtlIo& io) {
    std::vector<std::string> devices;
    std::string text = "Sériová zařízení:";
    for (const TSerialDevice& d : SerialDevices(roots)) {
        const TAccess access = Access(d.path);
        TJsonObject json;
        json.Text("path", Sys(d.path));
        std::string line = "\n  " + Sys(d.path);
        if (!d.target.empty()) {
            json.Text("target", Sys(d.target));
            line += " -> " + Sys(d.target);
        }
        if (const auto usb = UsbInfo(roots.sys, d.tty)) {
            json.Text("type", "usb")
                .Text("vendor", Sys(usb->vendor))
                .Text("product", Sys(usb->product))
                .Text("manufacturer", Sys(usb->manufacturer))
                .Text("product_name", Sys(usb->name));
            line += ", USB " + Sys(usb->vendor + ":" + usb->product);
            for (const std::string* name : {&usb->manufacturer, &usb->name}) {
                if (!name->empty()) line += " " + Sys(*name);
            }
        } else {
            const bool uart = d.tty.starts_with("ttyS");
            json.Text("type", uart ? "uart" : "other");
            if (uart) line += ", UART";
        }
        AccessJson(access, json);
        devices.push_back(json.Str());
        text += line + ", " + access.text;
    }
    if (devices.empty()) text += "\n  žádné";

    text += "\nRozhraní (zařízení, které by ovladač nyní použil):";
    std::vector<std::string> kinds;
    const drv::DeviceRoots lookupRoots{roots.sys, roots.dev};
    static constexpr const char* kKeys[] = {"com", "isa", "pci", "usb"};
    for (uint8_t kind = kKindCom; kind <= kKindUsb; ++kind) {
        const drv::Device d = KindDevice(kind, data, lookupRoots);
        TJsonObject json;
        json.Text("kind", kKeys[kind]);
        std::string line = "\n  " + std::string(kKeys[kind]);
        if (kind == kKindCom) {
            json.Number("com", data.ComPort);
            line += " (COM" + IntToStr(data.ComPort) + ")";
        } else if (kind == kKindIsa) {
            json.Number("base", data.IsaBase);
            line += " (" + HexBase(data.IsaBase) + ")";
        }
        json.Text("source", SourceKey(d.source));
        if (d.source != drv::DeviceSource::Default) json.Text("origin", Sys(d.origin));
        if (d.result == drv::Result::Ok) {
            const TAccess access = Access(d.path);
            json.Text("device", Sys(d.path));
            AccessJson(access, json);
            line += ": " + Sys(d.path) + " (" + SourceText(d) + "), " + access.text;
        } else {
            json.Null("device").Number("code", drv::Code(d.result));
            line += d.result == drv::Result::NoDevice ? ": zařízení nenalezeno (" + SourceText(d) + ")"
                                                      : ": neplatné číslo portu nebo adresa";
        }
        kinds.push_back(json.Str());
        text += line;
    }
    WriteLine(io.out, options.json ? TJsonObject()
                                         .Raw("devices", JsonArrayOf(devices.data(), devices.size()))
                                         .Raw("interfaces", JsonArrayOf(kinds.data(), kinds.size()))
                                         .Str()
                                   : text);
    return kExitOk;
}

std::optional<TDeviceProblem> DeviceProblem(const TData& data) {
    if (data.Kind > kKindUsb) return std::nullopt;
    const drv::Device d = KindDevice(data.Kind, data, {});
    TDeviceProblem p;
    p.source = SourceKey(d.source);
    p.origin = Sys(d.origin);
    if (d.result != drv::Result::Ok) {
        p.reason = "zařízení nenalezeno";
        p.text = "zařízení nenalezeno (" + SourceText(d) + ")";
        return p;
    }
    p.path = Sys(d.path);
    // Opened as the driver opens it, to hear the system's own reason.
    struct stat st {};
    const bool character = ::stat(d.path.c_str(), &st) != 0 || S_ISCHR(st.st_mode);
    const int fd = character ? ::open(d.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (!character) {
        p.reason = NotTerminalText(st.st_mode);
    } else if (fd < 0) {
        const TAccess refused = Refused(d.path, errno);
        p.reason = refused.reason + refused.hint;
    } else {
        const bool terminal = ::isatty(fd) != 0;
        const int error = terminal && ::flock(fd, LOCK_EX | LOCK_NB) != 0 ? errno : 0;
        ::close(fd);
        p.reason = !terminal    ? NotTerminalText(S_IFCHR)
                   : error != 0 ? Sys(std::strerror(error))
                                : "nyní se otevřít dá";
    }
    p.text = "zařízení " + p.path + " (" + SourceText(d) + "): " + p.reason;
    return p;
}
