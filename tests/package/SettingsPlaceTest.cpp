#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "core/Dekl.h"
#include "core/IniFile.h"
#include "core/SettingsPlace.h"

namespace {

struct PlaceCase {
    const char* name;
    bool ownsExeDir;
    const char* userDir;
    bool userFileExists;
    const char* read;
    const char* write;
};
void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class ChooseSettingsFilesTest : public testing::TestWithParam<PlaceCase> {};

TEST_P(ChooseSettingsFilesTest, PicksTheFiles) {
    const PlaceCase& c = GetParam();
    const std::set<std::string> present{"/prog/W_rq905.ini",
                                        c.userFileExists ? "/home/u/.config/rq905/W_rq905.ini" : ""};
    const TSettingsFiles files = ChooseSettingsFiles(
        "/prog/", c.ownsExeDir, c.userDir, [&](const std::string& path) { return present.count(path) > 0; });
    EXPECT_EQ(files, (TSettingsFiles{c.read, c.write}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooseSettingsFilesTest,
    testing::Values(PlaceCase{"OwnDirectoryIgnoresTheUserFile", true, "/home/u/.config/rq905/", true,
                              "/prog/W_rq905.ini", "/prog/W_rq905.ini"},
                    PlaceCase{"InstalledReadsTheUserFile", false, "/home/u/.config/rq905/", true,
                              "/home/u/.config/rq905/W_rq905.ini", "/home/u/.config/rq905/W_rq905.ini"},
                    PlaceCase{"InstalledFirstRunReadsTheShippedDefaults", false, "/home/u/.config/rq905/",
                              false, "/prog/W_rq905.ini", "/home/u/.config/rq905/W_rq905.ini"},
                    PlaceCase{"NoUserDirectoryKeepsTheFileBeside", false, "", false, "/prog/W_rq905.ini",
                              "/prog/W_rq905.ini"}),
    [](const testing::TestParamInfo<PlaceCase>& p) { return std::string(p.param.name); });

// The test runs from the build tree, a directory of the user's own.
TEST(SettingsFilesTest, BuildTreeKeepsTheFileBesideTheExecutable) {
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", "/nonexistent-config", 1), 0);
    const std::string beside = ExecutableDir() + "W_rq905.ini";
    EXPECT_EQ(SettingsFiles(), (TSettingsFiles{beside, beside}));
}

TEST(MakeParentDirectoriesTest, MakesTheMissingOnesForTheUserAlone) {
    std::string dir = (std::filesystem::temp_directory_path() / "rq905placeXXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    ASSERT_TRUE(MakeParentDirectories(dir + "/a/b/W_rq905.ini"));
    struct stat info {};
    ASSERT_EQ(stat((dir + "/a/b").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(MakeParentDirectories(dir + "/a/b/W_rq905.ini"));
    std::filesystem::remove_all(dir);
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A copy of this test in an installed layout makes and closes the program's
// record once, as a run that is cancelled and closed does. Its first save
// of the user's own file must keep all that the shipped file beside it
// holds, the other interface kinds' values too.
TEST(FirstSaveTest, StartsFromTheShippedFile) {
    if (std::getenv("RQ905_TEST_INSTALLED_RUN") != nullptr) {
        std::unique_ptr<TData> data = CreateProgramData(SettingsFilePath());
        CloseProgramData(data, SettingsFilePath());
        return;
    }
    namespace fs = std::filesystem;
    std::string root = (fs::temp_directory_path() / "rq905firstXXXXXX").string();
    ASSERT_NE(mkdtemp(root.data()), nullptr);
    const fs::path bin = fs::path(root) / "bin";
    fs::create_directories(bin / RQ905_DRIVER_DIR_FROM_BIN);
    fs::copy_file("/proc/self/exe", bin / "copy", fs::copy_options::overwrite_existing);
    const std::string shipped =
        "[Připojení]\r\nRozhraní=COMx\r\nAdresa=3\r\nRychlost=9600\r\n[COMx]\r\nČíslo portu=2\r\n"
        "[RQ-1318]\r\nIP adresa=10.1.2.3\r\nUDP port=3180\r\n";
    std::ofstream(bin / "W_rq905.ini", std::ios::binary) << shipped;
    const std::string run = "HOME='" + root + "/home' XDG_CONFIG_HOME= RQ905_TEST_INSTALLED_RUN=1 '" +
                            (bin / "copy").string() + "' --gtest_filter=FirstSaveTest.* >/dev/null";
    ASSERT_EQ(std::system(run.c_str()), 0);
    EXPECT_EQ(ReadBytes(fs::path(root) / "home/.config/rq905/W_rq905.ini"), shipped);
    EXPECT_EQ(ReadBytes(bin / "W_rq905.ini"), shipped);
    fs::remove_all(root);
}

}  // namespace
