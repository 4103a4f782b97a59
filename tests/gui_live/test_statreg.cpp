// The status register monitor against the recording driver.
#include <QPushButton>

#include "LiveTest.h"
#include "ui/StatReg.h"

using namespace guitest;
using namespace livetest;
using namespace std::chrono_literals;

namespace {

using Columns = std::array<std::string, 4>;

Columns Shown(const QWidget* form) {
    return {Bits(form, "D1Value"), Bits(form, "D2Value"), Bits(form, "D3Value"), Bits(form, "D4Value")};
}

int GreyedOf(const QWidget* form) {
    return Greyed(form, "D1Value") + Greyed(form, "D2Value") + Greyed(form, "D3Value") +
           Greyed(form, "D4Value");
}

class StatRegTest : public LiveTest {
  protected:
    void OpenWithoutTimer() {
        Child<QTimer>(&m_form, "Timer1")->stop();
        m_form.SetData(&m_rec);
        m_form.show();
    }
    TForm15 m_form;
};

TEST_F(StatRegTest, LayoutTextsFocusAndTimer) {
    const auto* timer = Child<QTimer>(&m_form, "Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 500);
    EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
    m_form.show();
    EXPECT_EQ(FromQt(m_form.windowTitle()), "Status registr");
    EXPECT_EQ(m_form.size(), QSize(400, 276));
    const std::array<std::array<const char*, 8>, 4> names{{
        {"---", "FN", "PRF", "---", "PWR", "RST", "ERR24", "---"},
        {"---", "---", "---", "---", "---", "---", "---", "---"},
        {"---", "---", "---", "---", "---", "---", "---", "---"},
        {"---", "---", "---", "---", "---", "---", "---", "---"},
    }};
    int previousPanel = -1;
    for (int c = 0; c < 4; ++c) {
        const std::string column = "D" + std::to_string(c + 1);
        const auto* panel = Child<QLabel>(&m_form, ("Panel" + std::to_string(c + 1)).c_str());
        ASSERT_NE(panel, nullptr) << c;
        EXPECT_GT(panel->x(), previousPanel);
        previousPanel = panel->x();
        for (int r = 0; r < 8; ++r) {
            const auto* name = Child<QLabel>(&m_form, (column + "Name" + std::to_string(r)).c_str());
            const auto* value = Child<QLabel>(&m_form, (column + "Value" + std::to_string(r)).c_str());
            ASSERT_TRUE(name != nullptr && value != nullptr) << column << r;
            EXPECT_EQ(FromQt(name->text()), names[c][r]) << column << r;
            EXPECT_EQ(value->parentWidget(), panel);
            const QRect onForm(value->mapTo(&m_form, QPoint(0, 0)), value->size());
            EXPECT_EQ(onForm.center().y(), name->geometry().center().y()) << column << r;
            EXPECT_GT(onForm.x(), name->geometry().right()) << column << r;
            EXPECT_LE(name->fontMetrics().horizontalAdvance(name->text()), name->width()) << column << r;
        }
    }
    EXPECT_EQ(Shown(&m_form), (Columns{"00000000", "00000000", "00000000", "00000000"}));
    const auto* clear = Child<QPushButton>(&m_form, "Button1");
    const auto* cancel = Child<QPushButton>(&m_form, "Button2");
    EXPECT_EQ(FromQt(clear->text()), "Vynulovat");
    EXPECT_EQ(FromQt(cancel->text()), "Cancel");
    EXPECT_LT(clear->geometry().right(), cancel->x());
    EXPECT_EQ(m_form.focusWidget(), cancel);
    EXPECT_EQ(StatusOf(&m_form), "");
    ExpectAllInside(&m_form);
}

struct RegisterCase {
    std::array<uint32_t, 4> bytes;  // D1..D4
    Columns shown;
};
void PrintTo(const RegisterCase& c, std::ostream* os) { *os << testing::PrintToString(c.bytes); }

class StatRegTickTest : public StatRegTest, public ::testing::WithParamInterface<RegisterCase> {};

TEST_P(StatRegTickTest, ShowsTheFourBytesColumnByColumn) {
    OpenWithoutTimer();
    Rec().replies.push_back(TRecReply{0, 0, 0xFF, GetParam().bytes});
    m_form.Timer1Timer();
    EXPECT_EQ(Sent(), (std::vector<Request>{{7, 100, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(Shown(&m_form), GetParam().shown);
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kOkText);
}

INSTANTIATE_TEST_SUITE_P(
    Registers, StatRegTickTest,
    ::testing::Values(RegisterCase{{2, 0, 0, 0}, {"01000000", "00000000", "00000000", "00000000"}},
                      RegisterCase{{64, 0, 0, 0}, {"00000010", "00000000", "00000000", "00000000"}},
                      RegisterCase{{0, 0, 0, 128}, {"00000000", "00000000", "00000000", "00000001"}},
                      RegisterCase{{0, 1, 0, 0}, {"00000000", "10000000", "00000000", "00000000"}},
                      RegisterCase{{0, 0, 0x0C, 0}, {"00000000", "00000000", "00110000", "00000000"}},
                      RegisterCase{{0x81, 0x42, 0x24, 0x18},
                                   {"10000001", "01000010", "00100100", "00011000"}},
                      RegisterCase{{255, 255, 255, 255}, {"11111111", "11111111", "11111111", "11111111"}}));

TEST_F(StatRegTest, AReadErrorKeepsTheLastReading) {
    OpenWithoutTimer();
    ReplyWith(1, 2, 4, 8);
    FailNextSend();
    ReplyWith(0x80, 0x40, 0x20, 0x10);
    m_form.Timer1Timer();
    EXPECT_EQ(GreyedOf(&m_form), 0);
    m_form.Timer1Timer();
    EXPECT_EQ(Shown(&m_form), (Columns{"10000000", "01000000", "00100000", "00010000"}));
    EXPECT_EQ(GreyedOf(&m_form), 32);
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kTimeoutText);
    m_form.Timer1Timer();
    EXPECT_EQ(Shown(&m_form), (Columns{"00000001", "00000010", "00000100", "00001000"}));
    EXPECT_EQ(GreyedOf(&m_form), 0);
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kOkText);
}

TEST_F(StatRegTest, ASuccessfulClearLeavesTheStatusBarAsItWas) {
    OpenWithoutTimer();
    TFakeModule module;
    module.statusRegister = {0x72, 0, 0, 1};
    Rec().responder = std::ref(module);
    m_form.Timer1Timer();
    FailNextSend();
    m_form.Timer1Timer();
    ASSERT_EQ(StatusOf(&m_form), std::string(" ") + kTimeoutText);
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent().back(), (Request{7, 101, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kTimeoutText);
    // The labels change only with the next read.
    EXPECT_EQ(Shown(&m_form), (Columns{"01001110", "00000000", "00000000", "10000000"}));
    m_form.Timer1Timer();
    EXPECT_EQ(Shown(&m_form), (Columns{"00000000", "00000000", "00000000", "00000000"}));
    EXPECT_EQ(Sent().size(), 4u);
}

TEST_F(StatRegTest, AFailedClearShowsTheDriverText) {
    OpenWithoutTimer();
    FailNextSend();
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent(), (std::vector<Request>{{7, 101, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kTimeoutText);
}

TEST_F(StatRegTest, WithoutAConnectionNeitherReadNorClearSends) {
    OpenWithoutTimer();
    m_rec.Connected = 0;
    m_form.Timer1Timer();
    EXPECT_EQ(StatusOf(&m_form), kNotConnectedText);
    EXPECT_EQ(GreyedOf(&m_form), 32);
    m_form.findChild<TStatusLine*>("StatusBar1")->Show(" x");
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), kNotConnectedText);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(StatRegTest, WithoutARecordNothingHappens) {
    Child<QTimer>(&m_form, "Timer1")->stop();
    m_form.show();
    m_form.Timer1Timer();
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), "");
    EXPECT_TRUE(Rec().calls.empty());
}

TEST_F(StatRegTest, BothTransactionsUseTheAddressTakenWhenShown) {
    m_rec.ModuleAddress = 250;
    OpenWithoutTimer();
    m_rec.ModuleAddress = 1;
    m_form.Timer1Timer();
    Click(&m_form, "Button1");
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][0], 250u);
    EXPECT_EQ(sent[1][0], 250u);
}

TEST_F(StatRegTest, NeitherATickNorAClearStartsInsideAReadButTheTickRunsRightAfterIt) {
    OpenWithoutTimer();
    bool nested = false;
    Rec().duringSend = [&] {
        if (nested) return;
        nested = true;
        m_form.Timer1Timer();
        m_form.Button1Click();
    };
    m_form.Timer1Timer();
    EXPECT_EQ(Sent(), (std::vector<Request>{{7, 100, 0, 0, 0, 0, 0, 0}}));
    QTest::qWait(50);
    EXPECT_EQ(Sent(), (std::vector<Request>(2, {7, 100, 0, 0, 0, 0, 0, 0})));
}

TEST_F(StatRegTest, ASlowTransactionIsFollowedByOneTickNotABurst) {
    m_form.SetData(&m_rec);
    EXPECT_EQ(PollsRightAfterASlowOne(m_form, 1600ms, 500ms, 3), 1);
}

}  // namespace
