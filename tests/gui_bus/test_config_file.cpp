// A module's configuration to and from a file through the "Servis" menu:
// the file dialog typed into, the differences, the write and its
// read-backs, a partial failure, and bad files that write nothing.
#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <fstream>
#include <memory>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include "BusTest.h"
#include "GuiTest.h"
#include "core/ConfigFile.h"
#include "ui/Hlavni.h"
#include "ui/KonfiguraceModulu.h"

using namespace guitest;

namespace {

const std::string kFile =
    "; Modul RQ-905 v.1.02\n[RQ-905]\nbus_address=7\nline_speed=9600\ndin_negation=0x81\n"
    "dout_negation=0x00\ndout_initial=0x0F\npwm_initial=1000\npwm_period_ms=2048\npwm_negation=on\n";

// Types the file's name into the file dialog's name field and accepts it.
void TypeFileName(const std::string& path, std::function<void()> next = {}) {
    bustest::WhenDialog("ConfigFileDialog", [path, next](QWidget* dialog) {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        const QFileInfo file(QString::fromStdString(path));
        static_cast<QFileDialog*>(dialog)->setDirectory(file.absolutePath());
        name->clear();
        QTest::keyClicks(name, file.fileName());
        // The name field's completer offers what it found; the name stays as typed.
        while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        if (next) next();
        QTest::keyClick(name, Qt::Key_Return);
    });
}

std::vector<uint32_t> WrittenRegisters() {
    std::vector<uint32_t> regs;
    for (const auto& r : Rec().SentRequests()) {
        if (r[1] == 103) regs.push_back(r[4]);
    }
    return regs;
}

class ConfigFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        ASSERT_TRUE(m_temp.isValid());
        m_form = std::make_unique<TForm1>((m_temp.path() + "/W_rq905.ini").toStdString());
        Connect(*m_form->Data(), 7);
        m_form->Data()->ModuleIdent = "RQ-905   v.1.02";
        // The module: address 7 at 9600 Bd, everything else at zero.
        m_module->registers = {{63, 7}, {62, 4}};
        Rec().responder = [module = m_module, this](const std::array<uint32_t, 8>& r) {
            TRecReply reply = (*module)(r);
            if (r[1] == 103 && r[4] == m_failAt) reply.result = 11;
            return reply;
        };
        m_form->show();
    }
    std::string Path(const char* name) const { return (m_temp.path() + "/" + name).toStdString(); }
    QTemporaryDir m_temp;
    std::shared_ptr<TFakeModule> m_module = std::make_shared<TFakeModule>();
    uint32_t m_failAt = 0;
    std::unique_ptr<TForm1> m_form;
};

TEST_F(ConfigFileTest, SaveWritesEveryStoredRegisterInTheSharedFormat) {
    m_module->registers = {{63, 7}, {62, 5}, {32, 0x0F}, {33, 0x81}, {35, 0xE8}, {36, 3}, {37, 0x81}};
    TypeFileName(Path("saved.ini"));
    m_form->findChild<QAction*>("UlozitKonfiguraci1")->trigger();
    std::ifstream in(Path("saved.ini"), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    TModuleConfig read;
    std::string reason;
    ASSERT_TRUE(ParseConfigFile(text, read, reason)) << reason << text;
    EXPECT_EQ(read.BusAddress, 7);
    EXPECT_EQ(read.SpeedIndex, 5);
    EXPECT_EQ(read.DoutInitial[0], 0x0F);
    EXPECT_EQ(read.DinNegation[0], 0x81);
    EXPECT_EQ(read.PwmInitial, 1000);
    EXPECT_EQ(read.PwmMode, 0x81);
    EXPECT_EQ(text.substr(0, 26), "; Modul RQ-905   v.1.02, a");
    EXPECT_EQ(m_form->PanelText(3),
              " Konfigurace uložena do " +
                  FromQt(QDir::toNativeSeparators(QString::fromStdString(Path("saved.ini")))) + ".");
    EXPECT_TRUE(WrittenRegisters().empty());
}

struct LoadCase {
    const char* name;
    Qt::Key key;      // pressed in the differences dialog
    uint32_t failAt;  // register whose write fails
    std::vector<uint32_t> written;
    const char* panel;
};
void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class LoadTest : public ConfigFileTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, ShowsTheDifferencesAndWritesOnlyOnConfirmation) {
    std::ofstream(Path("module.ini"), std::ios::binary) << kFile;
    m_failAt = GetParam().failAt;
    std::vector<std::vector<std::string>> differences;
    TypeFileName(Path("module.ini"), [&] {
        bustest::WhenDialog("KonfiguraceModulu", [&](QWidget* dialog) {
            differences = static_cast<TKonfiguraceModulu*>(dialog)->Differences();
            QTest::keyClick(dialog, GetParam().key);
            if (dialog->isVisible()) dialog->close();
        });
    });
    m_form->findChild<QAction*>("NahratKonfiguraci1")->trigger();
    EXPECT_EQ(differences, (std::vector<std::vector<std::string>>{{"din_negation (33)", "0x00", "0x81"},
                                                                  {"dout_initial (32)", "0x00", "0x0F"},
                                                                  {"pwm_initial (35, 36)", "0", "1000"},
                                                                  {"pwm_period_ms (37)", "1024", "2048"},
                                                                  {"pwm_negation (37)", "off", "on"}}));
    EXPECT_EQ(WrittenRegisters(), GetParam().written);
    EXPECT_EQ(m_form->PanelText(3), GetParam().panel);
}

INSTANTIATE_TEST_SUITE_P(
    Load, LoadTest,
    ::testing::Values(
        LoadCase{"EnterWrites",
                 Qt::Key_Return,
                 0,
                 {32, 33, 34, 35, 36, 37},
                 " Konfigurace zapsána a ověřena čtením (registry 32, 33, 34, 35, 36, 37)."},
        LoadCase{"EscapeCancels", Qt::Key_Escape, 0, {}, " Rozdíly: 5. Zapsat hodnoty ze souboru do modulu?"},
        LoadCase{"PartialFailureNamesBoth",
                 Qt::Key_Return,
                 36,
                 {32, 33, 34, 35, 36},
                 " Zápis selhal, registr 36: E11. Zapsáno: registry 32, 33, 34, 35; nezapsáno: 36, 37."}),
    [](const auto& p) { return std::string(p.param.name); });

struct BadFileCase {
    const char* name;
    std::string content;  // empty: a FIFO
    const char* reason;
};
void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.name; }

class BadFileTest : public ConfigFileTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFileTest, SaysWhyAndTouchesNothing) {
    const std::string path = Path("bad.ini");
    if (GetParam().content.empty()) {
#ifdef _WIN32
        GTEST_SKIP() << "no FIFO on Windows";
#else
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
#endif
    } else {
        std::ofstream(path, std::ios::binary) << GetParam().content;
    }
    Rec().calls.clear();
    TypeFileName(path);
    m_form->findChild<QAction*>("NahratKonfiguraci1")->trigger();
    const std::string shown = FromQt(QDir::toNativeSeparators(QString::fromStdString(path)));
    EXPECT_EQ(m_form->PanelText(3),
              " Soubor " + shown + ": " + GetParam().reason + "; do modulu nebylo nic zapsáno.");
    EXPECT_TRUE(Rec().CallsOf("Send").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bad, BadFileTest,
    ::testing::Values(BadFileCase{"Binary",
                                  std::string("\x7F"
                                              "ELF\0\x01\x02",
                                              7) +
                                      kFile,
                                  "binární soubor, ne konfigurace modulu"},
                      BadFileCase{"Huge", kFile + std::string(70 * 1024, ';'), "příliš velký soubor"},
                      BadFileCase{"Fifo", "", "není obyčejný soubor"},
                      BadFileCase{"WrongValue",
                                  kFile.substr(0, kFile.find("din")) + "din_negation=0x100\n" +
                                      kFile.substr(kFile.find("dout_neg")),
                                  "řádek 5: neplatná hodnota klíče din_negation: 0x100"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
