// rq905ctl end to end: the built program as a child process, the built
// driver libraries, the simulator on UDP and on a pseudo-terminal. Program
// output is UTF-8 and is turned back into Windows-1250 for comparison with
// the literals here.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "CtlProcess.h"
#include "DriverLib.h"
#include "SimProcess.h"
#include "core/Cp1250.h"

namespace {

using ctltest::TRun;
using Args = std::vector<std::string>;
using Registers = std::map<int, int>;

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "rq905-ctl-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The text a driver library gives for a code, as the program shows it.
std::string DriverText(const char* prefix, uint32_t code) {
    simharness::DriverLib lib(RQ905_DRIVER_DIR, prefix);
    std::array<uint32_t, abi318::kCellCount> cells{};
    if (!lib.Loaded()) return "<" + std::string(prefix) + " not loaded>";
    lib.error(code, cells.data());
    std::string text;
    for (const uint32_t c : cells) {
        if (c == 0) break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

// A simulator with its own state file; fresh unless given a state line.
// Tests that read the state file leave out --quiet: the simulator saves
// register writes only on its reporting path.
class Sim {
  public:
    explicit Sim(Args extra, const std::string& state = "") {
        Args args{"--state", m_dir.Path("state"), "--pty", "--udp", "0"};
        if (state.empty()) {
            args.push_back("--fresh");
        } else {
            WriteFile(m_dir.Path("state"), state + "\n");
        }
        args.insert(args.end(), extra.begin(), extra.end());
        m_process = std::make_unique<simharness::SimProcess>(RQ905_SIM_EXECUTABLE, args);
    }
    simharness::SimProcess& Process() { return *m_process; }
    const TempDir& Dir() const { return m_dir; }

    // The stored registers of each module, in the order of the bus.
    std::vector<Registers> Modules() const {
        std::vector<Registers> modules;
        std::istringstream lines(ReadFile(m_dir.Path("state")));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("module ", 0) != 0) continue;
            Registers& regs = modules.emplace_back();
            std::istringstream words(line.substr(line.find(' ') + 1));
            for (std::string word; words >> word;) {
                const auto eq = word.find('=');
                if (eq != std::string::npos)
                    regs[std::stoi(word.substr(0, eq))] = std::stoi(word.substr(eq + 1));
            }
        }
        return modules;
    }
    Registers Stored() const {
        const std::vector<Registers> modules = Modules();
        return modules.empty() ? Registers{} : modules[0];
    }

  private:
    TempDir m_dir;
    std::unique_ptr<simharness::SimProcess> m_process;
};

// An empty settings file: the defaults, whatever lies beside the program.
const std::string kNoSettings = [] {
    static const TempDir dir;
    WriteFile(dir.Path("W_rq905.ini"), "");
    return dir.Path("W_rq905.ini");
}();

struct Transport {
    const char* name;
    bool udp;
    const char* prefix;
    int kind;
    const char* interfaceText;
};
void PrintTo(const Transport& c, std::ostream* os) { *os << c.name; }

const Transport kTransports[] = {
    {"Udp", true, "TRQ1318", 4, "LAN konvertor RQ-1318"},
    {"Pty", false, "TCOM318", 0, "Standardní COMx"},
};

class CtlCommand : public testing::TestWithParam<Transport> {
  protected:
    // rq905ctl aimed at the simulator's module at address (none: -1),
    // through the transport of the test.
    TRun Ctl(Sim& sim, int address, Args command) {
        Args args{"--settings", kNoSettings};
        if (address >= 0) args.insert(args.end(), {"--address", std::to_string(address)});
        Args env;
        if (GetParam().udp) {
            args.insert(args.end(), {"--kind", "lan", "--ip", "127.0.0.1", "--udp-port",
                                     std::to_string(sim.Process().UdpPort())});
        } else {
            args.insert(args.end(), {"--kind", "com", "--com", "1"});
            env.push_back("RQ905_COM1=" + sim.Process().PtyPath());
        }
        command.insert(command.end(), args.begin(), args.end());
        return ctltest::RunCtl(command, env);
    }
};

std::string Text(const std::string& utf8) { return Utf8ToCp1250(utf8); }

TEST_P(CtlCommand, IdentifyNamesTheModuleWithoutDrivingTheTerminal) {
    // An escape sequence in the name reaches JSON escaped and the terminal
    // as a middle dot.
    Sim sim({"--address", "6", "--name", "TEST\x1b[2J", "--ident-version", "2.07", "--quiet"});
    ASSERT_TRUE(sim.Process().Ready());

    const TRun json = Ctl(sim, 6, {"identify", "--json"});
    EXPECT_EQ(json.exit, 0) << json.err;
    EXPECT_EQ(Text(json.out),
              std::string(
                  R"({"address":6,"name":"TEST\u001b[2J","version":"2.07","ident":"TEST\u001b[2J v.2.07",)") +
                  "\"kind\":" + std::to_string(GetParam().kind) + ",\"interface\":\"" +
                  GetParam().interfaceText + "\",\"speed\":9600}\n");

    const TRun text = Ctl(sim, 6, {"identify"});
    EXPECT_EQ(text.exit, 0);
    EXPECT_EQ(Text(text.out),
              std::string("Modul TEST·[2J v.2.07, adresa 6, ") + GetParam().interfaceText + ", 9600 Bd\n");
    EXPECT_TRUE(text.err.empty()) << text.err;
}

TEST_P(CtlCommand, ConfigWriteStoresEveryValueAndReadDecodesIt) {
    Sim sim({});
    const TRun write = Ctl(sim, 1,
                           {"config", "write", "--bus-address", "9", "--line-speed", "38400",
                            "--din-negation", "0x81", "--dout-negation", "0x3C", "--dout-initial", "5",
                            "--pwm-initial", "513", "--pwm-period", "65535", "--pwm-negation", "on"});
    ASSERT_EQ(write.exit, 0) << write.err;
    EXPECT_EQ(Text(write.out), "Konfigurace zapsána (registry 63, 62, 32, 33, 34, 35, 36, 37).\n");
    EXPECT_EQ(
        sim.Stored(),
        (Registers{{32, 5}, {33, 0x81}, {34, 0x3C}, {35, 1}, {36, 2}, {37, 6 + 128}, {62, 6}, {63, 9}}));

    // The new address takes effect at the next start: still address 1.
    const TRun read = Ctl(sim, 1, {"config", "read", "--json"});
    ASSERT_EQ(read.exit, 0) << read.err;
    EXPECT_EQ(read.out,
              R"({"config":{"bus_address":9,"speed_index":6,"line_speed":38400,"din_negation":129,)"
              R"("dout_negation":60,"dout_initial":5,"pwm_initial":513,"pwm_mode":134,"pwm_period_code":6,)"
              R"("pwm_period_ms":65535,"pwm_negation":true}})"
              "\n");

    const TRun text = Ctl(sim, 1, {"config", "read"});
    ASSERT_EQ(text.exit, 0);
    for (const char* line :
         {"Adresa modulu:          9\n", "Komunikační rychlost:   38400 Bd\n",
          "Negace DIN:             0x81 (DIN0 DIN7)\n",
          "Negace DOUT:            0x3C (DOUT2 DOUT3 DOUT4 DOUT5)\n",
          "Počáteční stav DOUT:    0x05 (DOUT0 DOUT2)\n", "Perioda PWM:            65,535 s\n",
          "Negace výstupu PWM:     zapnuta\n", "Inicializační hodnota PWM: 513\n"}) {
        EXPECT_NE(Text(text.out).find(line), std::string::npos) << line << " in\n" << text.out;
    }
}

TEST_P(CtlCommand, VerificationFailureNamesTheRegisterAndStops) {
    Sim sim({"--stuck-register", "33"});
    const Args write{"config",         "write", "--bus-address",  "7",    "--line-speed",  "19200",
                     "--dout-initial", "0x0F",  "--din-negation", "0x81", "--pwm-initial", "300"};
    Args json = write;
    json.push_back("--json");
    const TRun run = Ctl(sim, 1, json);
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(
        Text(run.out),
        R"({"error":{"code":9,"text":"Chyba zápisu dat.","register":33,"mismatch":true,"written":[63,62,32]}})"
        "\n");
    // Before the failure written; from it on untouched (34 is read, not written).
    const Registers stored = sim.Stored();
    EXPECT_EQ(stored.at(63), 7);
    EXPECT_EQ(stored.at(62), 5);
    EXPECT_EQ(stored.at(32), 0x0F);
    EXPECT_EQ(stored.at(33), 0);
    EXPECT_EQ(stored.at(35), 0);
    EXPECT_EQ(stored.at(36), 0);

    const TRun text = Ctl(sim, 1, write);
    EXPECT_EQ(text.exit, 1);
    EXPECT_TRUE(text.out.empty());
    EXPECT_EQ(Text(text.err), "rq905ctl: Zápis registru 33 (negace DIN): Chyba zápisu dat.\n");
}

TEST_P(CtlCommand, DoutAndPwmReachTheOutputs) {
    Sim sim({});
    const TRun dout = Ctl(sim, 1, {"dout", "0x33", "--json"});
    EXPECT_EQ(dout.exit, 0) << dout.err;
    EXPECT_EQ(dout.out, "{\"outputs\":51}\n");
    EXPECT_TRUE(sim.Process().WaitFor("module 1: outputs 0x33", std::chrono::seconds(5), true));

    const TRun pwm = Ctl(sim, 1, {"pwm", "1000"});
    EXPECT_EQ(pwm.exit, 0) << pwm.err;
    EXPECT_EQ(Text(pwm.out), "Hodnota zapsána (1000)\n");
    EXPECT_TRUE(sim.Process().WaitFor("module 1: pwm 1000", std::chrono::seconds(5), true));
}

TEST_P(CtlCommand, DinReadsEachPin) {
    Sim sim({"--quiet"});
    for (const int value : {0x00, 0x05, 0xA5, 0xFF}) {
        ASSERT_EQ(sim.Process().Command("inputs " + std::to_string(value)), "ok");
        const TRun run = Ctl(sim, 1, {"din", "--json"});
        EXPECT_EQ(run.exit, 0) << run.err;
        std::string pins;
        for (int n = 0; n < 8; ++n) pins += (n ? "," : "") + std::to_string((value >> n) & 1);
        EXPECT_EQ(run.out, "{\"inputs\":" + std::to_string(value) + ",\"din\":[" + pins + "]}\n");
    }
    const TRun text = Ctl(sim, 1, {"din"});
    EXPECT_EQ(text.out, "Vstupy 0xFF: DIN0=1 DIN1=1 DIN2=1 DIN3=1 DIN4=1 DIN5=1 DIN6=1 DIN7=1\n");
}

TEST_P(CtlCommand, StatusShowsTheBitsAndClears) {
    Sim sim({"--quiet"});
    ASSERT_EQ(sim.Process().Command("status 0x42"), "ok");
    const int value = 0x30 | 0x42;  // power-up and reset are set at start
    const TRun run = Ctl(sim, 1, {"status", "--json"});
    EXPECT_EQ(run.exit, 0) << run.err;
    auto flag = [&](int bit) { return ((value >> bit) & 1) ? std::string("true") : std::string("false"); };
    EXPECT_EQ(run.out, "{\"status\":" + std::to_string(value) + ",\"bytes\":[" + std::to_string(value) +
                           ",0,0,0],\"bits\":{\"FN\":" + flag(1) + ",\"PRF\":" + flag(2) +
                           ",\"PWR\":" + flag(4) + ",\"RST\":" + flag(5) + ",\"ERR24\":" + flag(6) + "}}\n");

    const TRun clear = Ctl(sim, 1, {"status", "--clear", "--json"});
    EXPECT_EQ(clear.exit, 0);
    EXPECT_EQ(clear.out, "{\"cleared\":true}\n");
    const TRun after = Ctl(sim, 1, {"status"});
    EXPECT_EQ(Text(after.out), "Status registr 0x00000000: bez příznaků\n");
}

TEST_P(CtlCommand, ScanFindsExactlyTheSimulatedModules) {
    Sim sim({"--quiet", "--modules", "3", "--address", "5"});
    const TRun json = Ctl(sim, -1, {"scan", "--from", "2", "--to", "9", "--json"});
    EXPECT_EQ(json.exit, 0) << json.err;
    std::vector<int> found;
    for (auto at = json.out.find("\"address\":"); at != std::string::npos;
         at = json.out.find("\"address\":", at + 1)) {
        found.push_back(std::stoi(json.out.substr(at + 10)));
    }
    EXPECT_EQ(found, (std::vector<int>{5, 6, 7})) << json.out;
    EXPECT_NE(json.out.find(R"("errors":[])"), std::string::npos) << json.out;

    const TRun text = Ctl(sim, -1, {"scan", "--from", "6", "--to", "8"});
    EXPECT_EQ(text.exit, 0);
    EXPECT_EQ(Text(text.out), "Adresa 6: RQ-905   v.1.02\nAdresa 7: RQ-905   v.1.02\nNalezeno modulů: 2\n");

    const TRun none = Ctl(sim, -1, {"scan", "--from", "10", "--to", "12"});
    EXPECT_EQ(none.exit, 1);
    EXPECT_EQ(Text(none.out), "Nalezeno modulů: 0\n");
}

TEST_P(CtlCommand, ScanBySpeedFindsAModuleAtItsSpeedOnlyOnASerialLine) {
    Sim sim({"--quiet", "--modules", "2", "--address", "2", "--speed", "1200"});
    const TRun all = Ctl(sim, -1, {"scan", "--speeds", "all", "--from", "0", "--to", "3"});
    if (GetParam().udp) {
        // The converter answers at any speed: there is nothing to try.
        EXPECT_EQ(all.exit, 2);
        EXPECT_NE(all.err.find("--speeds"), std::string::npos) << all.err;
        EXPECT_TRUE(all.out.empty()) << all.out;
        return;
    }
    EXPECT_EQ(all.exit, 0) << all.err;
    EXPECT_EQ(Text(all.out),
              "Adresa 2, 1200 Bd: RQ-905   v.1.02\nAdresa 3, 1200 Bd: RQ-905   v.1.02\nNalezeno modulů: 2\n");
    const TRun first = Ctl(sim, -1, {"scan", "--speeds", "9600,1200", "--first", "--json"});
    EXPECT_EQ(first.exit, 0) << first.err;
    EXPECT_NE(first.out.find(R"("modules":[{"address":2,"speed":1200,)"), std::string::npos) << first.out;
    EXPECT_EQ(first.out.find(R"("address":3)"), std::string::npos) << first.out;
}

TEST_P(CtlCommand, TraceRecordsTakenAndIgnoredFrames) {
    Sim sim({"--quiet", "--noise", "1", "--seed", "5"});
    const std::string trace = sim.Dir().Path("trace");
    const TRun run = Ctl(sim, 1, {"--trace", trace, "identify"});
    EXPECT_EQ(run.exit, 0) << run.err;
    const std::string lines = ReadFile(trace);
    EXPECT_NE(lines.find(std::string(" ") + GetParam().prefix + " "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" Init "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" ignored noise | "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" taken | result 0"), std::string::npos) << lines;
}

TEST_P(CtlCommand, AMissingModuleIsALinkFailureWithTheDriversText) {
    Sim sim({"--quiet"});
    const std::string noAnswer = DriverText(GetParam().prefix, 11);
    const TRun text = Ctl(sim, 9, {"din"});
    EXPECT_EQ(text.exit, 1);
    EXPECT_EQ(Text(text.err), "rq905ctl: " + noAnswer + "\n");
    const TRun json = Ctl(sim, 9, {"config", "read", "--json"});
    EXPECT_EQ(json.exit, 1);
    EXPECT_EQ(Text(json.out), "{\"error\":{\"code\":11,\"text\":\"" + noAnswer + "\"}}\n");
}

TEST_P(CtlCommand, WatchReportsChangesAndEndsCleanlyOnCtrlC) {
    Sim sim({"--quiet", "--inputs", "3"});
    ctltest::TCtlChild watch({"din", "--watch", "--settings", kNoSettings, "--address", "1", "--kind",
                              GetParam().udp ? "lan" : "com", "--ip", "127.0.0.1", "--udp-port",
                              std::to_string(sim.Process().UdpPort()), "--com", "1"},
                             {"RQ905_COM1=" + sim.Process().PtyPath()});
    ASSERT_TRUE(watch.WaitForLine());
    ASSERT_EQ(sim.Process().Command("inputs 0x80"), "ok");
    ASSERT_TRUE(watch.WaitForLines(2));
    watch.Signal(SIGINT);
    const TRun run = watch.Finish();
    EXPECT_EQ(run.exit, 0);
    // Each line starts with the local time of its reading.
    const std::string at = R"(\d\d:[0-5]\d:[0-5]\d\.\d{3} )";
    EXPECT_TRUE(std::regex_match(
        run.out, std::regex(at + "Vstupy 0x03: DIN0=1 DIN1=1 DIN2=0 DIN3=0 DIN4=0 DIN5=0 DIN6=0 DIN7=0\n" +
                            at + "Vstupy 0x80: DIN0=0 DIN1=0 DIN2=0 DIN3=0 DIN4=0 DIN5=0 DIN6=0 DIN7=1\n")))
        << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
}

// nohup, or a script's background job: a signal ignored by whoever started
// the tool or the simulator stays ignored, and both run on.
TEST(IgnoredSignal, LeavesTheWatchAndTheSimulatorRunning) {
    for (const int signal : {SIGHUP, SIGINT, SIGTERM}) {
        ::signal(signal, SIG_IGN);  // inherited by both children
        Sim sim({"--quiet"});
        ctltest::TCtlChild watch({"din", "--watch", "--settings", kNoSettings, "--address", "1", "--kind",
                                  "lan", "--ip", "127.0.0.1", "--udp-port",
                                  std::to_string(sim.Process().UdpPort())});
        ::signal(signal, SIG_DFL);
        // Both have set up their signal handling by their first answer.
        ASSERT_TRUE(watch.WaitForLine()) << signal;
        ASSERT_EQ(sim.Process().Command("show"), "ok") << signal;
        ::kill(sim.Process().Pid(), signal);
        watch.Signal(signal);
        ASSERT_EQ(sim.Process().Command("inputs 0x80"), "ok") << signal;
        EXPECT_TRUE(watch.WaitForLines(2)) << signal;
        watch.Signal(SIGKILL);
        watch.Finish();
        ::kill(sim.Process().Pid(), SIGKILL);
    }
}

TEST_P(CtlCommand, WatchWithACountPrintsAnUnchangedReadingOnce) {
    Sim sim({"--quiet"});
    const TRun run = Ctl(sim, 1, {"status", "--watch", "--count", "2", "--json"});
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_TRUE(std::regex_search(
        run.out,
        std::regex(R"(^\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d","status":48,)")))
        << run.out;
}

// A state file line of a module with the given registers 32-37, at 9600 Bd.
std::string ModuleLine(int address, const std::array<int, 6>& values) {
    std::string line = "module";
    for (int i = 0; i < 6; ++i) line += " " + std::to_string(32 + i) + "=" + std::to_string(values[i]);
    return line + " 62=4 63=" + std::to_string(address) + "\n";
}

TEST_P(CtlCommand, ASavedConfigurationGoesToManyModulesAndDiffFindsAChange) {
    std::string state = ModuleLine(1, {5, 0x81, 0x3C, 2, 1, 5 + 128});
    for (int address = 2; address <= 4; ++address) state += ModuleLine(address, {0, 0, 0, 0, 0, 0});
    Sim sim({}, state);
    ASSERT_TRUE(sim.Process().Ready());
    const std::string file = sim.Dir().Path("rq905.ini");

    const TRun save = Ctl(sim, 1, {"config", "save", file});
    ASSERT_EQ(save.exit, 0) << save.err;
    const std::string saved = ReadFile(file);
    EXPECT_EQ(Text(saved).rfind("; Modul RQ-905   v.1.02, adresa 1, uloženo 20", 0), 0u) << saved;
    EXPECT_EQ(saved.substr(saved.find('\n') + 1),
              "[RQ-905]\nbus_address=1\nline_speed=9600\ndin_negation=0x81\ndout_negation=0x3C\n"
              "dout_initial=0x05\npwm_initial=258\npwm_period_ms=32768\npwm_negation=on\n");

    const TRun apply = Ctl(sim, -1, {"config", "apply", file, "--address", "2-4", "--json"});
    EXPECT_EQ(apply.exit, 0) << apply.err;
    EXPECT_EQ(std::count(apply.out.begin(), apply.out.end(), '\n'), 3) << apply.out;
    std::vector<Registers> modules = sim.Modules();
    ASSERT_EQ(modules.size(), 4u);
    for (int m = 1; m < 4; ++m) {
        Registers expected = modules[0];
        expected[63] = m + 1;  // the bus address only with --include-address
        EXPECT_EQ(modules[m], expected) << "module " << m + 1;
    }

    ASSERT_EQ(Ctl(sim, 3, {"config", "write", "--dout-initial", "0x0F"}).exit, 0);
    const TRun diff = Ctl(sim, 3, {"config", "diff", file});
    EXPECT_EQ(diff.exit, 1) << diff.err;
    EXPECT_EQ(diff.out, "dout_initial: modul 0x0F, soubor 0x05\n");
    const TRun same = Ctl(sim, 2, {"config", "diff", file, "--json"});
    EXPECT_EQ(same.exit, 0) << same.err;
    EXPECT_EQ(same.out, "{\"equal\":true,\"differences\":[]}\n");
    EXPECT_EQ(Ctl(sim, 2, {"config", "diff", file, "--include-address"}).out,
              "bus_address: modul 2, soubor 1\n");

    EXPECT_EQ(Ctl(sim, -1, {"config", "apply", file, "--address", "4", "--include-address"}).exit, 0);
    EXPECT_EQ(sim.Modules().at(3).at(63), 1);
}

TEST_P(CtlCommand, ApplyStopsAtTheFirstFailingModuleUnlessToldToGoOn) {
    Sim sim({}, ModuleLine(1, {0, 0, 0, 0, 0, 0}) + ModuleLine(2, {0, 0, 0, 0, 0, 0}));
    const std::string file = sim.Dir().Path("rq905.ini");
    WriteFile(file,
              "[RQ-905]\nbus_address=1\nline_speed=9600\ndin_negation=1\ndout_negation=0\ndout_initial=0\n"
              "pwm_initial=0\npwm_period_ms=1024\npwm_negation=off\n");
    const TRun stopped = Ctl(sim, -1, {"config", "apply", file, "--address", "1,9,2"});
    EXPECT_EQ(stopped.exit, 1);
    EXPECT_EQ(Text(stopped.out),
              "Adresa 1: RQ-905   v.1.02, konfigurace zapsána (registry 32, 33, 34, 35, 36, 37).\n"
              "Adresa 9: " +
                  DriverText(GetParam().prefix, 11) + "\n");
    EXPECT_EQ(sim.Modules().at(1).at(33), 0);

    const TRun onward =
        Ctl(sim, -1, {"config", "apply", file, "--address", "1,9,2", "--keep-going", "--json"});
    EXPECT_EQ(onward.exit, 1);
    EXPECT_EQ(std::count(onward.out.begin(), onward.out.end(), '\n'), 3) << onward.out;
    EXPECT_EQ(sim.Modules().at(1).at(33), 1);
}

// Modules left at one address answer together: twice over UDP, garbled on
// a serial line. Neither is a module found, nor silence.
TEST_P(CtlCommand, ScanReportsModulesSharingAnAddress) {
    Sim sim({"--quiet"});
    ASSERT_EQ(sim.Process().Command("add"), "ok");
    ASSERT_EQ(sim.Process().Command("add 3"), "ok");
    const TRun both = Ctl(sim, -1, {"scan", "--from", "0", "--to", "4", "--json"});
    EXPECT_EQ(both.exit, 1) << both.err;
    EXPECT_NE(Text(both.out).find(R"("modules":[{"address":3,)"), std::string::npos) << both.out;
    EXPECT_EQ(both.out.find(R"({"address":1,"speed":9600,"name")"), std::string::npos) << both.out;
    EXPECT_NE(
        Text(both.out).find(
            R"("collisions":[{"address":1,"speed":9600,"text":"kolize adres: více modulů na adrese 1?"}])"),
        std::string::npos)
        << both.out;

    const TRun text = Ctl(sim, -1, {"scan", "--from", "1", "--to", "1"});
    EXPECT_EQ(text.exit, 1);
    EXPECT_EQ(Text(text.err), "rq905ctl: kolize adres: více modulů na adrese 1?\n");

    ASSERT_EQ(sim.Process().Command("remove 1"), "ok");
    const TRun one = Ctl(sim, -1, {"scan", "--from", "1", "--to", "1", "--json"});
    EXPECT_EQ(one.exit, 0) << one.err;
    EXPECT_NE(one.out.find(R"("collisions":[])"), std::string::npos) << one.out;
}

// New modules connected one at a time on the simulator's console get their
// addresses and speed; two connected at once stop the run until one goes.
TEST_P(CtlCommand, CommissionGivesNewModulesTheirAddressesOneByOne) {
    Sim sim({"--quiet"});
    Args args{"commission", "--first", "10",     "--count",    "3",        "--speed",
              "19200",      "--yes",   "--json", "--settings", kNoSettings};
    Args env;
    if (GetParam().udp) {
        args.insert(args.end(), {"--kind", "lan", "--ip", "127.0.0.1", "--udp-port",
                                 std::to_string(sim.Process().UdpPort())});
    } else {
        args.insert(args.end(), {"--kind", "com", "--com", "1"});
        env.push_back("RQ905_COM1=" + sim.Process().PtyPath());
    }
    ctltest::TCtlChild child(args, env);
    for (int n = 0; n < 3; ++n) {
        if (n == 1) {
            ASSERT_TRUE(child.WaitForText(R"("step":"connect","address":1,)"));
            ASSERT_EQ(sim.Process().Command("add"), "ok");
            ASSERT_EQ(sim.Process().Command("add"), "ok");
            ASSERT_TRUE(child.WaitForText(R"("step":"collision","address":1,)"));
            ASSERT_EQ(sim.Process().Command("remove 1"), "ok");
        } else if (n == 2) {
            ASSERT_EQ(sim.Process().Command("add"), "ok");
        }
        ASSERT_TRUE(child.WaitForText(R"("step":"restart","address":)" + std::to_string(10 + n)));
        ASSERT_EQ(sim.Process().Command("restart 1"), "ok");
        ASSERT_TRUE(child.WaitForText(R"({"module":)" + std::to_string(n + 1) +
                                      R"(,"ident":"RQ-905   v.1.02",)"
                                      R"("from_address":1,"from_speed":9600,"address":)" +
                                      std::to_string(10 + n) + R"(,"speed":19200})"));
    }
    const TRun run = child.Finish();
    EXPECT_EQ(run.exit, 0) << run.err;

    const TRun scan = Ctl(sim, -1, {"scan", "--from", "0", "--to", "15", "--speed", "19200", "--json"});
    EXPECT_EQ(scan.exit, 0) << scan.err;
    std::string addresses;
    for (const std::regex module(R"("address":(\d+),"speed":19200,"name")");
         const auto& m : std::vector(std::sregex_iterator(scan.out.begin(), scan.out.end(), module), {}))
        addresses += m[1].str() + " ";
    EXPECT_EQ(addresses, "10 11 12 ");
}

INSTANTIATE_TEST_SUITE_P(Ctl, CtlCommand, testing::ValuesIn(kTransports),
                         [](const auto& p) { return std::string(p.param.name); });

// Writing part of a group reads the group first, so the module's other
// values stay as they were.
struct SubsetCase {
    const char* name;
    Args values;
    Registers changed;
};
void PrintTo(const SubsetCase& c, std::ostream* os) { *os << c.name; }

class ConfigSubset : public testing::TestWithParam<SubsetCase> {};

TEST_P(ConfigSubset, KeepsTheValuesNotGiven) {
    const Registers before{{32, 5}, {33, 6}, {34, 7}, {35, 8}, {36, 9}, {37, 3 + 128}, {62, 4}, {63, 1}};
    std::string state = "module";
    for (const auto& [reg, value] : before) state += " " + std::to_string(reg) + "=" + std::to_string(value);
    Sim sim({}, state);
    ASSERT_TRUE(sim.Process().Ready());

    Args args{"config",    "write", "--settings", kNoSettings,  "--kind",
              "lan",       "--ip",  "127.0.0.1",  "--udp-port", std::to_string(sim.Process().UdpPort()),
              "--address", "1"};
    args.insert(args.end(), GetParam().values.begin(), GetParam().values.end());
    const TRun run = ctltest::RunCtl(args);
    ASSERT_EQ(run.exit, 0) << run.err;

    Registers expected = before;
    for (const auto& [reg, value] : GetParam().changed) expected[reg] = value;
    EXPECT_EQ(sim.Stored(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, ConfigSubset,
    testing::Values(
        SubsetCase{"DinNegation", {"--din-negation", "0x81"}, {{33, 0x81}}},
        SubsetCase{"DoutPair", {"--dout-initial", "0", "--dout-negation", "255"}, {{32, 0}, {34, 255}}},
        SubsetCase{"PwmPeriod", {"--pwm-period", "2"}, {{37, 2 + 128}}},
        SubsetCase{"PwmNegation", {"--pwm-negation", "off"}, {{37, 3}}},
        SubsetCase{"PwmInitial", {"--pwm-initial", "258"}, {{35, 2}, {36, 1}}},
        SubsetCase{"LineSpeed", {"--line-speed", "19200"}, {{62, 5}}},
        SubsetCase{"AddressAndDout", {"--bus-address", "9", "--dout-initial", "1"}, {{63, 9}, {32, 1}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CtlSettings, TheFileGivesTheConnectionAndIsNeverWritten) {
    Sim sim({"--quiet", "--address", "4"});
    TempDir dir;
    const std::string ini = dir.Path("W_rq905.ini");
    // Windows-1250 with CRLF, as the tool writes it; the port is wrong so
    // that the option has something to override.
    const std::string content =
        "[Připojení]\r\nRozhraní=RQ-1318\r\nAdresa=4\r\nRychlost=9600\r\n[RQ-1318]\r\nIP adresa=127.0.0.1\r\n"
        "UDP port=" +
        std::to_string(sim.Process().UdpPort()) + "\r\nUDP timeout=0\r\n";
    WriteFile(ini, content);

    const TRun fromFile = ctltest::RunCtl({"identify", "--settings", ini});
    EXPECT_EQ(fromFile.exit, 0) << fromFile.err;
    EXPECT_NE(fromFile.out.find("adresa 4, LAN konvertor RQ-1318"), std::string::npos) << fromFile.out;

    const TRun overridden = ctltest::RunCtl({"identify", "--settings", ini, "--address", "5"});
    EXPECT_EQ(overridden.exit, 1);
    EXPECT_EQ(ReadFile(ini), content);
}

std::string SignalName(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
}

class CtlSignal : public testing::TestWithParam<int> {};

TEST_P(CtlSignal, StopsConfigWriteBeforeTheNextRegisterAndNamesTheWrittenOnes) {
    // Every reply held 200 ms, so the signal comes long before the end.
    Sim sim({"--delay", "1", "--delay-ms", "200"});
    ASSERT_TRUE(sim.Process().Ready());
    const Registers wanted{{63, 9}, {62, 6}, {32, 5}, {33, 1}, {34, 2}, {35, 3}, {36, 4}, {37, 2 + 128}};
    Args args{"--settings", kNoSettings, "--udp-port", std::to_string(sim.Process().UdpPort())};
    std::istringstream words(
        "config write --kind lan --ip 127.0.0.1 --udp-timeout 2000 --address 1 --bus-address 9 "
        "--line-speed 38400 --dout-initial 5 --din-negation 1 --dout-negation 2 --pwm-initial 0x403 "
        "--pwm-period 2 --pwm-negation on");
    for (std::string word; words >> word;) args.push_back(word);
    ctltest::TCtlChild write(args);
    ASSERT_TRUE(sim.Process().WaitFor("register 63 =", std::chrono::seconds(10)));
    write.Signal(GetParam());
    const TRun run = write.Finish();
    EXPECT_EQ(run.exit, 128 + GetParam());
    EXPECT_TRUE(run.out.empty()) << run.out;

    // A write is let finish, and the tool says so at the signal.
    const std::string waiting = "rq905ctl: čekám na dokončení přenosu…\n";
    ASSERT_EQ(Text(run.err).rfind(waiting, 0), 0u) << run.err;
    const std::string err = Text(run.err).substr(waiting.size());
    const std::string head = "rq905ctl: přerušeno (" + SignalName(GetParam()) + "), zapsán";
    ASSERT_EQ(err.rfind(head, 0), 0u) << run.err;
    std::set<int> named;
    for (std::size_t at = err.find_first_of("0123456789"); at != std::string::npos;
         at = err.find_first_of("0123456789", err.find_first_not_of("0123456789", at))) {
        named.insert(std::stoi(err.substr(at)));
    }
    // Exactly the named registers hold the new values (none of which is a
    // factory value), and some were never begun.
    EXPECT_TRUE(named.count(63) == 1 && named.size() < wanted.size()) << run.err;
    const Registers stored = sim.Stored();
    for (const auto& [reg, value] : wanted) {
        EXPECT_EQ(stored.at(reg) == value, named.count(reg) == 1) << "register " << reg << " in " << run.err;
    }
}

TEST_P(CtlSignal, ApplyFinishesTheModuleUnderWayAndBeginsNoOther) {
    Sim sim({"--delay", "1", "--delay-ms", "100"}, ModuleLine(1, {0, 0, 0, 0, 0, 0}) +
                                                       ModuleLine(2, {0, 0, 0, 0, 0, 0}) +
                                                       ModuleLine(3, {0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(sim.Process().Ready());
    const std::string file = sim.Dir().Path("rq905.ini");
    WriteFile(file,
              "[RQ-905]\nbus_address=1\nline_speed=9600\ndin_negation=7\ndout_negation=7\ndout_initial=7\n"
              "pwm_initial=7\npwm_period_ms=1024\npwm_negation=on\n");
    ctltest::TCtlChild apply({"config", "apply", file, "--address", "1-3", "--settings", kNoSettings,
                              "--kind", "lan", "--ip", "127.0.0.1", "--udp-timeout", "2000", "--udp-port",
                              std::to_string(sim.Process().UdpPort())});
    ASSERT_TRUE(sim.Process().WaitFor("register 32 =", std::chrono::seconds(10)));
    apply.Signal(GetParam());
    const TRun run = apply.Finish();
    EXPECT_EQ(run.exit, 128 + GetParam());
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_EQ(Text(run.err), "rq905ctl: čekám na dokončení přenosu…\nrq905ctl: přerušeno (" +
                                 SignalName(GetParam()) + "), nezačaté adresy 2,3\n");
    const std::vector<Registers> modules = sim.Modules();
    EXPECT_EQ(modules.at(0).at(37), 128);  // the last register of module 1
    EXPECT_EQ(modules.at(1).at(32), 0);
}

INSTANTIATE_TEST_SUITE_P(Ctl, CtlSignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& p) { return SignalName(p.param); });

// A signal while the last or only write is under way: the write finishes,
// and the run still ends as interrupted, saying what the module holds.
struct LastWriteCase {
    const char* name;
    Args command;
    const char* written;  // the simulator's line of the last write
    int signal;
    const char* out;  // the start of standard output
    const char* err;  // the end of standard error
};
void PrintTo(const LastWriteCase& c, std::ostream* os) { *os << c.name; }

const LastWriteCase kLastWrites[] = {
    {"DoutOnlyWrite", {"dout", "5"}, "outputs 0x05", SIGHUP, "Data zapsána (5)\n", "přerušeno (SIGHUP)\n"},
    {"ConfigWriteLastRegister",
     {"config", "write", "--pwm-initial", "0x403", "--pwm-period", "2", "--pwm-negation", "on"},
     "register 37 =",
     SIGTERM,
     "Konfigurace zapsána",
     "přerušeno (SIGTERM), zapsány registry 35, 36, 37\n"},
    {"ApplyOnlyModule",
     {"config", "apply", "FILE", "--address", "1"},
     "register 37 =",
     SIGINT,
     "Adresa 1: RQ-905",
     "přerušeno (SIGINT)\n"},
    {"CommissionAfterTheWrite",
     {"commission", "--yes", "--first", "10", "--count", "2", "--speed", "19200"},
     "register 62 =",
     SIGHUP,
     "",
     "přerušeno (SIGHUP), modul 1/2 má uloženu adresu 10 (19200 Bd), platnou po vypnutí a zapnutí jeho "
     "napájení; zbylé moduly: commission --first 11 --count 1\n"},
};

class CtlLastWrite : public testing::TestWithParam<LastWriteCase> {};

TEST_P(CtlLastWrite, EndsAsInterruptedAndSaysWhatTheModuleHolds) {
    Sim sim({"--delay", "1", "--delay-ms", "200"});
    ASSERT_TRUE(sim.Process().Ready());
    const std::string file = sim.Dir().Path("rq905.ini");
    WriteFile(file,
              "[RQ-905]\nbus_address=1\nline_speed=9600\ndin_negation=7\ndout_negation=7\ndout_initial=7\n"
              "pwm_initial=7\npwm_period_ms=1024\npwm_negation=on\n");
    Args args = GetParam().command;
    std::replace(args.begin(), args.end(), std::string("FILE"), file);
    if (args[0] != "commission") args.insert(args.end(), {"--address", "1"});
    args.insert(args.end(), {"--settings", kNoSettings, "--kind", "lan", "--ip", "127.0.0.1", "--udp-timeout",
                             "2000", "--udp-port", std::to_string(sim.Process().UdpPort())});
    ctltest::TCtlChild child(args);
    ASSERT_TRUE(sim.Process().WaitFor(GetParam().written, std::chrono::seconds(10)));
    child.Signal(GetParam().signal);
    const TRun run = child.Finish();
    EXPECT_EQ(run.exit, 128 + GetParam().signal) << run.err;
    EXPECT_EQ(Text(run.out).rfind(GetParam().out, 0), 0u) << run.out;
    const std::string err = Text(run.err);
    const std::string tail = GetParam().err;
    EXPECT_TRUE(err.size() >= tail.size() && err.compare(err.size() - tail.size(), tail.size(), tail) == 0)
        << run.err;
}

// A module that falls silent during commission's write: the failure names
// the register and the driver's text, asked while the link is still open.
TEST(CtlCommission, AFailedWriteKeepsTheDriversText) {
    Sim sim({"--delay", "1", "--delay-ms", "200"});
    ASSERT_TRUE(sim.Process().Ready());
    ctltest::TCtlChild child({"commission", "--yes", "--first", "10", "--settings", kNoSettings, "--kind",
                              "lan", "--ip", "127.0.0.1", "--udp-timeout", "500", "--udp-port",
                              std::to_string(sim.Process().UdpPort())});
    ASSERT_TRUE(sim.Process().WaitFor("register 63 =", std::chrono::seconds(10)));
    ASSERT_EQ(sim.Process().Command("silent on"), "ok");
    const TRun run = child.Finish();
    EXPECT_EQ(run.exit, 1);
    const std::string text = DriverText("TRQ1318", 11);
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(std::regex_search(Text(run.err),
                                  std::regex("Modul 1/1: Zápis registru 6[23] \\([^)]*\\): " + text + "\n$")))
        << run.err;
}

INSTANTIATE_TEST_SUITE_P(Ctl, CtlLastWrite, testing::ValuesIn(kLastWrites),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CtlLink, AMissingDeviceFailsAtInitialisation) {
    const TRun run = ctltest::RunCtl({"identify", "--settings", kNoSettings, "--kind", "com", "--com", "1"},
                                     {"RQ905_COM1=/nonexistent/tty"});
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(Text(run.err),
              "rq905ctl: Chyba inicializace připojení - " + DriverText("TCOM318", 5) +
                  "\nrq905ctl: zařízení /nonexistent/tty (proměnná RQ905_COM1): No such file or "
                  "directory\n");
}

struct ProcessUsageCase {
    const char* name;
    Args args;
};
void PrintTo(const ProcessUsageCase& c, std::ostream* os) { *os << c.name; }

class ProcessUsage : public testing::TestWithParam<ProcessUsageCase> {};

TEST_P(ProcessUsage, ExitsTwoWithoutTouchingTheLink) {
    const TRun run = ctltest::RunCtl(GetParam().args, {"RQ905_COM1=/nonexistent/tty"});
    EXPECT_EQ(run.exit, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(Text(run.err).find("Nápověda: rq905ctl --help"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, ProcessUsage,
    testing::Values(ProcessUsageCase{"NoArguments", {}}, ProcessUsageCase{"UnknownCommand", {"frobnicate"}},
                    ProcessUsageCase{"BadAddress", {"identify", "--address", "300"}},
                    ProcessUsageCase{"DoutWithoutValue", {"dout"}},
                    ProcessUsageCase{"WriteWithoutValues", {"config", "write", "--json"}},
                    ProcessUsageCase{"CommissionWithoutTerminalOrYes", {"commission", "--first", "10"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CtlHelp, EveryCommandAnswersHelpAsAProcess) {
    for (const Args& command : std::vector<Args>{{"identify"}, {"config", "write"}, {"scan"}, {"status"}}) {
        Args args = command;
        args.push_back("--help");
        const TRun run = ctltest::RunCtl(args);
        EXPECT_EQ(run.exit, 0);
        EXPECT_EQ(Text(run.out).rfind("Použití: rq905ctl " + command[0], 0), 0u) << run.out;
    }
}

}  // namespace
