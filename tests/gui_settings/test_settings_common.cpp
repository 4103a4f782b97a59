// What the three settings dialogs share: no record, no connection, "Ok"
// and "Cancel", fields of the other dialogs passing through, the layout.
#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>

#include "SettingsTest.h"
#include "ui/NastavAdr.h"
#include "ui/NastavDIO.h"
#include "ui/NastavPWM.h"

using namespace guitest;
using namespace settingstest;

namespace {

struct DialogCase {
    const char* name;
    std::unique_ptr<TSettingsDialog> (*make)();
    // What "Ok" on unchanged controls makes of the record.
    TModuleConfig (*okOf)(TModuleConfig);
};
void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.name; }

template <class TForm>
std::unique_ptr<TSettingsDialog> Make() {
    return std::make_unique<TForm>();
}

TModuleConfig Unchanged(TModuleConfig c) { return c; }
TModuleConfig UpperElementsCleared(TModuleConfig c) {
    c.DinNegation = {c.DinNegation[0], 0, 0, 0};
    c.DoutNegation = {c.DoutNegation[0], 0, 0, 0};
    c.DoutInitial = {c.DoutInitial[0], 0, 0, 0};
    return c;
}

// Every field away from its default, and valid for every dialog.
TModuleConfig Distinct() {
    TModuleConfig c;
    c.BusAddress = 200;
    c.SpeedIndex = 1;
    c.PwmInitial = 40000;
    c.PwmMode = 0x83;
    c.DinNegation = {0x0F, 1, 2, 3};
    c.DoutNegation = {0xF0, 4, 5, 6};
    c.DoutInitial = {0x3C, 7, 8, 9};
    return c;
}

class CommonTest : public SettingsDialogTest, public ::testing::WithParamInterface<DialogCase> {
  protected:
    std::unique_ptr<TSettingsDialog> OpenParam(TData* record) {
        auto dialog = GetParam().make();
        dialog->SetData(record);
        dialog->show();
        m_watched = dialog.get();
        return dialog;
    }
};

TEST_P(CommonTest, ButtonsInARowAndAStatusBarAcrossTheBottom) {
    auto dialog = GetParam().make();
    const std::array<const char*, 4> captions = {"Zapsat", "Přečíst", "Ok", "Cancel"};
    int lastRight = -1;
    for (int i = 0; i < 4; ++i) {
        auto* button = Child<QPushButton>(dialog.get(), ("Button" + std::to_string(i + 1)).c_str());
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(FromQt(button->text()), captions[static_cast<std::size_t>(i)]);
        EXPECT_GT(button->x(), lastRight);
        EXPECT_EQ(button->y(), Child<QPushButton>(dialog.get(), "Button1")->y());
        lastRight = button->geometry().right();
    }
    auto* bar = Child<TStatusLine>(dialog.get(), "StatusBar1");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->x(), 0);
    EXPECT_EQ(bar->width(), dialog->width());
    EXPECT_EQ(bar->geometry().bottom(), dialog->height() - 1);
    EXPECT_GT(bar->y(), Child<QPushButton>(dialog.get(), "Button1")->geometry().bottom());
}

TEST_P(CommonTest, NothingIsClippedOrOverlapping) {
    auto dialog = GetParam().make();
    dialog->show();
    const QRect client = dialog->rect();
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        const QRect inDialog(w->mapTo(dialog.get(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(client.contains(inDialog)) << w->objectName().toStdString();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->objectName().toStdString();
        }
    }
    // Siblings that are controls never cover one another.
    const QList<QWidget*> top = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* a : top) {
        for (QWidget* b : top) {
            if (a == b || !a->isVisible() || !b->isVisible()) continue;
            EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                << a->objectName().toStdString() << " / " << b->objectName().toStdString();
        }
    }
}

TEST_P(CommonTest, WithoutARecordNothingHappensAndOkStaysOpen) {
    auto dialog = OpenParam(nullptr);
    for (const char* button : {"Button1", "Button2", "Button3"}) {
        Click(dialog.get(), button);
        EXPECT_EQ(StatusOf(dialog.get()), "") << button;
    }
    EXPECT_TRUE(dialog->isVisible());
    TModuleConfig config = Distinct();
    dialog->PrectiData(config);
    dialog->ZapisData(config);
    EXPECT_EQ(config, Distinct());
    EXPECT_TRUE(Rec().SentRequests().empty());
    Click(dialog.get(), "Button4");
    EXPECT_FALSE(dialog->isVisible());
}

TEST_P(CommonTest, WithoutAConnectionReadAndWriteOnlySaySo) {
    for (const auto& [connected, handle] : {std::pair<uint8_t, uint32_t>{0, m_handle}, {1, 0}}) {
        m_data.Connected = connected;
        m_data.Handle = handle;
        auto dialog = OpenParam(&m_data);
        for (const char* button : {"Button1", "Button2"}) {
            Click(dialog.get(), button);
            EXPECT_EQ(StatusOf(dialog.get()), kNotConnected) << button;
        }
        // The operations themselves stay silent.
        TModuleConfig config = Distinct();
        dialog->PrectiData(config);
        dialog->ZapisData(config);
        EXPECT_EQ(StatusOf(dialog.get()), kNotConnected);
        EXPECT_EQ(config, Distinct());
    }
    EXPECT_TRUE(Rec().SentRequests().empty());
}

TEST_P(CommonTest, OkPassesTheOtherDialogsFieldsThrough) {
    Disconnected();
    m_data.ModuleConfig = Distinct();
    auto dialog = OpenParam(&m_data);
    Click(dialog.get(), "Button3");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(m_data.ModuleConfig, GetParam().okOf(Distinct()));
}

TEST_P(CommonTest, OkWithAConnectionStoresWithoutTalkingToTheModule) {
    auto dialog = OpenParam(&m_data);
    dialog->ZapisOkno(Distinct());
    Click(dialog.get(), "Button3");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(m_sent.empty());
    EXPECT_NE(m_data.ModuleConfig, TModuleConfig{});
    EXPECT_EQ(dialog->Copy(), m_data.ModuleConfig);
}

TEST_P(CommonTest, CancelAndTheCloseBoxStoreNothing) {
    m_data.ModuleConfig = Distinct();
    for (bool cancel : {true, false}) {
        auto dialog = OpenParam(&m_data);
        dialog->ZapisOkno(TModuleConfig{});
        if (cancel) {
            Click(dialog.get(), "Button4");
        } else {
            dialog->close();
        }
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(m_data.ModuleConfig, Distinct());
    }
}

TEST_P(CommonTest, WriteLeavesTheDialogsCopyAndTheRecord) {
    m_data.ModuleConfig = Distinct();
    auto dialog = OpenParam(&m_data);
    Click(dialog.get(), "Button1");
    EXPECT_EQ(StatusOf(dialog.get()), kWritten);
    EXPECT_FALSE(m_sent.empty());
    EXPECT_EQ(m_data.ModuleConfig, Distinct());
    EXPECT_EQ(dialog->Copy(), GetParam().okOf(Distinct()));
}

TEST_P(CommonTest, OpensModallyFromTheProgramAndShowsTheRecord) {
    m_data.ModuleConfig = Distinct();
    auto dialog = GetParam().make();
    dialog->SetData(&m_data);
    bool checked = false;
    WhenModal([&](QWidget* modal) {
        checked = true;
        EXPECT_EQ(modal, dialog.get());
        EXPECT_EQ(StatusOf(modal), " ");
        EXPECT_EQ(dialog->Copy(), Distinct());
    });
    dialog->exec();
    EXPECT_TRUE(checked);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, CommonTest,
                         ::testing::Values(DialogCase{"AddressSpeed", Make<TForm12>, Unchanged},
                                           DialogCase{"DigitalIo", Make<TForm14>, UpperElementsCleared},
                                           DialogCase{"Pwm", Make<TForm4>, Unchanged}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
