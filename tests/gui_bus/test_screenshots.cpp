// The pictures of the user's guide (docs/gui.md), drawn from the real
// widgets against the recording drivers into the build tree's docs-gui
// folder; scripts/docs-gui.sh copies them into docs/gui/.
#include <QDir>
#include <QImage>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/KonfiguraceModulu.h"
#include "ui/ModulyNaSbernici.h"
#include "ui/NastavAdr.h"
#include "ui/NastavDIO.h"
#include "ui/NastavPWM.h"
#include "ui/OkamDOUT.h"
#include "ui/OkamPWM.h"
#include "ui/Pripojeni.h"
#include "ui/StatReg.h"

using namespace guitest;

namespace {

// The main window after a scan, connected to the module at address 7.
std::unique_ptr<QWidget> MainWindow(const QString& dir) {
    Rec().responder = [](const std::array<uint32_t, 8>& r) {
        TRecReply reply;
        static const std::map<uint32_t, std::string> kBus{
            {3, "RQ-905  1.02"}, {7, "RQ-905  1.02"}, {12, "RQ-905  1.01"}};
        if (r[0] == 9) {
            reply.result = 31;
        } else if (kBus.count(r[0]) == 0) {
            reply.result = 11;
        } else {
            TFakeModule module;
            module.ident = kBus.at(r[0]);
            reply = module(r);
        }
        return reply;
    };
    auto form = std::make_unique<TForm1>((dir + "/W_rq905.ini").toStdString());
    SetDefaults(form->Data());
    form->Data()->Kind = kKindLan;
    form->Data()->IpAddress = "127.0.0.1";
    form->Data()->Speed = 9600;
    form->Bus()->SetData(form->Data());
    form->resize(640, 440);
    form->show();
    Child<QSpinBox>(form.get(), "ScanTo")->setValue(31);
    Click(form.get(), "SearchButton");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Bus()->Scanning(); }, 10000));
    auto* table = Child<QTableWidget>(form.get(), "BusTable");
    table->setFocus();
    table->setCurrentCell(1, 0);
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_TRUE(IsConnected(*form->Data()));
    return form;
}

// A dialog of the program as its command shows it, on a connected record.
template <class TForm>
std::unique_ptr<QWidget> Dialog(TData& rec) {
    auto dialog = std::make_unique<TForm>();
    dialog->SetData(&rec);
    dialog->show();
    return dialog;
}

struct PictureCase {
    const char* file;
    std::function<std::unique_ptr<QWidget>(const QString& dir, TData& rec)> make;
};
void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.file; }

class GuidePictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(GuidePictures, DrawnFromTheRealWidget) {
    Rec().Reset();
    QTemporaryDir dir;
    TData rec;
    Connect(rec, 7);
    rec.ModuleIdent = "RQ-905   v.1.02";
    TFakeModule module;
    module.registers = {{63, 7}, {62, 4}, {33, 0x81}};
    if (!Rec().responder) Rec().responder = std::ref(module);
    const std::unique_ptr<QWidget> widget = GetParam().make(dir.path(), rec);
    QTest::qWait(150);
    const QImage image = widget->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 200);
    ASSERT_TRUE(QDir().mkpath(RQ905_DOCS_GUI_DIR));
    EXPECT_TRUE(image.save(QString(RQ905_DOCS_GUI_DIR) + "/" + GetParam().file));
    widget->close();
    Disconnect(rec);
}

std::string CaseName(const ::testing::TestParamInfo<PictureCase>& p) {
    std::string name;
    for (const char* c = p.param.file; *c != '.'; ++c) name += *c == '-' ? '_' : *c;
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    Guide, GuidePictures,
    ::testing::Values(
        PictureCase{"hlavni-okno.png", [](const QString& dir, TData&) { return MainWindow(dir); }},
        PictureCase{"pripojeni.png", [](const QString&, TData& rec) { return Dialog<TForm2>(rec); }},
        PictureCase{"adresa-rychlost.png", [](const QString&, TData& rec) { return Dialog<TForm12>(rec); }},
        PictureCase{"digitalni-vstupy-vystupy.png",
                    [](const QString&, TData& rec) { return Dialog<TForm14>(rec); }},
        PictureCase{"pwm-vystup.png", [](const QString&, TData& rec) { return Dialog<TForm4>(rec); }},
        PictureCase{"okamzite-pwm.png", [](const QString&, TData& rec) { return Dialog<TForm3>(rec); }},
        PictureCase{"digitalni-vystupy.png", [](const QString&, TData& rec) { return Dialog<TForm9>(rec); }},
        PictureCase{"status-registr.png", [](const QString&, TData& rec) { return Dialog<TForm15>(rec); }},
        PictureCase{"nahrat-konfiguraci.png",
                    [](const QString&, TData& rec) -> std::unique_ptr<QWidget> {
                        TModuleConfig module = DefaultModuleConfig();
                        TModuleConfig file = module;
                        file.DinNegation[0] = 0x81;
                        file.PwmInitial = 1000;
                        file.PwmMode = 0x81;
                        auto dialog = std::make_unique<TKonfiguraceModulu>(nullptr, rec, module, file,
                                                                           "/home/technik/rozvadec-A.ini");
                        dialog->show();
                        return dialog;
                    }}),
    CaseName);

}  // namespace
