// The digital outputs dialog against the recording driver.
#include <QCheckBox>
#include <QPushButton>

#include "LiveTest.h"
#include "ui/OkamDOUT.h"

using namespace guitest;
using namespace livetest;

namespace {

QCheckBox* Box(const QWidget* form, int n) {
    return Child<QCheckBox>(form, ("DOUT" + std::to_string(n)).c_str());
}

class DoutTest : public LiveTest {
  protected:
    void Open() {
        m_form.SetData(&m_rec);
        m_form.show();
    }
    void Tick(const std::vector<int>& boxes) {
        for (const int n : boxes) Box(&m_form, n)->setChecked(true);
    }
    std::vector<int> Ticked() const {
        std::vector<int> ticked;
        for (int n = 0; n < 8; ++n) {
            if (Box(&m_form, n)->isChecked()) ticked.push_back(n);
        }
        return ticked;
    }
    TForm9 m_form;
};

TEST_F(DoutTest, LayoutTextsAndFocus) {
    Open();
    EXPECT_EQ(FromQt(m_form.windowTitle()), "Zápis na digitální výstupy");
    EXPECT_EQ(m_form.size(), QSize(233, 271));
    for (int n = 0; n < 8; ++n) {
        ASSERT_NE(Box(&m_form, n), nullptr) << n;
        EXPECT_EQ(FromQt(Box(&m_form, n)->text()), "DOUT" + std::to_string(n));
        if (n > 0) {
            EXPECT_EQ(Box(&m_form, n)->x(), Box(&m_form, 0)->x());
            EXPECT_GE(Box(&m_form, n)->y(), Box(&m_form, n - 1)->geometry().bottom());
        }
    }
    EXPECT_TRUE(Ticked().empty());
    const auto* write = Child<QPushButton>(&m_form, "Button1");
    const auto* cancel = Child<QPushButton>(&m_form, "Button2");
    EXPECT_EQ(FromQt(write->text()), "Zapsat");
    EXPECT_EQ(FromQt(cancel->text()), "Cancel");
    EXPECT_LT(write->geometry().right(), cancel->x());
    EXPECT_GT(write->y(), Box(&m_form, 7)->geometry().bottom());
    EXPECT_EQ(StatusOf(&m_form), "");
    EXPECT_EQ(TabOrder(&m_form), (std::vector<std::string>{"DOUT0", "DOUT1", "DOUT2", "DOUT3", "DOUT4",
                                                           "DOUT5", "DOUT6", "DOUT7", "Button1", "Button2"}));
    ExpectAllInside(&m_form);
}

struct ByteCase {
    std::vector<int> ticked;
    uint32_t byte;
};
void PrintTo(const ByteCase& c, std::ostream* os) { *os << "byte " << c.byte; }

class DoutByteTest : public DoutTest, public ::testing::WithParamInterface<ByteCase> {};

TEST_P(DoutByteTest, SendsTheOutputByteAndKeepsTheBoxes) {
    Open();
    Tick(GetParam().ticked);
    std::vector<std::string> during;
    Rec().duringSend = [&] { during.push_back(StatusOf(&m_form)); };
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent(), (std::vector<Request>{{7, 1, 64, 0, GetParam().byte, 0, 0, 0}}));
    // No progress text before the transaction.
    EXPECT_EQ(during, std::vector<std::string>{""});
    EXPECT_EQ(StatusOf(&m_form), " Data zapsána");
    EXPECT_EQ(Ticked(), GetParam().ticked);
}

INSTANTIATE_TEST_SUITE_P(Boxes, DoutByteTest,
                         ::testing::Values(ByteCase{{}, 0}, ByteCase{{0}, 1}, ByteCase{{1}, 2},
                                           ByteCase{{0, 7}, 129}, ByteCase{{3, 5}, 40}, ByteCase{{7}, 128},
                                           ByteCase{{0, 1, 2, 3, 4, 5, 6, 7}, 255}));

TEST_F(DoutTest, WithoutAConnectionNothingIsSent) {
    Open();
    Tick({2});
    m_rec.Connected = 0;
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), kNotConnectedText);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(DoutTest, AFailedWriteShowsTheDriverTextAndKeepsTheBoxes) {
    Open();
    Tick({4, 6});
    FailNextSend();
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), std::string(" ") + kTimeoutText);
    EXPECT_EQ(Ticked(), (std::vector<int>{4, 6}));
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), " Data zapsána");
    EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(DoutTest, ShowingTakesTheAddressAndLeavesTheBoxesAlone) {
    Tick({1});
    m_rec.ModuleAddress = 200;
    Open();
    m_rec.ModuleAddress = 3;
    EXPECT_EQ(Ticked(), (std::vector<int>{1}));
    Click(&m_form, "Button1");
    EXPECT_EQ(Sent(), (std::vector<Request>{{200, 1, 64, 0, 2, 0, 0, 0}}));
}

TEST_F(DoutTest, WithoutARecordNothingHappens) {
    m_form.show();
    Click(&m_form, "Button1");
    EXPECT_EQ(StatusOf(&m_form), "");
    EXPECT_TRUE(Rec().calls.empty());
}

}  // namespace
