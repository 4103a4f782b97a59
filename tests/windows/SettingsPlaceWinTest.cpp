// Where the Windows program keeps its settings: the folder test behind the
// choice, on real folders of the running system.
#include <windows.h>
// clang-format off: shlobj.h needs windows.h first.
#include <shlobj.h>
// clang-format on

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/Dekl.h"
#include "core/IniFile.h"
#include "core/SettingsPlace.h"

namespace {

namespace fs = std::filesystem;

std::string ProgramFilesX86() {
    char path[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return {};
    return path;
}

struct TFolder {
    const char* name;
    std::string (*make)(const fs::path& scratch);  // the folder, ending with '\'
    bool own;
};
void PrintTo(const TFolder& c, std::ostream* os) { *os << c.name; }

class SettingsPlaceWin : public testing::TestWithParam<TFolder> {};

TEST_P(SettingsPlaceWin, FolderIsTheUsersOwnOnlyWhereAFileCanBeMadeOutsideProgramFiles) {
    const fs::path scratch =
        fs::temp_directory_path() / ("rq905place" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(scratch);
    const std::string dir = GetParam().make(scratch);
    EXPECT_EQ(IsUsersOwnFolder(dir), GetParam().own) << dir;
    // The probe leaves nothing behind.
    EXPECT_TRUE(fs::is_empty(scratch));
    fs::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsPlaceWin,
    testing::Values(TFolder{"PortableCopy", [](const fs::path& s) { return s.string() + "\\"; }, true},
                    TFolder{"MissingFolder", [](const fs::path& s) { return (s / "gone").string() + "\\"; },
                            false},
                    // Writable under wine and for an administrator, and still the installer's.
                    TFolder{"ProgramFiles",
                            [](const fs::path&) {
                                const std::string dir = ProgramFilesX86() + "\\RQ-905 test\\";
                                fs::create_directories(dir);
                                return dir;
                            },
                            false}),
    [](const testing::TestParamInfo<TFolder>& row) { return std::string(row.param.name); });

TEST(SettingsPlaceWin, TestProgramsFolderIsItsOwnSoTheFileLiesBesideIt) {
    const TSettingsFiles files = SettingsFiles();
    EXPECT_EQ(files.write, ExecutableDir() + kSettingsFileName);
    EXPECT_EQ(files.read, files.write);
}

}  // namespace
