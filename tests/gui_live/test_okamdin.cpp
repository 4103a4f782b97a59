// The digital inputs monitor against the recording driver.
#include <QPushButton>

#include "LiveTest.h"
#include "ui/OkamDIN.h"

using namespace guitest;
using namespace livetest;
using namespace std::chrono_literals;

namespace {

TEST(BitTextTest, EachBitOfAByte) {
    struct Case {
        uint8_t byte;
        unsigned bit;
        const char* text;
    };
    for (const Case& c :
         {Case{0, 0, "0"}, Case{1, 0, "1"}, Case{1, 1, "0"}, Case{0x80, 7, "1"}, Case{0x80, 6, "0"},
          Case{0x7F, 7, "0"}, Case{0xFF, 8, "0"}, Case{0xFF, 31, "0"}, Case{0x10, 4, "1"}}) {
        EXPECT_STREQ(BitText(c.byte, c.bit), c.text) << int{c.byte} << " bit " << c.bit;
    }
}

class DinTest : public LiveTest {
  protected:
    // Ticks are called by hand here; the dialog's own timer must not add
    // polls of its own.
    void OpenWithoutTimer() {
        Child<QTimer>(&m_form, "Timer1")->stop();
        m_form.SetData(&m_rec);
        m_form.show();
    }
    TForm11 m_form;
};

TEST_F(DinTest, LayoutTextsAndTimer) {
    const auto* timer = Child<QTimer>(&m_form, "Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
    m_form.show();
    EXPECT_EQ(FromQt(m_form.windowTitle()), "Okamžité hodnoty digitálních vstupů");
    EXPECT_EQ(m_form.size(), QSize(291, 282));
    EXPECT_EQ(Bits(&m_form, "Value"), "00000000");
    const auto* panel = Child<QLabel>(&m_form, "Panel1");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(Qt::white));
    for (int r = 0; r < 8; ++r) {
        const std::string name = "DIN" + std::to_string(r);
        EXPECT_EQ(LabelText(&m_form, name), name);
        const auto* nameLabel = Child<QLabel>(&m_form, name.c_str());
        const auto* value = Child<QLabel>(&m_form, ("Value" + std::to_string(r)).c_str());
        EXPECT_EQ(value->parentWidget(), panel);
        // The value sits in its name's row, to its right.
        const QRect onForm(value->mapTo(&m_form, QPoint(0, 0)), value->size());
        EXPECT_EQ(onForm.center().y(), nameLabel->geometry().center().y()) << r;
        EXPECT_GT(onForm.x(), nameLabel->geometry().right()) << r;
        if (r > 0) {
            EXPECT_GT(nameLabel->y(), Child<QLabel>(&m_form, ("DIN" + std::to_string(r - 1)).c_str())->y());
        }
    }
    EXPECT_EQ(FromQt(Child<QPushButton>(&m_form, "Button1")->text()), "Cancel");
    EXPECT_EQ(StatusOf(&m_form), "");
    ExpectAllInside(&m_form);
}

struct InputCase {
    uint8_t d1;
    const char* bits;  // DIN0 first
};
void PrintTo(const InputCase& c, std::ostream* os) { *os << c.bits; }

class DinTickTest : public DinTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(DinTickTest, ShowsBitNOfD1InRowN) {
    OpenWithoutTimer();
    // The other reply bytes must not leak into the column.
    Rec().replies.push_back(TRecReply{0, 0, 0xFF, {GetParam().d1, 0xFF, 0xFF, 0xFF}});
    m_form.Timer1Timer();
    EXPECT_EQ(Sent(), (std::vector<Request>{{7, 0, 64, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(Bits(&m_form, "Value"), GetParam().bits);
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kOkText);
}

INSTANTIATE_TEST_SUITE_P(Bytes, DinTickTest,
                         ::testing::Values(InputCase{5, "10100000"}, InputCase{255, "11111111"},
                                           InputCase{0, "00000000"}, InputCase{1, "10000000"},
                                           InputCase{128, "00000001"}, InputCase{0x5A, "01011010"}));

TEST_F(DinTest, AnErrorKeepsTheLastReading) {
    OpenWithoutTimer();
    ReplyWith(0x0F);
    FailNextSend();
    ReplyWith(0xF0);
    m_form.Timer1Timer();
    EXPECT_EQ(Bits(&m_form, "Value"), "11110000");
    EXPECT_EQ(Greyed(&m_form, "Value"), 0);
    m_form.Timer1Timer();
    EXPECT_EQ(Bits(&m_form, "Value"), "11110000");
    EXPECT_EQ(Greyed(&m_form, "Value"), 8);
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kTimeoutText);
    m_form.Timer1Timer();
    EXPECT_EQ(Bits(&m_form, "Value"), "00001111");
    EXPECT_EQ(Greyed(&m_form, "Value"), 0);
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kOkText);
    EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(DinTest, WithoutAConnectionATickSendsNothingAndKeepsTheLabels) {
    OpenWithoutTimer();
    ReplyWith(0x81);
    m_form.Timer1Timer();
    m_rec.Connected = 0;
    m_form.Timer1Timer();
    EXPECT_EQ(StatusOf(&m_form), kNotConnectedText);
    EXPECT_EQ(Bits(&m_form, "Value"), "10000001");
    EXPECT_EQ(Greyed(&m_form, "Value"), 8);
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(DinTest, WithoutARecordATickDoesNothing) {
    Child<QTimer>(&m_form, "Timer1")->stop();
    m_form.Timer1Timer();
    EXPECT_EQ(StatusOf(&m_form), "");
    EXPECT_TRUE(Rec().calls.empty());
}

TEST_F(DinTest, UsesTheAddressTakenWhenShown) {
    m_rec.ModuleAddress = 33;
    OpenWithoutTimer();
    m_rec.ModuleAddress = 34;
    m_form.Timer1Timer();
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0][0], 33u);
}

TEST_F(DinTest, ATickNeverStartsInsideAnotherButRunsRightAfterIt) {
    OpenWithoutTimer();
    bool nested = false;
    Rec().duringSend = [&] {
        if (nested) return;
        nested = true;
        m_form.Timer1Timer();
        m_form.Timer1Timer();
    };
    m_form.Timer1Timer();
    EXPECT_EQ(Sent().size(), 1u);
    QTest::qWait(50);
    EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(DinTest, TheTimerPollsAndKeepsPollingThroughErrors) {
    TFakeModule module;
    module.inputs = 0x24;
    Rec().responder = module;
    Rec().defaultReply.status = kTimeoutCode;
    for (int i = 0; i < 3; ++i) FailNextSend();
    m_form.SetData(&m_rec);
    m_form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Sent().size() >= 5; }, 10000));
    EXPECT_EQ(Bits(&m_form, "Value"), "00100100");
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kOkText);
}

TEST_F(DinTest, TheTimerReportsAMissingConnectionOnEveryTick) {
    m_rec.Connected = 0;
    m_form.SetData(&m_rec);
    m_form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(&m_form) == kNotConnectedText; }, 10000));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(DinTest, ASlowTransactionIsFollowedByOneTickNotABurst) {
    m_form.SetData(&m_rec);
    // Not a whole number of intervals: Windows keeps the timer's phase, and
    // its regular tick must not fall right after the slow one by chance.
    EXPECT_EQ(PollsRightAfterASlowOne(m_form, 420ms, 100ms, 4), 1);
}

}  // namespace
