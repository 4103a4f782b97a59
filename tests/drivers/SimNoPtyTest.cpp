// The simulator's command line where there is no pseudo-terminal, as on
// Windows: the options that need one are refused by name, the default is
// UDP alone, and the usage text promises no pty.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaseName.h"
#include "Options.h"

namespace {

struct NoPtyCase {
    const char* name;
    std::vector<std::string> args;
    const char* refused;  // the option the error names; null when accepted
};
void PrintTo(const NoPtyCase& c, std::ostream* os) { *os << c.name; }

class NoPtyOptionsTest : public ::testing::TestWithParam<NoPtyCase> {};

TEST_P(NoPtyOptionsTest, PtyOptionsRefusedByName) {
    std::string error;
    const auto options = sim::ParseOptions(GetParam().args, &error, false);
    if (GetParam().refused != nullptr) {
        EXPECT_FALSE(options.has_value());
        EXPECT_TRUE(error.starts_with(std::string(GetParam().refused) + " ")) << error;
        return;
    }
    ASSERT_TRUE(options.has_value()) << error;
    EXPECT_FALSE(options->pty);
    EXPECT_TRUE(options->udpPort.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, NoPtyOptionsTest,
    ::testing::Values(NoPtyCase{"Pty", {"--pty"}, "--pty"}, NoPtyCase{"Link", {"--link", "COM9"}, "--link"},
                      NoPtyCase{"AnySpeed", {"--udp", "0", "--any-speed"}, "--any-speed"},
                      NoPtyCase{"NothingServesUdp", {}, nullptr}, NoPtyCase{"Udp", {"--udp", "0"}, nullptr}),
    CaseName<NoPtyCase>);

TEST(NoPtyUsage, NamesNoPtyOption) {
    for (const char* word : {"--pty", "--link", "--any-speed", "pseudo-terminal", " pty", "SIGTERM"}) {
        EXPECT_EQ(std::string(sim::UsageText(false)).find(word), std::string::npos) << word;
        EXPECT_NE(std::string(sim::UsageText(true)).find(word), std::string::npos) << word;
    }
}

}  // namespace
