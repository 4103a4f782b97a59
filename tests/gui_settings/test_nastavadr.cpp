// The address and speed dialog against the recording driver.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "SettingsTest.h"
#include "ui/NastavAdr.h"

using namespace guitest;
using namespace settingstest;

namespace {

using Request = std::array<uint32_t, 8>;

class AddressDialogTest : public SettingsDialogTest {
  protected:
    QLineEdit* Edit(const QWidget* d) { return Child<QLineEdit>(d, "Edit1"); }
    QComboBox* Speeds(const QWidget* d) { return Child<QComboBox>(d, "ComboBox1"); }
};

TEST_F(AddressDialogTest, ControlsCaptionsAndTabOrder) {
    TForm12 dialog;
    EXPECT_EQ(FromQt(dialog.windowTitle()), "Nastavení komunikační adresy a rychlosti");
    EXPECT_EQ(dialog.size(), QSize(393, 200));
    EXPECT_EQ(FromQt(Child<QLabel>(&dialog, "Label1")->text()), "Adresa modulu  (0-255)");
    EXPECT_EQ(FromQt(Child<QLabel>(&dialog, "Label2")->text()), "Komunikační rychlost");
    QComboBox* speeds = Speeds(&dialog);
    ASSERT_NE(speeds, nullptr);
    EXPECT_FALSE(speeds->isEditable());
    const std::vector<std::string> items = {"600 Bd",   "1200 Bd",  "2400 Bd",  "4800 Bd",  "9600 Bd",
                                            "19200 Bd", "38400 Bd", "57600 Bd", "115200 Bd"};
    ASSERT_EQ(speeds->count(), 9);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(FromQt(speeds->itemText(i)), items[static_cast<std::size_t>(i)]);
    EXPECT_EQ(speeds->currentIndex(), 4);
    // The edit and the list sit to the right of their labels.
    EXPECT_GT(Edit(&dialog)->x(), Child<QLabel>(&dialog, "Label1")->geometry().right());
    EXPECT_GT(speeds->x(), Child<QLabel>(&dialog, "Label2")->geometry().right());

    std::vector<QWidget*> order = {Edit(&dialog), speeds};
    for (const char* name : {"Button1", "Button2", "Button3", "Button4"})
        order.push_back(Child<QWidget>(&dialog, name));
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog));
}

TEST_F(AddressDialogTest, OpensOnTheRecordsConfigurationAndSendsNothing) {
    m_data.ModuleAddress = 33;
    m_data.Speed = 115200;
    auto dialog = Open<TForm12>();
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "1");
    EXPECT_EQ(FromQt(Speeds(dialog.get())->currentText()), "9600 Bd");
    EXPECT_EQ(StatusOf(dialog.get()), " ");
    EXPECT_TRUE(Rec().SentRequests().empty());
}

TEST_F(AddressDialogTest, ReadShowsProgressAndTheModulesValues) {
    m_module.registers = {{63, 42}, {62, 8}};
    auto dialog = Open<TForm12>();
    Click(dialog.get(), "Button2");
    EXPECT_EQ(Rec().SentRequests(),
              (std::vector<Request>{{7, 102, 0, 0, 63, 63, 0, 0}, {7, 102, 0, 0, 62, 62, 0, 0}}));
    EXPECT_EQ(m_during, (std::vector<std::string>{ReadAt(0), ReadAt(50)}));
    EXPECT_EQ(StatusOf(dialog.get()), kRead);
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "42");
    EXPECT_EQ(FromQt(Speeds(dialog.get())->currentText()), "115200 Bd");
    // Only "Ok" hands the values to the program.
    EXPECT_EQ(m_data.ModuleConfig, TModuleConfig{});
}

TEST_F(AddressDialogTest, ReadFailingAtTheSpeedShowsTheAddressReadAndTheOldSpeed) {
    m_module.registers = {{63, 42}, {62, 2}};
    m_module.failAt = 1;
    Rec().errorTexts[5] = "porucha linky";
    auto dialog = Open<TForm12>();
    Edit(dialog.get())->setText("99");
    Speeds(dialog.get())->setCurrentIndex(0);
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), " porucha linky");
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "42");
    EXPECT_EQ(FromQt(Speeds(dialog.get())->currentText()), "9600 Bd");
}

TEST_F(AddressDialogTest, ReadFailingAtOnceStillDiscardsEdits) {
    m_module.failAt = 0;
    auto dialog = Open<TForm12>();
    Edit(dialog.get())->setText("99");
    Speeds(dialog.get())->setCurrentIndex(8);
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), " E5");
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "1");
    EXPECT_EQ(Speeds(dialog.get())->currentIndex(), 4);
    EXPECT_EQ(m_sent.size(), 1u);
}

TEST_F(AddressDialogTest, SpeedIndexAboveEightLeavesNoSelectionAndBlocksWriteAndOk) {
    m_module.registers = {{63, 42}, {62, 9}};
    auto dialog = Open<TForm12>();
    Click(dialog.get(), "Button2");
    EXPECT_EQ(Speeds(dialog.get())->currentIndex(), -1);
    ClearLogs();
    Click(dialog.get(), "Button1");
    EXPECT_EQ(StatusOf(dialog.get()), " Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");
    EXPECT_TRUE(m_sent.empty());
    // The address was taken in before the speed was found wanting.
    Edit(dialog.get())->setText("43");
    Click(dialog.get(), "Button1");
    EXPECT_EQ(dialog->Copy().BusAddress, 43);
    Click(dialog.get(), "Button3");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(m_data.ModuleConfig, TModuleConfig{});
}

struct AddressCase {
    const char* text;
    int written;  // -1: refused
};
void PrintTo(const AddressCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class AddressTextTest : public AddressDialogTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(AddressTextTest, ValidatesBeforeAnythingIsSent) {
    auto dialog = Open<TForm12>();
    Edit(dialog.get())->setText(ToQt(GetParam().text));
    Click(dialog.get(), "Button1");
    if (GetParam().written < 0) {
        EXPECT_EQ(StatusOf(dialog.get()), " Adresa modulu musí být v rozsahu 0-255.");
        EXPECT_TRUE(m_sent.empty());
        EXPECT_EQ(dialog->Copy().BusAddress, 1);
    } else {
        EXPECT_EQ(StatusOf(dialog.get()), kWritten);
        ASSERT_FALSE(m_sent.empty());
        EXPECT_EQ(m_sent[0], Write(63, static_cast<unsigned>(GetParam().written)));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, AddressTextTest,
                         ::testing::Values(AddressCase{"256", -1}, AddressCase{"-1", -1},
                                           AddressCase{"abc", -1}, AddressCase{"", -1}, AddressCase{"7 ", -1},
                                           AddressCase{"2147483648", -1}, AddressCase{"255", 255},
                                           AddressCase{" 7", 7}, AddressCase{"$FF", 255},
                                           AddressCase{"0x0a", 10}, AddressCase{"+0", 0}));

TEST_F(AddressDialogTest, WriteGoesToTheConnectionsAddressWithReadBacks) {
    auto dialog = Open<TForm12>();
    Edit(dialog.get())->setText("7");
    Speeds(dialog.get())->setCurrentIndex(5);
    m_data.ModuleAddress = 12;
    Click(dialog.get(), "Button1");
    EXPECT_EQ(Rec().SentRequests(), (std::vector<Request>{{12, 103, 0, 0, 63, 63, 7, 7},
                                                          {12, 102, 0, 0, 63, 63, 0, 0},
                                                          {12, 103, 0, 0, 62, 62, 5, 5},
                                                          {12, 102, 0, 0, 62, 62, 0, 0}}));
    EXPECT_EQ(m_during, (std::vector<std::string>{WriteAt(0), WriteAt(0), WriteAt(50), WriteAt(50)}));
    EXPECT_EQ(StatusOf(dialog.get()), kWritten);
    EXPECT_EQ(m_data.ModuleAddress, 12);
    EXPECT_EQ(m_data.ModuleConfig, TModuleConfig{});
    EXPECT_EQ(m_module.registers[63], 7u);
    EXPECT_EQ(m_module.registers[62], 5u);
}

struct WriteFailure {
    const char* name;
    int failAt;
    int skewAt;
    std::size_t sent;
    const char* status;
    uint32_t reg63;  // what the module holds afterwards
};
void PrintTo(const WriteFailure& c, std::ostream* os) { *os << c.name; }

class AddressWriteFailureTest : public AddressDialogTest,
                                public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(AddressWriteFailureTest, EndsTheSequence) {
    m_module.registers = {{63, 1}, {62, 4}};
    m_module.failAt = GetParam().failAt;
    m_module.failStatus = 21;
    m_module.skewAt = GetParam().skewAt;
    Rec().errorTexts[21] = "modul neodpovídá";
    auto dialog = Open<TForm12>();
    Edit(dialog.get())->setText("200");
    Speeds(dialog.get())->setCurrentIndex(0);
    Click(dialog.get(), "Button1");
    EXPECT_EQ(m_sent.size(), GetParam().sent);
    EXPECT_EQ(StatusOf(dialog.get()), GetParam().status);
    EXPECT_EQ(m_module.registers[63], GetParam().reg63);
    // The speed is written only after the address has been verified.
    EXPECT_EQ(m_module.registers[62], GetParam().sent == 4 ? 0u : 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AddressWriteFailureTest,
    ::testing::Values(WriteFailure{"WriteAddress", 0, -1, 1, " modul neodpovídá", 1},
                      WriteFailure{"ReadBackAddress", 1, -1, 2, " modul neodpovídá", 200},
                      WriteFailure{"WriteSpeed", 2, -1, 3, " modul neodpovídá", 200},
                      WriteFailure{"ReadBackSpeed", 3, -1, 4, " modul neodpovídá", 200},
                      WriteFailure{"AddressDiffers", -1, 1, 2, " Chyba zápisu dat.", 200},
                      WriteFailure{"SpeedDiffers", -1, 3, 4, " Chyba zápisu dat.", 200}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(AddressDialogTest, EventsRunBetweenTransactions) {
    auto dialog = Open<TForm12>();
    bool ran = false;
    std::vector<bool> seen;
    Rec().duringSend = [&] { seen.push_back(ran); };
    QTimer::singleShot(0, [&] { ran = true; });
    dialog->Button2Click();
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
}

TEST_F(AddressDialogTest, OkStoresAndAReopenedDialogShowsIt) {
    Disconnected();
    {
        auto dialog = Open<TForm12>();
        Edit(dialog.get())->setText("$7F");
        Speeds(dialog.get())->setCurrentIndex(8);
        Click(dialog.get(), "Button3");
        EXPECT_FALSE(dialog->isVisible());
    }
    EXPECT_EQ(m_data.ModuleConfig.BusAddress, 127);
    EXPECT_EQ(m_data.ModuleConfig.SpeedIndex, 8);
    auto again = Open<TForm12>();
    EXPECT_EQ(FromQt(Edit(again.get())->text()), "127");
    EXPECT_EQ(FromQt(Speeds(again.get())->currentText()), "115200 Bd");
    EXPECT_TRUE(m_sent.empty());
}

TEST_F(AddressDialogTest, OkWithAnInvalidAddressClosesAndStoresNothing) {
    auto dialog = Open<TForm12>();
    Edit(dialog.get())->setText("300");
    Speeds(dialog.get())->setCurrentIndex(0);
    Click(dialog.get(), "Button3");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(m_data.ModuleConfig, TModuleConfig{});
}

TEST_F(AddressDialogTest, CancelAfterAReadStoresNothing) {
    m_module.registers = {{63, 42}, {62, 8}};
    auto dialog = Open<TForm12>();
    Click(dialog.get(), "Button2");
    Click(dialog.get(), "Button4");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(m_data.ModuleConfig, TModuleConfig{});
}

TEST_F(AddressDialogTest, WithoutAConnectionTheControlsAreNotExamined) {
    Disconnected();
    auto dialog = Open<TForm12>();
    Edit(dialog.get())->setText("abc");
    Click(dialog.get(), "Button1");
    EXPECT_EQ(StatusOf(dialog.get()), kNotConnected);
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "abc");
    Click(dialog.get(), "Button2");
    EXPECT_EQ(StatusOf(dialog.get()), kNotConnected);
    EXPECT_EQ(FromQt(Edit(dialog.get())->text()), "abc");
    EXPECT_TRUE(m_sent.empty());
}

}  // namespace
