// rq905ctl ports on a prepared device tree: a USB adapter behind a by-id
// link, a ttyS with a UART and one without, and a devices file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CtlPorts.h"
#include "core/Cp1250.h"

namespace {

namespace fs = std::filesystem;

class Ports : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "rq905-ports-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = fs::canonical(pattern);
        const fs::path usb = Sys() / "devices/pci0/usb1/1-1";
        fs::create_directories(usb / "1-1:1.0/ttyUSB0");
        for (const auto& [name, value] : {std::pair{"idVendor", "0403"},
                                          {"idProduct", "6001"},
                                          {"manufacturer", "FTDI"},
                                          {"product", "FT232R USB UART"}}) {
            std::ofstream(usb / name) << value << "\n";
        }
        fs::create_directories(Sys() / "class/tty/ttyUSB0");
        fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", Sys() / "class/tty/ttyUSB0/device");
        for (const auto& [tty, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}}) {
            fs::create_directories(Sys() / "class/tty" / tty);
            std::ofstream(Sys() / "class/tty" / tty / "type") << type << "\n";
        }
        fs::create_directories(Dev() / "serial/by-id");
        // ttyS0 is a terminal (a pseudo-terminal's); the others are plain
        // files, which no driver could use as a port.
        for (const char* tty : {"ttyUSB0", "ttyS1"}) std::ofstream(Dev() / tty).put('\0');
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(::grantpt(m_master) | ::unlockpt(m_master), 0);
        fs::create_symlink(::ptsname(m_master), Dev() / "ttyS0");
        fs::create_symlink("../../ttyUSB0", Dev() / "serial/by-id/usb-FTDI_A1-if00-port0");
        fs::create_directories(m_root / "config/rq905");
        std::ofstream(m_root / "config/rq905/devices.ini")
            << "[Zařízení]\nPCI1318=" << (Dev() / "ttyPCI").string() << "\n";
        ::setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        for (const char* v : {"RQ905_COM2", "RQ905_PCI318", "RQ905_PCI1318", "RQ905_USB1318"}) ::unsetenv(v);
    }
    void TearDown() override {
        if (m_master >= 0) ::close(m_master);
        ::unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(m_root);
    }
    fs::path Sys() const { return m_root / "sys"; }
    fs::path Dev() const { return m_root / "dev"; }

    // The output in Windows-1250 with the tree's root shown as R.
    std::string List(bool json) {
        TCtlOptions options;
        options.json = json;
        TData data;
        SetDefaults(&data);
        data.ComPort = 2;
        std::ostringstream out;
        std::ostringstream err;
        TCtlIo io{out, err};
        EXPECT_EQ(ListPorts(options, data, {Sys().string(), Dev().string()}, io), 0);
        std::string text = Utf8ToCp1250(out.str());
        for (std::size_t at; (at = text.find(m_root.string())) != std::string::npos;)
            text.replace(at, m_root.string().size(), "R");
        return text;
    }

    fs::path m_root;
    int m_master = -1;
};

TEST_F(Ports, ListsDevicesAndWhatEachKindWouldOpen) {
    EXPECT_EQ(
        List(false),
        "Sériová zařízení:\n"
        "  R/dev/serial/by-id/usb-FTDI_A1-if00-port0 -> R/dev/ttyUSB0, USB 0403:6001 FTDI FT232R USB UART, "
        "nelze použít: obyčejný soubor, ne terminál\n"
        "  R/dev/ttyS0, UART, lze otevřít\n"
        "Rozhraní (zařízení, které by ovladač nyní použil):\n"
        "  com (COM2): R/dev/ttyS1 (výchozí), nelze použít: obyčejný soubor, ne terminál\n"
        "  isa (300h): zařízení nenalezeno (výchozí)\n"
        "  pci: R/dev/ttyPCI (soubor R/config/rq905/devices.ini), nelze otevřít: No such file or directory\n"
        "  usb: R/dev/serial/by-id/usb-FTDI_A1-if00-port0 (výchozí), nelze použít: obyčejný soubor, ne "
        "terminál\n");
    EXPECT_EQ(
        List(true),
        R"({"devices":[{"path":"R/dev/serial/by-id/usb-FTDI_A1-if00-port0","target":"R/dev/ttyUSB0",)"
        R"("type":"usb","vendor":"0403","product":"6001","manufacturer":"FTDI","product_name":"FT232R USB UART",)"
        R"("access":false,"error":"obyčejný soubor, ne terminál","dialout_missing":false},)"
        R"({"path":"R/dev/ttyS0","type":"uart","access":true}],"interfaces":[)"
        R"({"kind":"com","com":2,"source":"default","device":"R/dev/ttyS1","access":false,)"
        R"("error":"obyčejný soubor, ne terminál","dialout_missing":false},)"
        R"({"kind":"isa","base":768,"source":"default","device":null,"code":5},)"
        R"({"kind":"pci","source":"devices_file","origin":"R/config/rq905/devices.ini","device":"R/dev/ttyPCI",)"
        R"("access":false,"error":"No such file or directory","dialout_missing":false},)"
        R"({"kind":"usb","source":"default","device":"R/dev/serial/by-id/usb-FTDI_A1-if00-port0","access":false,)"
        R"("error":"obyčejný soubor, ne terminál","dialout_missing":false}]})"
        "\n");
}

struct NotAPortCase {
    const char* name;
    void (*make)(const fs::path& path);
    const char* reason;
};
void PrintTo(const NotAPortCase& c, std::ostream* os) { *os << c.name; }

class NotAPort : public Ports, public testing::WithParamInterface<NotAPortCase> {};

// Whatever the user may open is still no port unless it is a terminal.
TEST_P(NotAPort, IsNeverShownAsOpenable) {
    GetParam().make(Dev() / "odd");
    ::setenv("RQ905_COM2", (Dev() / "odd").c_str(), 1);
    const std::string text = List(false);
    ::unsetenv("RQ905_COM2");
    EXPECT_NE(text.find(std::string("com (COM2): R/dev/odd (proměnná RQ905_COM2), nelze použít: ") +
                        GetParam().reason + "\n"),
              std::string::npos)
        << text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NotAPort,
    testing::Values(NotAPortCase{"Fifo", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); },
                                 "roura (FIFO), ne terminál"},
                    NotAPortCase{"DevZero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
                                 "znakové zařízení, ne terminál"},
                    NotAPortCase{"Folder", [](const fs::path& p) { fs::create_directory(p); },
                                 "složka, ne terminál"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
