// The main window: menu, dialog commands, status bar, creation and close.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"

namespace fs = std::filesystem;
using namespace guitest;

namespace {

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        ASSERT_TRUE(m_temp.isValid());
        // The system's own separators, as the program reports paths.
        m_dir = QDir::toNativeSeparators(m_temp.path()).toStdString();
        m_ini = m_dir + static_cast<char>(QDir::separator().toLatin1()) + "W_rq905.ini";
    }
    std::string ReadIni() const {
        std::ifstream in(m_ini, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    QTemporaryDir m_temp;
    std::string m_dir;
    std::string m_ini;
};

TEST_F(MainWindowTest, CaptionSizeMenuAndPanels) {
    TForm1 form(m_ini);
    EXPECT_EQ(FromQt(form.windowTitle()), " RQ-905 (v.1.02) -  nastavení modulu");
    EXPECT_EQ(form.size(), QSize(600, 400));
    struct Item {
        const char* name;
        const char* caption;
        bool visible;
    };
    for (const Item& item :
         {Item{"Pipojen1", "&Připojení", true}, Item{"Nastaven1", "&Nastavení", true},
          Item{"AdresaRychlost1", "Adresa, rychlost", true},
          Item{"NastavDIO1", "Digitální vstupy/výstupy", true}, Item{"Kalibracevstup1", "PWM výstup", true},
          Item{"Okamithodnoty1", "&Okamžité hodnoty", true}, Item{"OkamAIN2", "PWM výstup", true},
          Item{"OkamDIN2", "Digitální vstupy", false}, Item{"OkamDOUT1", "Digitální výstupy", true},
          Item{"Statusregistr1", "Status registr", true}, Item{"Konec2", "&Konec", true}}) {
        auto* action = form.findChild<QAction*>(item.name);
        ASSERT_NE(action, nullptr) << item.name;
        EXPECT_EQ(FromQt(action->text()), item.caption) << item.name;
        EXPECT_EQ(action->isVisible(), item.visible) << item.name;
        EXPECT_TRUE(action->shortcut().isEmpty()) << item.name;
    }
    EXPECT_EQ(form.PanelText(0), " Modul");
    EXPECT_EQ(form.PanelText(1), " Adresa");
    EXPECT_EQ(form.PanelText(2), " Rychlost");
    EXPECT_EQ(form.PanelText(3), "");
    EXPECT_EQ(Child<QLabel>(&form, "Panel0")->width(), 140);
    EXPECT_EQ(Child<QLabel>(&form, "Panel1")->width(), 80);
    EXPECT_EQ(Child<QLabel>(&form, "Panel2")->width(), 120);
}

struct DialogCase {
    const char* item;
    const char* caption;
};
void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.item; }

class DialogCommandTest : public MainWindowTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(DialogCommandTest, OpensANewModalInstanceEachTime) {
    TForm1 form(m_ini);
    form.show();
    std::vector<QWidget*> seen;
    for (int i = 0; i < 2; ++i) {
        WhenModal([&](QWidget* dialog) {
            seen.push_back(dialog);
            EXPECT_EQ(FromQt(dialog->windowTitle()), GetParam().caption);
            EXPECT_TRUE(dialog->isModal());
            EXPECT_EQ(dialog->parent(), &form);
        });
        form.findChild<QAction*>(GetParam().item)->trigger();
        // The instance is gone once the command returns.
        EXPECT_TRUE(form.findChildren<QDialog*>().isEmpty());
    }
    ASSERT_EQ(seen.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DialogCommandTest,
    ::testing::Values(DialogCase{"Pipojen1", "Připojení modulu"},
                      DialogCase{"AdresaRychlost1", "Nastavení komunikační adresy a rychlosti"},
                      DialogCase{"NastavDIO1", "Nastavení digitálních vstupů/výstupů"},
                      DialogCase{"Kalibracevstup1", "PWM výstup"}, DialogCase{"OkamAIN2", "PWM výstup"},
                      DialogCase{"OkamDIN2", "Okamžité hodnoty digitálních vstupů"},
                      DialogCase{"OkamDOUT1", "Zápis na digitální výstupy"},
                      DialogCase{"Statusregistr1", "Status registr"}));

TEST_F(MainWindowTest, WithoutARecordCommandsDoNothingAndCloseSavesNothing) {
    {
        TForm1 form(m_ini, [](const std::string&) { return std::unique_ptr<TData>(); });
        form.show();
        EXPECT_EQ(form.PanelText(3), " Nelze vytvořit datové struktury programu");
        bool opened = false;
        for (const char* item : {"Pipojen1", "AdresaRychlost1", "NastavDIO1", "Kalibracevstup1", "OkamAIN2",
                                 "OkamDIN2", "OkamDOUT1", "Statusregistr1"}) {
            WhenModal([&](QWidget*) { opened = true; });
            form.findChild<QAction*>(item)->trigger();
            QApplication::processEvents();
        }
        EXPECT_FALSE(opened);
        EXPECT_EQ(form.PanelText(0), " Modul");
        form.findChild<QAction*>("Konec2")->trigger();
        EXPECT_FALSE(form.isVisible());
    }
    EXPECT_FALSE(fs::exists(m_ini));
}

TEST_F(MainWindowTest, ClosingTheConnectionDialogRefreshesThePanels) {
    TForm1 form(m_ini);
    form.show();
    WhenModal([](QWidget*) {});
    form.findChild<QAction*>("Pipojen1")->trigger();
    EXPECT_EQ(form.PanelText(0), " Modul  ");
    EXPECT_EQ(form.PanelText(1), " Adresa  0");
    EXPECT_EQ(form.PanelText(2), " Rychlost  9600Bd");

    // Only the connection command refreshes them.
    form.Data()->ModuleAddress = 9;
    WhenModal([](QWidget*) {});
    form.findChild<QAction*>("AdresaRychlost1")->trigger();
    EXPECT_EQ(form.PanelText(1), " Adresa  0");
}

TEST_F(MainWindowTest, SuccessfulConnectionShowsModuleAddressAndSpeed) {
    TFakeModule module;
    module.ident = std::string("RQ-905\0\x01", 8) + "1.02";
    Rec().responder = std::ref(module);
    TForm1 form(m_ini);
    form.Data()->Kind = kKindPci;
    form.show();
    WhenModal([](QWidget* dialog) {
        Child<QLineEdit>(dialog, "Edit1")->setText("12");
        Child<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(8);
        Click(dialog, "Button1");
    });
    form.findChild<QAction*>("Pipojen1")->trigger();
    // Non-printing bytes show as dots; the text is never cut at the 0.
    EXPECT_EQ(form.PanelText(0), " Modul  RQ-905\xB7\xB7 v.1.02");
    EXPECT_EQ(form.PanelText(1), " Adresa  12");
    EXPECT_EQ(form.PanelText(2), " Rychlost  115200Bd");
    EXPECT_EQ(form.Data()->ModuleIdent.size(), 15u);
}

TEST_F(MainWindowTest, CloseWritesSettingsThenEndsTheConnectionOnce) {
    std::string iniAtDone;
    {
        TForm1 form(m_ini);
        TData& data = *form.Data();
        data.Kind = kKindUsb;
        ASSERT_EQ(OpenInterface(kKindUsb, data.Handle, data.InitParams), 0u);
        data.Connected = 1;
        Rec().duringDone = [&] { iniAtDone = ReadIni(); };
        form.show();
        form.findChild<QAction*>("Konec2")->trigger();
        EXPECT_EQ(form.SaveError(), "");
    }
    EXPECT_NE(iniAtDone.find("Rozhraní=USB-1318"), std::string::npos);
    const auto done = Rec().CallsOf("Done");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].args[0], 0x51u);
}

TEST_F(MainWindowTest, UnwritableSettingsAreReportedAndTheWindowStillCloses) {
    fs::create_directory(m_ini);
    TForm1 form(m_ini);
    form.show();
    EXPECT_TRUE(form.close());
    EXPECT_EQ(form.SaveError(), "Unable to write to " + m_ini);
    EXPECT_EQ(form.Data(), nullptr);
}

}  // namespace
