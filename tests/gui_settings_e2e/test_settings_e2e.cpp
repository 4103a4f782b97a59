// The three settings dialogs against rq905-sim, through the real LAN
// converter driver loaded the way the program loads it: what "Zapsat"
// writes must be in the simulator's state file, and "Přečíst" must bring
// it back, also after the simulator has been restarted on that file.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "SimProcess.h"
#include "core/Dekl.h"
#include "ui/NastavAdr.h"
#include "ui/NastavDIO.h"
#include "ui/NastavPWM.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

constexpr uint8_t kAddress = 7;

template <class T>
T* Child(const QWidget* parent, const std::string& name) {
    return parent->findChild<T*>(QString::fromStdString(name));
}
std::string StatusOf(const QWidget* dialog) { return Child<TStatusLine>(dialog, "StatusBar1")->Text(); }
void Click(const QWidget* dialog, const char* name) {
    QTest::mouseClick(Child<QPushButton>(dialog, name), Qt::LeftButton);
}

const std::string kWritten = " Konfigurace zapsána.";
const std::string kRead = " Konfigurace přečtena.";

class SettingsE2ETest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/rq905-settings-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_state = m_dir + "/sim.state";
    }
    void TearDown() override {
        Disconnect();
        if (m_sim) m_sim->Stop();
        std::filesystem::remove_all(m_dir);
    }

    // fresh: factory settings at kAddress; otherwise the state file decides.
    void StartSim(bool fresh, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--udp", "0", "--state", m_state};
        if (fresh) {
            for (const char* a : {"--fresh", "--address"}) args.emplace_back(a);
            args.push_back(std::to_string(kAddress));
        }
        args.insert(args.end(), extra.begin(), extra.end());
        m_sim = std::make_unique<simharness::SimProcess>(RQ905_SIM_EXECUTABLE, args);
        ASSERT_TRUE(m_sim->Ready());
    }
    void StopSim() {
        Disconnect();
        m_sim->Stop();
        m_sim.reset();
    }
    void Connect(uint8_t address) { ASSERT_TRUE(guitest::ConnectUdp(m_rec, m_sim->UdpPort(), address)); }
    void Disconnect() {
        if (IsConnected(m_rec)) CloseInterface(m_rec.Kind, m_rec.Handle);
        m_rec.Connected = 0;
        m_rec.Handle = 0;
    }
    // Register -> value from the state file's one module line.
    std::map<int, int> State() const {
        std::ifstream in(m_state);
        std::string line;
        std::map<int, int> regs;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string word;
            words >> word;
            if (word != "module") continue;
            while (words >> word) {
                const auto eq = word.find('=');
                if (eq != std::string::npos)
                    regs[std::stoi(word.substr(0, eq))] = std::stoi(word.substr(eq + 1));
            }
        }
        return regs;
    }
    template <class TForm>
    std::unique_ptr<TForm> Open() {
        auto dialog = std::make_unique<TForm>();
        dialog->SetData(&m_rec);
        dialog->show();
        return dialog;
    }

    std::string m_dir;
    std::string m_state;
    std::unique_ptr<simharness::SimProcess> m_sim;
    TData m_rec;
};

TEST_F(SettingsE2ETest, AddressAndSpeedPersistAndTakeEffectAtTheNextStart) {
    StartSim(true);
    Connect(kAddress);
    {
        auto dialog = Open<TForm12>();
        Child<QLineEdit>(dialog.get(), "Edit1")->setText("23");
        Child<QComboBox>(dialog.get(), "ComboBox1")->setCurrentIndex(6);
        Click(dialog.get(), "Button1");
        EXPECT_EQ(StatusOf(dialog.get()), kWritten);
        // The module still answers at its old address until restarted.
        Child<QLineEdit>(dialog.get(), "Edit1")->setText("0");
        Click(dialog.get(), "Button2");
        EXPECT_EQ(StatusOf(dialog.get()), kRead);
        EXPECT_EQ(FromQt(Child<QLineEdit>(dialog.get(), "Edit1")->text()), "23");
    }
    EXPECT_EQ(State()[63], 23);
    EXPECT_EQ(State()[62], 6);

    StopSim();
    StartSim(false);
    Connect(23);
    auto dialog = Open<TForm12>();
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), kRead);
    EXPECT_EQ(FromQt(Child<QLineEdit>(dialog.get(), "Edit1")->text()), "23");
    EXPECT_EQ(FromQt(Child<QComboBox>(dialog.get(), "ComboBox1")->currentText()), "38400 Bd");
}

TEST_F(SettingsE2ETest, DigitalIoRegistersPersist) {
    StartSim(true);
    Connect(kAddress);
    const std::map<int, unsigned> ticks = {{1, 0x81}, {33, 0x42}, {65, 0x3C}};  // first box -> bits
    {
        auto dialog = Open<TForm14>();
        for (const auto& [first, bits] : ticks) {
            for (int n = 0; n < 8; ++n) {
                Child<QCheckBox>(dialog.get(), "CheckBox" + std::to_string(first + n))
                    ->setChecked(((bits >> n) & 1u) != 0);
            }
        }
        Click(dialog.get(), "Button1");
        EXPECT_EQ(StatusOf(dialog.get()), kWritten);
    }
    EXPECT_EQ(State()[32], 0x3C);
    EXPECT_EQ(State()[33], 0x81);
    EXPECT_EQ(State()[34], 0x42);

    StopSim();
    StartSim(false);
    Connect(kAddress);
    auto dialog = Open<TForm14>();
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), kRead);
    for (const auto& [first, bits] : ticks) {
        for (int n = 0; n < 8; ++n) {
            EXPECT_EQ(Child<QCheckBox>(dialog.get(), "CheckBox" + std::to_string(first + n))->isChecked(),
                      ((bits >> n) & 1u) != 0)
                << first + n;
        }
    }
}

TEST_F(SettingsE2ETest, PwmRegistersPersist) {
    StartSim(true);
    Connect(kAddress);
    {
        auto dialog = Open<TForm4>();
        Child<QLineEdit>(dialog.get(), "Edit1")->setText("40000");
        Child<QRadioButton>(dialog.get(), "RadioButton6")->setChecked(true);
        Child<QRadioButton>(dialog.get(), "RadioButton9")->setChecked(true);
        Click(dialog.get(), "Button1");
        EXPECT_EQ(StatusOf(dialog.get()), kWritten);
    }
    EXPECT_EQ(State()[35], 40000 % 256);
    EXPECT_EQ(State()[36], 40000 / 256);
    EXPECT_EQ(State()[37], 5 + 128);

    StopSim();
    StartSim(false);
    Connect(kAddress);
    auto dialog = Open<TForm4>();
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), kRead);
    EXPECT_EQ(FromQt(Child<QLineEdit>(dialog.get(), "Edit1")->text()), "40000");
    EXPECT_TRUE(Child<QRadioButton>(dialog.get(), "RadioButton6")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(dialog.get(), "RadioButton9")->isChecked());
}

TEST_F(SettingsE2ETest, AStuckRegisterIsCaughtByTheReadBack) {
    StartSim(true, {"--stuck-register", "36"});
    Connect(kAddress);
    const int before36 = State()[36];
    auto dialog = Open<TForm4>();
    Child<QLineEdit>(dialog.get(), "Edit1")->setText("$ABCD");
    Click(dialog.get(), "Button1");
    EXPECT_EQ(StatusOf(dialog.get()), " Chyba zápisu dat.");
    EXPECT_EQ(State()[35], 0xCD);
    EXPECT_EQ(State()[36], before36);
    // The sequence stopped before the mode register.
    EXPECT_EQ(State()[37], 0);
}

TEST_F(SettingsE2ETest, ASilentModuleShowsTheDriversText) {
    StartSim(true);
    Connect(kAddress);
    ASSERT_EQ(m_sim->Command("silent on"), "ok");
    auto dialog = Open<TForm12>();
    Click(dialog.get(), "Button2");
    const std::string status = StatusOf(dialog.get());
    EXPECT_EQ(status, " " + ResultMessage(kKindLan, 11));
    EXPECT_GT(status.size(), 1u);
    // Nothing was read, so the controls show the dialog's copy.
    EXPECT_EQ(FromQt(Child<QLineEdit>(dialog.get(), "Edit1")->text()), "1");
}

}  // namespace
