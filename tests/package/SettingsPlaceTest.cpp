#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

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

}  // namespace
