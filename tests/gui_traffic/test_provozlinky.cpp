// "Provoz linky" driven as a technician drives it: opened from the menu,
// the frames of a trace filtered, paused, copied and saved, and the
// statistics of transactions through drivers that write no trace.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "Wire.h"
#include "linkstats/FrameLog.h"
#include "ui/Hlavni.h"
#include "ui/ProvozLinky.h"

namespace fs = std::filesystem;
using namespace guitest;

namespace {

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    wire::AppendHex(text, bytes);
    return text;
}

// One Send line as our drivers trace it: a request and the frames received.
std::string Send(uint8_t address, uint8_t command,
                 const std::vector<std::pair<uint8_t, const char*>>& replies, uint32_t result) {
    const wire::Data data{0, 62, 62, 0, 0};
    std::string line = "2026-12-08 10:01:02.000123 77 TRQ1318 03180001 Send " +
                       Hex(wire::Encode(wire::Request{address, command, 0, 0x1234, data}));
    for (const auto& [from, verdict] : replies)
        line += " | " + Hex(wire::Encode(wire::Reply{from, command, 0, 0x1234, 0, data})) + " " + verdict;
    return line + " | result " + std::to_string(result) + " | 4023 us\n";
}

// Six frames: two of address 1, two of address 2, a request of address 1
// that another module's reply (address 9) answered instead.
const std::string kTrace = Send(1, 102, {{1, "taken"}}, 0) + Send(2, 100, {{2, "taken"}}, 0) +
                           Send(1, 100, {{9, "ignored address"}}, 11);

class TrafficWindow : public testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        m_window = new TProvozLinky(m_log, nullptr);
    }
    void TearDown() override {
        delete m_window;
        if (IsConnected(m_rec)) Disconnect(m_rec);
    }
    void Feed(const std::string& lines) {
        {
            const std::lock_guard lock(m_log.Mutex());
            m_log.AddLines(lines);
        }
        m_window->Timer1Timer();
    }
    std::string Stat(const char* name) const { return FromQt(Child<QLabel>(m_window, name)->text()); }
    int Rows() const { return m_window->Model().rowCount(); }

    TTrafficLog m_log;  // before any connection, as in the program
    TProvozLinky* m_window = nullptr;
    TData m_rec;
};

TEST_F(TrafficWindow, MenuOpensOneWindowAndRaisesIt) {
    const fs::path dir =
        fs::temp_directory_path() / ("rq905-traffic-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    {
        TForm1 form((dir / "W_rq905.ini").string());
        auto* item = form.findChild<QAction*>("ProvozLinky1");
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(FromQt(item->text()), "Pro&voz linky");
        item->trigger();
        item->trigger();
        const auto windows = form.findChildren<TProvozLinky*>();
        ASSERT_EQ(windows.size(), 1);
        EXPECT_TRUE(windows.front()->isVisible());
        EXPECT_EQ(FromQt(windows.front()->windowTitle()), "Provoz linky");
    }
    fs::remove_all(dir);
}

TEST_F(TrafficWindow, CountsTransactionsOfDriversWithoutTrace) {
    Connect(m_rec);
    ASSERT_TRUE(IsConnected(m_rec));
    TFakeModule module;
    Rec().responder = std::ref(module);
    Rec().replies.push_back(TRecReply{0, 11, 0, {}});  // the module does not answer
    for (int i = 0; i < 4; ++i) {
        uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
        TCellBlock reply{};
        ModuleTransaction(m_rec.Kind, m_rec.Handle, 7, 100, 0, d0, d1, d2, d3, d4, status, reply);
    }
    for (int i = 0; i < TProvozLinky::kStatsEvery; ++i) m_window->Timer1Timer();
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(Child<QLabel>(m_window, "NoteLabel")->isVisibleTo(m_window));
    EXPECT_EQ(Stat("StatTransactions"), "4");
    EXPECT_EQ(Stat("StatAnswered"), "3");
    EXPECT_EQ(Stat("StatTimeouts"), "1");
    EXPECT_EQ(Stat("StatRefused"), "neznámo");
    EXPECT_NE(Stat("StatMax"), "-");

    Click(m_window, "ResetButton");
    EXPECT_EQ(Stat("StatTransactions"), "0");
    EXPECT_EQ(Stat("StatMax"), "-");
}

struct FilterCase {
    const char* name;
    const char* address;  // typed into the address filter
    int command;          // item of the command filter
    int rows;
    const char* firstResult;  // the start of the first row's result
};
void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

class TrafficFilter : public TrafficWindow, public testing::WithParamInterface<FilterCase> {};

TEST_P(TrafficFilter, ShowsTheMatchingFrames) {
    const FilterCase& c = GetParam();
    Feed(kTrace);
    Child<QLineEdit>(m_window, "FilterAddress")->setText(c.address);
    Child<QComboBox>(m_window, "FilterCommand")->setCurrentIndex(c.command);
    ASSERT_EQ(Rows(), c.rows);
    EXPECT_EQ(m_window->Model().RowText(0)[7].rfind(c.firstResult, 0), 0u) << m_window->Model().RowText(0)[7];
    EXPECT_FALSE(Child<QLabel>(m_window, "NoteLabel")->isVisibleTo(m_window));
}

INSTANTIATE_TEST_SUITE_P(
    Traffic, TrafficFilter,
    testing::Values(FilterCase{"All", "", 0, 6, "0 "}, FilterCase{"Address", "1", 0, 3, "0 "},
                    FilterCase{"Command", "", 3, 4, "0 "}, FilterCase{"AddressAndCommand", "1", 3, 1, "11 "},
                    FilterCase{"HexAddressOfARefusedReply", "0x9", 0, 1, "odmítnuto: odpověď jiného modulu"},
                    FilterCase{"NoAddressFiltersNothing", "abc", 0, 6, "0 "}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(TrafficWindow, PauseHoldsTheListAndCopySaveTakeIt) {
    Feed(Send(1, 102, {{1, "taken"}}, 0));
    ASSERT_EQ(Rows(), 2);
    Click(m_window, "PauseButton");
    Feed(kTrace);
    EXPECT_EQ(Rows(), 2);
    EXPECT_NE(StatusOf(m_window).find("pozastaveno"), std::string::npos);
    Click(m_window, "PauseButton");
    ASSERT_EQ(Rows(), 8);

    Click(m_window, "CopyButton");
    const std::string copied = FromQt(QApplication::clipboard()->text());
    EXPECT_EQ(std::count(copied.begin(), copied.end(), '\n'), 9);
    EXPECT_NE(copied.find("\n10:01:02.000123\tvysláno\t1\t"), std::string::npos) << copied;

    const fs::path file = fs::temp_directory_path() /
                          ("rq905-traffic-" + std::to_string(QCoreApplication::applicationPid()) + ".txt");
    WhenModal([&](QWidget* dialog) {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(file.string()));
        QTest::keyClick(name, Qt::Key_Return);
    });
    Click(m_window, "SaveButton");
    std::ifstream in(file, std::ios::binary);
    std::stringstream read;
    read << in.rdbuf();
    const std::string saved = read.str();
    // Windows removes no file that is still open.
    in.close();
    fs::remove(file);
    // The saved list has the date as well.
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 9);
    EXPECT_NE(saved.find("\n2026-12-08 10:01:02.000123\tpřijato\t9\t"), std::string::npos) << saved;
    EXPECT_NE(StatusOf(m_window).find(" Uloženo rámců: 8"), std::string::npos);
}

TEST_F(TrafficWindow, PictureForTheGuide) {
    Connect(m_rec);
    TFakeModule module;
    Rec().responder = std::ref(module);
    for (int i = 0; i < 5; ++i) {
        uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
        TCellBlock reply{};
        ModuleTransaction(m_rec.Kind, m_rec.Handle, 5, 0, 64, d0, d1, d2, d3, d4, status, reply);
    }
    for (int i = 1; i < TProvozLinky::kStatsEvery; ++i) m_window->Timer1Timer();
    Feed(kTrace + Send(5, 200, {{5, "taken"}}, 0) + Send(5, 0, {}, 11));
    m_window->resize(1100, 480);
    m_window->show();
    const QString path = QString(RQ905_DOCS_GUI_DIR) + "/provoz-linky.png";
    fs::create_directories(RQ905_DOCS_GUI_DIR);
    EXPECT_TRUE(m_window->grab().save(path));
}

}  // namespace
