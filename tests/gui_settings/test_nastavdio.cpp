// The digital I/O settings dialog against the recording driver.
#include <QCheckBox>
#include <QGroupBox>
#include <QTimer>

#include "SettingsTest.h"
#include "ui/NastavDIO.h"

using namespace guitest;
using namespace settingstest;

namespace {

struct Group {
    const char* name;
    const char* title;
    int first;  // number of the box of bit 0
    const char* prefix;
};
// Left to right: DIN negation, DOUT negation, DOUT initial state.
constexpr std::array<Group, 3> kGroups = {Group{"GroupBox1", " Negace DIN ", 1, "DIN"},
                                          Group{"GroupBox2", "Negace DOUT ", 33, "DOUT"},
                                          Group{"GroupBox3", " Počáteční stav DOUT ", 65, "DOUT"}};

QCheckBox* Box(const QWidget* d, int number) {
    return Child<QCheckBox>(d, ("CheckBox" + std::to_string(number)).c_str());
}

// The eight boxes of a group as a byte, bit n from the box of DINn/DOUTn.
unsigned Ticks(const QWidget* d, const Group& g) {
    unsigned bits = 0;
    for (int n = 0; n < 8; ++n) {
        if (Box(d, g.first + n)->isChecked()) bits |= 1u << n;
    }
    return bits;
}

void Tick(const QWidget* d, const Group& g, unsigned bits) {
    for (int n = 0; n < 8; ++n) Box(d, g.first + n)->setChecked(((bits >> n) & 1u) != 0);
}

using DioDialogTest = SettingsDialogTest;

TEST_F(DioDialogTest, GroupsBoxesCaptionsAndTabOrder) {
    TForm14 dialog;
    EXPECT_EQ(FromQt(dialog.windowTitle()), "Nastavení digitálních vstupů/výstupů");
    EXPECT_EQ(dialog.size(), QSize(451, 273));
    std::vector<QWidget*> order;
    int lastX = -1;
    for (const Group& g : kGroups) {
        auto* group = Child<QGroupBox>(&dialog, g.name);
        ASSERT_NE(group, nullptr) << g.name;
        EXPECT_EQ(FromQt(group->title()), g.title);
        EXPECT_GT(group->x(), lastX);
        lastX = group->x();
        int lastY = -1;
        for (int n = 0; n < 8; ++n) {
            QCheckBox* box = Box(&dialog, g.first + n);
            ASSERT_NE(box, nullptr) << g.first + n;
            EXPECT_EQ(box->parentWidget(), group);
            EXPECT_EQ(FromQt(box->text()), std::string(g.prefix) + std::to_string(n));
            EXPECT_FALSE(box->isChecked());
            EXPECT_GT(box->y(), lastY);
            lastY = box->y();
            order.push_back(box);
        }
    }
    for (const char* name : {"Button1", "Button2", "Button3", "Button4"})
        order.push_back(Child<QWidget>(&dialog, name));
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
}

TEST_F(DioDialogTest, OpensOnTheDefaultsAndSendsNothing) {
    auto dialog = Open<TForm14>();
    EXPECT_EQ(Ticks(dialog.get(), kGroups[0]), 255u);
    EXPECT_EQ(Ticks(dialog.get(), kGroups[1]), 255u);
    EXPECT_EQ(Ticks(dialog.get(), kGroups[2]), 0u);
    EXPECT_EQ(StatusOf(dialog.get()), " ");
    EXPECT_TRUE(Rec().SentRequests().empty());
}

TEST_F(DioDialogTest, WriteOfDin0AndDin7) {
    auto dialog = Open<TForm14>();
    Tick(dialog.get(), kGroups[0], 0);
    Box(dialog.get(), 1)->setChecked(true);
    Box(dialog.get(), 8)->setChecked(true);
    Tick(dialog.get(), kGroups[1], 0);
    Click(dialog.get(), "Button1");
    EXPECT_EQ(m_sent, (std::vector<std::string>{Write(32, 0), Read(32), Write(33, 129), Read(33),
                                                Write(34, 0), Read(34)}));
    EXPECT_EQ(m_during, (std::vector<std::string>{WriteAt(0), WriteAt(0), WriteAt(8), WriteAt(8), WriteAt(41),
                                                  WriteAt(41)}));
    for (const auto& request : Rec().SentRequests()) EXPECT_EQ(request[0], 7u);
    EXPECT_EQ(StatusOf(dialog.get()), kWritten);
    EXPECT_EQ(m_data.ModuleConfig, TModuleConfig{});
}

TEST_F(DioDialogTest, ReadTicksEachBitInItsBox) {
    m_module.registers = {{32, 0x30}, {33, 0x0C}, {34, 5}};
    auto dialog = Open<TForm14>();
    Click(dialog.get(), "Button2");
    EXPECT_EQ(m_sent, (std::vector<std::string>{Read(32), Read(33), Read(34)}));
    EXPECT_EQ(m_during, (std::vector<std::string>{ReadAt(0), ReadAt(8), ReadAt(41)}));
    EXPECT_EQ(StatusOf(dialog.get()), kRead);
    // 5: DOUT0 and DOUT2 of the "Negace DOUT " group.
    for (int n = 0; n < 8; ++n) EXPECT_EQ(Box(dialog.get(), 33 + n)->isChecked(), n == 0 || n == 2) << n;
    EXPECT_EQ(Ticks(dialog.get(), kGroups[0]), 0x0Cu);
    EXPECT_EQ(Ticks(dialog.get(), kGroups[2]), 0x30u);
}

TEST_F(DioDialogTest, ReadFailingAtTheDinNegationKeepsTheOtherGroupsOfTheCopy) {
    m_module.registers = {{32, 0xA0}, {33, 0x0C}, {34, 5}};
    m_module.failAt = 1;
    TModuleConfig before;
    before.DinNegation[0] = 0x11;
    before.DoutNegation[0] = 0x22;
    before.DoutInitial[0] = 0x33;
    m_data.ModuleConfig = before;
    auto dialog = Open<TForm14>();
    for (const Group& g : kGroups) Tick(dialog.get(), g, 0xFF);
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), " E5");
    EXPECT_EQ(Ticks(dialog.get(), kGroups[2]), 0xA0u);
    EXPECT_EQ(Ticks(dialog.get(), kGroups[0]), 0x11u);
    EXPECT_EQ(Ticks(dialog.get(), kGroups[1]), 0x22u);
    EXPECT_EQ(m_sent.size(), 2u);
}

TEST_F(DioDialogTest, ReadBackOfRegister32DiffersAndNothingElseIsTouched) {
    m_module.skewAt = 1;
    auto dialog = Open<TForm14>();
    Click(dialog.get(), "Button1");
    EXPECT_EQ(StatusOf(dialog.get()), kMismatch);
    EXPECT_EQ(m_sent, (std::vector<std::string>{Write(32, 0), Read(32)}));
    EXPECT_EQ(m_module.registers.count(33), 0u);
    EXPECT_EQ(m_module.registers.count(34), 0u);
}

TEST_F(DioDialogTest, EventsRunBetweenTransactions) {
    auto dialog = Open<TForm14>();
    bool ran = false;
    std::vector<bool> seen;
    Rec().duringSend = [&] { seen.push_back(ran); };
    QTimer::singleShot(0, [&] { ran = true; });
    dialog->Button1Click();
    EXPECT_EQ(seen, (std::vector<bool>{false, true, true, true, true, true}));
}

TEST_F(DioDialogTest, OkStoresTheBoxesAndClearsTheUpperElements) {
    Disconnected();
    TModuleConfig before;
    before.DinNegation = {1, 2, 3, 4};
    before.DoutNegation = {5, 6, 7, 8};
    before.DoutInitial = {9, 10, 11, 12};
    before.BusAddress = 77;
    before.PwmInitial = 999;
    m_data.ModuleConfig = before;
    {
        auto dialog = Open<TForm14>();
        Box(dialog.get(), 3)->setChecked(true);    // DIN2
        Box(dialog.get(), 40)->setChecked(true);   // DOUT7 negation
        Box(dialog.get(), 65)->setChecked(false);  // DOUT0 initial
        Click(dialog.get(), "Button3");
        EXPECT_FALSE(dialog->isVisible());
    }
    TModuleConfig expected = before;
    expected.DinNegation = {1 | 4, 0, 0, 0};
    expected.DoutNegation = {5 | 128, 0, 0, 0};
    expected.DoutInitial = {8, 0, 0, 0};
    EXPECT_EQ(m_data.ModuleConfig, expected);
    auto again = Open<TForm14>();
    EXPECT_EQ(Ticks(again.get(), kGroups[0]), 5u);
    EXPECT_EQ(Ticks(again.get(), kGroups[1]), 133u);
    EXPECT_EQ(Ticks(again.get(), kGroups[2]), 8u);
    EXPECT_TRUE(m_sent.empty());
}

}  // namespace
