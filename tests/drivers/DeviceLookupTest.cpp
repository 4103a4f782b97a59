// How the serial kinds find their devices, on prepared /sys and /dev trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "DeviceLookup.h"
#include "DriverFixture.h"

namespace {

namespace fs = std::filesystem;
using drv::Result;

// ttyS0 at 0x3F8 on the platform bus, ttyS1 at 0x2F8, ttyS4 and ttyS10 on
// PCI cards (ttyS10 must sort after ttyS4).
class SysTree : public ::testing::Test {
  protected:
    void SetUp() override {
        Port("ttyS0", "0x3F8", "platform");
        Port("ttyS1", "0x2F8", "platform");
        Port("ttyS10", "0xE010", "pci");
        Port("ttyS4", "0xE000", "pci");
    }
    void Port(const std::string& name, const std::string& port, const std::string& bus) {
        const fs::path dir = fs::path(Sys()) / "class" / "tty" / name;
        fs::create_directories(dir / "device");
        std::ofstream(dir / "port") << port << "\n";
        fs::create_directories(fs::path(Sys()) / "bus" / bus);
        fs::create_directory_symlink(fs::path(Sys()) / "bus" / bus, dir / "device" / "subsystem");
    }
    std::string Sys() const { return m_dir.Path("sys"); }
    std::string Dev() const { return m_dir.Path("dev"); }

    drvtest::TempDir m_dir;
};

TEST_F(SysTree, IsaCardByBaseAddress) {
    const drv::Device second = drv::FindIsaCard(Sys(), Dev(), 0x2F8);
    EXPECT_EQ(second.result, Result::Ok);
    EXPECT_EQ(second.path, Dev() + "/ttyS1");
    EXPECT_EQ(drv::FindIsaCard(Sys(), Dev(), 0x3F8).path, Dev() + "/ttyS0");
    EXPECT_EQ(drv::FindIsaCard(Sys(), Dev(), 0x300).result, Result::NoDevice);
}

TEST_F(SysTree, PciCardIsTheFirstPortOnPci) {
    const drv::Device card = drv::FindPciCard(Sys(), Dev());
    EXPECT_EQ(card.result, Result::Ok);
    EXPECT_EQ(card.path, Dev() + "/ttyS4");
    EXPECT_EQ(drv::FindPciCard(Dev(), Dev()).result, Result::NoDevice);
}

TEST_F(SysTree, UsbConverterPrefersStableNames) {
    EXPECT_EQ(drv::FindUsbConverter(Dev()).result, Result::NoDevice);
    fs::create_directories(fs::path(Dev()));
    std::ofstream(fs::path(Dev()) / "ttyUSB0");
    EXPECT_EQ(drv::FindUsbConverter(Dev()).path, Dev() + "/ttyUSB0");
    fs::create_directories(fs::path(Dev()) / "serial" / "by-id");
    std::ofstream(fs::path(Dev()) / "serial" / "by-id" / "usb-RQ_USB-1318_B-if00");
    std::ofstream(fs::path(Dev()) / "serial" / "by-id" / "usb-RQ_USB-1318_A-if00");
    EXPECT_EQ(drv::FindUsbConverter(Dev()).path, Dev() + "/serial/by-id/usb-RQ_USB-1318_A-if00");
}

struct ComCase {
    std::uint32_t number;
    Result result;
    const char* path;
};
void PrintTo(const ComCase& c, std::ostream* os) { *os << "COM" << c.number; }

class ComPortTest : public ::testing::TestWithParam<ComCase> {};

TEST_P(ComPortTest, NumberToDevice) {
    ::unsetenv(("RQ905_COM" + std::to_string(GetParam().number)).c_str());
    const drv::Device d = drv::ComPortDevice(GetParam().number);
    EXPECT_EQ(d.result, GetParam().result);
    EXPECT_EQ(d.path, GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Table, ComPortTest,
                         ::testing::Values(ComCase{1, Result::Ok, "/dev/ttyS0"},
                                           ComCase{4, Result::Ok, "/dev/ttyS3"},
                                           ComCase{255, Result::Ok, "/dev/ttyS254"},
                                           ComCase{0, Result::BadParameter, ""},
                                           ComCase{256, Result::BadParameter, ""}));

TEST(DeviceOverride, VariablesWinOverTheSearch) {
    ::setenv("RQ905_COM2", "/tmp/rq905-com2", 1);
    ::setenv("RQ905_PCI318", "/tmp/rq905-isa", 1);
    ::setenv("RQ905_PCI1318", "/tmp/rq905-pci", 1);
    ::setenv("RQ905_USB1318", "/tmp/rq905-usb", 1);
    EXPECT_EQ(drv::ComPortDevice(2).path, "/tmp/rq905-com2");
    EXPECT_EQ(drv::ComPortDevice(3).path, "/dev/ttyS2");
    EXPECT_EQ(drv::IsaCardDevice(0x2F8).path, "/tmp/rq905-isa");
    EXPECT_EQ(drv::IsaCardDevice(0).result, Result::BadParameter);
    EXPECT_EQ(drv::PciCardDevice().path, "/tmp/rq905-pci");
    EXPECT_EQ(drv::UsbConverterDevice().path, "/tmp/rq905-usb");
    ::setenv("RQ905_COM2", "", 1);
    EXPECT_EQ(drv::ComPortDevice(2).path, "/dev/ttyS1");
}

struct ChoiceCase {
    const char* name;
    const char* variable;  // RQ905_COM3; nullptr: unset
    const char* file;      // devices.ini; nullptr: none
    drv::DeviceSource source;
    const char* path;
};
void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class DeviceChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(DeviceChoice, VariableThenDevicesFileThenDefault) {
    drvtest::TempDir home;
    ::setenv("XDG_CONFIG_HOME", home.Path("config").c_str(), 1);
    if (GetParam().file != nullptr) {
        fs::create_directories(home.Path("config/rq905"));
        std::ofstream(home.Path("config/rq905/devices.ini"), std::ios::binary) << GetParam().file;
    }
    if (GetParam().variable != nullptr) {
        ::setenv("RQ905_COM3", GetParam().variable, 1);
    } else {
        ::unsetenv("RQ905_COM3");
    }
    const drv::Device d = drv::ComPortDevice(3);
    ::unsetenv("RQ905_COM3");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(d.result, Result::Ok);
    EXPECT_EQ(d.source, GetParam().source);
    EXPECT_EQ(d.path, GetParam().path);
}

using drv::DeviceSource;
// The section name in UTF-8, and in Windows-1250 as a copied Windows file has it.
INSTANTIATE_TEST_SUITE_P(
    Table, DeviceChoice,
    ::testing::Values(ChoiceCase{"VariableWins", "/dev/pts/7",
                                 "[Za\xC5\x99\xC3\xADzen\xC3\xAD]\nCOM3=/dev/ttyUSB0\n",
                                 DeviceSource::Variable, "/dev/pts/7"},
                      ChoiceCase{"FileOverDefault", nullptr,
                                 "\xEF\xBB\xBF; mine\r\n[Za\xC5\x99\xC3\xADzen\xC3\xAD]\r\nCOM1=/dev/x\r\n "
                                 "com3 = /dev/ttyUSB0 \r\n",
                                 DeviceSource::DevicesFile, "/dev/ttyUSB0"},
                      ChoiceCase{"FileInWindows1250", nullptr, "[Za\xF8\xEDzen\xED]\nCOM3=/dev/ttyACM0\n",
                                 DeviceSource::DevicesFile, "/dev/ttyACM0"},
                      ChoiceCase{"OtherSectionIgnored", nullptr, "[Porty]\nCOM3=/dev/ttyUSB0\n",
                                 DeviceSource::Default, "/dev/ttyS2"},
                      ChoiceCase{"NoFile", nullptr, nullptr, DeviceSource::Default, "/dev/ttyS2"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace

namespace {

struct HostileFileCase {
    const char* name;
    void (*make)(const std::string& path);
};
void PrintTo(const HostileFileCase& c, std::ostream* os) { *os << c.name; }

class HostileDevicesFile : public ::testing::TestWithParam<HostileFileCase> {};

// Every connection reads the file: one that never ends or blocks its open
// must be passed over at once, and the default used.
TEST_P(HostileDevicesFile, IsPassedOverAtOnce) {
    drvtest::TempDir home;
    fs::create_directories(home.Path("config/rq905"));
    GetParam().make(home.Path("config/rq905/devices.ini"));
    ::setenv("XDG_CONFIG_HOME", home.Path("config").c_str(), 1);
    ::unsetenv("RQ905_COM3");
    const drv::Device d = drv::ComPortDevice(3);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(d.source, drv::DeviceSource::Default);
    EXPECT_EQ(d.path, "/dev/ttyS2");
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileDevicesFile,
    ::testing::Values(
        HostileFileCase{"Fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }},
        HostileFileCase{"LinkToZero", [](const std::string& p) { ::symlink("/dev/zero", p.c_str()); }},
        HostileFileCase{"LinkToUrandom", [](const std::string& p) { ::symlink("/dev/urandom", p.c_str()); }},
        HostileFileCase{"OverOneMiB",
                        [](const std::string& p) {
                            std::ofstream(p) << "[Za\xF8\xEDzen\xED]\nCOM3=/dev/ttyUSB0\n"
                                             << std::string(std::size_t{1} << 20, ';');
                        }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
