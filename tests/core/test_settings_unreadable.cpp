// A settings file that is there but cannot be read gives the defaults, as a
// missing one does, and says on standard error which file was passed over
// and why.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "core/Cp1250.h"
#include "core/Dekl.h"

namespace fs = std::filesystem;

namespace {

struct UnreadableCase {
    const char* name;
    void (*make)(const std::string& path);
    const char* reason;  // Windows-1250
};
void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.name; }

class UnreadableSettings : public ::testing::TestWithParam<UnreadableCase> {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/rq905-unreadable-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string m_dir;
};

TEST_P(UnreadableSettings, GivesTheDefaultsAndNamesTheFile) {
    if (std::string(GetParam().name) == "NoPermission" && ::geteuid() == 0)
        GTEST_SKIP() << "root reads anything";
    const std::string path = m_dir + "/W_rq905.ini";
    GetParam().make(path);
    std::ostringstream err;
    std::streambuf* const saved = std::cerr.rdbuf(err.rdbuf());
    TData data;
    SetDefaults(&data);
    const bool loaded = LoadSettings(&data, path);
    std::cerr.rdbuf(saved);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(data.ComPort, 1);
    EXPECT_EQ(Utf8ToCp1250(err.str()),
              path + ": soubor nastavení přeskočen, " + GetParam().reason + "; platí výchozí hodnoty\n");
}

const std::string kFile = "[Připojení]\r\nRozhraní=COMx\r\n[COMx]\r\nČíslo portu=4\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, UnreadableSettings,
    ::testing::Values(UnreadableCase{"Fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); },
                                     "je to roura (FIFO), ne obyčejný soubor"},
                      UnreadableCase{"Folder", [](const std::string& p) { fs::create_directory(p); },
                                     "je to složka, ne soubor"},
                      UnreadableCase{"DanglingLink",
                                     [](const std::string& p) { fs::create_symlink(p + ".gone", p); },
                                     "odkaz vede na neexistující soubor"},
                      UnreadableCase{"NoPermission",
                                     [](const std::string& p) {
                                         std::ofstream(p, std::ios::binary) << kFile;
                                         ::chmod(p.c_str(), 0);
                                     },
                                     "chybí oprávnění ke čtení"},
                      UnreadableCase{"OverTheLimit",
                                     [](const std::string& p) {
                                         std::ofstream(p, std::ios::binary)
                                             << kFile << std::string(16 << 20, ';');
                                     },
                                     "větší než 16 MiB"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
