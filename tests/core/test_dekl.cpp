// The program data record, loading and saving the connection settings, and
// the creation and close steps.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <latch>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "RecState.h"
#include "core/Dekl.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/rq905-dekl-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_path = m_dir + "/W_rq905.ini";
        Rec().Reset();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Write(const std::string& content) { std::ofstream(m_path, std::ios::binary) << content; }
    std::string Read() const {
        std::ifstream in(m_path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    TData Fresh() {
        TData data;
        SetDefaults(&data);
        return data;
    }

    std::string m_dir;
    std::string m_path;
};

TEST(Defaults, FreshRecord) {
    TData data;
    data.ModuleIdent = "keep";
    data.InitParams[7] = 9;
    SetDefaults(&data);
    EXPECT_EQ(data.Kind, 0);
    EXPECT_EQ(data.ModuleAddress, 0);
    EXPECT_EQ(data.Speed, 9600u);
    EXPECT_EQ(data.IsaBase, 768);
    EXPECT_EQ(data.ComPort, 1);
    EXPECT_EQ(data.IpAddress, "192.168.0.99");
    EXPECT_EQ(data.UdpPort, 5000u);
    EXPECT_EQ(data.UdpTimeout, 100u);
    EXPECT_EQ(data.StatusText, "Připojení modulu dosud neinicializováno");
    EXPECT_EQ(data.Handle, 0u);
    EXPECT_EQ(data.Connected, 0);
    EXPECT_EQ(data.ModuleIdent, "keep");  // not one of the defaults
    EXPECT_EQ(data.InitParams, TInitParams{});
    const TModuleConfig& c = data.ModuleConfig;
    EXPECT_EQ(c.BusAddress, 1);
    EXPECT_EQ(c.SpeedIndex, 4);
    EXPECT_EQ(c.PwmInitial, 0);
    EXPECT_EQ(c.PwmMode, 0);
    EXPECT_EQ(c.DinNegation, (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(c.DoutNegation, (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(c.DoutInitial, (std::array<uint8_t, 4>{0, 0, 0, 0}));
    SetDefaults(nullptr);  // must not crash
}

TEST_F(SettingsTest, NoFileLeavesDefaults) {
    TData data = Fresh();
    EXPECT_FALSE(LoadSettings(&data, m_path));
    EXPECT_EQ(data.Kind, 0);
    EXPECT_EQ(data.Speed, 9600u);
    EXPECT_FALSE(LoadSettings(nullptr, m_path));
}

struct LoadCase {
    const char* name;
    const char* file;
    bool named;
    uint8_t kind;
    uint8_t address;
    uint32_t speed;
    uint16_t isaBase;
    uint8_t comPort;
    const char* ip;
    uint32_t udpPort;
    uint32_t udpTimeout;
};
void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class LoadTest : public SettingsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, Loads) {
    const LoadCase& c = GetParam();
    Write(c.file);
    TData data = Fresh();
    EXPECT_EQ(LoadSettings(&data, m_path), c.named);
    EXPECT_EQ(data.Kind, c.kind);
    EXPECT_EQ(data.ModuleAddress, c.address);
    EXPECT_EQ(data.Speed, c.speed);
    EXPECT_EQ(data.IsaBase, c.isaBase);
    EXPECT_EQ(data.ComPort, c.comPort);
    EXPECT_EQ(data.IpAddress, c.ip);
    EXPECT_EQ(data.UdpPort, c.udpPort);
    EXPECT_EQ(data.UdpTimeout, c.udpTimeout);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadTest,
    ::testing::Values(
        LoadCase{"OnlyUsb", "[Připojení]\r\nRozhraní=USB-1318\r\n", true, 3, 0, 9600, 768, 1, "192.168.0.99",
                 5000, 100},
        LoadCase{"LowerCaseNameKeepsKind", "[Připojení]\nRozhraní=usb-1318\nAdresa=5\n", true, 0, 5, 9600,
                 768, 1, "192.168.0.99", 5000, 100},
        LoadCase{"UnknownNameStillReadsParameters", "[Připojení]\nRozhraní=RS485\n[COMx]\nČíslo portu=3\n",
                 true, 0, 0, 9600, 768, 3, "192.168.0.99", 5000, 100},
        LoadCase{"JklMeansNothing", "[Připojení]\nRozhraní=jkl\nAdresa=9\n", false, 0, 0, 9600, 768, 1,
                 "192.168.0.99", 5000, 100},
        LoadCase{"HexIsaBaseDollar", "[Připojení]\nRozhraní=PCI-318\n[PCI-318]\nBázová adresa=$2A0\n", true,
                 1, 0, 9600, 672, 1, "192.168.0.99", 5000, 100},
        LoadCase{"HexIsaBase0x", "[Připojení]\nRozhraní=PCI-318\n[PCI-318]\nBázová adresa=0x2A0\n", true, 1,
                 0, 9600, 672, 1, "192.168.0.99", 5000, 100},
        LoadCase{"SuffixHIsNotANumber", "[Připojení]\nRozhraní=PCI-318\n[PCI-318]\nBázová adresa=2A0h\n",
                 true, 1, 0, 9600, 768, 1, "192.168.0.99", 5000, 100},
        LoadCase{"AddressCutTo8Bits", "[Připojení]\nRozhraní=COMx\nAdresa=300\n[COMx]\nČíslo portu=-1\n",
                 true, 0, 44, 9600, 768, 255, "192.168.0.99", 5000, 100},
        LoadCase{"NamesIgnoreCaseValuesTrimmed",
                 "[PŘIPOJENÍ]\r\n  ROZHRANÍ = RQ-1318 \r\nrychlost=  19200\r\n[rq-1318]\r\nip ADRESA=  "
                 "10.0.0.7  \r\n"
                 "udp PORT=$1388\r\nUDP Timeout=\r\n",
                 true, 4, 0, 19200, 768, 1, "10.0.0.7", 5000, 100},
        LoadCase{"EmptyTextValueIsEmpty", "[Připojení]\nRozhraní=RQ-1318\n[RQ-1318]\nIP adresa=\n", true, 4,
                 0, 9600, 768, 1, "", 5000, 100},
        LoadCase{"GarbageKeepsDefaults", "\x01\x02\xff[[[\n=\n[Připojení\nRozhraní\n", false, 0, 0, 9600, 768,
                 1, "192.168.0.99", 5000, 100}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SettingsTest, WindowsFileFromTheOriginalProgramLoads) {
    // Windows-1250 bytes and CRLF, as the original program leaves the file.
    Write(
        "[P\xF8ipojen\xED]\r\nRozhran\xED=PCI-318\r\nAdresa=12\r\nRychlost=57600\r\n"
        "[PCI-318]\r\nB\xE1zov\xE1 adresa=688\r\n");
    TData data = Fresh();
    EXPECT_TRUE(LoadSettings(&data, m_path));
    EXPECT_EQ(data.Kind, 1);
    EXPECT_EQ(data.ModuleAddress, 12);
    EXPECT_EQ(data.Speed, 57600u);
    EXPECT_EQ(data.IsaBase, 688);
}

// What stands at the settings path is read at most, never replaced.
struct LeftAloneCase {
    const char* name;
    void (*make)(const std::string& path);
    bool named;  // LoadSettings finds an interface
};
void PrintTo(const LeftAloneCase& c, std::ostream* os) { *os << c.name; }

class LeftAloneTest : public SettingsTest, public ::testing::WithParamInterface<LeftAloneCase> {};

TEST_P(LeftAloneTest, LoadKeepsDefaultsAndSaveFails) {
    GetParam().make(m_path);
    const auto before = fs::symlink_status(m_path).type();
    const std::string content = before == fs::file_type::regular ? Read() : "";
    TData data = Fresh();
    EXPECT_EQ(LoadSettings(&data, m_path), GetParam().named);
    EXPECT_EQ(data.Kind, GetParam().named ? 3 : 0);
    std::string error;
    EXPECT_FALSE(SaveSettings(&data, m_path, &error));
    EXPECT_EQ(error, "Unable to write to " + m_path);
    EXPECT_EQ(fs::symlink_status(m_path).type(), before);
    if (before == fs::file_type::regular) {
        EXPECT_EQ(Read(), content);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LeftAloneTest,
    ::testing::Values(
        LeftAloneCase{"Directory", [](const std::string& p) { fs::create_directory(p); }, false},
        LeftAloneCase{"Fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0666), 0); }, false},
        LeftAloneCase{"DanglingLink", [](const std::string& p) { fs::create_symlink("missing.ini", p); },
                      false},
        // No write permission at all binds root too, as the read-only
        // attribute binds a Windows administrator.
        LeftAloneCase{"ReadOnly",
                      [](const std::string& p) {
                          std::ofstream(p) << "[Připojení]\nRozhraní=USB-1318\n";
                          fs::permissions(
                              p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
                      },
                      true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SettingsTest, NewFileOfTheLanKindComesOutByteForByte) {
    TData data = Fresh();
    data.Kind = 4;
    EXPECT_TRUE(SaveSettings(&data, m_path));
    EXPECT_EQ(Read(),
              "[Připojení]\r\nRozhraní=RQ-1318\r\nAdresa=0\r\nRychlost=9600\r\n[RQ-1318]\r\nIP "
              "adresa=192.168.0.99\r\n"
              "UDP port=5000\r\nUDP timeout=100\r\n");
}

struct SaveCase {
    const char* name;
    uint8_t kind;
    const char* expected;
};
void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }

class SaveTest : public SettingsTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveTest, WritesOnlyTheKeysOfItsKind) {
    Write("; kept\n[COMx]\nČíslo portu=9\n\n[PCI-318]\nBázová adresa=1\n[RQ-1318]\nIP adresa=1.2.3.4\n");
    TData data = Fresh();
    data.Kind = GetParam().kind;
    data.ModuleAddress = 7;
    data.Speed = 115200;
    data.ComPort = 4;
    data.IsaBase = 0x2A0;
    EXPECT_TRUE(SaveSettings(&data, m_path));
    EXPECT_EQ(Read(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SaveTest,
    ::testing::Values(
        SaveCase{"Pci", 2,
                 "; kept\n[COMx]\nČíslo portu=9\n\n[PCI-318]\nBázová adresa=1\n[RQ-1318]\nIP adresa=1.2.3.4\n"
                 "[Připojení]\nRozhraní=PCI-1318\nAdresa=7\nRychlost=115200\n"},
        SaveCase{"InvalidKindSavesCom", 7,
                 "; kept\n[COMx]\nČíslo portu=4\n\n[PCI-318]\nBázová adresa=1\n[RQ-1318]\nIP adresa=1.2.3.4\n"
                 "[Připojení]\nRozhraní=COMx\nAdresa=7\nRychlost=115200\n"},
        SaveCase{
            "Isa", 1,
            "; kept\n[COMx]\nČíslo portu=9\n\n[PCI-318]\nBázová adresa=672\n[RQ-1318]\nIP adresa=1.2.3.4\n"
            "[Připojení]\nRozhraní=PCI-318\nAdresa=7\nRychlost=115200\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SettingsTest, SaveThenLoadRoundTrips) {
    TData data = Fresh();
    data.Kind = 4;
    data.ModuleAddress = 255;
    data.Speed = 600;
    data.IpAddress = "127.0.0.1";
    data.UdpPort = 65535;
    data.UdpTimeout = 0;
    ASSERT_TRUE(SaveSettings(&data, m_path));
    TData loaded = Fresh();
    ASSERT_TRUE(LoadSettings(&loaded, m_path));
    EXPECT_EQ(loaded.Kind, 4);
    EXPECT_EQ(loaded.ModuleAddress, 255);
    EXPECT_EQ(loaded.Speed, 600u);
    EXPECT_EQ(loaded.IpAddress, "127.0.0.1");
    EXPECT_EQ(loaded.UdpPort, 65535u);
    EXPECT_EQ(loaded.UdpTimeout, 0u);
}

// Two saves of different kinds at the same moment: neither loses the
// other's section, and the record is wholly one of the two.
TEST_F(SettingsTest, SimultaneousSavesKeepBothSections) {
    TData lan = Fresh(), isa = Fresh();
    lan.Kind = 4;
    lan.ModuleAddress = 11;
    isa.Kind = 1;
    isa.ModuleAddress = 22;
    for (int trial = 0; trial < 20; ++trial) {
        fs::remove(m_path);
        std::latch start(2);
        const auto save = [&](TData* data) {
            start.arrive_and_wait();
            EXPECT_TRUE(SaveSettings(data, m_path));
        };
        std::thread a(save, &lan), b(save, &isa);
        a.join();
        b.join();
        const std::string file = Read();
        ASSERT_NE(file.find("[RQ-1318]\r\nIP adresa=192.168.0.99\r\nUDP port=5000\r\nUDP timeout=100\r\n"),
                  std::string::npos)
            << file;
        ASSERT_NE(file.find("[PCI-318]\r\nBázová adresa=768\r\n"), std::string::npos) << file;
        TData loaded = Fresh();
        ASSERT_TRUE(LoadSettings(&loaded, m_path)) << file;
        ASSERT_EQ(loaded.ModuleAddress, loaded.Kind == 4 ? 11 : 22) << file;
    }
}

// ---- creation and close steps ----

TEST_F(SettingsTest, CreationLoadsTheFile) {
    Write("[Připojení]\nRozhraní=USB-1318\n");
    std::unique_ptr<TData> data = CreateProgramData(m_path);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->Kind, 3);
    EXPECT_EQ(data->ModuleConfig, DefaultModuleConfig());
}

TEST_F(SettingsTest, CloseWhileConnectedSavesThenCallsDoneOnce) {
    std::unique_ptr<TData> data = CreateProgramData(m_path);
    ASSERT_TRUE(data);
    data->Kind = 2;
    ASSERT_EQ(OpenInterface(2, data->Handle, data->InitParams), 0u);
    data->Connected = 1;
    bool savedBeforeDone = false;
    Rec().duringDone = [&] { savedBeforeDone = Read().find("PCI-1318") != std::string::npos; };
    CloseProgramData(data, m_path);
    EXPECT_FALSE(data);
    const auto done = Rec().CallsOf("Done");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].args[0], 0x51u);
    EXPECT_TRUE(savedBeforeDone);
}

struct NoCloseCase {
    uint8_t connected;
    uint32_t handle;
};
void PrintTo(const NoCloseCase& c, std::ostream* os) {
    *os << "connected " << int{c.connected} << " handle " << c.handle;
}

class CloseWithoutConnectionTest : public SettingsTest, public ::testing::WithParamInterface<NoCloseCase> {};

TEST_P(CloseWithoutConnectionTest, CallsNoEntryPoint) {
    std::unique_ptr<TData> data = CreateProgramData(m_path);
    ASSERT_TRUE(data);
    data->Kind = 2;
    uint32_t h = 0;
    ASSERT_EQ(OpenInterface(2, h, data->InitParams), 0u);
    Rec().calls.clear();
    data->Connected = GetParam().connected;
    data->Handle = GetParam().handle;
    CloseProgramData(data, m_path);
    EXPECT_TRUE(Rec().calls.empty());
    EXPECT_TRUE(fs::exists(m_path));
    CloseInterface(2, h);
}

INSTANTIATE_TEST_SUITE_P(States, CloseWithoutConnectionTest,
                         ::testing::Values(NoCloseCase{1, 0}, NoCloseCase{0, 0x51}, NoCloseCase{0, 0}));

TEST_F(SettingsTest, CloseWithUnwritableFileStillEndsConnectionAndFrees) {
    fs::create_directory(m_path);
    std::unique_ptr<TData> data = CreateProgramData(m_path);
    ASSERT_TRUE(data);
    data->Kind = 0;
    ASSERT_EQ(OpenInterface(0, data->Handle, data->InitParams), 0u);
    data->Connected = 1;
    std::string error;
    CloseProgramData(data, m_path, &error);
    EXPECT_EQ(error, "Unable to write to " + m_path);
    EXPECT_EQ(Rec().CallsOf("Done").size(), 1u);
    EXPECT_FALSE(data);
}

}  // namespace
