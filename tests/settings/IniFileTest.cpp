#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Cp1250.h"
#include "core/IniFile.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class TempDirTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "rq905iniXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_file = m_dir + "/W_rq905.ini";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }
    std::string m_dir;
    std::string m_file;
};

// ---- Golden files: input, a sequence of writes, expected bytes ----

struct TWrite {
    const char* section;
    const char* key;
    const char* value;
};

struct TGoldenCase {
    const char* name;  // data/<name>.ini (absent: no file yet) and data/<name>.ref
    std::vector<TWrite> writes;
};
void PrintTo(const TGoldenCase& c, std::ostream* os) { *os << c.name; }

class GoldenTest : public TempDirTest, public testing::WithParamInterface<TGoldenCase> {};

TEST_P(GoldenTest, WritesMatchReference) {
    const std::string data = std::string(RQ905_SETTINGS_DATA) + "/" + GetParam().name;
    if (fs::exists(data + ".ini")) WriteBytes(m_file, ReadBytes(data + ".ini"));
    TProfileFile file(m_file);
    for (const TWrite& w : GetParam().writes) {
        ASSERT_TRUE(file.WriteString(w.section, w.key, w.value)) << file.LastError();
        // What was written reads back, from memory and from disk.
        EXPECT_EQ(file.ReadString(w.section, w.key, "?"), w.value);
    }
    const std::string expected = ReadBytes(data + ".ref");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ReadBytes(m_file), expected);
    TProfileFile reloaded(m_file);
    ASSERT_TRUE(reloaded.Load());
    for (const TWrite& w : GetParam().writes) EXPECT_EQ(reloaded.ReadString(w.section, w.key, "?"), w.value);
    EXPECT_EQ(DirectoryEntries(m_dir), std::vector<std::string>{"W_rq905.ini"});
}

const std::vector<TWrite> kSaveRq1318 = {
    {"Připojení", "Rozhraní", "RQ-1318"}, {"RQ-1318", "IP adresa", "10.0.0.7"},
    {"RQ-1318", "UDP port", "5001"},      {"RQ-1318", "UDP timeout", "250"},
    {"Připojení", "Adresa", "12"},        {"Připojení", "Rychlost", "115200"},
};

INSTANTIATE_TEST_SUITE_P(
    Files, GoldenTest,
    testing::Values(
        TGoldenCase{"example",
                    {{"Připojení", "Rozhraní", "RQ-1318"},
                     {"RQ-1318", "IP adresa", "192.168.0.99"},
                     {"RQ-1318", "UDP port", "5000"},
                     {"RQ-1318", "UDP timeout", "100"},
                     {"Připojení", "Adresa", "0"},
                     {"Připojení", "Rychlost", "9600"}}},
        TGoldenCase{"original_crlf", kSaveRq1318}, TGoldenCase{"original_lf", kSaveRq1318},
        TGoldenCase{"case_and_duplicates_crlf",
                    {{"Připojení", "Rozhraní", "PCI-318"},
                     {"PCI-318", "Bázová adresa", "672"},
                     {"Připojení", "Adresa", "7"},
                     {"Připojení", "Rychlost", "4800"}}},
        TGoldenCase{"no_final_newline_lf", {{"Připojení", "Rychlost", "1200"}, {"COMx", "Číslo portu", "2"}}},
        TGoldenCase{"replace_last_line_crlf", {{"Připojení", "Adresa", "200"}}},
        TGoldenCase{"comment_only_no_newline", {{"Připojení", "Rozhraní", "COMx"}}},
        TGoldenCase{"empty_section_lf", {{"Připojení", "Rozhraní", "COMx"}}},
        TGoldenCase{"garbage_crlf", {{"Připojení", "Adresa", "10"}, {"Připojení", "Rychlost", "2400"}}},
        // Saved by an editor in UTF-8: set in place, kept in UTF-8, a character
        // that Windows-1250 lacks and the byte order mark kept.
        TGoldenCase{"utf8_bom_crlf", kSaveRq1318},
        TGoldenCase{"utf8_lf", {{"Připojení", "Rozhraní", "PCI-318"}, {"PCI-318", "Bázová adresa", "672"}}}),
    [](const testing::TestParamInfo<TGoldenCase>& row) { return std::string(row.param.name); });

// ---- Reading ----

struct TReadCase {
    const char* name;
    std::string content;
    const char* section;
    const char* key;
    std::string expected;  // "<def>" when the default is expected
};
void PrintTo(const TReadCase& c, std::ostream* os) { *os << c.name; }

class ReadTest : public TempDirTest, public testing::WithParamInterface<TReadCase> {};

TEST_P(ReadTest, Reads) {
    WriteBytes(m_file, GetParam().content);
    TProfileFile file(m_file);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadString(GetParam().section, GetParam().key, "<def>"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadTest,
    testing::Values(
        TReadCase{"UpperCaseCzechNames", "[PŘIPOJENÍ]\r\nROZHRANÍ=RQ-1318\r\n", "Připojení", "Rozhraní",
                  "RQ-1318"},
        TReadCase{"LowerCaseCzechNames", "[čÍSLO]\r\nžluťoučký kůň=1\r\n", "Číslo", "ŽLUŤOUČKÝ KŮŇ", "1"},
        TReadCase{"AskedWithBlanks", "[a]\nb=1\n", "  a ", "\tb ", "1"},
        TReadCase{"ValueTrimmed", "[Připojení]\r\n  Adresa \t=   5 \t\r\n", "Připojení", "Adresa", "5"},
        TReadCase{"SectionNameTrimmed", "[ Připojení ] ; poznámka\n Adresa=3\n", "Připojení", "Adresa", "3"},
        TReadCase{"EmptyValue", "[RQ-1318]\nIP adresa=\n", "RQ-1318", "IP adresa", ""},
        TReadCase{"BlankValue", "[RQ-1318]\nIP adresa=   \n", "RQ-1318", "IP adresa", ""},
        TReadCase{"MissingKey", "[RQ-1318]\nUDP port=1\n", "RQ-1318", "IP adresa", "<def>"},
        TReadCase{"MissingSection", "[COMx]\nAdresa=1\n", "Připojení", "Adresa", "<def>"},
        TReadCase{"KeyInOtherSection", "[A]\nx=1\n[B]\ny=2\n", "A", "y", "<def>"},
        TReadCase{"FirstSectionWins", "[A]\nx=1\n[a]\nx=2\ny=3\n", "A", "y", "<def>"},
        TReadCase{"FirstKeyWins", "[A]\nx=1\nX=2\n", "A", "x", "1"},
        TReadCase{"ValueWithEquals", "[A]\nx=b=c\n", "A", "x", "b=c"},
        TReadCase{"Comment", "[A]\n;x=1\n x=2\n", "A", "x", "2"},
        TReadCase{"CommentOnly", "[A]\n ; x=1\n", "A", "x", "<def>"},
        TReadCase{"KeyBeforeSections", "x=1\n[A]\n", "A", "x", "<def>"},
        TReadCase{"HeaderWithoutBracket", "[A]\n[B\nx=1\n", "A", "x", "1"},
        TReadCase{"LineWithoutEquals", "[A]\nx\nx=5\n", "A", "x", "5"},
        TReadCase{"NoFinalNewline", "[A]\nx=7", "A", "x", "7"},
        TReadCase{"BlankLinesInside", "[A]\n\n\r\n  \nx=8\n", "A", "x", "8"},
        TReadCase{"MixedLineEndings", "[A]\r\ny=1\nx=9\r\n", "A", "x", "9"},
        TReadCase{"NulInValue", std::string("[A]\nx=1\0002\n", 10), "A", "x", std::string("1\0002", 3)},
        TReadCase{"NulInName", std::string("[A]\nx\0=1\nx=2\n", 13), "A", "x", "2"},
        TReadCase{"LoneCarriageReturn", "[A]\rx=1\n[B]\nx=2\n", "B", "x", "2"},
        TReadCase{"Empty", "", "A", "x", "<def>"},
        TReadCase{"Utf8WithByteOrderMark", std::string(kUtf8Bom) + "[A]\r\nx=1\r\n", "A", "x", "1"},
        TReadCase{"Utf8ComesInWindows1250", Cp1250ToUtf8("[PŘIPOJENÍ]\nPoznámka=Žluťoučký\n"), "Připojení",
                  "poznámka", "Žluťoučký"},
        TReadCase{"MalformedUtf8IsWindows1250", "[A]\nx=\xC3\xA1\xE1\n", "A", "x", "\xC3\xA1\xE1"}),
    [](const testing::TestParamInfo<TReadCase>& row) { return std::string(row.param.name); });

TEST_F(TempDirTest, MegabyteLinesAreRead) {
    const std::string big(3 << 20, 'v');
    WriteBytes(m_file, std::string(2 << 20, '#') + "\n[A]\nx=" + big + "\ny=1");
    TProfileFile file(m_file);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadString("A", "x", ""), big);
    EXPECT_EQ(file.ReadString("A", "y", ""), "1");
    ASSERT_TRUE(file.WriteString("A", "y", "2"));
    EXPECT_EQ(ReadBytes(m_file).size(), (2u << 20) + 1 + 4 + 2 + big.size() + 1 + 3);
}

TEST_F(TempDirTest, BinaryGarbageNeverCrashes) {
    std::string garbage;
    unsigned seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        garbage += static_cast<char>(seed >> 16);
    }
    WriteBytes(m_file, garbage);
    TProfileFile file(m_file);
    ASSERT_TRUE(file.Load());
    (void)file.ReadString("Připojení", "Rozhraní", "jkl");
    ASSERT_TRUE(file.WriteString("Připojení", "Rozhraní", "COMx"));
    EXPECT_EQ(file.ReadString("Připojení", "Rozhraní", "jkl"), "COMx");
    // Everything that was there stays, in front.
    EXPECT_EQ(ReadBytes(m_file).substr(0, garbage.size()), garbage);
}

TEST_F(TempDirTest, MissingFileReadsDefaults) {
    TProfileFile file(m_file);
    EXPECT_FALSE(file.Load());
    EXPECT_EQ(file.ReadString("Připojení", "Rozhraní", "jkl"), "jkl");
}

TEST_F(TempDirTest, RelativePathIsMadeFull) {
    const std::string cwd = fs::current_path().string();
    ASSERT_EQ(chdir(m_dir.c_str()), 0);
    TProfileFile file("W_rq905.ini");
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_EQ(file.Path(), m_file);
}

// ---- Failures ----

TEST_F(TempDirTest, DirectoryIsNeitherReadNorReplaced) {
    ASSERT_TRUE(fs::create_directory(m_file));
    WriteBytes(m_file + "/inside", "keep");
    TProfileFile file(m_file);
    EXPECT_FALSE(file.Load());
    EXPECT_EQ(file.ReadString("A", "x", "d"), "d");
    EXPECT_FALSE(file.WriteString("A", "x", "1"));
    EXPECT_EQ(file.LastError(), "Unable to write to " + m_file);
    EXPECT_TRUE(fs::is_directory(m_file));
    EXPECT_EQ(ReadBytes(m_file + "/inside"), "keep");
    EXPECT_EQ(DirectoryEntries(m_dir), std::vector<std::string>{"W_rq905.ini"});
}

TEST_F(TempDirTest, TooLargeFileIsNeitherReadNorReplaced) {
    {
        std::ofstream out(m_file, std::ios::binary);
        out << "[A]\nx=1\n";
    }
    fs::resize_file(m_file, TProfileFile::kMaxFileSize + 1);
    TProfileFile file(m_file);
    EXPECT_FALSE(file.Load());
    EXPECT_EQ(file.ReadString("A", "x", "d"), "d");
    EXPECT_FALSE(file.WriteString("A", "x", "2"));
    EXPECT_EQ(file.LastError(), "Unable to write to " + m_file);
    EXPECT_EQ(fs::file_size(m_file), TProfileFile::kMaxFileSize + 1);
    EXPECT_EQ(ReadBytes(m_file).substr(0, 8), "[A]\nx=1\n");
}

TEST_F(TempDirTest, FileAtTheSizeLimitIsRead) {
    const std::string head = "[A]\nx=1\n";
    WriteBytes(m_file, head + std::string(TProfileFile::kMaxFileSize - head.size(), ';'));
    TProfileFile file(m_file);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadString("A", "x", "d"), "1");
}

TEST_F(TempDirTest, MissingDirectoryFailsWithFullPath) {
    const std::string path = m_dir + "/chybí/W_rq905.ini";
    TProfileFile file(path);
    EXPECT_FALSE(file.WriteString("Připojení", "Rozhraní", "COMx"));
    EXPECT_EQ(file.LastError(), "Unable to write to " + path);
    EXPECT_TRUE(DirectoryEntries(m_dir).empty());
}

TEST_F(TempDirTest, ReadOnlyDirectoryFailsAndLeavesFileIntact) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    WriteBytes(m_file, "[A]\r\nx=1\r\n");
    fs::permissions(m_dir, fs::perms::owner_write, fs::perm_options::remove);
    TProfileFile file(m_file);
    EXPECT_FALSE(file.WriteString("A", "x", "2"));
    EXPECT_EQ(file.LastError(), "Unable to write to " + m_file);
    EXPECT_EQ(ReadBytes(m_file), "[A]\r\nx=1\r\n");
    EXPECT_EQ(DirectoryEntries(m_dir), std::vector<std::string>{"W_rq905.ini"});
}

// A file-size limit makes every write beyond it fail, as a full disk does.
TEST_F(TempDirTest, FullDiskLeavesOldFileAndNoTemporary) {
    const std::string old = "[Připojení]\r\nRozhraní=COMx\r\n" + std::string(4000, ';') + "\r\n";
    WriteBytes(m_file, old);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    TProfileFile file(m_file);
    const bool written = file.WriteString("Připojení", "Rozhraní", "RQ-1318");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(file.LastError(), "Unable to write to " + m_file);
    EXPECT_EQ(ReadBytes(m_file), old);
    EXPECT_EQ(DirectoryEntries(m_dir), std::vector<std::string>{"W_rq905.ini"});
}

TEST_F(TempDirTest, LinkStaysAndItsTargetIsWritten) {
    const std::string real = m_dir + "/real";
    ASSERT_TRUE(fs::create_directory(real));
    WriteBytes(real + "/target.ini", "[A]\nx=1\n");
    fs::create_symlink("real/target.ini", m_file);
    TProfileFile file(m_file);
    ASSERT_TRUE(file.WriteString("A", "x", "2"));
    EXPECT_TRUE(fs::is_symlink(m_file));
    EXPECT_EQ(ReadBytes(real + "/target.ini"), "[A]\nx=2\n");
    EXPECT_EQ(DirectoryEntries(real), std::vector<std::string>{"target.ini"});
}

// A key that cannot be written stops the list there, as if each key were
// written on its own.
TEST_F(TempDirTest, ListStopsAtAnUnwritableKey) {
    TProfileFile file(m_file);
    const TProfileEntry entries[] = {{"A", "x", "1"}, {"A", "y", "2\n"}, {"A", "z", "3"}};
    EXPECT_FALSE(file.WriteStrings(entries));
    EXPECT_EQ(file.LastError(), "Unable to write to " + m_file);
    EXPECT_EQ(ReadBytes(m_file), "[A]\r\nx=1\r\n");
}

TEST_F(TempDirTest, ErrorClearsAfterSuccess) {
    TProfileFile file(m_file);
    EXPECT_FALSE(file.WriteString("", "x", "1"));
    EXPECT_EQ(file.LastError(), "Unable to write to " + m_file);
    EXPECT_TRUE(file.WriteString("A", "x", "1"));
    EXPECT_EQ(file.LastError(), "");
}

TEST_F(TempDirTest, KeepsPermissionsOfTheOldFile) {
    WriteBytes(m_file, "[A]\nx=1\n");
    fs::permissions(m_file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    TProfileFile file(m_file);
    ASSERT_TRUE(file.WriteString("A", "x", "2"));
    EXPECT_EQ(fs::status(m_file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(TempDirTest, WriteSeesChangesMadeByOthers) {
    TProfileFile file(m_file);
    ASSERT_TRUE(file.WriteString("A", "x", "1"));
    WriteBytes(m_file, "[A]\r\nx=1\r\ny=5\r\n");
    ASSERT_TRUE(file.WriteString("A", "x", "2"));
    EXPECT_EQ(ReadBytes(m_file), "[A]\r\nx=2\r\ny=5\r\n");
}

// A write that leaves the text as it was keeps the very file (no new
// inode from a rename); a write that changes it replaces the file.
struct TSameWrite {
    const char* name;
    const char* value;
    bool kept;
};
void PrintTo(const TSameWrite& c, std::ostream* os) { *os << c.name; }

class SameWriteTest : public TempDirTest, public testing::WithParamInterface<TSameWrite> {};

TEST_P(SameWriteTest, FileReplacedOnlyWhenItsTextChanges) {
    const std::string before = "[A]\r\nx=1\r\n";
    WriteBytes(m_file, before);
    struct stat old {};
    ASSERT_EQ(stat(m_file.c_str(), &old), 0);
    TProfileFile file(m_file);
    ASSERT_TRUE(file.WriteString("A", "x", GetParam().value));
    struct stat now {};
    ASSERT_EQ(stat(m_file.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino == old.st_ino, GetParam().kept);
    EXPECT_EQ(ReadBytes(m_file), "[A]\r\nx=" + std::string(GetParam().value) + "\r\n");
    EXPECT_EQ(DirectoryEntries(m_dir), std::vector<std::string>{"W_rq905.ini"});
}

INSTANTIATE_TEST_SUITE_P(Table, SameWriteTest,
                         testing::Values(TSameWrite{"SameValue", "1", true},
                                         TSameWrite{"NewValue", "2", false}),
                         [](const testing::TestParamInfo<TSameWrite>& row) {
                             return std::string(row.param.name);
                         });

struct TBadWrite {
    const char* name;
    std::string section;
    std::string key;
    std::string value;
};
void PrintTo(const TBadWrite& c, std::ostream* os) { *os << c.name; }

class BadWriteTest : public TempDirTest, public testing::WithParamInterface<TBadWrite> {};

TEST_P(BadWriteTest, RefusedAndFileUntouched) {
    const std::string before = "[A]\r\nx=1\r\n";
    WriteBytes(m_file, before);
    TProfileFile file(m_file);
    EXPECT_FALSE(file.WriteString(GetParam().section, GetParam().key, GetParam().value));
    EXPECT_EQ(file.LastError(), "Unable to write to " + m_file);
    EXPECT_EQ(ReadBytes(m_file), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadWriteTest,
    testing::Values(TBadWrite{"EmptySection", "", "x", "1"}, TBadWrite{"BlankSection", "  ", "x", "1"},
                    TBadWrite{"EmptyKey", "A", "", "1"}, TBadWrite{"KeyWithEquals", "A", "x=y", "1"},
                    TBadWrite{"KeyLikeSection", "A", "[B]", "1"}, TBadWrite{"KeyLikeComment", "A", ";x", "1"},
                    TBadWrite{"SectionWithBracket", "A]", "x", "1"},
                    TBadWrite{"ValueWithNewline", "A", "x", "1\n[B]"},
                    TBadWrite{"ValueWithCarriageReturn", "A", "x", "1\r"},
                    TBadWrite{"KeyWithNewline", "A", "x\ny", "1"},
                    TBadWrite{"SectionWithNewline", "A\nB", "x", "1"}),
    [](const testing::TestParamInfo<TBadWrite>& row) { return std::string(row.param.name); });

TEST(ExecutableDirTest, IsTheDirectoryOfThisTest) {
    const std::string dir = ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.front(), '/');
    EXPECT_TRUE(fs::exists(dir + "settings_tests"));
}

}  // namespace
