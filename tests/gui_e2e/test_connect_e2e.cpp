// The program as a user runs it: main window, connection dialog, the real
// UDP driver and the module simulator.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "SimProcess.h"
#include "ui/Hlavni.h"

namespace fs = std::filesystem;
using namespace guitest;

namespace {

TEST(ConnectEndToEnd, IdentifiesTheSimulatedModuleOverUdp) {
    char tmpl[] = "/tmp/rq905-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    simharness::SimProcess sim(
        RQ905_SIM_EXECUTABLE, {"--udp", "0", "--fresh", "--quiet", "--state", dir + "/sim.state", "--address",
                               "5", "--speed", "19200", "--name", "SIM-905A", "--ident-version", "2.01"});
    ASSERT_TRUE(sim.Ready());

    const std::string ini = dir + "/W_rq905.ini";
    {
        TForm1 form(ini);
        form.show();
        std::string panel;
        WhenModal([&](QWidget* dialog) {
            Child<QComboBox>(dialog, "ComboBox2")->setCurrentIndex(kKindLan);
            Child<QComboBox>(dialog, "ComboBox2")->activated(kKindLan);
            Child<QLineEdit>(dialog, "Edit2")->setText("127.0.0.1");
            Child<QLineEdit>(dialog, "Edit3")->setText(QString::number(sim.UdpPort()));
            Child<QLineEdit>(dialog, "Edit4")->setText("500");
            Child<QLineEdit>(dialog, "Edit1")->setText("5");
            Child<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(5);
            Click(dialog, "Button1");
            panel = FromQt(Child<QLabel>(dialog, "Panel1")->text());
        });
        form.findChild<QAction*>("Pipojen1")->trigger();
        EXPECT_EQ(panel, "Připojení úspěšně inicializováno. Připojen modul   SIM-905A v.2.01");
        EXPECT_EQ(form.PanelText(0), " Modul  SIM-905A v.2.01");
        EXPECT_EQ(form.PanelText(1), " Adresa  5");
        EXPECT_EQ(form.PanelText(2), " Rychlost  19200Bd");
        ASSERT_TRUE(IsConnected(*form.Data()));

        // Another address answers nothing: the set-up fails with the
        // driver's own text and no connection stays open.
        WhenModal([&](QWidget* dialog) {
            Child<QLineEdit>(dialog, "Edit1")->setText("6");
            Child<QLineEdit>(dialog, "Edit4")->setText("50");
            Click(dialog, "Button1");
            panel = FromQt(Child<QLabel>(dialog, "Panel1")->text());
        });
        form.findChild<QAction*>("Pipojen1")->trigger();
        EXPECT_FALSE(panel.empty());
        EXPECT_EQ(panel.find("Připojení úspěšně"), std::string::npos);
        EXPECT_FALSE(IsConnected(*form.Data()));
        EXPECT_EQ(form.PanelText(1), " Adresa  5");
        form.close();
    }
    std::ifstream in(ini, std::ios::binary);
    std::stringstream saved;
    saved << in.rdbuf();
    EXPECT_NE(saved.str().find("Rozhraní=RQ-1318\r\n"), std::string::npos);
    EXPECT_NE(saved.str().find("UDP port=" + std::to_string(sim.UdpPort()) + "\r\n"), std::string::npos);
    EXPECT_NE(saved.str().find("Rychlost=19200\r\n"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace
