// The PWM output value dialog against the recording driver.
#include <QLineEdit>
#include <QPushButton>

#include "LiveTest.h"
#include "ui/OkamPWM.h"

using namespace guitest;
using namespace livetest;

namespace {

constexpr const char* kBadValue = " Chyba zadané hodnoty (0-65535).";

class PwmTest : public LiveTest {
  protected:
    void Open() {
        m_form.SetData(&m_rec);
        m_form.show();
    }
    void Type(const char* text) { Child<QLineEdit>(&m_form, "Edit1")->setText(ToQt(text)); }
    TForm3 m_form;
};

TEST_F(PwmTest, LayoutTextsAndFocus) {
    Open();
    EXPECT_EQ(FromQt(m_form.windowTitle()), "PWM výstup");
    EXPECT_EQ(m_form.size(), QSize(279, 160));
    EXPECT_EQ(LabelText(&m_form, "Label1"), "PWM výstup (0-65535)");
    EXPECT_EQ(FromQt(Child<QPushButton>(&m_form, "Button1")->text()), "Zápis");
    EXPECT_EQ(FromQt(Child<QPushButton>(&m_form, "Button2")->text()), "Cancel");
    EXPECT_LT(Child<QLabel>(&m_form, "Label1")->geometry().right(), Child<QLineEdit>(&m_form, "Edit1")->x());
    EXPECT_EQ(StatusOf(&m_form), "");
    EXPECT_EQ(TabOrder(&m_form), (std::vector<std::string>{"Button1", "Button2", "Edit1"}));
    ExpectAllInside(&m_form);
}

struct WriteCase {
    const char* typed;
    uint32_t low;
    uint32_t high;
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << testing::PrintToString(std::string(c.typed)); }

class PwmWriteTest : public PwmTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(PwmWriteTest, SendsLowAndHighByte) {
    Open();
    Type(GetParam().typed);
    std::vector<std::string> during;
    Rec().duringSend = [&] { during.push_back(StatusOf(&m_form)); };
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent(), (std::vector<Request>{{7, 1, 0, 0, GetParam().low, GetParam().high, 0, 0}}));
    EXPECT_EQ(during, std::vector<std::string>{" Probíhá komunikace"});
    EXPECT_EQ(StatusOf(&m_form), " Hodnota zapsána");
}

INSTANTIATE_TEST_SUITE_P(Values, PwmWriteTest,
                         ::testing::Values(WriteCase{"0", 0, 0}, WriteCase{"1000", 232, 3},
                                           WriteCase{"256", 0, 1}, WriteCase{"255", 255, 0},
                                           WriteCase{"65535", 255, 255}, WriteCase{"$FFFF", 255, 255},
                                           WriteCase{"0x100", 0, 1}, WriteCase{"  +513", 1, 2},
                                           WriteCase{"-0", 0, 0}));

class PwmRejectTest : public PwmTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PwmRejectTest, ReportsAndSendsNothing) {
    Open();
    Type(GetParam());
    Click(&m_form, "Button1");
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(StatusOf(&m_form), kBadValue);
}

INSTANTIATE_TEST_SUITE_P(Texts, PwmRejectTest,
                         ::testing::Values("65536", "-1", "", " ", "12 ", "1a", "abc", "$10000", "1.5",
                                           "99999999999"));

TEST_F(PwmTest, PressingWriteRightAfterOpeningWritesZero) {
    Open();
    EXPECT_EQ(FromQt(Child<QLineEdit>(&m_form, "Edit1")->text()), "0");
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent(), (std::vector<Request>{{7, 1, 0, 0, 0, 0, 0, 0}}));
}

TEST_F(PwmTest, WithoutAConnectionTheValueIsNotLookedAt) {
    Open();
    for (const char* typed : {"5", "abc", "70000"}) {
        m_rec.Connected = 0;
        Type(typed);
        Click(&m_form, "Button1");
        EXPECT_EQ(StatusOf(&m_form), kNotConnectedText) << typed;
        m_rec.Connected = 1;
        const uint32_t handle = m_rec.Handle;
        m_rec.Handle = 0;
        Click(&m_form, "Button1");
        EXPECT_EQ(StatusOf(&m_form), kNotConnectedText) << typed;
        m_rec.Handle = handle;
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PwmTest, AFailedTransactionShowsTheDriverText) {
    Open();
    Type("10");
    FailNextSend();
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kTimeoutText);
    // The user can simply press again.
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), " Hodnota zapsána");
}

TEST_F(PwmTest, UsesTheAddressTakenWhenShownAndResetsTheValue) {
    Type("3");
    m_rec.ModuleAddress = 9;
    Open();
    m_rec.ModuleAddress = 10;
    EXPECT_EQ(FromQt(Child<QLineEdit>(&m_form, "Edit1")->text()), "0");
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent(), (std::vector<Request>{{9, 1, 0, 0, 0, 0, 0, 0}}));
}

TEST_F(PwmTest, WithoutARecordNothingHappens) {
    m_form.show();
    Type("5");
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), "");
    EXPECT_TRUE(Rec().calls.empty());
}

}  // namespace
