// The PWM output settings dialog against the recording driver.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include "SettingsTest.h"
#include "ui/NastavPWM.h"

using namespace guitest;
using namespace settingstest;

namespace {

const std::array<const char*, 7> kPeriods = {"1,024 s",  "2,048 s",  "4,096 s", "8,192 s",
                                             "16,384 s", "32,768 s", "65,535 s"};

QRadioButton* Radio(const QWidget* d, int number) {
    return Child<QRadioButton>(d, ("RadioButton" + std::to_string(number)).c_str());
}
QLineEdit* Edit(const QWidget* d) { return Child<QLineEdit>(d, "Edit1"); }

// Number of the checked period button, 0 when none is.
int CheckedPeriod(const QWidget* d) {
    int checked = 0;
    for (int n = 1; n <= 7; ++n) {
        if (Radio(d, n)->isChecked()) checked = checked == 0 ? n : -1;
    }
    return checked;
}

using PwmDialogTest = SettingsDialogTest;

TEST_F(PwmDialogTest, ControlsCaptionsAndTabOrder) {
    TForm4 dialog;
    EXPECT_EQ(FromQt(dialog.windowTitle()), "PWM výstup");
    EXPECT_EQ(dialog.size(), QSize(396, 271));
    auto* periods = Child<QGroupBox>(&dialog, "GroupBox1");
    auto* negation = Child<QGroupBox>(&dialog, "GroupBox2");
    ASSERT_NE(periods, nullptr);
    ASSERT_NE(negation, nullptr);
    EXPECT_EQ(FromQt(periods->title()), " Perioda PWM  ");
    EXPECT_EQ(FromQt(negation->title()), " Negace výstupu ");
    EXPECT_LT(periods->x(), negation->x());
    int lastY = -1;
    for (int n = 1; n <= 7; ++n) {
        EXPECT_EQ(FromQt(Radio(&dialog, n)->text()), kPeriods[static_cast<std::size_t>(n - 1)]);
        EXPECT_EQ(Radio(&dialog, n)->parentWidget(), periods);
        EXPECT_GT(Radio(&dialog, n)->y(), lastY);
        lastY = Radio(&dialog, n)->y();
    }
    EXPECT_EQ(FromQt(Radio(&dialog, 8)->text()), "vypnuta");
    EXPECT_EQ(FromQt(Radio(&dialog, 9)->text()), "zapnuta");
    EXPECT_LT(Radio(&dialog, 8)->y(), Radio(&dialog, 9)->y());
    EXPECT_EQ(Radio(&dialog, 9)->parentWidget(), negation);
    for (int n = 1; n <= 9; ++n) EXPECT_FALSE(Radio(&dialog, n)->isChecked()) << n;
    auto* label = Child<QLabel>(&dialog, "Label1");
    EXPECT_EQ(FromQt(label->text()), "Inicializační hodnota  (0-65535)");
    EXPECT_GT(Edit(&dialog)->y(), label->y());
    EXPECT_GT(Edit(&dialog)->y(), negation->geometry().bottom());

    std::vector<QWidget*> order;
    for (int n = 1; n <= 7; ++n) order.push_back(Radio(&dialog, n));
    order.push_back(Edit(&dialog));
    for (const char* name : {"Button1", "Button2", "Button3", "Button4"})
        order.push_back(Child<QWidget>(&dialog, name));
    order.push_back(Radio(&dialog, 8));
    order.push_back(Radio(&dialog, 9));
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
}

TEST_F(PwmDialogTest, OpensOnTheDefaultsAndSendsNothing) {
    auto dialog = Open<TForm4>();
    EXPECT_EQ(CheckedPeriod(dialog.get()), 1);
    EXPECT_TRUE(Radio(dialog.get(), 8)->isChecked());
    EXPECT_FALSE(Radio(dialog.get(), 9)->isChecked());
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "0");
    EXPECT_EQ(StatusOf(dialog.get()), " ");
    EXPECT_TRUE(Rec().SentRequests().empty());
}

struct InitialCase {
    const char* text;
    unsigned low;
    unsigned high;
};
void PrintTo(const InitialCase& c, std::ostream* os) { *os << c.text; }

class PwmInitialTest : public PwmDialogTest, public ::testing::WithParamInterface<InitialCase> {};

TEST_P(PwmInitialTest, WritesBothBytesWithEchoingReadBacks) {
    auto dialog = Open<TForm4>();
    Edit(dialog.get())->setText(GetParam().text);
    Click(dialog.get(), "Button1");
    const unsigned low = GetParam().low, high = GetParam().high;
    EXPECT_EQ(m_sent, (std::vector<std::string>{Write(35, low), Read(35, low), Write(36, high),
                                                Read(36, high), Write(37, 0), Read(37, 0)}));
    EXPECT_EQ(m_during, (std::vector<std::string>{WriteAt(0), WriteAt(0), WriteAt(33), WriteAt(33),
                                                  WriteAt(66), WriteAt(66)}));
    for (const auto& request : Rec().SentRequests()) EXPECT_EQ(request[0], 7u);
    EXPECT_EQ(StatusOf(dialog.get()), kWritten);
}

INSTANTIATE_TEST_SUITE_P(Values, PwmInitialTest,
                         ::testing::Values(InitialCase{"65535", 255, 255}, InitialCase{"256", 0, 1},
                                           InitialCase{"0", 0, 0}, InitialCase{"$1234", 0x34, 0x12}));

class PwmBadInitialTest : public PwmDialogTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PwmBadInitialTest, RefusedAndNothingSentOrStored) {
    auto dialog = Open<TForm4>();
    Edit(dialog.get())->setText(GetParam());
    Click(dialog.get(), "Button1");
    EXPECT_EQ(StatusOf(dialog.get()), " Inicializační hodnota musí být v rozsahu 0-65535.");
    EXPECT_TRUE(m_sent.empty());
    Radio(dialog.get(), 9)->setChecked(true);
    Click(dialog.get(), "Button3");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(m_data.ModuleConfig, TModuleConfig{});
}

INSTANTIATE_TEST_SUITE_P(Texts, PwmBadInitialTest, ::testing::Values("65536", "-1", "abc", "", "1 "));

TEST_F(PwmDialogTest, PeriodAndNegationMakeTheModeByte) {
    auto dialog = Open<TForm4>();
    Radio(dialog.get(), 6)->setChecked(true);
    Radio(dialog.get(), 9)->setChecked(true);
    Click(dialog.get(), "Button1");
    ASSERT_EQ(m_sent.size(), 6u);
    EXPECT_EQ(m_sent[4], Write(37, 133));
    EXPECT_EQ(m_sent[5], Read(37, 133));
}

TEST_F(PwmDialogTest, ReadShowsProgressAndSelectsPeriodAndNegation) {
    m_module.registers = {{35, 0x10}, {36, 0x27}, {37, 134}};
    auto dialog = Open<TForm4>();
    Click(dialog.get(), "Button2");
    EXPECT_EQ(m_sent, (std::vector<std::string>{Read(35), Read(36), Read(37)}));
    EXPECT_EQ(m_during, (std::vector<std::string>{ReadAt(0), ReadAt(33), ReadAt(66)}));
    EXPECT_EQ(StatusOf(dialog.get()), kRead);
    EXPECT_EQ(CheckedPeriod(dialog.get()), 7);
    EXPECT_TRUE(Radio(dialog.get(), 9)->isChecked());
    EXPECT_FALSE(Radio(dialog.get(), 8)->isChecked());
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "10000");
}

class PwmCodeSevenTest : public PwmDialogTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(PwmCodeSevenTest, LeavesThePeriodAsItWasAndWriteUsesIt) {
    m_module.registers = {{35, 0}, {36, 0}, {37, GetParam()}};
    auto dialog = Open<TForm4>();
    Radio(dialog.get(), 3)->setChecked(true);
    Click(dialog.get(), "Button2");
    EXPECT_EQ(CheckedPeriod(dialog.get()), 3);
    const bool negated = GetParam() >= 128;
    EXPECT_EQ(Radio(dialog.get(), 9)->isChecked(), negated);
    EXPECT_EQ(dialog->Copy().PwmMode, GetParam());
    ClearLogs();
    Click(dialog.get(), "Button1");
    ASSERT_EQ(m_sent.size(), 6u);
    EXPECT_EQ(m_sent[4], Write(37, 2 + (negated ? 128 : 0)));
}

INSTANTIATE_TEST_SUITE_P(Codes, PwmCodeSevenTest, ::testing::Values(7u, 135u));

TEST_F(PwmDialogTest, ReadFailingAtTheHighByteRestoresTheOldInitialValue) {
    m_module.registers = {{35, 0x10}, {36, 0x27}, {37, 134}};
    m_module.failAt = 1;
    m_data.ModuleConfig.PwmInitial = 500;
    m_data.ModuleConfig.PwmMode = 2;
    auto dialog = Open<TForm4>();
    Edit(dialog.get())->setText("123");
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), " E5");
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "500");
    EXPECT_EQ(CheckedPeriod(dialog.get()), 3);
}

TEST_F(PwmDialogTest, ReadFailingAtTheModeShowsTheNewInitialValueWithTheOldMode) {
    m_module.registers = {{35, 0x10}, {36, 0x27}, {37, 134}};
    m_module.failAt = 2;
    m_data.ModuleConfig.PwmInitial = 500;
    m_data.ModuleConfig.PwmMode = 2;
    auto dialog = Open<TForm4>();
    Radio(dialog.get(), 5)->setChecked(true);
    Radio(dialog.get(), 9)->setChecked(true);
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), " E5");
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "10000");
    EXPECT_EQ(CheckedPeriod(dialog.get()), 3);
    EXPECT_TRUE(Radio(dialog.get(), 8)->isChecked());
}

TEST_F(PwmDialogTest, MismatchAtTheLowByteStopsEverything) {
    m_module.skewAt = 1;
    auto dialog = Open<TForm4>();
    Edit(dialog.get())->setText("300");
    Click(dialog.get(), "Button1");
    EXPECT_EQ(StatusOf(dialog.get()), kMismatch);
    EXPECT_EQ(m_sent, (std::vector<std::string>{Write(35, 44), Read(35, 44)}));
}

TEST_F(PwmDialogTest, NoEventsRunDuringASequence) {
    auto dialog = Open<TForm4>();
    bool ran = false;
    std::vector<bool> seen;
    Rec().duringSend = [&] { seen.push_back(ran); };
    QTimer::singleShot(0, [&] { ran = true; });
    dialog->Button1Click();
    dialog->Button2Click();
    EXPECT_EQ(seen, std::vector<bool>(9, false));
}

TEST_F(PwmDialogTest, OkStoresWithoutAConnection) {
    Disconnected();
    {
        auto dialog = Open<TForm4>();
        Edit(dialog.get())->setText("4660");
        Radio(dialog.get(), 2)->setChecked(true);
        Radio(dialog.get(), 9)->setChecked(true);
        Click(dialog.get(), "Button3");
    }
    EXPECT_EQ(m_data.ModuleConfig.PwmInitial, 4660);
    EXPECT_EQ(m_data.ModuleConfig.PwmMode, 129);
    auto again = Open<TForm4>();
    EXPECT_EQ(CheckedPeriod(again.get()), 2);
    EXPECT_TRUE(Radio(again.get(), 9)->isChecked());
    EXPECT_EQ(FromQt(Edit(again.get())->text()), "4660");
}

}  // namespace
