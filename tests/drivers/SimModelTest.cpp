// The simulated module's answers, its state file, its options and console.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Bus.h"
#include "CaseName.h"
#include "ConsoleLines.h"
#include "DriverFixture.h"
#include "Options.h"

namespace {

using sim::Module;
using wire::ModuleStatus;

struct CommandCase {
    const char* name;
    wire::Request request;
    ModuleStatus status;
    wire::Data data;
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class ModuleCommandTest : public ::testing::TestWithParam<CommandCase> {};

// A module at address 3 with DIN negation 0x0F, DOUT negation 0xF0, the
// outputs' initial state 0x81, PWM initial 0x1234 and inputs 0x5A.
Module TestModule() {
    sim::Registers r = sim::FactoryRegisters(3, 4);
    r.Set(sim::reg::kDinNegation, 0x0F);
    r.Set(sim::reg::kDoutNegation, 0xF0);
    r.Set(sim::reg::kDoutInitial, 0x81);
    r.Set(sim::reg::kPwmInitialLow, 0x34);
    r.Set(sim::reg::kPwmInitialHigh, 0x12);
    Module m(r, sim::Identity{"RQ-905", "1.02"});
    m.SetInputs(0x5A);
    return m;
}

TEST_P(ModuleCommandTest, Answers) {
    Module m = TestModule();
    const wire::Reply reply = m.Handle(GetParam().request);
    EXPECT_EQ(reply.status, static_cast<std::uint8_t>(GetParam().status));
    EXPECT_EQ(reply.data, GetParam().data);
    EXPECT_TRUE(wire::Answers(reply, GetParam().request));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ModuleCommandTest,
    ::testing::Values(
        CommandCase{"Inputs", {3, 0, 64, 1, {}}, ModuleStatus::Ok, {0, 0x55, 0, 0, 0}},
        CommandCase{"InputsBadIndex", {3, 0, 0, 1, {}}, ModuleStatus::UnknownIndex, {}},
        CommandCase{"Outputs", {3, 1, 64, 1, {0, 0x0F, 0, 0, 0}}, ModuleStatus::Ok, {}},
        CommandCase{"Pwm", {3, 1, 0, 1, {0, 0xE8, 0x03, 0, 0}}, ModuleStatus::Ok, {}},
        CommandCase{"WriteBadIndex", {3, 1, 5, 1, {}}, ModuleStatus::UnknownIndex, {}},
        CommandCase{"Status", {3, 100, 0, 1, {}}, ModuleStatus::Ok, {0, 0x30, 0, 0, 0}},
        CommandCase{"StatusBadIndex", {3, 100, 1, 1, {}}, ModuleStatus::UnknownIndex, {}},
        CommandCase{"Clear", {3, 101, 0, 1, {}}, ModuleStatus::Ok, {}},
        CommandCase{
            "ReadRegister", {3, 102, 0, 1, {0, 34, 34, 0, 0}}, ModuleStatus::Ok, {0, 34, 34, 0xF0, 0xF0}},
        CommandCase{"ReadSpeed", {3, 102, 0, 1, {0, 62, 62, 0, 0}}, ModuleStatus::Ok, {0, 62, 62, 4, 4}},
        CommandCase{"ReadUnknownRegister",
                    {3, 102, 0, 1, {0, 38, 38, 0, 0}},
                    ModuleStatus::UnknownIndex,
                    {0, 38, 38, 0, 0}},
        CommandCase{"ReadMismatchedCopy",
                    {3, 102, 0, 1, {0, 34, 35, 0, 0}},
                    ModuleStatus::BadData,
                    {0, 34, 35, 0, 0}},
        CommandCase{"ReadWithValueCopies",
                    {3, 102, 0, 1, {0, 35, 35, 9, 9}},
                    ModuleStatus::Ok,
                    {0, 35, 35, 0x34, 0x34}},
        CommandCase{"WriteRegister", {3, 103, 0, 1, {0, 37, 37, 5, 5}}, ModuleStatus::Ok, {0, 37, 37, 5, 5}},
        CommandCase{"WriteMismatchedValue",
                    {3, 103, 0, 1, {0, 37, 37, 5, 6}},
                    ModuleStatus::BadData,
                    {0, 37, 37, 0, 0}},
        CommandCase{"WriteSpeedOutOfRange",
                    {3, 103, 0, 1, {0, 62, 62, 9, 9}},
                    ModuleStatus::BadData,
                    {0, 62, 62, 0, 0}},
        CommandCase{"WriteRegisterBadIndex",
                    {3, 103, 1, 1, {0, 37, 37, 5, 5}},
                    ModuleStatus::UnknownIndex,
                    {0, 37, 37, 0, 0}},
        CommandCase{"Name1", {3, 200, 0, 1, {}}, ModuleStatus::Ok, {0, 'R', 'Q', '-', '9'}},
        CommandCase{"Name2", {3, 200, 1, 1, {}}, ModuleStatus::Ok, {0, '0', '5', ' ', ' '}},
        CommandCase{"Version", {3, 200, 2, 1, {}}, ModuleStatus::Ok, {0, '1', '.', '0', '2'}},
        CommandCase{"IdentifyBadIndex", {3, 200, 3, 1, {}}, ModuleStatus::UnknownIndex, {}},
        CommandCase{"UnknownCommand", {3, 7, 0, 1, {}}, ModuleStatus::UnknownCommand, {}}),
    CaseName<CommandCase>);

TEST(Module, StartsFromItsStoredSettings) {
    const Module m = TestModule();
    EXPECT_EQ(m.Address(), 3);
    EXPECT_EQ(m.Outputs(), 0x81);
    EXPECT_EQ(m.OutputPins(), 0x71);
    EXPECT_EQ(m.Pwm(), 0x1234);
    EXPECT_EQ(m.Status(), sim::status::kPwr | sim::status::kRst);
}

TEST(Module, OutputsPwmAndClearChangeTheLiveState) {
    Module m = TestModule();
    sim::Changes changes;
    m.Handle({3, 1, 64, 1, {0, 0x0F, 0, 0, 0}}, &changes);
    EXPECT_TRUE(changes.outputs);
    EXPECT_EQ(m.OutputPins(), 0xFF);
    m.Handle({3, 1, 64, 2, {0, 0x0F, 0, 0, 0}}, &changes);
    EXPECT_FALSE(changes.outputs);
    m.Handle({3, 1, 0, 3, {0, 0xE8, 0x03, 0, 0}}, &changes);
    EXPECT_TRUE(changes.pwm);
    EXPECT_EQ(m.Pwm(), 1000);
    m.Handle({3, 101, 0, 4, {}}, &changes);
    EXPECT_TRUE(changes.statusCleared);
    EXPECT_EQ(m.Status(), 0U);
}

TEST(Module, AddressAndSpeedWaitForTheNextStart) {
    Module m = TestModule();
    m.Handle({3, 103, 0, 1, {0, 63, 63, 9, 9}});
    m.Handle({3, 103, 0, 2, {0, 62, 62, 8, 8}});
    EXPECT_EQ(m.Address(), 3);
    EXPECT_EQ(m.SpeedIndex(), 4);
    EXPECT_EQ(m.Stored().Get(63), 9);
    const Module restarted(m.Stored(), {});
    EXPECT_EQ(restarted.Address(), 9);
    EXPECT_EQ(restarted.SpeedIndex(), 8);
}

TEST(Module, StuckRegisterKeepsItsValue) {
    Module m = TestModule();
    m.SetStuck(36);
    sim::Changes changes;
    EXPECT_EQ(m.Handle({3, 103, 0, 1, {0, 36, 36, 0x55, 0x55}}, &changes).status, 0);
    EXPECT_FALSE(changes.registerWritten.has_value());
    EXPECT_EQ(m.Handle({3, 102, 0, 2, {0, 36, 36, 0, 0}}).data[3], 0x12);
}

TEST(StateFile, SavedAndLoadedBack) {
    drvtest::TempDir dir;
    const std::string path = dir.Path("state");
    std::vector<sim::Registers> modules = {sim::FactoryRegisters(1, 4), sim::FactoryRegisters(200, 8)};
    modules[0].Set(37, 0x80);
    std::string error;
    ASSERT_TRUE(sim::SaveState(path, modules, &error)) << error;
    const auto loaded = sim::LoadState(path, &error);
    ASSERT_TRUE(loaded.has_value()) << error;
    EXPECT_EQ(*loaded, modules);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("module 32=0 33=0 34=0 35=0 36=0 37=128 62=4 63=1\n"), std::string::npos);
}

struct BadStateCase {
    const char* name;
    const char* text;
};
void PrintTo(const BadStateCase& c, std::ostream* os) { *os << c.name; }

class BadStateTest : public ::testing::TestWithParam<BadStateCase> {};

TEST_P(BadStateTest, IsRefusedWithAReason) {
    drvtest::TempDir dir;
    const std::string path = dir.Path("state");
    std::ofstream(path) << GetParam().text;
    std::string error;
    EXPECT_FALSE(sim::LoadState(path, &error).has_value());
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, BadStateTest,
                         ::testing::Values(BadStateCase{"Empty", "# nothing\n"},
                                           BadStateCase{"NotAModule", "modul 32=0\n"},
                                           BadStateCase{"UnknownRegister", "module 40=1\n"},
                                           BadStateCase{"ValueTooBig", "module 32=256\n"},
                                           BadStateCase{"NoEquals", "module 32:1\n"},
                                           BadStateCase{"SpeedOutOfRange", "module 62=9\n"}),
                         CaseName<BadStateCase>);

struct IrregularStateCase {
    const char* name;
    void (*make)(const std::string& path);
};
void PrintTo(const IrregularStateCase& c, std::ostream* os) { *os << c.name; }

class IrregularStateTest : public ::testing::TestWithParam<IrregularStateCase> {};

// A FIFO would hold the start until a writer came; a device never ends.
TEST_P(IrregularStateTest, IsRefusedAtOnceAndLeftAlone) {
    drvtest::TempDir dir;
    const std::string path = dir.Path("state");
    GetParam().make(path);
    std::string error;
    EXPECT_FALSE(sim::LoadState(path, &error).has_value());
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(sim::SaveState(path, {sim::FactoryRegisters(1, 4)}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::is_regular_file(path));
}

INSTANTIATE_TEST_SUITE_P(
    Files, IrregularStateTest,
    ::testing::Values(IrregularStateCase{"Fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }},
                      IrregularStateCase{"LinkToZero",
                                         [](const std::string& p) { ::symlink("/dev/zero", p.c_str()); }}),
    CaseName<IrregularStateCase>);

TEST(StateFile, MissingFileIsNoErrorButNoState) {
    std::string error;
    EXPECT_FALSE(sim::LoadState("/nonexistent/rq905-state", &error).has_value());
    EXPECT_TRUE(error.empty());
}

struct OptionsCase {
    const char* name;
    std::vector<std::string> args;
    bool valid;
};
void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class OptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTest, AcceptedOrRefused) {
    std::string error;
    const auto options = sim::ParseOptions(GetParam().args, &error);
    EXPECT_EQ(options.has_value(), GetParam().valid) << error;
    EXPECT_EQ(error.empty(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, OptionsTest,
    ::testing::Values(OptionsCase{"Nothing", {}, true},
                      OptionsCase{"Everything",
                                  {"--pty",
                                   "--link",
                                   "/tmp/x",
                                   "--udp",
                                   "0",
                                   "--bind",
                                   "127.0.0.1",
                                   "--state",
                                   "s",
                                   "--fresh",
                                   "--modules",
                                   "3",
                                   "--address",
                                   "7",
                                   "--speed",
                                   "57600",
                                   "--name",
                                   "ABC",
                                   "--ident-version",
                                   "2.0",
                                   "--inputs",
                                   "0xFF",
                                   "--pattern",
                                   "walk",
                                   "--pattern-ms",
                                   "100",
                                   "--stuck-register",
                                   "33",
                                   "--any-speed",
                                   "--line-time",
                                   "--turnaround-ms",
                                   "3",
                                   "--trace",
                                   "--drop",
                                   "0.1",
                                   "--corrupt",
                                   "0.1",
                                   "--delay",
                                   "0.1",
                                   "--wrong-address",
                                   "0.1",
                                   "--noise",
                                   "0.1",
                                   "--delay-ms",
                                   "10",
                                   "--seed",
                                   "5",
                                   "--quiet"},
                                  true},
                      OptionsCase{"UnknownOption", {"--bogus"}, false},
                      OptionsCase{"TurnaroundAboveASecond", {"--turnaround-ms", "1001"}, false},
                      OptionsCase{"MissingValue", {"--udp"}, false},
                      OptionsCase{"PortTooBig", {"--udp", "65536"}, false},
                      OptionsCase{"OddSpeed", {"--speed", "14400"}, false},
                      OptionsCase{"LongName", {"--name", "ABCDEFGHI"}, false},
                      OptionsCase{"NotARegister", {"--stuck-register", "40"}, false},
                      OptionsCase{"ProbabilityAboveOne", {"--drop", "1.5"}, false},
                      OptionsCase{"ProbabilitiesAddUpTooHigh", {"--drop", "0.6", "--noise", "0.6"}, false},
                      OptionsCase{"UnknownPattern", {"--pattern", "zigzag"}, false},
                      OptionsCase{"AddressesRunOut", {"--address", "250", "--modules", "10"}, false},
                      OptionsCase{"NegativeInputs", {"--inputs", "-1"}, false},
                      OptionsCase{"VersionTakesNoValue", {"--version", "2.0"}, false}),
    CaseName<OptionsCase>);

// The integer rule of the program and rq905ctl: a leading zero is no octal.
struct AddressCase {
    const char* name;
    const char* text;
    int address;  // -1: refused
};
void PrintTo(const AddressCase& c, std::ostream* os) { *os << c.name; }

class AddressOption : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressOption, ReadsAsRq905ctlDoes) {
    const auto options = sim::ParseOptions({"--address", GetParam().text}, nullptr);
    EXPECT_EQ(options ? options->firstAddress : -1, GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(Numbers, AddressOption,
                         ::testing::Values(AddressCase{"LeadingZero", "010", 10},
                                           AddressCase{"Dollar", "$1F", 31},
                                           AddressCase{"Hex", "0x1F", 31},
                                           AddressCase{"Negative", "-1", -1},
                                           AddressCase{"TooBig", "256", -1}),
                         CaseName<AddressCase>);

TEST(Options, DefaultsServeBothTransports) {
    const auto o = sim::ParseOptions({}, nullptr);
    ASSERT_TRUE(o.has_value());
    EXPECT_TRUE(o->pty);
    EXPECT_EQ(o->udpPort, sim::kDefaultUdpPort);
    const auto onlyUdp = sim::ParseOptions({"--udp", "4000"}, nullptr);
    ASSERT_TRUE(onlyUdp.has_value());
    EXPECT_FALSE(onlyUdp->pty);
    EXPECT_EQ(onlyUdp->udpPort, 4000);
    const auto faults = sim::ParseOptions({"--faults", "0.5"}, nullptr);
    ASSERT_TRUE(faults.has_value());
    EXPECT_DOUBLE_EQ(faults->faults.drop, 0.1);
    EXPECT_DOUBLE_EQ(faults->faults.Total(), 0.5);
}

TEST(Options, VersionIsTheProgramsIdentVersionTheModules) {
    const auto program = sim::ParseOptions({"--version"}, nullptr);
    ASSERT_TRUE(program.has_value());
    EXPECT_TRUE(program->version);
    const auto module = sim::ParseOptions({"--ident-version", "2.07"}, nullptr);
    ASSERT_TRUE(module.has_value());
    EXPECT_FALSE(module->version);
    EXPECT_EQ(module->identity.version, "2.07");
}

TEST(FaultInjector, PicksInProportionAndRepeatsWithTheSeed) {
    sim::FaultInjector a({0.1, 0.2, 0.0, 0.3, 0.0}, 7);
    sim::FaultInjector b({0.1, 0.2, 0.0, 0.3, 0.0}, 7);
    std::map<sim::Fault, int> counts;
    for (int i = 0; i < 20000; ++i) {
        const sim::Fault f = a.Pick();
        ASSERT_EQ(f, b.Pick());
        ++counts[f];
    }
    EXPECT_NEAR(counts[sim::Fault::Drop], 2000, 300);
    EXPECT_NEAR(counts[sim::Fault::Corrupt], 4000, 400);
    EXPECT_NEAR(counts[sim::Fault::WrongAddress], 6000, 500);
    EXPECT_EQ(counts[sim::Fault::Delay], 0);
    EXPECT_EQ(counts[sim::Fault::Noise], 0);
}

TEST(FaultInjector, CorruptionFlipsExactlyOneBit) {
    sim::FaultInjector faults({}, 3);
    for (int i = 0; i < 100; ++i) {
        auto frame = wire::Encode(wire::Reply{1, 2, 3, 4, 0, {5, 6, 7, 8, 9}});
        const auto before = frame;
        faults.Corrupt(frame);
        int flipped = 0;
        for (std::size_t b = 0; b < frame.size(); ++b) {
            flipped += __builtin_popcount(static_cast<unsigned>(frame[b] ^ before[b]));
        }
        EXPECT_EQ(flipped, 1);
    }
}

struct ConsoleCase {
    const char* name;
    const char* line;
    const char* answerStart;
};
void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

class ConsoleTest : public ::testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleTest, Answers) {
    sim::Bus bus({sim::FactoryRegisters(1, 4), sim::FactoryRegisters(2, 4)}, {});
    sim::FaultInjector faults({}, 1);
    bool silent = false;
    bool quit = false;
    const std::string answer = sim::RunConsoleCommand(GetParam().line, {bus, faults, silent, quit});
    EXPECT_EQ(answer.rfind(GetParam().answerStart, 0), 0U) << answer;
}

INSTANTIATE_TEST_SUITE_P(Lines, ConsoleTest,
                         ::testing::Values(ConsoleCase{"InputsAll", "inputs 0x0F", "ok"},
                                           ConsoleCase{"InputsOne", "inputs 2 7", "ok"},
                                           ConsoleCase{"InputsNoSuchModule", "inputs 9 7", "error"},
                                           ConsoleCase{"InputsTooBig", "inputs 256", "error"},
                                           ConsoleCase{"Status", "status 1 0x40", "ok"},
                                           ConsoleCase{"Faults", "faults drop=0.5 noise=0.1", "ok"},
                                           ConsoleCase{"FaultsAll", "faults all=0.2", "ok"},
                                           ConsoleCase{"FaultsTooMuch", "faults drop=0.8 noise=0.8", "error"},
                                           ConsoleCase{"FaultsUnknown", "faults lightning=0.1", "error"},
                                           ConsoleCase{"Silent", "silent on", "ok"},
                                           ConsoleCase{"SilentBad", "silent maybe", "error"},
                                           ConsoleCase{"Show", "show", "module 1:"},
                                           ConsoleCase{"Add", "add", "module 1 at 9600 Bd connected"},
                                           ConsoleCase{"AddAt", "add 7 19200", "module 7 at 19200 Bd"},
                                           ConsoleCase{"AddLeadingZeroIsDecimal", "add 010", "module 10 at"},
                                           ConsoleCase{"AddBadSpeed", "add 7 14400", "error"},
                                           ConsoleCase{"Remove", "remove 2", "ok"},
                                           ConsoleCase{"RemoveNobody", "remove 9", "error"},
                                           ConsoleCase{"RestartNobody", "restart 9", "error"},
                                           ConsoleCase{"Unknown", "launch", "error"}),
                         CaseName<ConsoleCase>);

TEST(Console, CommandsActOnTheBus) {
    sim::Bus bus({sim::FactoryRegisters(1, 4), sim::FactoryRegisters(2, 4)}, {});
    sim::FaultInjector faults({}, 1);
    bool silent = false;
    bool quit = false;
    const sim::ConsoleTarget target{bus, faults, silent, quit};
    sim::RunConsoleCommand("inputs 0x11", target);
    sim::RunConsoleCommand("inputs 2 0x22", target);
    EXPECT_EQ(bus.Find(1)->InputPins(), 0x11);
    EXPECT_EQ(bus.Find(2)->InputPins(), 0x22);
    sim::RunConsoleCommand("status 2 0x40", target);
    EXPECT_EQ(bus.Find(2)->Status(), 0x70U);
    EXPECT_EQ(bus.Find(1)->Status(), 0x30U);
    sim::RunConsoleCommand("faults wrong=0.25", target);
    EXPECT_DOUBLE_EQ(faults.Rates().wrongAddress, 0.25);
    sim::RunConsoleCommand("faults off", target);
    EXPECT_DOUBLE_EQ(faults.Rates().Total(), 0.0);
    sim::RunConsoleCommand("silent on", target);
    EXPECT_TRUE(silent);
    sim::RunConsoleCommand("quit", target);
    EXPECT_TRUE(quit);
    EXPECT_EQ(bus.Find(3), nullptr);
}

struct LinesCase {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> lines;  // "!" stands for a line reported too long
};
void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

class ConsoleLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(ConsoleLinesTest, SplitsAndCaps) {
    sim::ConsoleLines splitter;
    std::vector<std::string> lines;
    for (const auto& chunk : GetParam().chunks) {
        for (const auto& line : splitter.Feed(chunk)) {
            lines.push_back(line.tooLong ? "!" : line.text);
        }
    }
    EXPECT_EQ(lines, GetParam().lines);
}

const std::string kFull(sim::kMaxConsoleLine, 'x');

INSTANTIATE_TEST_SUITE_P(
    Inputs, ConsoleLinesTest,
    ::testing::Values(LinesCase{"TwoInOneChunk", {"show\nquit\n"}, {"show", "quit"}},
                      LinesCase{"AcrossChunks", {"sh", "ow", "\nqu", "it"}, {"show"}},
                      LinesCase{"AtTheCap", {kFull + "\n"}, {kFull}},
                      LinesCase{"OverTheCapInPieces", {kFull, "yy", "yy\nshow\n"}, {"!", "show"}},
                      LinesCase{"EndlessLineReportedOnce", {kFull + "y", kFull, kFull}, {"!"}}),
    CaseName<LinesCase>);

}  // namespace

namespace {

// A stored address and speed take effect only when the module starts
// again; a connected module arrives with the factory settings.
TEST(Console, ModulesComeGoAndRestart) {
    sim::Bus bus({sim::FactoryRegisters(1, 4)}, {});
    bus.SetFactory(1, 4);
    sim::FaultInjector faults({}, 1);
    bool silent = false;
    bool quit = false;
    bool changed = false;
    const sim::ConsoleTarget target{bus, faults, silent, quit, &changed};
    EXPECT_EQ(sim::RunConsoleCommand("remove 1", target).rfind("error", 0), 0U);
    sim::RunConsoleCommand("add", target);
    EXPECT_TRUE(changed);
    EXPECT_EQ(bus.FindAll(1).size(), 2U);
    sim::Module& m = *bus.FindAll(1)[0];
    m.SetInputs(0x42);
    m.Handle({1, sim::cmd::kWriteRegister, 0, 1, {0, 63, 63, 10, 10}});
    m.Handle({1, sim::cmd::kWriteRegister, 0, 2, {0, 62, 62, 6, 6}});
    EXPECT_EQ(bus.FindAll(1).size(), 2U);
    EXPECT_EQ(sim::RunConsoleCommand("restart 1", target), "module 10 at 38400 Bd restarted\nmodule 1 at 9600 Bd restarted\nok");
    ASSERT_NE(bus.Find(10), nullptr);
    EXPECT_EQ(bus.Find(10)->SpeedIndex(), 6);
    EXPECT_EQ(bus.Find(10)->InputPins(), 0x42);
    EXPECT_EQ(bus.Find(10)->Status(), 0x30U);
    EXPECT_EQ(sim::RunConsoleCommand("remove 1", target), "ok");
    EXPECT_EQ(bus.Find(1), nullptr);
}

struct CollideCase {
    const char* name;
    unsigned offsetBits;
};
void PrintTo(const CollideCase& c, std::ostream* os) { *os << c.name; }

class CollideTest : public ::testing::TestWithParam<CollideCase> {};

// Two equal replies a few bits apart never read back as a valid frame, but
// as bytes: something answered.
TEST_P(CollideTest, TwoEqualRepliesComeOutGarbled) {
    const auto frame = wire::Encode(wire::Reply{1, 200, 0, 0x1234, 0, {0, 'R', 'Q', '-', '9'}});
    const std::vector<std::uint8_t> one(frame.begin(), frame.end());
    const auto line = sim::Collide({one, one}, GetParam().offsetBits);
    EXPECT_GE(line.size(), 4U);
    wire::ReplyDecoder decoder;
    decoder.Feed(line);
    EXPECT_FALSE(decoder.Next().has_value());
    EXPECT_NE(line, one);
    // A lone reply passes the line unchanged.
    EXPECT_EQ(sim::Collide({one}, GetParam().offsetBits), one);
}

INSTANTIATE_TEST_SUITE_P(Offsets, CollideTest,
                         ::testing::Values(CollideCase{"OneBit", 1}, CollideCase{"ThreeBits", 3},
                                           CollideCase{"OneByte", 10}, CollideCase{"NineteenBits", 19}),
                         CaseName<CollideCase>);

}  // namespace
