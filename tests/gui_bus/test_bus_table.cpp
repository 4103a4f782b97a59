// The modules on the bus: the table's scan through the recording drivers,
// connecting from a row, the stop, the line handed to a dialog, and the
// table kept beside the settings file.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "BusTest.h"
#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/ModulyNaSbernici.h"
#include "ui/Pripojeni.h"

using namespace guitest;

namespace {

enum class Who { Module, Collision };

// The bus as the drivers answer it: a module's identification, a
// collision (two replies), silence elsewhere.
struct Bus {
    std::map<uint32_t, std::pair<Who, std::string>> at;
    std::atomic<int>* sends = nullptr;
    int sendMs = 0;
    TRecReply operator()(const std::array<uint32_t, 8>& r) {
        if (sends != nullptr) ++*sends;
        if (sendMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sendMs));
        const auto found = at.find(r[0]);
        TRecReply reply;
        if (found == at.end()) {
            reply.result = 11;
        } else if (found->second.first == Who::Collision) {
            reply.result = 31;
        } else {
            TFakeModule module;
            module.ident = found->second.second;
            reply = module(r);
        }
        return reply;
    }
};

class BusTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        ASSERT_TRUE(m_temp.isValid());
        m_ini = (m_temp.path() + "/W_rq905.ini").toStdString();
        m_busFile = (m_temp.path() + "/" + kBusFileName).toStdString();
    }
    // The form's record through the recording LAN driver, not connected.
    static void Prepare(TForm1& form, bool connected = false) {
        if (connected) {
            Connect(*form.Data(), 7);
        } else {
            SetDefaults(form.Data());
        }
        form.Data()->Kind = kKindLan;
        form.Data()->IpAddress = "127.0.0.1";
        form.Data()->UdpTimeout = 500;
        form.Data()->Speed = 19200;
        InitParamsFromRecord(*form.Data());
        form.Bus()->SetData(form.Data());
    }
    static void Scan(TForm1& form, int from, int to) {
        Child<QSpinBox>(&form, "ScanFrom")->setValue(from);
        Child<QSpinBox>(&form, "ScanTo")->setValue(to);
        Click(&form, "SearchButton");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Bus()->Scanning(); }, 10000));
    }
    QTemporaryDir m_temp;
    std::string m_ini;
    std::string m_busFile;
};

struct ScanCase {
    const char* name;
    bool connected;        // a connection is open when the scan starts
    const char* seedFile;  // the table as the last scan left it
    const char* rows;      // address, state and name of each row
    const char* status;
};
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class BusScanTest : public BusTableTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(BusScanTest, RowsStatesAndTheConnectionAfterwards) {
    const ScanCase& c = GetParam();
    if (c.seedFile[0] != '\0') std::ofstream(m_busFile, std::ios::binary) << c.seedFile;
    Rec().responder = Bus{
        {{5, {Who::Module, "RQ-905  1.02"}}, {6, {Who::Collision, ""}}, {7, {Who::Module, "SIM-905A2.01"}}}};
    TForm1 form(m_ini);
    Prepare(form, c.connected);
    form.show();
    Scan(form, 0, 10);

    auto rows = [](const QTableWidget* table) {
        std::string text;
        for (int r = 0; r < table->rowCount(); ++r) {
            for (int column : {0, 4, 2}) text += FromQt(table->item(r, column)->text()) + "|";
        }
        return text;
    };
    EXPECT_EQ(rows(Child<QTableWidget>(&form, "BusTable")), c.rows);
    EXPECT_EQ(form.Bus()->StatusText(), c.status);
    const auto* progress = Child<QProgressBar>(&form, "ScanProgress");
    EXPECT_EQ(progress->value(), 11);
    EXPECT_EQ(progress->maximum(), 11);

    // The scan's own link: no time-out of the settings' over UDP, the
    // scan mode; an open connection is opened again as it was.
    const std::vector<TRecCall> inits = Rec().CallsOf("Init");
    ASSERT_EQ(inits.size(), c.connected ? 3u : 1u);
    const TRecCall& scanInit = inits[c.connected ? 1 : 0];
    EXPECT_EQ(scanInit.args[2], 0u);
    EXPECT_EQ(scanInit.ipText, "127.0.0.1");
    const std::vector<TRecCall> configs = Rec().CallsOf("SetConfig");
    ASSERT_FALSE(configs.empty());
    EXPECT_EQ(configs.front().args[3], 4u);
    EXPECT_EQ(IsConnected(*form.Data()), c.connected);
    if (c.connected) {
        EXPECT_EQ(inits.back().args[2], 500u);
        EXPECT_EQ(configs.back().args, (std::vector<uint64_t>{0x51, 19200, 7, 2}));
    }
    // The table is kept beside the settings file, and read at the start.
    std::ifstream in(m_busFile, std::ios::binary);
    EXPECT_EQ(ParseBusFile({std::istreambuf_iterator<char>(in), {}}), form.Bus()->Rows());
    TForm1 again(m_ini);
    EXPECT_EQ(rows(again.Bus()->Table()), c.rows);
}

constexpr const char* kFound = "5|odpovídá|RQ-905  |6|kolize adres||7|odpovídá|SIM-905A|";

INSTANTIATE_TEST_SUITE_P(
    Table, BusScanTest,
    ::testing::Values(
        ScanCase{"ModulesAndACollision", false, "", kFound, "Nalezeno modulů: 2, kolize adres: 1"},
        ScanCase{"ConnectionClosedForTheScanAndOpenedAgain", true, "", kFound,
                 "Nalezeno modulů: 2, kolize adres: 1"},
        ScanCase{
            "AModuleFoundBeforeNowSilent", false,
            "9\t19200\tOLD-905 \t1.00\todpovídá\t2026-12-01 08:00:00\n"
            "7\t9600\tX\t1\tkolize adres\t\nbroken line\n",
            "5|odpovídá|RQ-905  |6|kolize adres||7|odpovídá|SIM-905A|7|kolize adres|X|9|neodpovídá|OLD-905 |",
            "Nalezeno modulů: 2, kolize adres: 1"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(BusTableTest, EnterOnARowConnectsAsTheDialogWouldAndMarksTheRow) {
    Rec().responder = Bus{{{5, {Who::Module, "RQ-905  1.02"}}, {7, {Who::Module, "SIM-905A2.01"}}}};
    TForm1 form(m_ini);
    Prepare(form);
    form.show();
    Scan(form, 0, 9);
    auto* table = Child<QTableWidget>(&form, "BusTable");
    form.findChild<QAction*>("ModulyNaSbernici1")->trigger();
    EXPECT_TRUE(table->hasFocus() || QApplication::focusWidget() == table);
    table->setCurrentCell(1, 0);
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(form.PanelText(3), " Připojení úspěšně inicializováno. Připojen modul   SIM-905A v.2.01");
    EXPECT_EQ(form.PanelText(0), " Modul  SIM-905A v.2.01");
    EXPECT_EQ(form.PanelText(1), " Adresa  7");
    EXPECT_EQ(form.PanelText(2), " Rychlost  19200Bd");
    ASSERT_TRUE(IsConnected(*form.Data()));
    EXPECT_EQ(Rec().CallsOf("SetConfig").back().args, (std::vector<uint64_t>{0x51, 19200, 7, 2}));
    EXPECT_TRUE(table->item(1, 0)->font().bold());
    EXPECT_FALSE(table->item(0, 0)->font().bold());
}

// A scan over the whole range, each transaction slow; what ends it, and
// how many transactions were begun after that.
struct StopCase {
    const char* name;
    bool byDialog;  // a settings dialog asks for the line
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class BusStopTest : public BusTableTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(BusStopTest, EndsWithinOneTransaction) {
    std::atomic<int> sends{0};
    Bus bus{{{1, {Who::Module, "RQ-905  1.02"}}}};
    bus.sends = &sends;
    bus.sendMs = 20;
    Rec().responder = bus;
    TForm1 form(m_ini);
    Prepare(form);
    form.show();
    Click(&form, "SearchButton");
    ASSERT_TRUE(form.Bus()->Scanning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Bus()->Rows().size() == 1; }, 5000));
    int atStop = 0;
    bool dialogSawScan = true;
    if (GetParam().byDialog) {
        bustest::WhenDialog("", [&](QWidget* dialog) {
            dialogSawScan = form.Bus()->Scanning();
            EXPECT_STREQ(ProgramLine().Holder(), "dialog");
            dialog->close();
        });
        atStop = sends.load();
        form.findChild<QAction*>("OkamDIN2")->trigger();
        EXPECT_FALSE(dialogSawScan);
    } else {
        atStop = sends.load();
        Click(&form, "StopButton");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Bus()->Scanning(); }, 5000));
    }
    EXPECT_FALSE(form.Bus()->Scanning());
    EXPECT_LE(sends.load() - atStop, 1);
    EXPECT_EQ(form.Bus()->StatusText(), "Nalezeno modulů: 1 (hledání zastaveno)");
    EXPECT_EQ(ProgramLine().Holder(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Stop, BusStopTest,
                         ::testing::Values(StopCase{"Zastavit", false}, StopCase{"DialogTakesTheLine", true}),
                         [](const auto& p) { return std::string(p.param.name); });

// The table comes after the window's first frame, or when asked for
// sooner: once, filled from the file, between the progress bar and the
// status line, and reached by Tab after "Zastavit".
enum class TableWay { Shown, AskedFor, ScanEnded };
struct LateTableCase {
    const char* name;
    TableWay way;
};
void PrintTo(const LateTableCase& c, std::ostream* os) { *os << c.name; }

class LateTableTest : public BusTableTest, public ::testing::WithParamInterface<LateTableCase> {};

TEST_P(LateTableTest, FilledInItsPlaceAndTurn) {
    std::ofstream(m_busFile, std::ios::binary) << "5\t19200\tRQ-905  \t1.02\todpovídá\t2026-12-01 08:00:00\n";
    TForm1 form(m_ini);
    EXPECT_EQ(Child<QTableWidget>(&form, "BusTable"), nullptr);
    QTableWidget* table = nullptr;
    if (GetParam().way == TableWay::Shown) {
        form.show();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return (table = Child<QTableWidget>(&form, "BusTable")) != nullptr; }));
        EXPECT_TRUE(table->isVisible());
    } else if (GetParam().way == TableWay::ScanEnded) {
        // Never painted: a scan that ends first still leaves its table.
        Child<QSpinBox>(&form, "ScanTo")->setValue(2);
        form.Bus()->HledatClick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Bus()->Scanning(); }, 10000));
        table = Child<QTableWidget>(&form, "BusTable");
        ASSERT_NE(table, nullptr);
    } else {
        table = form.Bus()->Table();
    }
    EXPECT_EQ(Child<QTableWidget>(&form, "BusTable"), table);
    EXPECT_EQ(form.Bus()->Table(), table);
    ASSERT_EQ(table->rowCount(), static_cast<int>(form.Bus()->Rows().size()));
    if (GetParam().way != TableWay::ScanEnded) {
        ASSERT_EQ(table->rowCount(), 1);
        EXPECT_EQ(FromQt(table->item(0, 2)->text()), "RQ-905  ");
    }
    QLayout* box = form.Bus()->layout();
    const int at = box->indexOf(table);
    EXPECT_EQ(box->itemAt(at - 1)->widget(), Child<QProgressBar>(&form, "ScanProgress"));
    EXPECT_EQ(box->itemAt(at + 1)->widget(), Child<QLabel>(&form, "BusStatus"));
    QWidget* next = Child<QWidget>(&form, "StopButton")->nextInFocusChain();
    while ((next->focusPolicy() & Qt::TabFocus) == 0) next = next->nextInFocusChain();
    EXPECT_EQ(next, table);
}

INSTANTIATE_TEST_SUITE_P(Late, LateTableTest,
                         ::testing::Values(LateTableCase{"AfterTheFirstFrame", TableWay::Shown},
                                           LateTableCase{"AskedForSooner", TableWay::AskedFor},
                                           LateTableCase{"AtTheEndOfAScan", TableWay::ScanEnded}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
