// "Provoz linky" over the real UDP driver and the module simulator: the
// frames come from the driver's own trace, as the program records it.
#include <QLabel>
#include <filesystem>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "SimProcess.h"
#include "linkstats/FrameLog.h"
#include "ui/ProvozLinky.h"

namespace fs = std::filesystem;
using namespace guitest;

namespace {

TEST(TrafficEndToEnd, ListsTheDriversFramesAndCountsThem) {
    char tmpl[] = "/tmp/rq905-traffic-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE, {"--udp", "0", "--fresh", "--quiet", "--state",
                                                      dir + "/sim.state", "--address", "5"});
    ASSERT_TRUE(sim.Ready());

    TTrafficLog log;  // before the connection: the driver looks for its trace at Init
    TData rec;
    ASSERT_TRUE(ConnectUdp(rec, sim.UdpPort(), 5));
    // Two reads of the speed register, then an address nobody answers.
    for (const uint8_t address : std::array<uint8_t, 3>{5, 5, 6}) {
        uint8_t d0 = 0, d1 = 62, d2 = 62, d3 = 0, d4 = 0, status = 0;
        TCellBlock reply{};
        ModuleTransaction(rec.Kind, rec.Handle, address, 102, 0, d0, d1, d2, d3, d4, status, reply);
    }
    TProvozLinky window(log, nullptr);
    for (int i = 0; i < TProvozLinky::kStatsEvery; ++i) window.Timer1Timer();

    const TFrameModel& model = window.Model();
    ASSERT_EQ(model.rowCount(), 5);
    const std::vector<std::array<const char*, 3>> expected = {{"vysláno", "5", "0 "},
                                                              {"přijato", "5", "převzato"},
                                                              {"vysláno", "5", "0 "},
                                                              {"přijato", "5", "převzato"},
                                                              {"vysláno", "6", "11 "}};
    for (int row = 0; row < 5; ++row) {
        const auto cells = model.RowText(row);
        SCOPED_TRACE(row);
        EXPECT_EQ(cells[1], expected[static_cast<std::size_t>(row)][0]);
        EXPECT_EQ(cells[2], expected[static_cast<std::size_t>(row)][1]);
        EXPECT_EQ(cells[4], "102 čtení registru");
        EXPECT_EQ(cells[7].rfind(expected[static_cast<std::size_t>(row)][2], 0), 0u) << cells[7];
    }
    EXPECT_FALSE(Child<QLabel>(&window, "NoteLabel")->isVisibleTo(&window));
    EXPECT_EQ(FromQt(Child<QLabel>(&window, "StatTransactions")->text()), "3");
    EXPECT_EQ(FromQt(Child<QLabel>(&window, "StatTimeouts")->text()), "1");
    EXPECT_EQ(FromQt(Child<QLabel>(&window, "StatRefused")->text()), "0");
    Disconnect(rec);
    fs::remove_all(dir);
}

}  // namespace
