#include <gtest/gtest.h>

#if defined(_WIN32)
#include <direct.h>
#endif

#if !defined(_WIN32)
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Bridge.h"
#include "Face.h"

namespace {

using drv::face::SerialFace;

// The recording driver's arguments of its latest call.
std::vector<std::uint32_t> Recorded() {
    std::uint32_t text[100] = {};
    const std::uint32_t count = drv::face::Error(99, text);
    return {text, text + (count <= 100 ? count : 0)};
}

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

void UseDrivers(const std::string& call) {
    SetVariable("RQ905_WINDRIVERS", std::string(RECORDERS) + "/" + call);
    SetVariable("RQ905_WINDRIVERS_CALL", call);
}

class HostCall : public ::testing::TestWithParam<const char*> {};

TEST_P(HostCall, EveryArgumentArrivesIntact) {
    UseDrivers(GetParam());
    const char ip[] = "192.168.7.21";
    std::uintptr_t cells[16] = {reinterpret_cast<std::uintptr_t>(ip)};
    std::vector<std::uint32_t> expected = {1, 77};
    for (std::uint32_t i = 1; i < 16; ++i) {
        cells[i] = i * 0x11111111u;
        expected.push_back(i * 0x11111111u);
    }
    expected.insert(expected.end(), ip, ip + std::strlen(ip));
    std::uint32_t handle = 77;
    ASSERT_EQ(drv::face::InitUdp("TRQ1318", &handle, cells), 0u);
    EXPECT_EQ(Recorded(), expected);
    // A second connection of the same host: each handle reaches the library
    // as the library's own.
    std::uint32_t second = 78;
    ASSERT_EQ(drv::face::InitUdp("TRQ1318", &second, cells), 0u);
    EXPECT_NE(second, handle);

    EXPECT_EQ(drv::face::SetConfig(handle, 115200, 3, 2), 0u);
    EXPECT_EQ(Recorded(), (std::vector<std::uint32_t>{2, 1077, 115200, 3, 2}));
    std::uint32_t speed = 5, value = 6, mode = 7;
    EXPECT_EQ(drv::face::GetConfig(handle, &speed, &value, &mode), 0u);
    EXPECT_EQ(Recorded(), (std::vector<std::uint32_t>{3, 1077, 5, 6, 7}));
    EXPECT_EQ(std::vector<std::uint32_t>({speed, value, mode}), (std::vector<std::uint32_t>{6, 8, 10}));

    std::uint32_t request[100], reply[100], out = 9, status = 400;
    for (std::uint32_t i = 0; i < 100; ++i) {
        request[i] = i * 3 + 1;
        reply[i] = 0x10000 + i;
    }
    request[1] = 42;  // the driver's result
    EXPECT_EQ(drv::face::Send(handle, request, reply, &out, &status), 42u);
    for (std::uint32_t i = 0; i < 100; ++i) {
        EXPECT_EQ(reply[i], request[i] + 0x10000 + i) << i;
    }
    EXPECT_EQ(out, 9u + 1077u);
    EXPECT_EQ(status, 700u);

    std::uint32_t text[100] = {};
    drv::face::Error(42, text);
    EXPECT_EQ(std::vector<std::uint32_t>(text, text + 3), (std::vector<std::uint32_t>{'R', 42, 0}));

    EXPECT_EQ(drv::face::Done(&handle), 0u);
    EXPECT_EQ(Recorded(), (std::vector<std::uint32_t>{5, 1077}));
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(drv::face::Done(&second), 0u);

    handle = 5;
    ASSERT_EQ(drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, 0xABCDEF01), 0u);
    EXPECT_EQ(Recorded(), (std::vector<std::uint32_t>{1, 5, 0xABCDEF01}));
    EXPECT_EQ(drv::face::Done(&handle), 0u);
}

INSTANTIATE_TEST_SUITE_P(Conventions, HostCall, ::testing::Values("stdcall", "cdecl"));

TEST(HostEnd, DriverCrashDuringSend) {
    UseDrivers("stdcall");
    std::uint32_t handle = 0;
    ASSERT_EQ(drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, 1), 0u);
    std::uint32_t request[100] = {0xDEAD}, reply[100] = {}, out = 0, status = 0;
    EXPECT_EQ(drv::face::Send(handle, request, reply, &out, &status), drv::Code(drv::Result::HostEnded));
    EXPECT_EQ(status, drv::Code(drv::Result::HostEnded));
    request[0] = 0;
    EXPECT_EQ(drv::face::Send(handle, request, reply, &out, &status), drv::Code(drv::Result::HostEnded));
    std::uint32_t text[100] = {};
    drv::face::Error(drv::Code(drv::Result::HostEnded), text);
    EXPECT_EQ(text[0], static_cast<unsigned char>(drv::ResultText(drv::Code(drv::Result::HostEnded))[0]));
    EXPECT_EQ(drv::face::Done(&handle), 0u);
    EXPECT_EQ(handle, 0u);
    // A new connection starts a new host.
    ASSERT_EQ(drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, 2), 0u);
    EXPECT_EQ(drv::face::Done(&handle), 0u);
}

// Host processes that this test started and that still run; those of
// other tests running beside it are not counted.
int HostProcesses() {
#if defined(_WIN32)
    return 0;
#else
    int count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (line.find(drv::bridge::kHostName) == std::string::npos) continue;
        // The parent is the fourth field of stat, after the name in parentheses.
        std::ifstream statFile(entry.path() / "stat");
        const std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        long parent = 0;
        fields >> state >> parent;
        count += parent == static_cast<long>(::getpid()) ? 1 : 0;
    }
    return count;
#endif
}

struct HungCall {
    const char* name;
    bool inInit;  // else in Send
};
void PrintTo(const HungCall& c, std::ostream* os) { *os << c.name; }

class HostHung : public ::testing::TestWithParam<HungCall> {};

// A driver that never returns: the call ends past its bound with
// HostEnded, and the host ends with it.
TEST_P(HostHung, CallEndsPastItsBoundAndTheHostWithIt) {
    UseDrivers("stdcall");
    const int before = HostProcesses();
    constexpr std::uint32_t kHang = 0x48414E47;
    std::uint32_t handle = 0;
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t result = 0;
    if (GetParam().inInit) {
        result = drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, kHang);
    } else {
        ASSERT_EQ(drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, 1), 0u);
#if !defined(_WIN32)
        EXPECT_EQ(HostProcesses(), before + 1);  // the count sees this test's host
#endif
        std::uint32_t request[100] = {kHang}, reply[100] = {}, out = 0, status = 0;
        result = drv::face::Send(handle, request, reply, &out, &status);
        EXPECT_EQ(drv::face::Done(&handle), 0u);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, drv::Code(drv::Result::HostEnded));
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_EQ(HostProcesses(), before);
}

INSTANTIATE_TEST_SUITE_P(Calls, HostHung, ::testing::Values(HungCall{"Init", true}, HungCall{"Send", false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(HostEnd, MissingLibraryCannotStart) {
    SetVariable("RQ905_WINDRIVERS", RECORDERS "/none");
    std::uint32_t handle = 0;
    EXPECT_EQ(drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, 1),
              drv::Code(drv::Result::HostNotStarted));
}

// A file that is no 32-bit Windows library is named as such, not as a host
// that cannot start.
TEST(HostProbe, NotALibraryIsNotLoadableWithTheSystemsReason) {
    const std::string dir = std::string(RECORDERS) + "/bogus";
#if defined(_WIN32)
    ::_mkdir(dir.c_str());
#else
    ::mkdir(dir.c_str(), 0700);
#endif
    std::ofstream(dir + "/TRQ1318.DLL") << "not a library\n";
    std::uint32_t missing = 7;
    std::uint32_t error = 0;
    EXPECT_EQ(drv::bridge::Probe(dir + "/TRQ1318.DLL", false, missing, error),
              static_cast<int>(drvhost::Loaded::NotLoadable));
    EXPECT_EQ(missing, 0u);
    EXPECT_NE(error, 0u);
}

#if !defined(_WIN32)
// Ctrl-C in a terminal goes to the caller's whole process group; the host
// must not get it in the middle of a call, so that the caller decides.
TEST(HostGroup, TheCallersCtrlCNeverReachesTheHost) {
    UseDrivers("stdcall");
    // This test's own group, so that the signal reaches nobody else.
    ::setpgid(0, 0);
    struct sigaction ignore {};
    struct sigaction saved {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &saved);
    std::uint32_t handle = 0;
    ASSERT_EQ(drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, 1), 0u);
    ::kill(0, SIGINT);
    ::usleep(300000);
    std::uint32_t request[100] = {0, 42}, reply[100] = {}, out = 0, status = 0;
    EXPECT_EQ(drv::face::Send(handle, request, reply, &out, &status), 42u);
    EXPECT_EQ(drv::face::Done(&handle), 0u);
    ::sigaction(SIGINT, &saved, nullptr);
}

TEST(HostSetting, DevicesFileNamesTheDirectoryInEitherEncoding) {
    ::unsetenv("RQ905_WINDRIVERS");
    const std::string home = std::string(RECORDERS) + "/config";
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    ::mkdir(home.c_str(), 0700);
    ::mkdir((home + "/rq905").c_str(), 0700);
    for (const char* text : {"[Za\xC5\x99\xC3\xADzen\xC3\xAD]\nOvlada\xC4\x8D"
                             "e Windows = /w/a\n",
                             "[Za\xF8\xEDzen\xED]\r\nOvlada\xE8"
                             "e Windows=/w/a\r\n"}) {
        std::ofstream(home + "/rq905/devices.ini", std::ios::binary) << text;
        EXPECT_EQ(drv::bridge::DriverDirectory(), "/w/a") << text;
    }
    ::unsetenv("XDG_CONFIG_HOME");
}
#endif

}  // namespace
