// The live-value dialogs against rq905-sim, through the real LAN converter
// driver loaded the way the program loads it.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "SimProcess.h"
#include "core/Dekl.h"
#include "core/IntText.h"
#include "ui/OkamDIN.h"
#include "ui/OkamDOUT.h"
#include "ui/OkamPWM.h"
#include "ui/Prubeh.h"
#include "ui/QtText.h"
#include "ui/StatReg.h"
#include "ui/StatusLine.h"

namespace {

constexpr uint8_t kAddress = 7;
constexpr int kWaitMs = 10000;

template <class T>
T* Child(const QWidget* parent, const std::string& name) {
    return parent->findChild<T*>(QString::fromStdString(name));
}

std::string StatusOf(const QWidget* dialog) { return Child<TStatusLine>(dialog, "StatusBar1")->Text(); }

std::string Bits(const QWidget* dialog, const std::string& prefix) {
    std::string bits;
    for (int r = 0; r < 8; ++r) bits += FromQt(Child<QLabel>(dialog, prefix + std::to_string(r))->text());
    return bits;
}

class LiveE2ETest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/rq905-live-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_sim = std::make_unique<simharness::SimProcess>(
            RQ905_SIM_EXECUTABLE,
            std::vector<std::string>{"--udp", "0", "--fresh", "--quiet", "--state", m_dir + "/sim.state",
                                     "--address", std::to_string(kAddress)});
        ASSERT_TRUE(m_sim->Ready());

        ASSERT_TRUE(guitest::ConnectUdp(m_rec, m_sim->UdpPort(), kAddress));
    }
    void TearDown() override {
        if (IsConnected(m_rec)) CloseInterface(m_rec.Kind, m_rec.Handle);
        if (m_sim) m_sim->Stop();
        std::filesystem::remove_all(m_dir);
    }
    // The simulator's own account of the module, e.g. "... outputs 0x81 ...".
    std::string Module() {
        EXPECT_EQ(m_sim->Command("show"), "ok");
        const auto lines = m_sim->Lines();
        const std::string head = "module " + std::to_string(kAddress) + ":";
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            if (it->rfind(head, 0) == 0) return *it;
        }
        return "";
    }
    std::string OkText() const { return " " + ResultMessage(kKindLan, 0); }

    std::string m_dir;
    std::unique_ptr<simharness::SimProcess> m_sim;
    TData m_rec;
};

TEST_F(LiveE2ETest, PwmValueReachesTheModule) {
    TForm3 form;
    form.SetData(&m_rec);
    form.show();
    for (const char* typed : {"1000", "$FFFF", "256"}) {
        Child<QLineEdit>(&form, "Edit1")->setText(ToQt(typed));
        QTest::mouseClick(Child<QPushButton>(&form, "Button1"), Qt::LeftButton);
        EXPECT_EQ(StatusOf(&form), " Hodnota zapsána") << typed;
        const int32_t expected = StrToIntDef(typed, -1);
        EXPECT_NE(Module().find(", pwm " + std::to_string(expected) + ","), std::string::npos) << Module();
    }
}

TEST_F(LiveE2ETest, OutputsReachTheModule) {
    TForm9 form;
    form.SetData(&m_rec);
    form.show();
    Child<QCheckBox>(&form, "DOUT0")->setChecked(true);
    Child<QCheckBox>(&form, "DOUT7")->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(&form, "Button1"), Qt::LeftButton);
    EXPECT_EQ(StatusOf(&form), " Data zapsána");
    EXPECT_NE(Module().find("outputs 0x81"), std::string::npos) << Module();
    Child<QCheckBox>(&form, "DOUT0")->setChecked(false);
    Child<QCheckBox>(&form, "DOUT3")->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(&form, "Button1"), Qt::LeftButton);
    EXPECT_NE(Module().find("outputs 0x88"), std::string::npos) << Module();
}

TEST_F(LiveE2ETest, TheMonitorFollowsTheInputs) {
    ASSERT_EQ(m_sim->Command("inputs 0xA5"), "ok");
    TForm11 form;
    form.SetData(&m_rec);
    form.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Bits(&form, "Value") == "10100101"; }, kWaitMs))
        << Bits(&form, "Value");
    EXPECT_EQ(StatusOf(&form), OkText());
    ASSERT_EQ(m_sim->Command("inputs 0x0E"), "ok");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Bits(&form, "Value") == "01110000"; }, kWaitMs))
        << Bits(&form, "Value");
}

TEST_F(LiveE2ETest, ASilentModuleLeavesTheLastReadingAndPollingResumes) {
    ASSERT_EQ(m_sim->Command("inputs 0x3C"), "ok");
    TForm11 form;
    form.SetData(&m_rec);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Bits(&form, "Value") == "00111100"; }, kWaitMs));
    ASSERT_EQ(m_sim->Command("silent on"), "ok");
    ASSERT_EQ(m_sim->Command("inputs 0xC3"), "ok");
    EXPECT_TRUE(QTest::qWaitFor([&] { return StatusOf(&form) != OkText(); }, kWaitMs));
    EXPECT_FALSE(StatusOf(&form).empty());
    EXPECT_EQ(Bits(&form, "Value"), "00111100");
    ASSERT_EQ(m_sim->Command("silent off"), "ok");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Bits(&form, "Value") == "11000011"; }, kWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return StatusOf(&form) == OkText(); }, kWaitMs));
}

TEST_F(LiveE2ETest, StatusBitsAreShownAndCleared) {
    ASSERT_EQ(m_sim->Command("status 0x42"), "ok");
    TForm15 form;
    form.SetData(&m_rec);
    form.show();
    // FN and ERR24 raised here; the module itself may have more set.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::string d1 = Bits(&form, "D1Value");
            return d1[1] == '1' && d1[6] == '1';
        },
        kWaitMs))
        << Bits(&form, "D1Value");
    EXPECT_EQ(StatusOf(&form), OkText());

    Child<TStatusLine>(&form, "StatusBar1")->Show(" before the clear");
    QTest::mouseClick(Child<QPushButton>(&form, "Button1"), Qt::LeftButton);
    EXPECT_EQ(StatusOf(&form), " before the clear");
    EXPECT_NE(Module().find("status 0x00000000"), std::string::npos) << Module();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Bits(&form, "D1Value") + Bits(&form, "D2Value") + Bits(&form, "D3Value") +
                       Bits(&form, "D4Value") ==
                   std::string(32, '0');
        },
        kWaitMs));
    EXPECT_EQ(StatusOf(&form), OkText());
}

// The trend window on its own timer: the module's inputs and status bits
// as read, the outputs as the outputs dialog wrote them, and a line in
// the recording for every reading.
TEST_F(LiveE2ETest, TheTrendPlotsAndRecordsWhatTheModuleDoes) {
    ASSERT_EQ(m_sim->Command("inputs 0xA5"), "ok");
    ASSERT_EQ(m_sim->Command("status 0x40"), "ok");
    TPrubeh trend;
    trend.SetData(&m_rec);
    trend.show();
    const std::string path = m_dir + "/trend.csv";
    ASSERT_TRUE(trend.StartRecording(QString::fromStdString(path)));
    TForm9 outputs;
    outputs.SetData(&m_rec);
    outputs.show();
    Child<QCheckBox>(&outputs, "DOUT6")->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(&outputs, "Button1"), Qt::LeftButton);
    ASSERT_EQ(m_sim->Command("inputs 0x0F"), "ok");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::size_t n = trend.Ring().Size();
            if (n < 5) return false;
            const TTrendReading r = trend.Ring().At(n - 1).Reading();
            return r.inputs == 0x0F && r.doutKnown;
        },
        kWaitMs));
    trend.close();
    const TTrendReading last = trend.Ring().At(trend.Ring().Size() - 1).Reading();
    EXPECT_TRUE(last.inputsRead && last.statusRead);
    EXPECT_EQ(last.dout, 0x40);
    EXPECT_NE(last.status & 0x40u, 0u);
    EXPECT_FALSE(last.pwmKnown);
    std::ifstream file(path);
    std::string line;
    std::size_t lines = 0;
    while (std::getline(file, line)) ++lines;
    // The header, then one line for each reading since the recording began.
    EXPECT_EQ(lines, trend.Ring().Size() + 1);
}

}  // namespace
