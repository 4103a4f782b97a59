// The "Servis" menu and the line lock that keeps the windows' transactions
// apart (a scan asked to give the line back: test_bus_table.cpp).
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <set>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/LineLock.h"

using namespace guitest;

namespace {

QChar Mnemonic(const QString& text) {
    const qsizetype at = text.indexOf('&');
    return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
}

TEST(ServisMenuTest, StandsBeforeKonecAndStealsNoMnemonic) {
    QTemporaryDir dir;
    TForm1 form((dir.path() + "/W_rq905.ini").toStdString());
    const QList<QAction*> top = form.menuBar()->actions();
    const auto* servis = form.findChild<QAction*>("Servis1");
    ASSERT_NE(servis, nullptr);
    const qsizetype at = top.indexOf(const_cast<QAction*>(servis));
    ASSERT_GE(at, 0);
    ASSERT_LT(at + 1, top.size());
    EXPECT_EQ(top.at(at + 1)->objectName(), "Konec2");
    EXPECT_EQ(FromQt(servis->text()), "&Servis");
    for (const QList<QAction*>& items : {top, servis->menu()->actions()}) {
        std::set<QChar> seen;
        for (const QAction* item : items) {
            if (!item->isVisible()) continue;
            const QChar key = Mnemonic(item->text());
            ASSERT_FALSE(key.isNull()) << FromQt(item->text());
            EXPECT_TRUE(seen.insert(key).second) << FromQt(item->text());
        }
    }
    for (const auto& [name, caption] : {std::pair{"ModulyNaSbernici1", "&Moduly na sběrnici"},
                                        {"UlozitKonfiguraci1", "&Uložit konfiguraci modulu…"},
                                        {"NahratKonfiguraci1", "&Nahrát konfiguraci do modulu…"}}) {
        const auto* item = form.findChild<QAction*>(name);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(FromQt(item->text()), caption);
        EXPECT_TRUE(servis->menu()->actions().contains(const_cast<QAction*>(item))) << name;
    }
}

// A dialog's sequence owns the line while the dialog is open; a taken line
// opens no dialog.
struct DialogLineCase {
    const char* name;
    bool lineTaken;
};
void PrintTo(const DialogLineCase& c, std::ostream* os) { *os << c.name; }

class DialogLineTest : public ::testing::TestWithParam<DialogLineCase> {};

TEST_P(DialogLineTest, DialogHoldsTheLineWhileOpen) {
    QTemporaryDir dir;
    TForm1 form((dir.path() + "/W_rq905.ini").toStdString());
    form.show();
    TLineHold other(GetParam().lineTaken ? "other" : nullptr);
    if (!GetParam().lineTaken) other.Release();
    const char* during = "<not opened>";
    WhenModal([&](QWidget*) { during = ProgramLine().Holder(); });
    form.findChild<QAction*>("OkamDIN2")->trigger();
    QApplication::processEvents();
    if (GetParam().lineTaken) {
        EXPECT_STREQ(during, "<not opened>");
        EXPECT_EQ(form.PanelText(3), " Linka je obsazena.");
        EXPECT_STREQ(ProgramLine().Holder(), "other");
    } else {
        EXPECT_STREQ(during, "dialog");
        EXPECT_EQ(ProgramLine().Holder(), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Line, DialogLineTest,
                         ::testing::Values(DialogLineCase{"Free", false}, DialogLineCase{"Taken", true}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
