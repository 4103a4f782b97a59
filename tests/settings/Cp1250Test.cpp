#include <gtest/gtest.h>
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cstring>
#include <string>

#include "core/Cp1250.h"

namespace {

constexpr unsigned char kUndefined[] = {0x81, 0x83, 0x88, 0x90, 0x98};

bool IsUndefined(unsigned byte) {
    for (const unsigned char u : kUndefined)
        if (u == byte) return true;
    return false;
}

// The C library's own converter is the independent reference; false when it
// refuses the text.
bool IconvConvert(const char* to, const char* from, const std::string& in, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input = in;
    out.assign(input.size() * 4 + 4, '\0');
    char* src = input.data();
    char* dst = out.data();
    std::size_t srcLeft = input.size();
    std::size_t dstLeft = out.size();
    const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return ok;
}

std::string AllBytes() {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    return all;
}

TEST(Cp1250Test, EveryDefinedByteMatchesTheCLibrary) {
    for (unsigned b = 0; b < 256; ++b) {
        if (IsUndefined(b)) continue;
        const std::string byte(1, static_cast<char>(b));
        std::string reference;
        ASSERT_TRUE(IconvConvert("UTF-8", "CP1250", byte, reference)) << "byte " << b;
        EXPECT_EQ(Cp1250ToUtf8(byte), reference) << "byte " << b;
        EXPECT_EQ(Utf8ToCp1250(reference), byte) << "byte " << b;
    }
}

TEST(Cp1250Test, UndefinedBytesBecomeTheirC1Controls) {
    for (const unsigned char b : kUndefined) {
        const std::string utf8 = Cp1250ToUtf8(std::string(1, static_cast<char>(b)));
        ASSERT_EQ(utf8.size(), 2u);
        EXPECT_EQ(static_cast<unsigned char>(utf8[0]), 0xC2);
        EXPECT_EQ(static_cast<unsigned char>(utf8[1]), b);
    }
}

TEST(Cp1250Test, AllBytesSurviveARoundTrip) {
    const std::string all = AllBytes();
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(all)), all);
}

TEST(Cp1250Test, CzechLiteralsAreWindows1250Bytes) {
    // Guards the build's execution character set, on which every Czech text
    // of the program relies.
    EXPECT_EQ(std::string("Připojení"), std::string("P\xF8ipojen\xED"));
    EXPECT_EQ(Cp1250ToUtf8("Příliš žluťoučký kůň"),
              "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88");
}

struct TUtf8Case {
    const char* name;
    std::string utf8;
    std::string cp1250;
};
void PrintTo(const TUtf8Case& c, std::ostream* os) { *os << c.name; }

class Utf8ToCp1250Test : public testing::TestWithParam<TUtf8Case> {};

TEST_P(Utf8ToCp1250Test, Converts) { EXPECT_EQ(Utf8ToCp1250(GetParam().utf8), GetParam().cp1250); }

INSTANTIATE_TEST_SUITE_P(Table, Utf8ToCp1250Test,
                         testing::Values(TUtf8Case{"Empty", "", ""}, TUtf8Case{"Ascii", "abc=1", "abc=1"},
                                         TUtf8Case{"Euro", "\xE2\x82\xAC", "\x80"},
                                         TUtf8Case{"NulKept", std::string("a\0b", 3), std::string("a\0b", 3)},
                                         TUtf8Case{"OutsideCodePage", "\xE4\xB8\xAD", "?"},  // U+4E2D
                                         TUtf8Case{"Latin1NotInCp1250", "\xC3\xA0", "?"},    // U+00E0
                                         TUtf8Case{"FourByte", "\xF0\x9F\x98\x80x", "?x"},   // U+1F600
                                         TUtf8Case{"OtherC1Control", "\xC2\x80", "?"},       // U+0080
                                         TUtf8Case{"LoneContinuation", "\x80z", "?z"},       // one per byte
                                         TUtf8Case{"Truncated", "\xC5", "?"},
                                         TUtf8Case{"TruncatedThree", "\xE2\x82", "??"},
                                         TUtf8Case{"Overlong", "\xC0\xAF", "??"},
                                         TUtf8Case{"OverlongThree", "\xE0\x80\xAF", "???"},
                                         TUtf8Case{"Surrogate", "\xED\xA0\x80", "???"},
                                         TUtf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", "????"},
                                         TUtf8Case{"InvalidLead", "\xFF\xFE", "??"},
                                         TUtf8Case{"BrokenThenValid", "\xC5\xC5\x99", "?\xF8"}),
                         [](const testing::TestParamInfo<TUtf8Case>& row) {
                             return std::string(row.param.name);
                         });

TEST(Cp1250CaseTest, LowerMatchesUnicodeCaseMapping) {
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8 == static_cast<locale_t>(nullptr)) GTEST_SKIP() << "no C.UTF-8 locale";
    for (unsigned b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        std::string wide;
        ASSERT_TRUE(IconvConvert("WCHAR_T", "UTF-8", Cp1250ToUtf8(std::string(1, c)), wide));
        ASSERT_EQ(wide.size(), sizeof(wchar_t));
        wchar_t w = 0;
        std::memcpy(&w, wide.data(), sizeof w);
        const wchar_t lowerWide = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(w), utf8));
        std::string lowerUtf8;
        ASSERT_TRUE(IconvConvert("UTF-8", "WCHAR_T",
                                 std::string(reinterpret_cast<const char*>(&lowerWide), sizeof lowerWide),
                                 lowerUtf8));
        const std::string lowerCp1250 = Utf8ToCp1250(lowerUtf8);
        // A letter whose lower case is outside the code page stays as it is.
        const char expected = lowerCp1250.size() == 1 && lowerCp1250 != "?" ? lowerCp1250[0] : c;
        EXPECT_EQ(static_cast<unsigned char>(Cp1250ToLower(c)), static_cast<unsigned char>(expected))
            << "byte " << b;
    }
    freelocale(utf8);
}

struct TNoCaseCase {
    const char* a;
    const char* b;
    bool equal;
};
void PrintTo(const TNoCaseCase& c, std::ostream* os) {
    *os << testing::PrintToString(std::string(c.a)) << ' ' << testing::PrintToString(std::string(c.b));
}

class Cp1250EqualNoCaseTest : public testing::TestWithParam<TNoCaseCase> {};

TEST_P(Cp1250EqualNoCaseTest, Compares) {
    EXPECT_EQ(Cp1250EqualNoCase(GetParam().a, GetParam().b), GetParam().equal);
    EXPECT_EQ(Cp1250EqualNoCase(GetParam().b, GetParam().a), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Cp1250EqualNoCaseTest,
    testing::Values(TNoCaseCase{"Připojení", "PŘIPOJENÍ", true}, TNoCaseCase{"Rozhraní", "ROZHRANÍ", true},
                    TNoCaseCase{"ČÍSLO PORTU", "číslo portu", true},
                    TNoCaseCase{"BÁZOVÁ ADRESA", "bázová adresa", true},
                    TNoCaseCase{"ŘČŠŽÍÁŮÚĚŤĎŇÉÓÝ", "řčšžíáůúěťďňéóý", true},
                    TNoCaseCase{"ŁĄŞŻĽŚŹŔĹĆĘŃŐŰŢ", "łąşżľśźŕĺćęńőűţ", true},
                    TNoCaseCase{"ÂÄÇËÎÔÖÜĂĐ", "âäçëîôöüăđ", true}, TNoCaseCase{"", "", true},
                    TNoCaseCase{"Připojení", "Pripojeni", false}, TNoCaseCase{"Rozhraní", "Rozhraní ", false},
                    TNoCaseCase{"RQ-1318", "rq-1318", true}, TNoCaseCase{"×", "÷", false},
                    TNoCaseCase{"ß", "SS", false}, TNoCaseCase{"[", "{", false}, TNoCaseCase{"@", "`", false},
                    TNoCaseCase{"Š", "\x8A", true}, TNoCaseCase{"š", "\x8A", true}));

}  // namespace

// Bytes that would drive a terminal or cut a text short show as a middle dot;
// Czech letters and the typographic marks of 0x80-0x9F stay.
TEST(Cp1250Test, PrintableTextMarksOnlyNonPrintingBytes) {
    const std::string raw("RQ\0\x1B[2J\x7F\x81\x90\x9B\x8A\xE8\xED-9", 16);
    EXPECT_EQ(PrintableText(raw), "RQ\xB7\xB7[2J\xB7\xB7\xB7\x9B\x8A\xE8\xED-9");
}
