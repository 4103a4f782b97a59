// The settings file's Windows file access: the same outcomes as on POSIX
// for what stands at the path, nothing left beside the file, and no key
// lost when two writers save at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "core/IniFile.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TAtPath {
    const char* name;
    void (*prepare)(const fs::path& file);
    bool written;
};
void PrintTo(const TAtPath& c, std::ostream* os) { *os << c.name; }

class IniFileWin : public testing::TestWithParam<TAtPath> {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("rq905win" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_file = m_dir / "W_rq905.ini";
    }
    void TearDown() override {
        SetFileAttributesW(m_file.c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(m_dir);
    }
    fs::path m_dir;
    fs::path m_file;
};

TEST_P(IniFileWin, WritesOnlyARegularWritableFileAndLeavesNothingBeside) {
    GetParam().prepare(m_file);
    const std::string before = fs::is_regular_file(m_file) ? ReadBytes(m_file) : "";
    TProfileFile file(m_file.string());
    EXPECT_EQ(file.WriteString("Sekce", "Klíč", "1"), GetParam().written);
    if (GetParam().written) {
        EXPECT_EQ(ReadBytes(m_file), before + "[Sekce]\r\nKlíč=1\r\n");
    } else if (fs::is_regular_file(m_file)) {
        EXPECT_EQ(ReadBytes(m_file), before);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    AtPath, IniFileWin,
    testing::Values(TAtPath{"Missing", [](const fs::path&) {}, true},
                    TAtPath{"Existing",
                            [](const fs::path& f) { std::ofstream(f, std::ios::binary) << "[A]\r\nb=c\r\n"; },
                            true},
                    TAtPath{"ReadOnly",
                            [](const fs::path& f) {
                                std::ofstream(f, std::ios::binary) << "[A]\r\n";
                                SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY);
                            },
                            false},
                    TAtPath{"Directory", [](const fs::path& f) { fs::create_directory(f); }, false}),
    [](const testing::TestParamInfo<TAtPath>& row) { return std::string(row.param.name); });

TEST_F(IniFileWin, SimultaneousWritersKeepEachOthersKeys) {
    for (int trial = 0; trial < 10; ++trial) {
        fs::remove(m_file);
        // A spinning start line: std::latch's wait hung now and then in
        // this build (MinGW's libstdc++ under wine).
        std::atomic<int> ready{0};
        const auto save = [&](const char* section) {
            ready.fetch_add(1);
            while (ready.load() < 2) std::this_thread::yield();
            EXPECT_TRUE(TProfileFile(m_file.string()).WriteString(section, "k", "v"));
        };
        std::thread a(save, "A"), b(save, "B");
        a.join();
        b.join();
        TProfileFile file(m_file.string());
        ASSERT_TRUE(file.Load());
        EXPECT_EQ(file.ReadString("A", "k", "") + file.ReadString("B", "k", ""), "vv") << ReadBytes(m_file);
    }
}

}  // namespace
