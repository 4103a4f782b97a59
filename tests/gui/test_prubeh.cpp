// The trend window against the recording drivers: the ring's bounds, the
// cursor's readout, the recording's lines and its rotation, and following
// the connection; and its picture for the user's guide.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/LineLock.h"
#include "ui/OkamDOUT.h"
#include "ui/Prubeh.h"

using namespace guitest;

namespace {

const char* const kHeader =
    "time,inputs,din0,din1,din2,din3,din4,din5,din6,din7,outputs,dout0,dout1,dout2,dout3,dout4,dout5,dout6,"
    "dout7,"
    "pwm,status,status_hex,FN,PRF,PWR,RST,ERR24,error_code,error_text";

// --- The ring ---

struct RingCase {
    const char* name;
    std::size_t capacity;
    std::size_t pushes;
};
void PrintTo(const RingCase& c, std::ostream* os) { *os << c.name; }

class TrendRingTest : public ::testing::TestWithParam<RingCase> {};

TEST_P(TrendRingTest, KeepsTheNewestUpToItsCapacityOldestFirst) {
    TTrendRing ring(GetParam().capacity);
    for (std::size_t n = 0; n < GetParam().pushes; ++n) {
        ring.Push({.unixMs = static_cast<int64_t>(1'000 + n), .inputs = static_cast<uint8_t>(n)});
    }
    const std::size_t kept = std::min(GetParam().capacity, GetParam().pushes);
    ASSERT_EQ(ring.Size(), kept);
    for (std::size_t i = 0; i < kept; ++i) {
        const std::size_t n = GetParam().pushes - kept + i;
        ASSERT_EQ(ring.At(i).UnixMs(), static_cast<int64_t>(1'000 + n)) << i;
        ASSERT_EQ(ring.At(i).Reading().inputs, static_cast<uint8_t>(n)) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Trend, TrendRingTest,
                         ::testing::Values(RingCase{"Empty", 4, 0}, RingCase{"PartlyFilled", 4, 3},
                                           RingCase{"Full", 4, 4}, RingCase{"WrappedOnce", 4, 5},
                                           RingCase{"WrappedManyTimes", 5, 23}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(TrendSampleTest, KeepsEveryFieldInSixteenBytes) {
    const TTrendReading rows[] = {
        {},
        {1'765'000'000'123, true, 0xA5, true, 0xFEDCBA98, true, 0x3C, true, 65535, 0},
        {17'592'186'044'415, false, 0, false, 0, false, 0, false, 0, 255},  // the last millisecond it holds
        {1'765'000'000'000, true, 1, false, 0, false, 0, true, 1, 11},
    };
    for (const TTrendReading& r : rows) EXPECT_EQ(TTrendSample(r).Reading(), r) << r.unixMs;
}

TEST(TrendRingClockTest, AClockSetBackKeepsTheTimesInOrder) {
    TTrendRing ring(8);
    for (const int64_t t : {5'000, 6'000, 4'000, 7'000}) ring.Push({.unixMs = t});
    EXPECT_EQ(ring.At(2).UnixMs(), 6'000);
    EXPECT_EQ(ring.At(3).UnixMs(), 7'000);
}

// --- The window ---

class TrendWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        Rec().responder = [this](const std::array<uint32_t, 8>& r) { return Respond(r); };
        Connect(m_rec, 7);
        m_window = std::make_unique<TPrubeh>(nullptr, 64);
        m_window->SetData(&m_rec);
        m_window->show();
        // The test's ticks alone talk to the module.
        Child<QTimer>(m_window.get(), "Timer1")->stop();
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override {
        m_window.reset();
        Disconnect(m_rec);
    }
    TRecReply Respond(const std::array<uint32_t, 8>& r) {
        if (r[1] == 0 && m_inputsStatus != 0) return TRecReply{0, m_inputsStatus, 0, {}};
        return m_module(r);
    }
    // One reading, a few milliseconds after the one before, so that each
    // has a time of its own.
    void Tick() {
        QTest::qWait(3);
        m_window->Timer1Timer();
    }
    std::string Readout() const { return FromQt(Child<QLabel>(m_window.get(), "Readout")->text()); }
    std::string Text(const char* name) const { return FromQt(Child<QLabel>(m_window.get(), name)->text()); }
    // Presses a button that asks for a file and types name into the file
    // dialog, as a technician would.
    void PressWithFile(const char* button, const QString& name) {
        QTimer::singleShot(0, [name] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(edit, nullptr);
            edit->setText(name);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        Click(m_window.get(), button);
    }
    static std::string Read(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return "<none>";
        return file.readAll().toStdString();
    }

    TData m_rec;
    TFakeModule m_module;
    uint32_t m_inputsStatus = 0;
    std::unique_ptr<TPrubeh> m_window;
    QTemporaryDir m_dir;
};

struct CursorCase {
    const char* name;
    int stepsBack;  // Left presses after the first Right
    const char* readout;
};
void PrintTo(const CursorCase& c, std::ostream* os) { *os << c.name; }

class TrendCursorTest : public TrendWindowTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(TrendCursorTest, ReadsOutTheSampleAtTheCursor) {
    // Inputs 0x01, 0x82, 0x03 with outputs and PWM written through the
    // outputs dialog before the third; the status register's PWR and FN.
    m_module.statusRegister = {0x12, 0, 0, 0};
    for (const uint32_t inputs : {0x01u, 0x82u}) {
        m_module.inputs = inputs;
        Tick();
    }
    TForm9 outputs;
    outputs.SetData(&m_rec);
    outputs.show();
    Child<QCheckBox>(&outputs, "DOUT2")->setChecked(true);
    Click(&outputs, "Button1");
    NotePwmWritten(m_rec, 7, 1000);
    m_module.inputs = 0x03;
    Tick();
    auto* chart = Child<TStripChart>(m_window.get(), "Chart");
    chart->setFocus();
    QTest::keyClick(chart, Qt::Key_Right);
    for (int n = 0; n < GetParam().stepsBack; ++n) QTest::keyClick(chart, Qt::Key_Left);
    const std::string text = Readout();
    EXPECT_NE(text.find(GetParam().readout), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Trend, TrendCursorTest,
    ::testing::Values(
        CursorCase{"Newest", 0,
                   "DIN0-7: 1 1 0 0 0 0 0 0   DOUT0-7: 0 0 1 0 0 0 0 0   PWM: 1000   FN 1   PRF 0   "
                   "PWR 1   RST 0   ERR24 0"},
        CursorCase{"OneBack", 1, "DIN0-7: 0 1 0 0 0 0 0 1   DOUT0-7: ? ? ? ? ? ? ? ?   PWM: ?   FN 1"},
        CursorCase{"Oldest", 2, "DIN0-7: 1 0 0 0 0 0 0 0   DOUT0-7: ? ? ? ? ? ? ? ?   PWM: ?"},
        CursorCase{"PastTheOldest", 5, "DIN0-7: 1 0 0 0 0 0 0 0"}),
    [](const auto& row) { return std::string(row.param.name); });

// The recording: a line per reading in rq905ctl's form, and a file that a
// rotation moved or emptied gets its header again.
struct RecordCase {
    const char* name;
    uint32_t inputsStatus;  // 0: the inputs are read
    void (*rotate)(const QString& path);
    const char* line;  // the last line's fields after the time
};
void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class TrendRecordTest : public TrendWindowTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(TrendRecordTest, AppendsOneLinePerReadingInRq905ctlForm) {
    const QString path = m_dir.filePath("trend.csv");
    PressWithFile("Record", path);
    ASSERT_EQ(m_window->RecordPath(), path) << StatusOf(m_window.get());
    m_module.inputs = 0x05;
    m_module.statusRegister = {0x30, 0x01, 0, 0};
    Tick();
    if (GetParam().rotate != nullptr) GetParam().rotate(path);
    m_inputsStatus = GetParam().inputsStatus;
    Tick();
    const std::string text = Read(path);
    const bool rotated = GetParam().rotate != nullptr;
    const QString form =
        QString("^%1\n(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d,[^\n]*\n){%2}$")
            .arg(QRegularExpression::escape(kHeader))
            .arg(rotated ? 1 : 2);
    EXPECT_TRUE(QRegularExpression(form).match(QString::fromStdString(text)).hasMatch()) << text;
    const std::size_t comma = text.rfind('\n', text.size() - 2);
    const std::string last = text.substr(text.find(',', comma) + 1);
    EXPECT_EQ(last, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Trend, TrendRecordTest,
    ::testing::Values(
        RecordCase{"Read", 0, nullptr, "5,1,0,1,0,0,0,0,0,,,,,,,,,,,304,0x00000130,0,0,1,1,0,,\n"},
        RecordCase{"InputsFailed", 11, nullptr, ",,,,,,,,,,,,,,,,,,,304,0x00000130,0,0,1,1,0,11,E11\n"},
        RecordCase{"RenamedAway", 0, [](const QString& p) { QFile::rename(p, p + ".1"); },
                   "5,1,0,1,0,0,0,0,0,,,,,,,,,,,304,0x00000130,0,0,1,1,0,,\n"},
        RecordCase{"CopiedAndTruncated", 0, [](const QString& p) { QFile(p).resize(0); },
                   "5,1,0,1,0,0,0,0,0,,,,,,,,,,,304,0x00000130,0,0,1,1,0,,\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(TrendWindowTest, AFailedWriteEndsTheRecordingAndSaysSo) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("gone"));
    const QString path = m_dir.filePath("gone/trend.csv");
    ASSERT_TRUE(m_window->StartRecording(path));
    Tick();
    ASSERT_TRUE(QDir(m_dir.filePath("gone")).removeRecursively());
    Tick();
    EXPECT_TRUE(m_window->RecordPath().isEmpty());
    EXPECT_FALSE(Child<QPushButton>(m_window.get(), "Record")->isChecked());
    EXPECT_EQ(Text("RecordState").rfind("Zápis do souboru " + FromQt(path) + " selhal", 0), 0u)
        << Text("RecordState");
}

// Following the connection: the window polls whatever the record holds at
// each tick, and says when there is none or a dialog has the line.
struct FollowCase {
    const char* name;
    bool connected;
    uint8_t address;
    bool lineTaken;
    const char* connection;  // the label's text starts with it
    std::size_t sent;        // requests of one tick
};
void PrintTo(const FollowCase& c, std::ostream* os) { *os << c.name; }

class TrendFollowTest : public TrendWindowTest, public ::testing::WithParamInterface<FollowCase> {};

TEST_P(TrendFollowTest, PollsTheConnectionOfTheRecordAtEachTick) {
    Tick();
    Disconnect(m_rec);
    if (GetParam().connected) Connect(m_rec, GetParam().address);
    m_rec.ModuleIdent = "RQ-905  1.02";
    TLineHold dialog;
    if (GetParam().lineTaken) {
        ASSERT_TRUE(dialog.TryTake("dialog"));
    }
    Rec().calls.clear();
    Tick();
    const auto sent = Rec().SentRequests();
    ASSERT_EQ(sent.size(), GetParam().sent);
    for (const auto& request : sent) EXPECT_EQ(request[0], GetParam().address);
    EXPECT_EQ(Text("Connection").rfind(GetParam().connection, 0), 0u) << Text("Connection");
    EXPECT_EQ(m_window->Ring().Size(), GetParam().sent > 0 ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Trend, TrendFollowTest,
    ::testing::Values(FollowCase{"NewModule", true, 9, false, " Modul  RQ-905  1.02, adresa 9", 2},
                      FollowCase{"NoConnection", false, 0, false, kNotConnectedText, 0},
                      FollowCase{"LineHeldByADialog", true, 9, true, " Modul  RQ-905  1.02, adresa 9", 0}),
    [](const auto& row) { return std::string(row.param.name); });

// The exports: the samples in view, no others. The view is paused over
// the middle readings.
struct ExportCase {
    const char* name;
    const char* button;
    const char* file;
};
void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.name; }

class TrendExportTest : public TrendWindowTest, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(TrendExportTest, WritesTheVisibleRange) {
    // Readings farther apart than the shortest span shows.
    for (int n = 0; n < 8; ++n) {
        QTest::qWait(250);
        m_window->Timer1Timer();
    }
    TStripChart* chart = m_window->Chart();
    chart->SetFollowing(false);
    chart->SetSpanMs(1'000);
    chart->SetViewEndMs(m_window->Ring().At(5).UnixMs());
    const auto [first, last] = chart->VisibleSamples();
    ASSERT_GT(first, 0u);
    ASSERT_LT(last, m_window->Ring().Size());
    const QString path = m_dir.filePath(GetParam().file);
    PressWithFile(GetParam().button, path);
    if (QString(GetParam().file).endsWith(".png")) {
        EXPECT_EQ(QImage(path).size(), chart->size());
        return;
    }
    const std::string text = Read(path);
    EXPECT_EQ(text, m_window->VisibleCsv());
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), last - first + 1);
}

INSTANTIATE_TEST_SUITE_P(Trend, TrendExportTest,
                         ::testing::Values(ExportCase{"Csv", "ExportCsv", "view.csv"},
                                           ExportCase{"Png", "ExportPng", "view.png"}),
                         [](const auto& row) { return std::string(row.param.name); });

// From the main window's menu: one window, raised again; closing the main
// window closes it before the record goes.
TEST(TrendMenuTest, OneWindowThatTheMainWindowCloses) {
    QTemporaryDir dir;
    auto main = std::make_unique<TForm1>(QDir(dir.path()).filePath("W_rq905.ini").toStdString());
    main->show();
    auto* open = main->findChild<QAction*>("Prubeh1");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(FromQt(open->text()), "&Průběh");
    open->trigger();
    open->trigger();
    const QList<TPrubeh*> windows = main->findChildren<TPrubeh*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows.front()->isVisible());
    main->close();
    EXPECT_FALSE(windows.front()->isVisible());
}

// The picture of docs/gui.md: a minute-long pattern on the inputs, the
// outputs and PWM written twice, the status bits, and the cursor.
TEST_F(TrendWindowTest, Screenshot) {
    m_window = std::make_unique<TPrubeh>(nullptr);
    m_rec.ModuleIdent = "RQ-905  1.02";
    Rec().errorTexts[0] = "bez chyby";
    m_window->SetData(&m_rec);
    m_window->resize(980, 660);
    m_window->show();
    Child<QTimer>(m_window.get(), "Timer1")->stop();
    m_module.statusRegister = {0x30, 0, 0, 0};
    for (int n = 0; n < 120; ++n) {
        m_module.inputs = static_cast<uint32_t>((n / 4) ^ (n / 16 % 2 ? 0x90 : 0x00)) & 0xFF;
        if (n == 40) NoteDoutWritten(m_rec, 7, 0x05);
        if (n == 40) NotePwmWritten(m_rec, 7, 20'000);
        if (n == 80) NoteDoutWritten(m_rec, 7, 0x0C);
        if (n == 80) NotePwmWritten(m_rec, 7, 48'000);
        if (n == 60) m_module.statusRegister = {0x02, 0, 0, 0};
        QTest::qWait(10);
        m_window->Timer1Timer();
    }
    auto* chart = m_window->Chart();
    chart->SetSpanMs(chart->ViewEndMs() - m_window->Ring().At(0).UnixMs() + 200);
    chart->SetCursorMs(m_window->Ring().At(90).UnixMs());
    QDir().mkpath(RQ905_DOCS_GUI_DIR);
    const QImage image = m_window->grab().toImage();
    EXPECT_TRUE(image.save(QString(RQ905_DOCS_GUI_DIR) + "/prubeh.png"));
    EXPECT_NE(Readout().find("DOUT0-7: 0 0 1 1 0 0 0 0   PWM: 48000"), std::string::npos) << Readout();
}

}  // namespace
