// What every dialog of the menu shares: its show step runs once, and Enter
// never starts anything.
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/NastavAdr.h"
#include "ui/NastavDIO.h"
#include "ui/NastavPWM.h"
#include "ui/OkamDIN.h"
#include "ui/OkamDOUT.h"
#include "ui/OkamPWM.h"
#include "ui/Pripojeni.h"
#include "ui/StatReg.h"

using namespace guitest;

namespace {

int g_formShows = 0;

template <class TForm>
class Counted : public TForm {
  public:
    void FormShow() override {
        ++g_formShows;
        TForm::FormShow();
    }
};

struct DialogCase {
    const char* name;
    std::unique_ptr<TFormDialog> (*make)(TData*);
    const char* writeButton;  // nullptr: nothing to write
    std::size_t sends;        // what one press of it sends
};
void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.name; }

template <class TForm>
std::unique_ptr<TFormDialog> Make(TData* record) {
    auto dialog = std::make_unique<Counted<TForm>>();
    dialog->SetData(record);
    return dialog;
}

class DialogTest : public ::testing::TestWithParam<DialogCase> {
  protected:
    void SetUp() override {
        Rec().Reset();
        Rec().responder = std::ref(m_module);
        Connect(m_rec, 7);
        Rec().calls.clear();
        g_formShows = 0;
        m_dialog = GetParam().make(&m_rec);
        // Only the keys may talk to the module.
        for (QTimer* timer : m_dialog->findChildren<QTimer*>()) timer->stop();
        m_dialog->show();
        m_dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dialog.get()));
    }
    void TearDown() override {
        m_dialog.reset();
        Disconnect(m_rec);
    }
    TData m_rec;
    TFakeModule m_module;
    std::unique_ptr<TFormDialog> m_dialog;
};

TEST_P(DialogTest, ARestoreKeepsWhatWasTypedAndWhereTheDialogStands) {
    auto* edit = Child<QLineEdit>(m_dialog.get(), "Edit1");
    if (edit != nullptr) edit->setText("42x");
    const QPoint moved = m_dialog->pos() + QPoint(31, 17);
    m_dialog->move(moved);
    // Restoring delivers the show event that the window system sends.
    m_dialog->setWindowState(Qt::WindowMinimized);
    m_dialog->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(g_formShows, 1);
    if (edit != nullptr) {
        EXPECT_EQ(edit->text(), "42x");
    }
    EXPECT_EQ(m_dialog->pos(), moved);
}

TEST_P(DialogTest, EnterStartsNothingAndSpaceOnTheWriteButtonDoes) {
    for (QWidget* control : m_dialog->findChildren<QWidget*>()) {
        if ((control->focusPolicy() & Qt::TabFocus) == 0 || !control->isVisibleTo(m_dialog.get())) continue;
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Return);
        QTest::keyClick(control, Qt::Key_Enter);
        ASSERT_TRUE(Rec().calls.empty()) << control->objectName().toStdString();
    }
    if (GetParam().writeButton == nullptr) return;
    auto* button = Child<QPushButton>(m_dialog.get(), GetParam().writeButton);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(Rec().SentRequests().size(), GetParam().sends);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogTest,
                         ::testing::Values(DialogCase{"Connection", Make<TForm2>, nullptr, 0},
                                           DialogCase{"AddressSpeed", Make<TForm12>, "Button1", 4},
                                           DialogCase{"DigitalIo", Make<TForm14>, "Button1", 6},
                                           DialogCase{"PwmSettings", Make<TForm4>, "Button1", 6},
                                           DialogCase{"PwmValue", Make<TForm3>, "Button1", 1},
                                           DialogCase{"Outputs", Make<TForm9>, "Button1", 1},
                                           DialogCase{"Inputs", Make<TForm11>, nullptr, 0},
                                           DialogCase{"StatusRegister", Make<TForm15>, "Button1", 1}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace

TEST(PlaceOnScreenTest, CentredWithTheTopLeftCornerInTheArea) {
    struct Case {
        QRect area;
        QSize frame;
        QPoint place;
    };
    const QRect small(0, 24, 400, 276);  // 800 x 600 at scale 2, below a panel
    for (const Case& c : {Case{small, {200, 100}, {99, 111}}, Case{small, {604, 430}, {0, 24}},
                          Case{small, {404, 200}, {0, 61}}, Case{small, {300, 400}, {49, 24}},
                          Case{{800, 0, 400, 300}, {604, 430}, {800, 0}}}) {
        EXPECT_EQ(PlaceOnScreen(c.area, c.frame), c.place) << c.frame.width() << "x" << c.frame.height();
    }
}
