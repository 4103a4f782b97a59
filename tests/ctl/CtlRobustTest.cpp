// rq905ctl as a process under hostile surroundings: its standard streams
// lost or broken, a trace that cannot be written, files that are no regular
// files. Each run is bounded, so a hang fails the test instead of the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "SimProcess.h"
#include "core/Cp1250.h"

extern char** environ;

namespace {

using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "rq905-robust-XXXXXX").string();
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

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct TRun {
    int exit = -1;    // -1: killed by a signal; -2: did not end in time
    std::string out;  // Windows-1250, as err
    std::string err;
    Clock::duration took{};
};

// How the child's standard output and error are set up; by default each
// goes to a file that the run reads back.
using TStdio = std::function<void(posix_spawn_file_actions_t&)>;

// started: told the child's process id once it runs.
TRun RunCtl(const Args& args, const Args& env = {}, const TStdio& stdio = {},
            std::chrono::seconds limit = std::chrono::seconds(30), std::atomic<pid_t>* started = nullptr) {
    static const TempDir dir;
    static int serial = 0;
    const std::string out = dir.Path("out" + std::to_string(serial));
    const std::string err = dir.Path("err" + std::to_string(serial++));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (stdio) stdio(actions);
    Args argvText{RQ905_CTL_EXECUTABLE};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    Args envText = env;
    for (char** e = environ; *e != nullptr; ++e) envText.emplace_back(*e);  // earlier entries win
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    TRun run;
    const auto start = Clock::now();
    const int rc = ::posix_spawn(&pid, RQ905_CTL_EXECUTABLE, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return run;
    if (started != nullptr) *started = pid;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - start > limit) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.exit = -2;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.took = Clock::now() - start;
    if (run.exit != -2) run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Utf8ToCp1250(ReadFile(out));
    run.err = Utf8ToCp1250(ReadFile(err));
    return run;
}

// A simulator with one fresh module at address 1, over UDP; it saves
// register writes to its state file.
class Sim {
  public:
    explicit Sim(Args extra = {}) {
        std::ofstream(m_dir.Path("none.ini"));
        Args args{"--state", m_dir.Path("state"), "--fresh", "--udp", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_process = std::make_unique<simharness::SimProcess>(RQ905_SIM_EXECUTABLE, args);
    }
    bool Ready() const { return m_process->Ready(); }
    Args Lan() const {
        return {"--settings", m_dir.Path("none.ini"),
                "--kind",     "lan",
                "--ip",       "127.0.0.1",
                "--udp-port", std::to_string(m_process->UdpPort()),
                "--address",  "1"};
    }
    // The stored value of a register of the module, -1 when not known.
    int Stored(int reg) const {
        const std::string state = ReadFile(m_dir.Path("state"));
        const std::string key = " " + std::to_string(reg) + "=";
        const auto at = state.find(key);
        return at == std::string::npos ? -1 : std::stoi(state.substr(at + key.size()));
    }
    const TempDir& Dir() const { return m_dir; }

  private:
    TempDir m_dir;
    std::unique_ptr<simharness::SimProcess> m_process;
};

// A configuration file for config apply and diff, in dir.
std::string ConfigFile(const TempDir& dir) {
    std::ofstream(dir.Path("rq905.ini")) << "[RQ-905]\nbus_address=1\nline_speed=9600\ndin_negation=0x11\n"
                                            "dout_negation=0x22\ndout_initial=0x33\npwm_initial=4444\n"
                                            "pwm_period_ms=2048\npwm_negation=on\n";
    return dir.Path("rq905.ini");
}

// ---- A trace that cannot be written ----------------------------------------

struct TraceCase {
    const char* name;
    // Sets the trace up in dir and gives the --trace argument; may start a
    // reader and set the child's standard error.
    std::function<std::string(const TempDir& dir, TStdio& stdio)> prepare;
    int warnings;  // expected on standard error
};

// A FIFO whose reader takes the first line and goes.
std::string FifoReaderGoes(const TempDir& dir, TStdio&) {
    const std::string fifo = dir.Path("trace.fifo");
    ::mkfifo(fifo.c_str(), 0600);
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::thread([fd] {
        char c = 0;
        while (c != '\n') {
            const ssize_t n = ::read(fd, &c, 1);
            if (n == 0 || (n < 0 && errno != EAGAIN)) break;
            if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::close(fd);
    }).detach();
    return fifo;
}

const TraceCase kTraceCases[] = {
    {"StandardErrorReaderGone",
     [](const TempDir&, TStdio& stdio) {
         int pipe[2];
         if (::pipe(pipe) == 0) {
             ::close(pipe[0]);
             const int end = pipe[1];
             stdio = [end](posix_spawn_file_actions_t& a) {
                 posix_spawn_file_actions_adddup2(&a, end, STDERR_FILENO);
                 posix_spawn_file_actions_addclose(&a, end);
             };
         }
         return std::string("-");
     },
     0},
    {"FifoReaderGoes", FifoReaderGoes, 1},
    {"FifoWithoutReader",
     [](const TempDir& dir, TStdio&) {
         const std::string fifo = dir.Path("trace.fifo");
         ::mkfifo(fifo.c_str(), 0600);
         return fifo;
     },
     1},
    {"MissingDirectory", [](const TempDir& dir, TStdio&) { return dir.Path("missing/trace.txt"); }, 1},
    {"DevFull", [](const TempDir&, TStdio&) { return std::string("/dev/full"); }, 1},
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

// Each case with the drivers writing the trace, and with --stats, where
// the tool passes the drivers' lines on: one rule either way.
class TraceLost : public testing::TestWithParam<std::tuple<TraceCase, bool>> {};

TEST_P(TraceLost, NeverStopsTheWriteAndWarnsOnce) {
    const auto& [how, stats] = GetParam();
    // Every reply held a while, so that a reader that goes leaves while
    // the registers are being written.
    Sim sim({"--delay", "1", "--delay-ms", "20"});
    ASSERT_TRUE(sim.Ready());
    TStdio stdio;
    const std::string trace = how.prepare(sim.Dir(), stdio);
    Args args{"config", "apply", ConfigFile(sim.Dir()), "--udp-timeout", "2000", "--trace", trace};
    if (stats) args.push_back("--stats");
    const Args lan = sim.Lan();
    args.insert(args.end(), lan.begin(), lan.end());
    const TRun run = RunCtl(args, {}, stdio, std::chrono::seconds(20));
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(Count(run.err, "TRQ1318: RQ905_TRACE: stopa rámců vypnuta"),
              static_cast<std::size_t>(how.warnings))
        << run.err;
    const int wanted[][2] = {{32, 0x33},       {33, 0x11},       {34, 0x22},
                             {35, 4444 % 256}, {36, 4444 / 256}, {37, 0x81}};
    for (const auto& [reg, value] : wanted) EXPECT_EQ(sim.Stored(reg), value) << "register " << reg;
}

INSTANTIATE_TEST_SUITE_P(Ctl, TraceLost, testing::Combine(testing::ValuesIn(kTraceCases), testing::Bool()),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param).name) +
                                    (std::get<1>(p.param) ? "WithStats" : "");
                         });

// ---- Standard output lost --------------------------------------------------

struct OutputCase {
    const char* name;
    TStdio stdio;
    bool pipeIgnored = false;  // SIGPIPE ignored, as by a service manager
};

const OutputCase kOutputCases[] = {
    {"DevFull",
     [](posix_spawn_file_actions_t& a) {
         posix_spawn_file_actions_addopen(&a, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
     }},
    {"Closed", [](posix_spawn_file_actions_t& a) { posix_spawn_file_actions_addclose(&a, STDOUT_FILENO); }},
    {"ReaderGoneSigpipeIgnored",
     [](posix_spawn_file_actions_t& a) {
         int pipe[2];
         if (::pipe2(pipe, O_CLOEXEC) != 0) return;
         ::close(pipe[0]);
         posix_spawn_file_actions_adddup2(&a, pipe[1], STDOUT_FILENO);
     },
     true},
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

class OutputLost : public testing::TestWithParam<OutputCase> {};

TEST_P(OutputLost, IsAFailureWithAMessage) {
    Sim sim;
    ASSERT_TRUE(sim.Ready());
    if (GetParam().pipeIgnored) ::signal(SIGPIPE, SIG_IGN);  // inherited by the child
    // A watch stops at its first line that fails, rather than poll on.
    for (Args args : {Args{"config", "read", "--json"}, Args{"identify"}, Args{"din", "--watch"}}) {
        const Args lan = sim.Lan();
        args.insert(args.end(), lan.begin(), lan.end());
        const TRun run = RunCtl(args, {}, GetParam().stdio, std::chrono::seconds(10));
        EXPECT_EQ(run.exit, 1) << args[0];
        EXPECT_EQ(run.err.rfind("rq905ctl: zápis na standardní výstup selhal", 0), 0u) << run.err;
    }
    const TRun version = RunCtl({"--version"}, {}, GetParam().stdio);
    EXPECT_EQ(version.exit, 1);
    ::signal(SIGPIPE, SIG_DFL);
}

// ---- A CSV file of results ------------------------------------------------

// rq905ctl with the size a file may grow to limited, as a full disk does,
// and SIGXFSZ ignored so that the write fails instead; err gets its stderr.
int RunLimited(const Args& args, rlim_t fileLimit, const std::string& err) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{fileLimit, fileLimit};
        if (fileLimit != 0) ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        Args argvText{RQ905_CTL_EXECUTABLE};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argvText) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(RQ905_CTL_EXECUTABLE, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kDinHeader = "time,inputs,din0,din1,din2,din3,din4,din5,din6,din7,error_code,error_text";
const std::string kDinRow = R"(\d{4}-\d\d-\d\dT[0-9:.+-]+,0,0,0,0,0,0,0,0,0,,\n)";

struct CsvFileCase {
    const char* name;
    std::string before;  // the file's content before the run
    rlim_t limit;        // the size the file may reach, 0: any
    int exit;
    std::string appended;  // a pattern of what the run adds to the file
    std::string err;       // a part of standard error
};
void PrintTo(const CsvFileCase& c, std::ostream* os) { *os << c.name; }

const CsvFileCase kCsvFiles[] = {
    // Whole lines fit until the limit; the line it cuts is cut back off.
    {"FullDiskLeavesNoTornLine", "", 400, 1, kDinHeader + "\n(" + kDinRow + ")+", "din.csv selhal"},
    {"ATornFileGetsItsLineEnd", kDinHeader + "\n2026-12-08T10:00:00.000+01:00,0,0,0", 0, 0,
     "\n(" + kDinRow + ")+", ""},
    // Both headers named.
    {"OtherColumnsAreRefused", "address,key,module,file\n", 0, 2, "",
     "\"address,key,module,file\", tento příkaz píše sloupce \"" + kDinHeader + "\""},
};

class CsvFile : public testing::TestWithParam<CsvFileCase> {};

TEST_P(CsvFile, HoldsOneTableOfWholeLines) {
    Sim sim;
    ASSERT_TRUE(sim.Ready());
    const std::string file = sim.Dir().Path("din.csv");
    std::ofstream(file, std::ios::binary) << GetParam().before;
    Args args{"din", "--watch", "--count", "8", "--csv", "--output", file};
    const Args lan = sim.Lan();
    args.insert(args.end(), lan.begin(), lan.end());
    EXPECT_EQ(RunLimited(args, GetParam().limit, sim.Dir().Path("err")), GetParam().exit);
    const std::string err = Utf8ToCp1250(ReadFile(sim.Dir().Path("err")));
    EXPECT_NE(err.find(GetParam().err), std::string::npos) << err;
    const std::string after = ReadFile(file);
    ASSERT_EQ(after.rfind(GetParam().before, 0), 0u) << after;
    const std::string appended = after.substr(GetParam().before.size());
    EXPECT_TRUE(std::regex_match(appended, std::regex(GetParam().appended))) << appended;
}

INSTANTIATE_TEST_SUITE_P(Ctl, CsvFile, testing::ValuesIn(kCsvFiles),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- config diff over a converters' list, its results lost ---------------

struct DiffOutputCase {
    const char* name;
    bool failingConverter;  // a converter that cannot be, listed first
    const char* output;
};
void PrintTo(const DiffOutputCase& c, std::ostream* os) { *os << c.name; }

class DiffTargetsOutput : public testing::TestWithParam<DiffOutputCase> {};

// Failures go to stderr, results to the file; a file that cannot take them
// is a failure (3), however equal the modules.
TEST_P(DiffTargetsOutput, FailuresOnStderrAndALostResultFails) {
    Sim sim;
    ASSERT_TRUE(sim.Ready());
    const std::string config = ConfigFile(sim.Dir());
    const std::string targets = sim.Dir().Path("plant.txt");
    std::ofstream(targets) << (GetParam().failingConverter ? "lan:bad\x1b[31mhost 1\n" : "")
                           << "lan:127.0.0.1:" << sim.Lan()[7] << " 1\n";
    const std::string output = GetParam().output[0] == '/' ? GetParam().output : sim.Dir().Path("diff.txt");
    const TRun run = RunCtl(
        {"config", "diff", config, "--targets", targets, "--output", output, "--settings", sim.Lan()[1]});
    EXPECT_EQ(run.exit, 3) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    // Its name shown printable: no escape sequence reaches the terminal.
    EXPECT_EQ(run.err.find("rq905ctl: lan:bad\xB7[31mhost: ") != std::string::npos,
              GetParam().failingConverter)
        << run.err;
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Ctl, DiffTargetsOutput,
                         testing::Values(DiffOutputCase{"FullDisk", false, "/dev/full"},
                                         DiffOutputCase{"ConverterFails", true, "diff.txt"}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- A module's texts in a spreadsheet ------------------------------------

class CsvFormula : public testing::TestWithParam<const char*> {};

// A module named like a formula is shown as text in a spreadsheet: the
// field gets a leading apostrophe; the numbers beside it stay numbers.
TEST_P(CsvFormula, IsNeutralised) {
    Sim sim({"--name", GetParam()});
    ASSERT_TRUE(sim.Ready());
    Args args{"scan", "--csv", "--from", "1", "--to", "1"};
    const Args lan = sim.Lan();
    args.insert(args.end(), lan.begin(), lan.end() - 2);
    const TRun run = RunCtl(args);
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "address,speed,name,version,ident\n1,9600,'" + std::string(GetParam()) + ",1.02,'" +
                           GetParam() + " v.1.02\n");
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, CsvFormula, testing::Values("=1+1    ", "+420 777", "-2+3    ", "@SUM(A1)"), [](const auto& p) {
        const std::string first(1, p.param[0]);
        return first == "=" ? "Equals" : first == "+" ? "Plus" : first == "-" ? "Minus" : "At";
    });

// ---- Endless standard input ------------------------------------------------

class EndlessTargets : public testing::TestWithParam<const char*> {};

// A list on standard input is bounded as a file is: refused at once.
TEST_P(EndlessTargets, AreRefusedAsAFileTooLarge) {
    const TempDir dir;
    const TRun run = RunCtl(
        {"config", GetParam(), ConfigFile(dir), "--targets", "-"}, {},
        [](posix_spawn_file_actions_t& a) {
            posix_spawn_file_actions_addopen(&a, STDIN_FILENO, "/dev/zero", O_RDONLY, 0);
        },
        std::chrono::seconds(10));
    EXPECT_EQ(run.exit, 2) << run.err;
    EXPECT_NE(run.err.find("příliš velký vstup"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Ctl, EndlessTargets, testing::Values("apply", "diff"),
                         [](const auto& p) { return std::string(p.param); });

INSTANTIATE_TEST_SUITE_P(Ctl, OutputLost, testing::ValuesIn(kOutputCases),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Ctrl-C during one long wait -----------------------------------------

struct SignalCase {
    const char* name;
    Args command;
    bool cutShort;  // a read: the wait ends at once
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class LongWait : public testing::TestWithParam<SignalCase> {};

// Address 7 is silent and the wait is long: the signal ends the command
// as interrupted, never as the module's silence.
TEST_P(LongWait, EndsAsInterrupted) {
    Sim sim;
    ASSERT_TRUE(sim.Ready());
    Args args = GetParam().command;
    Args lan = sim.Lan();
    lan.back() = "7";
    args.insert(args.end(), lan.begin(), lan.end());
    args.insert(args.end(), {"--udp-timeout", GetParam().cutShort ? "20000" : "1500"});
    // Signalled once its wait has begun.
    std::atomic<pid_t> child{-1};
    std::thread signaller([&child] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (child > 0) ::kill(child, SIGINT);
    });
    const TRun run = RunCtl(args, {}, {}, std::chrono::seconds(30), &child);
    signaller.join();
    EXPECT_EQ(run.exit, 130) << run.err;
    EXPECT_NE(run.err.find("rq905ctl: přerušeno (SIGINT)"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("modul neodpovídá"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("čekám na dokončení přenosu") != std::string::npos, !GetParam().cutShort)
        << run.err;
    if (GetParam().cutShort) {
        EXPECT_LT(run.took, std::chrono::seconds(10));
    }
}

INSTANTIATE_TEST_SUITE_P(Ctl, LongWait,
                         testing::Values(SignalCase{"ReadIsCutShort", {"identify"}, true},
                                         SignalCase{"WriteIsLetFinish", {"dout", "5"}, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- drivers check --------------------------------------------------------

TEST(DriversCheck, AnswersHelpAndJson) {
    const TRun help = RunCtl({"drivers", "check", "--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_EQ(help.out.rfind("Použití: rq905ctl drivers check", 0), 0u) << help.out;
    EXPECT_NE(RunCtl({"--help"}).out.find("drivers check"), std::string::npos);
    TempDir home;
    const TRun json =
        RunCtl({"drivers", "check", "--json"}, {"RQ905_WINDRIVERS=", "XDG_CONFIG_HOME=" + home.Path("none")});
    EXPECT_EQ(json.exit, 1) << json.err;
    EXPECT_NE(json.out.find(R"("directory":null)"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(R"("ok":false})"), std::string::npos) << json.out;
    EXPECT_EQ(RunCtl({"drivers", "check", "--frob"}).exit, 2);
}

}  // namespace
