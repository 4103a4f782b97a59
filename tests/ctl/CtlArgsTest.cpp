// rq905ctl's command line and output, in-process: what each argument
// becomes, which ones are usage errors, and how texts leave the program.
// Literals here are Windows-1250 (the build's execution character set).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "CtlArgs.h"
#include "CtlCommands.h"
#include "CtlConfigFile.h"
#include "CtlOutput.h"
#include "CtlTargets.h"
#include "core/Cp1250.h"

namespace {

using Args = std::vector<std::string>;

struct CommandCase {
    Args args;
    TCommand command;
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class CommandWords : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandWords, SelectTheCommand) {
    const TParseResult r = ParseArgs(GetParam().args);
    ASSERT_TRUE(r.ok) << Cp1250ToUtf8(r.error);
    EXPECT_EQ(r.options.command, GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, CommandWords,
    testing::Values(CommandCase{{"identify"}, TCommand::Identify},
                    CommandCase{{"config", "read"}, TCommand::ConfigRead},
                    CommandCase{{"config", "write", "--bus-address", "3"}, TCommand::ConfigWrite},
                    CommandCase{{"dout", "5"}, TCommand::Dout}, CommandCase{{"pwm", "65535"}, TCommand::Pwm},
                    CommandCase{{"--watch", "din"}, TCommand::Din},
                    CommandCase{{"status", "--clear"}, TCommand::Status},
                    CommandCase{{"--json", "scan", "--from=2"}, TCommand::Scan},
                    CommandCase{{"commission", "--first", "10"}, TCommand::Commission}));

// One value the command line sets, as a number.
struct ValueCase {
    const char* name;
    Args args;
    std::function<int64_t(const TCtlOptions&)> get;
    int64_t expected;
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

class OptionValues : public testing::TestWithParam<ValueCase> {};

TEST_P(OptionValues, AreReadByTheProgramsRule) {
    const TParseResult r = ParseArgs(GetParam().args);
    ASSERT_TRUE(r.ok) << Cp1250ToUtf8(r.error);
    EXPECT_EQ(GetParam().get(r.options), GetParam().expected);
}

int64_t SpeedDigits(const TCtlOptions& o) {
    int64_t digits = 0;
    for (const uint8_t index : o.scanSpeeds) digits = digits * 10 + index;
    return digits;
}

// The request of send as one number, command first.
int64_t SendBytes(const TCtlOptions& o) {
    int64_t v = o.sendCommand * 256 + o.sendIndex;
    for (const uint8_t d : o.sendData) v = v * 256 + d;
    return v;
}

const ValueCase kValueCases[] = {
    {"SendCommandAndIndex", {"send", "200", "2"}, SendBytes, 0xC8020000000000},
    {"SendDataByTheIntegerRule",
     {"send", "0x67", "$0", "1", "$20", "0x20", "7", "255"},
     SendBytes,
     0x670001202007FF},
    {"SendRepeat",
     {"send", "1", "64", "--repeat", "10000"},
     [](const TCtlOptions& o) { return *o.repeat; },
     10000},
    {"KindName", {"identify", "--kind", "LAN"}, [](const TCtlOptions& o) { return *o.connection.kind; }, 4},
    {"KindNumber", {"identify", "--kind", "1"}, [](const TCtlOptions& o) { return *o.connection.kind; }, 1},
    {"KindUsb", {"identify", "--kind=usb"}, [](const TCtlOptions& o) { return *o.connection.kind; }, 3},
    {"ComHex", {"identify", "--com", "0x10"}, [](const TCtlOptions& o) { return *o.connection.comPort; }, 16},
    {"IsaToolForm",
     {"identify", "--isa-base", "2A0h"},
     [](const TCtlOptions& o) { return *o.connection.isaBase; },
     0x2A0},
    {"IsaDollar",
     {"identify", "--isa-base", "$2F8"},
     [](const TCtlOptions& o) { return *o.connection.isaBase; },
     0x2F8},
    {"UdpPort",
     {"identify", "--udp-port", "65535"},
     [](const TCtlOptions& o) { return *o.connection.udpPort; },
     65535},
    {"UdpTimeoutLongest",
     {"identify", "--udp-timeout", "60000"},
     [](const TCtlOptions& o) { return *o.connection.udpTimeout; },
     60000},
    {"UdpTimeoutZero",
     {"identify", "--udp-timeout", "0"},
     [](const TCtlOptions& o) { return *o.connection.udpTimeout; },
     0},
    {"Address",
     {"identify", "--address", " 255"},
     [](const TCtlOptions& o) { return *o.connection.address; },
     255},
    {"Speed",
     {"identify", "--speed", "115200"},
     [](const TCtlOptions& o) { return *o.connection.speed; },
     115200},
    {"LineSpeedIndex",
     {"config", "write", "--line-speed", "19200"},
     [](const TCtlOptions& o) { return *o.changes.speedIndex; },
     5},
    {"PwmPeriodCode",
     {"config", "write", "--pwm-period", "6"},
     [](const TCtlOptions& o) { return *o.changes.pwmPeriod; },
     6},
    {"PwmPeriodMs",
     {"config", "write", "--pwm-period", "32768"},
     [](const TCtlOptions& o) { return *o.changes.pwmPeriod; },
     5},
    {"PwmNegationOn",
     {"config", "write", "--pwm-negation", "on"},
     [](const TCtlOptions& o) { return *o.changes.pwmNegation; },
     1},
    {"PwmNegationCzech",
     {"config", "write", "--pwm-negation", "vypnuta"},
     [](const TCtlOptions& o) { return *o.changes.pwmNegation; },
     0},
    {"DinNegation",
     {"config", "write", "--din-negation", "$81"},
     [](const TCtlOptions& o) { return *o.changes.dinNegation; },
     0x81},
    {"PwmInitial",
     {"config", "write", "--pwm-initial", "0xFFFF"},
     [](const TCtlOptions& o) { return *o.changes.pwmInitial; },
     65535},
    {"DoutValue", {"dout", "0x81"}, [](const TCtlOptions& o) { return o.value; }, 129},
    {"PwmValue", {"pwm", "$FFFF"}, [](const TCtlOptions& o) { return o.value; }, 65535},
    {"WatchCount", {"status", "--watch", "--count", "3"}, [](const TCtlOptions& o) { return *o.count; }, 3},
    {"ScanFrom", {"scan", "--from", "7", "--to", "9"}, [](const TCtlOptions& o) { return o.scanFrom; }, 7},
    {"ScanToDefault", {"scan"}, [](const TCtlOptions& o) { return o.scanTo; }, 255},
    // Speed indices as decimal digits in the order tried.
    {"SpeedsFastestFirstOnce", {"scan", "--speeds", "1200,115200,1200"}, SpeedDigits, 81},
    {"SpeedsAll", {"scan", "--speeds", "ALL"}, SpeedDigits, 876543210},
    {"ScanWait", {"scan", "--scan-wait-ms", "100"}, [](const TCtlOptions& o) { return *o.scanWaitMs; }, 100},
    // --first takes a value with commission and none with scan.
    {"CommissionFirst",
     {"commission", "--first", "$10", "--count", "3"},
     [](const TCtlOptions& o) { return *o.first; },
     16},
    {"CommissionCount",
     {"commission", "--first", "10", "--count", "3"},
     [](const TCtlOptions& o) { return o.commissionCount; },
     3},
    {"CommissionSpeedIsTheTarget",
     {"commission", "--first", "1", "--speed", "19200"},
     [](const TCtlOptions& o) { return *o.commissionSpeed * 10 + !o.connection.speed; },
     51},
    {"CommissionFromDefaults",
     {"commission", "--first", "2"},
     [](const TCtlOptions& o) { return o.fromAddress * 10 + o.fromSpeed; },
     14},
    {"CommissionFrom",
     {"commission", "--first", "2", "--from-address", "0", "--from-speed", "1200"},
     [](const TCtlOptions& o) { return o.fromAddress * 10 + o.fromSpeed; },
     1},
    {"ScanFirstStaysAFlag",
     {"scan", "--first", "--from", "3"},
     [](const TCtlOptions& o) { return o.scanFirst * 10 + o.scanFrom; },
     13},
};

INSTANTIATE_TEST_SUITE_P(Ctl, OptionValues, testing::ValuesIn(kValueCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CtlArgs, IpAddressBecomesAProgramText) {
    // "ř" is two bytes in UTF-8 and one in Windows-1250.
    const TParseResult r = ParseArgs({"identify", "--ip", "host\xC5\x99"});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(*r.options.connection.ipAddress, "hostř");
}

struct UsageCase {
    const char* name;
    Args args;
    const char* message;  // part of the error text
};
void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class UsageErrors : public testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, AreRefusedWithAReason) {
    const TParseResult r = ParseArgs(GetParam().args);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(GetParam().message), std::string::npos) << Cp1250ToUtf8(r.error);
}

const UsageCase kUsageCases[] = {
    {"NoCommand", {}, "chybí příkaz"},
    {"UnknownCommand", {"reboot"}, "neznámý příkaz reboot"},
    {"ConfigAlone", {"config"}, "apply nebo diff"},
    {"ConfigOther", {"config", "erase"}, "config erase"},
    {"UnknownOption", {"identify", "--fast"}, "neznámá volba --fast"},
    {"MissingValue", {"identify", "--address"}, "chybí hodnota volby --address"},
    {"AddressTooBig", {"identify", "--address", "256"}, "--address: 256"},
    {"AddressNegative", {"identify", "--address", "-1"}, "--address"},
    {"AddressTrailing", {"identify", "--address", "7 "}, "--address"},
    {"KindBad", {"identify", "--kind", "5"}, "--kind"},
    {"ComZero", {"identify", "--com", "0"}, "--com"},
    {"SpeedNotOfTheNine", {"identify", "--speed", "14400"}, "--speed"},
    {"SpeedIndexNotTaken", {"identify", "--speed", "4"}, "--speed"},
    {"UdpPortTooBig", {"identify", "--udp-port", "65536"}, "--udp-port"},
    {"UdpPortZero", {"identify", "--udp-port", "0"}, "--udp-port: 0 (1-65535)"},
    {"UdpTimeoutTooLong", {"identify", "--udp-timeout", "60001"}, "--udp-timeout: 60001 (0-60000 ms)"},
    {"EmptyIp", {"identify", "--ip="}, "--ip"},
    {"FlagWithValue", {"din", "--watch=1"}, "--watch"},
    {"WatchOnIdentify", {"identify", "--watch"}, "nepatří k příkazu identify"},
    {"WriteValueOnRead", {"config", "read", "--bus-address", "1"}, "nepatří k příkazu config read"},
    {"AddressOnScan", {"scan", "--address", "1"}, "nepatří k příkazu scan"},
    {"WriteNothing", {"config", "write"}, "chybí hodnota k zápisu"},
    {"PeriodSeven", {"config", "write", "--pwm-period", "7"}, "--pwm-period"},
    {"NegationMaybe", {"config", "write", "--pwm-negation", "maybe"}, "--pwm-negation"},
    {"PwmInitialTooBig", {"config", "write", "--pwm-initial", "65536"}, "--pwm-initial"},
    {"DoutMissingValue", {"dout"}, "chybí hodnota příkazu dout"},
    {"DoutTooBig", {"dout", "256"}, "0-255"},
    {"PwmTooBig", {"pwm", "65536"}, "0-65535"},
    {"ExtraWord", {"din", "now"}, "nadbytečný argument now"},
    {"CountWithoutWatch", {"din", "--count", "2"}, "--count"},
    {"CountZero", {"din", "--watch", "--count", "0"}, "--count"},
    {"ClearAndWatch", {"status", "--clear", "--watch"}, "--clear"},
    {"ScanBackwards", {"scan", "--from", "9", "--to", "8"}, "--from"},
    {"SpeedsNotOfTheNine", {"scan", "--speeds", "9600,14400"}, "--speeds: 9600,14400"},
    {"SpeedsEmptyItem", {"scan", "--speeds", "9600,"}, "--speeds"},
    {"ScanWaitTooLong", {"scan", "--scan-wait-ms", "101"}, "--scan-wait-ms"},
    {"FirstOnIdentify", {"identify", "--first"}, "nepatří k příkazu identify"},
    {"TraceEmpty", {"identify", "--trace="}, "--trace"},
    {"TraceOnPorts", {"ports", "--com", "2", "--trace", "-"}, "nepatří k příkazu ports"},
    {"ApplyWithoutAddress", {"config", "apply", "f.ini"}, "chybí --address"},
    {"ApplyBadList", {"config", "apply", "f.ini", "--address", "1,,2"}, "--address: 1,,2"},
    {"IncludeAddressOnMany",
     {"config", "apply", "f.ini", "--address", "1,2", "--include-address"},
     "jen pro jednu"},
    {"SaveWithoutFile", {"config", "save"}, "chybí soubor"},
    {"KeepGoingOnDiff", {"config", "diff", "f.ini", "--keep-going"}, "nepatří k příkazu config diff"},
    {"SendWithoutIndex", {"send", "200"}, "chybí COMMAND a INDEX"},
    {"SendByteTooBig", {"send", "200", "0", "256"}, "D0: 256"},
    {"SendSixData", {"send", "1", "0", "1", "2", "3", "4", "5", "6"}, "nadbytečný argument 6"},
    {"StatsWithoutWatch", {"din", "--stats"}, "--stats"},
    {"StatsWithoutRepeat", {"send", "200", "0", "--stats"}, "--repeat"},
    {"StatsOnRead", {"config", "read", "--stats"}, "nepatří k příkazu config read"},
    {"CsvAndJson", {"din", "--csv", "--json"}, "--csv a --json"},
    {"CsvOnApply", {"config", "apply", "f.ini", "--address", "1", "--csv"}, "nepatří k příkazu config apply"},
    {"OutputEmpty", {"din", "--output="}, "--output"},
    {"CommissionWithoutFirst", {"commission", "--count", "2"}, "chybí --first"},
    {"CommissionPast255", {"commission", "--first", "250", "--count", "7"}, "255"},
    {"CommissionFromAmongThem",
     {"commission", "--first", "1", "--count", "3", "--from-address", "2"},
     "--from-address"},
    {"CommissionAddress", {"commission", "--first", "1", "--address", "2"}, "nepatří k příkazu commission"},
    {"ConfigWriteYes", {"config", "write", "--dout-initial", "1", "--yes"}, "nepatří k příkazu config write"},
};

INSTANTIATE_TEST_SUITE_P(Ctl, UsageErrors, testing::ValuesIn(kUsageCases),
                         [](const auto& p) { return std::string(p.param.name); });

struct AddressListCase {
    const char* text;
    std::vector<int> expected;  // empty: refused
};
void PrintTo(const AddressListCase& c, std::ostream* os) {
    *os << testing::PrintToString(std::string(c.text));
}

class AddressLists : public testing::TestWithParam<AddressListCase> {};

TEST_P(AddressLists, KeepTheirOrderOrAreRefused) {
    std::vector<uint8_t> list{42};
    const bool ok = ParseAddressList(GetParam().text, list);
    EXPECT_EQ(ok, !GetParam().expected.empty());
    EXPECT_EQ(std::vector<int>(list.begin(), list.end()), ok ? GetParam().expected : std::vector<int>{42});
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, AddressLists,
    testing::Values(AddressListCase{"1,3,7-12", {1, 3, 7, 8, 9, 10, 11, 12}}, AddressListCase{"0", {0}},
                    AddressListCase{"255", {255}}, AddressListCase{"0x10-0x12", {16, 17, 18}},
                    AddressListCase{"5,4-6", {5, 4, 6}}, AddressListCase{"9-9", {9}}, AddressListCase{"", {}},
                    AddressListCase{"1,", {}}, AddressListCase{",1", {}}, AddressListCase{"12-7", {}},
                    AddressListCase{"256", {}}, AddressListCase{"250-256", {}}, AddressListCase{"-1", {}},
                    AddressListCase{"1--2", {}}, AddressListCase{"1-2-3", {}}, AddressListCase{"3 ", {}}));

const std::string kConfigFile =
    "[RQ-905]\nbus_address=1\nline_speed=9600\ndin_negation=0x81\ndout_negation=0\ndout_initial=0\n"
    "pwm_initial=0\npwm_period_ms=1024\npwm_negation=off\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

struct FileCase {
    const char* name;
    std::string text;
    const char* reason;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class BadConfigFiles : public testing::TestWithParam<FileCase> {};

TEST_P(BadConfigFiles, AreRefusedBeforeTheLinkIsOpened) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("rq905-ctl-" + std::to_string(::getpid()) + ".ini"))
            .string();
    std::ofstream(path, std::ios::binary) << GetParam().text;
    for (const char* command : {"apply", "diff"}) {
        std::ostringstream out, err;
        TCtlIo io{out, err};
        // A link that would be tried fails with another exit status.
        EXPECT_EQ(RunCtl({"config", command, path, "--address", "1", "--kind", "lan", "--ip", "127.0.0.1"},
                         "/nonexistent/W_rq905.ini", io),
                  kExitUsage);
        EXPECT_EQ(Utf8ToCp1250(err.str()).rfind("rq905ctl: soubor " + path + ": " + GetParam().reason, 0), 0u)
            << err.str();
    }
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, BadConfigFiles,
    testing::Values(
        FileCase{"UnknownKey", kConfigFile + "colour=red\n", "řádek 10: neznámý klíč colour"},
        FileCase{"MissingKey", Replaced(kConfigFile, "pwm_negation=off\n", ""), "chybí klíč pwm_negation"},
        FileCase{"PeriodNotOfTheSeven", Replaced(kConfigFile, "=1024", "=1000"),
                 "řádek 8: neplatná hodnota klíče pwm_period_ms: 1000"},
        FileCase{"ByteTooBig", Replaced(kConfigFile, "0x81", "0x100"),
                 "řádek 4: neplatná hodnota klíče din_negation"},
        FileCase{"SpeedIndex", Replaced(kConfigFile, "9600", "4"),
                 "řádek 3: neplatná hodnota klíče line_speed"},
        FileCase{"KeyTwice", kConfigFile + "BUS_ADDRESS=2\n", "řádek 10: klíč bus_address podruhé"},
        FileCase{"OtherSection", "[COMx]\n" + kConfigFile, "řádek 1: neznámý oddíl [COMx]"},
        FileCase{"KeyBeforeSection", "bus_address=1\n" + kConfigFile, "řádek 1: klíč mimo oddíl"},
        FileCase{"NotAKey", kConfigFile + "pwm\n", "řádek 10: očekáván klíč=hodnota"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CtlConfigFile, WhatSaveWritesReadsBackAlsoWhenEdited) {
    TModuleConfig config;
    config.BusAddress = 7;
    config.SpeedIndex = 8;
    config.PwmInitial = 65535;
    config.PwmMode = 6 + 128;
    config.DinNegation = {0x81, 0, 0, 0};
    config.DoutNegation = {0, 0, 0, 0};
    config.DoutInitial = {0xFF, 0, 0, 0};
    const std::string saved = ConfigFileText(config, "Modul ·");
    std::string edited = "\xEF\xBB\xBF# ed\r\n" + Replaced(saved, "[RQ-905]", " [ rq-905 ] ");
    for (std::size_t at = edited.find('\n'); at != std::string::npos; at = edited.find('\n', at + 3))
        edited.replace(at, 1, " \r\n");
    for (const std::string& text : {saved, edited}) {
        TModuleConfig read;
        std::string reason;
        EXPECT_TRUE(ParseConfigFile(text, read, reason)) << reason << text;
        EXPECT_EQ(read, config) << text;
    }
    std::string reason;
    EXPECT_TRUE(ConfigFileCanHold(config, reason));
    // Values a file cannot name: save refuses them rather than change them.
    for (const auto& [speed, mode] : {std::pair{9, 0}, std::pair{4, 7}, std::pair{4, 0x40}}) {
        config.SpeedIndex = static_cast<uint8_t>(speed);
        config.PwmMode = static_cast<uint8_t>(mode);
        EXPECT_FALSE(ConfigFileCanHold(config, reason)) << speed << " " << mode;
    }
}

TEST(CtlArgs, HelpWinsOverAMissingValue) {
    const TParseResult r = ParseArgs({"dout", "--help"});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.help);
    EXPECT_EQ(r.options.command, TCommand::Dout);
}

struct HelpCase {
    Args args;
    const char* usage;  // the first line's start
};
void PrintTo(const HelpCase& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class HelpTexts : public testing::TestWithParam<HelpCase> {};

TEST_P(HelpTexts, NameTheirCommandAndExitZero) {
    std::ostringstream out, err;
    TCtlIo io{out, err};
    Args args = GetParam().args;
    args.push_back("--help");
    EXPECT_EQ(RunCtl(args, "/nonexistent/W_rq905.ini", io), kExitOk);
    EXPECT_EQ(Utf8ToCp1250(out.str()).rfind(GetParam().usage, 0), 0u) << out.str();
    EXPECT_NE(out.str().find("--kind"), std::string::npos);
    EXPECT_TRUE(err.str().empty());
}

INSTANTIATE_TEST_SUITE_P(Ctl, HelpTexts,
                         testing::Values(HelpCase{{}, "Použití: rq905ctl PŘÍKAZ"},
                                         HelpCase{{"identify"}, "Použití: rq905ctl identify"},
                                         HelpCase{{"config"}, "Použití: rq905ctl config read"},
                                         HelpCase{{"config", "write"}, "Použití: rq905ctl config read"},
                                         HelpCase{{"dout"}, "Použití: rq905ctl dout"},
                                         HelpCase{{"pwm"}, "Použití: rq905ctl pwm"},
                                         HelpCase{{"din"}, "Použití: rq905ctl din"},
                                         HelpCase{{"status"}, "Použití: rq905ctl status"},
                                         HelpCase{{"scan"}, "Použití: rq905ctl scan"},
                                         HelpCase{{"send"}, "Použití: rq905ctl send"}));

TEST(CtlRun, UsageErrorExitsTwoWithTheReasonOnStderrOnly) {
    std::ostringstream out, err;
    TCtlIo io{out, err};
    EXPECT_EQ(RunCtl({"status", "--count", "x"}, "/nonexistent/W_rq905.ini", io), kExitUsage);
    EXPECT_TRUE(out.str().empty());
    // UTF-8 on the terminal: "á" of "neplatná" is C3 A1.
    EXPECT_NE(err.str().find("neplatn\xC3\xA1 hodnota volby --count"), std::string::npos) << err.str();
}

TEST(CtlOutput, JsonStringsAreEscapedAndLeaveAsUtf8) {
    std::ostringstream out;
    WriteLine(out, JsonString("a\"b\\c\x01\nž"));
    EXPECT_EQ(out.str(), "\"a\\\"b\\\\c\\u0001\\u000a\xC5\xBE\"\n");
}

TEST(CtlOutput, JsonEscapesEveryByteThatCouldDriveATerminal) {
    std::ostringstream out;
    WriteLine(out, JsonString(std::string_view("\x1b[\0\x7F\x81·", 6)));
    EXPECT_EQ(out.str(), "\"\\u001b[\\u0000\\u007f\\u0081\xC2\xB7\"\n");
}

TEST(CtlRun, VersionWinsOverEverythingElse) {
    for (const Args& args : {Args{"--version"}, Args{"dout", "--version", "--bogus"}}) {
        std::ostringstream out, err;
        TCtlIo io{out, err};
        EXPECT_EQ(RunCtl(args, "/nonexistent/W_rq905.ini", io), kExitOk);
        EXPECT_EQ(out.str(), "rq905ctl " RQ905_VERSION "\n");
    }
}

TEST(CtlRun, ANamedSettingsFileThatCannotBeReadIsAUsageError) {
    std::string dir = (std::filesystem::temp_directory_path() / "rq905-ctl-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    ::mkfifo((dir + "/fifo").c_str(), 0600);  // opening it would block
    std::ofstream(dir + "/locked") << "[Připojení]\n";
    ::chmod((dir + "/locked").c_str(), 0);
    const std::pair<std::string, const char*> cases[] = {
        {dir + "/missing", "neexistuje"},
        {dir, "není obyčejný soubor"},
        {dir + "/fifo", "není obyčejný soubor"},
        {dir + "/locked", ::geteuid() == 0 ? nullptr : "nelze číst (přístup odepřen)"},  // root reads it
    };
    for (const auto& [path, reason] : cases) {
        if (reason == nullptr) continue;
        std::ostringstream out, err;
        TCtlIo io{out, err};
        EXPECT_EQ(RunCtl({"identify", "--settings", path}, "/nonexistent/W_rq905.ini", io), kExitUsage);
        EXPECT_EQ(Utf8ToCp1250(err.str()).rfind("rq905ctl: soubor nastavení " + path + ": " + reason, 0), 0u)
            << err.str();
    }
    std::filesystem::remove_all(dir);
}

TEST(CtlOutput, ObjectsKeepTheOrderOfTheirMembers) {
    const std::string json = TJsonObject()
                                 .Number("n", -5)
                                 .Text("t", "x")
                                 .Bool("b", false)
                                 .Null("z")
                                 .Raw("a", JsonArray({1, 2}))
                                 .Str();
    EXPECT_EQ(json, R"({"n":-5,"t":"x","b":false,"z":null,"a":[1,2]})");
}

struct EchoedLine {
    const char* name;
    const char* line;  // UTF-8, as the file holds it
};
void PrintTo(const EchoedLine& c, std::ostream* os) { *os << c.name; }

class ConfigFileEcho : public testing::TestWithParam<EchoedLine> {};

// A line the file gives is shown, never obeyed: its control bytes would
// drive the terminal.
TEST_P(ConfigFileEcho, ShowsTheLineInPrintableForm) {
    TModuleConfig config;
    std::string reason;
    ASSERT_FALSE(ParseConfigFile(std::string("[RQ-905]\n") + GetParam().line + "\n", config, reason));
    EXPECT_EQ(reason.find('\x1b'), std::string::npos) << reason;
    EXPECT_NE(reason.find("\xB7[2J"), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(Ctl, ConfigFileEcho,
                         testing::Values(EchoedLine{"NoEquals", "\x1b[2J"},
                                         EchoedLine{"Section", "[\x1b[2J]"},
                                         EchoedLine{"UnknownKey", "\x1b[2J=1"},
                                         EchoedLine{"BadValue", "din_negation=\x1b[2J"}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace

namespace {

struct TargetsCase {
    const char* name;
    const char* text;      // UTF-8, as the list holds it
    const char* expected;  // each target as "kind port base host udp: addresses", or the reason's part
};
void PrintTo(const TargetsCase& c, std::ostream* os) { *os << c.name; }

class TargetLists : public testing::TestWithParam<TargetsCase> {};

std::string Described(const TTarget& t) {
    return std::to_string(t.kind) + " " + (t.comPort ? std::to_string(*t.comPort) : "-") + " " +
           (t.isaBase ? std::to_string(*t.isaBase) : "-") + " " + t.host.value_or("-") + " " +
           (t.udpPort ? std::to_string(*t.udpPort) : "-") + ": " + AddressListText(t.addresses) + ";";
}

TEST_P(TargetLists, ReadEachConverterAndItsAddresses) {
    std::vector<TTarget> targets;
    std::string reason;
    if (ParseTargets(GetParam().text, targets, reason)) {
        std::string all;
        for (const TTarget& t : targets) all += Described(t);
        EXPECT_EQ(all, GetParam().expected);
    } else {
        EXPECT_NE(reason.find(GetParam().expected), std::string::npos) << Cp1250ToUtf8(reason);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, TargetLists,
    testing::Values(
        TargetsCase{
            "EveryKind",
            "\xEF\xBB\xBF# plant\r\nlan:10.0.0.21:3180  1-3,7\r\n\tLAN:hall-2 9 # hall two\n; spare\n\ncom:2 4\n"
            "isa:2F8h 5\npci 6\nusb 0-1\n",
            "4 - - 10.0.0.21 3180: 1-3,7;4 - - hall-2 -: 9;0 2 - - -: 4;1 - 760 - -: 5;2 - - - -: 6;"
            "3 - - - -: 0,1;"},
        TargetsCase{"NoAddresses", "lan:10.0.0.21\n", "řádek 1: chybí adresy"},
        TargetsCase{"BadAddresses", "# x\ncom:1 3-2\n", "řádek 2: neplatné adresy 3-2"},
        TargetsCase{"UnknownKind", "can:1 1\n", "neplatný převodník can:1"},
        TargetsCase{"PciWithValue", "pci:1 1\n", "neplatný převodník"},
        TargetsCase{"ComOutOfRange", "com:256 1\n", "neplatný převodník"},
        TargetsCase{"UdpPortZero", "lan:10.0.0.21:0 1\n", "neplatný převodník"},
        TargetsCase{"Empty", "# nothing\n", "žádný převodník"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
