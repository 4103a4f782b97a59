// rq905ctl's raw transaction, CSV logs and link statistics end to end: the
// built program against the simulator over UDP and its pseudo-terminal,
// with the simulator's faults for the statistics.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "CtlProcess.h"
#include "SimProcess.h"

namespace {

using Args = std::vector<std::string>;

struct Transport {
    const char* name;
    bool udp;
};
void PrintTo(const Transport& c, std::ostream* os) { *os << c.name; }

class CtlLog : public testing::TestWithParam<Transport> {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "rq905-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        std::ofstream(m_dir + "/W_rq905.ini") << "";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    void StartSim(Args extra) {
        Args args{"--state", m_dir + "/state", "--fresh", "--pty", "--udp", "0", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_sim = std::make_unique<simharness::SimProcess>(RQ905_SIM_EXECUTABLE, args);
        ASSERT_TRUE(m_sim->Ready());
    }
    ctltest::TRun Ctl(Args command) {
        command.insert(command.end(), {"--settings", m_dir + "/W_rq905.ini", "--address", "1"});
        Args env;
        if (GetParam().udp) {
            command.insert(command.end(), {"--kind", "lan", "--ip", "127.0.0.1", "--udp-port",
                                           std::to_string(m_sim->UdpPort())});
        } else {
            command.insert(command.end(), {"--kind", "com", "--com", "1"});
            env.push_back("RQ905_COM1=" + m_sim->PtyPath());
        }
        return ctltest::RunCtl(command, env);
    }
    std::string Path(const char* name) const { return m_dir + "/" + name; }

    std::string m_dir;
    std::unique_ptr<simharness::SimProcess> m_sim;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string ReadFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST_P(CtlLog, SendShowsTheReplyOrTheModulesStatus) {
    StartSim({});
    const ctltest::TRun ident = Ctl({"send", "0xC8", "$0"});
    EXPECT_EQ(ident.exit, 0) << ident.err;
    EXPECT_EQ(ident.out,
              "Stav 0 (bez chyby): D0=0x00 (0) D1=0x52 (82) D2=0x51 (81) D3=0x2D (45) D4=0x39 (57)\n");
    // A register command echoes its number in D1 and D2.
    const ctltest::TRun reg = Ctl({"send", "102", "0", "0", "63", "63", "--csv"});
    EXPECT_EQ(reg.exit, 0) << reg.err;
    EXPECT_EQ(reg.out, "command,index,status,text,d0,d1,d2,d3,d4\n102,0,0,bez chyby,0,63,63,1,1\n");
    const ctltest::TRun unknown = Ctl({"send", "7", "0", "--json"});
    EXPECT_EQ(unknown.exit, 1);
    EXPECT_EQ(unknown.out,
              "{\"command\":7,\"index\":0,\"status\":21,\"text\":\"modul nezn\xC3\xA1 p\xC5\x99\xC3\xADkaz\","
              "\"d\":[0,0,0,0,0]}\n");
}

TEST_P(CtlLog, AWatchAppendsOneTimedLinePerReadingAndTheHeaderOnce) {
    StartSim({"--inputs", "5"});
    for (int run = 0; run < 2; ++run) {
        const ctltest::TRun r = Ctl({"din", "--watch", "--count", "3", "--csv", "--output", Path("din.csv")});
        ASSERT_EQ(r.exit, 0) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    const std::vector<std::string> lines = Lines(ReadFile(Path("din.csv")));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "time,inputs,din0,din1,din2,din3,din4,din5,din6,din7,error_code,error_text");
    const std::regex row(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,5,1,0,1,0,0,0,0,0,,)");
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
}

TEST_P(CtlLog, AFileThatCannotBeWrittenEndsTheWatch) {
    StartSim({});
    const ctltest::TRun dir = Ctl({"din", "--watch", "--csv", "--output", m_dir});
    EXPECT_EQ(dir.exit, 2) << dir.err;
    // /dev/full takes the open and refuses every write, as a full disk does.
    const ctltest::TRun full = Ctl({"din", "--watch", "--csv", "--output", "/dev/full"});
    EXPECT_EQ(full.exit, 1);
    EXPECT_NE(full.err.find("/dev/full selhal"), std::string::npos) << full.err;
}

TEST_P(CtlLog, StatsCountEveryOutcomeAndTheRefusedReplies) {
    // Every tenth reply comes from the next address: refused by the
    // driver, and the transaction fails with code 13.
    StartSim({"--wrong-address", "0.1", "--drop", "0.05", "--seed", "7"});
    const ctltest::TRun r =
        Ctl({"send", "100", "0", "--repeat", "400", "--stats", "--json", "--trace", Path("t")});
    EXPECT_EQ(r.exit, 1);
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 401u);
    std::smatch m;
    const std::regex stats(
        R"(\{"stats":\{"transactions":400,"answered":(\d+),"timeouts":(\d+),"damaged":0,"refused":(\d+),)"
        R"("module_errors":0,"other_failures":(\d+),"round_trip_us":\{"min":\d+,"median":\d+,"p99":\d+,"max":\d+\}\}\})");
    ASSERT_TRUE(std::regex_match(lines.back(), m, stats)) << lines.back();
    const int answered = std::stoi(m[1]), timeouts = std::stoi(m[2]), refused = std::stoi(m[3]),
              foreign = std::stoi(m[4]);
    EXPECT_EQ(answered + timeouts + foreign, 400);
    EXPECT_GT(timeouts, 0);
    EXPECT_GT(foreign, 0);
    EXPECT_GE(refused, foreign);
    // The trace asked for still gets every transaction.
    const std::string trace = ReadFile(Path("t"));
    EXPECT_NE(trace.find("Done refused damaged 0 echo " + m[3].str()), std::string::npos)
        << trace.substr(0, 400);
}

TEST_P(CtlLog, CtrlCEndsARepeatWithTheSummaryAndExit130) {
    StartSim({});
    Args args{"send",    "200",       "0", "--repeat",   "100000000",
              "--stats", "--address", "1", "--settings", m_dir + "/W_rq905.ini"};
    Args env;
    if (GetParam().udp) {
        args.insert(args.end(),
                    {"--kind", "lan", "--ip", "127.0.0.1", "--udp-port", std::to_string(m_sim->UdpPort())});
    } else {
        args.insert(args.end(), {"--kind", "com", "--com", "1"});
        env.push_back("RQ905_COM1=" + m_sim->PtyPath());
    }
    ctltest::TCtlChild child(args, env);
    ASSERT_TRUE(child.WaitForLines(3));
    child.Signal(SIGINT);
    const ctltest::TRun r = child.Finish();
    EXPECT_EQ(r.exit, 130) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    const std::regex summary(R"(Statistika spojen\S+ transakce (\d+), odpov\S+ (\d+), .*doba odezvy min .*)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines.back(), m, summary)) << lines.back();
    // Every transaction printed before the signal is counted (and the one
    // it may have cut short), and all that were printed were answered.
    const unsigned long transactions = std::stoul(m[1]);
    EXPECT_GE(transactions, lines.size() - 1);
    EXPECT_LE(transactions, lines.size());
    EXPECT_GE(std::stoul(m[2]), lines.size() - 1);
}

INSTANTIATE_TEST_SUITE_P(Ctl, CtlLog, testing::Values(Transport{"Udp", true}, Transport{"Pty", false}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
