// Notices of the settings file in the main window's status bar, where a
// Windows user, who has no standard error, sees them: a file passed over
// at start-up, and one that will not take the settings at the end.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "core/IniFileIo.h"
#include "ui/Hlavni.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNotSaved = ": soubor nastavení nelze zapsat; změny nastavení se při ukončení neuloží";

struct NoticeCase {
    const char* name;
    const char* file;  // under the test's folder
    void (*make)(const fs::path& file);
    const char* first;  // what the panel says after the file's name; "" for nothing
    bool notSaved;      // the notice of a file that will not take the save follows
};
void PrintTo(const NoticeCase& c, std::ostream* os) { *os << c.name; }

class SettingsNotices : public testing::TestWithParam<NoticeCase> {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("rq905-notices-" + std::string(GetParam().name));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(m_dir / GetParam().file, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_dir, ignored);
    }
    fs::path m_dir;
};

TEST_P(SettingsNotices, StandInTheStatusBar) {
    const NoticeCase& c = GetParam();
    const fs::path file = m_dir / c.file;
    c.make(file);
    const std::string path = AbsolutePath(file.string());
    std::string expected;
    if (*c.first != '\0') expected = " " + path + c.first;
    if (c.notSaved) expected += (expected.empty() ? " " : "; ") + path + kNotSaved;

    TForm1 form(file.string());
    const std::string panel = form.PanelText(3);
    if (*c.first == '\0') {
        EXPECT_EQ(panel, expected);
    } else {
        // The reason a file was passed over is the platform's own.
        EXPECT_EQ(panel.rfind(" " + path + c.first, 0), 0u) << panel;
        EXPECT_EQ(panel.size() >= std::string(kNotSaved).size() &&
                      panel.compare(panel.size() - std::string(kNotSaved).size(), std::string::npos,
                                    kNotSaved) == 0,
                  c.notSaved)
            << panel;
    }
}

void Writable(const fs::path& file) { std::ofstream(file) << "[Připojení]\nRozhraní=COMx\n"; }

INSTANTIATE_TEST_SUITE_P(Notices, SettingsNotices,
                         testing::Values(NoticeCase{"Writable", "W_rq905.ini", Writable, "", false},
                                         NoticeCase{"MissingInNewFolders", "new/sub/W_rq905.ini",
                                                    [](const fs::path&) {}, "", false},
                                         NoticeCase{"ReadOnly", "W_rq905.ini",
                                                    [](const fs::path& file) {
                                                        Writable(file);
                                                        fs::permissions(file, fs::perms::owner_read |
                                                                                  fs::perms::group_read |
                                                                                  fs::perms::others_read);
                                                    },
                                                    "", true},
                                         NoticeCase{
                                             "Folder", "W_rq905.ini",
                                             [](const fs::path& file) { fs::create_directories(file); },
                                             ": soubor nastavení přeskočen, ", true}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
