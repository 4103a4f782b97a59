#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
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

TEST(HostEnd, MissingLibraryCannotStart) {
    SetVariable("RQ905_WINDRIVERS", RECORDERS "/none");
    std::uint32_t handle = 0;
    EXPECT_EQ(drv::face::InitSerial(SerialFace{"TCOM318", "port", false, nullptr}, &handle, 1),
              drv::Code(drv::Result::HostNotStarted));
}

#if !defined(_WIN32)
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
