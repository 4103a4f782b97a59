#include "ui/Prubeh.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/AppendFile.h"
#include "core/Cp1250.h"
#include "core/Dekl.h"
#include "core/IntText.h"
#include "core/LocalTime.h"
#include "ui/LineLock.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

// Where the lanes' levels sit in the chart's bit word.
constexpr int kDoutBit = 8;
constexpr int kStatusBit = 16;
constexpr int kPwmLine = 0;
constexpr const char* kLineHolder = "Průběh";

QPointer<TPrubeh> g_window;

QPushButton* AddButton(QWidget* parent, QHBoxLayout* row, const char* name, const char* caption) {
    auto* button = new QPushButton(ToQt(caption), parent);
    button->setObjectName(name);
    // Enter in the window presses nothing: the buttons are pressed by
    // their letters or by Space.
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

std::string BitText(const TStripChart::TLaneReading& r) {
    return r.known ? IntToStr(static_cast<int64_t>(r.value)) : "?";
}

}  // namespace

TPrubeh* TPrubeh::Open(TData* record, QWidget* owner) {
    if (record == nullptr) return nullptr;
    if (g_window == nullptr) g_window = new TPrubeh(owner);
    g_window->SetData(record);
    g_window->show();
    g_window->raise();
    g_window->activateWindow();
    return g_window;
}

TPrubeh::TPrubeh(QWidget* owner, std::size_t capacity)
    : QWidget(owner, Qt::Window), m_ring(capacity), m_blocks(capacity / kBlock + 2) {
    setObjectName("Prubeh");
    setWindowTitle(ToQt("Průběh"));
    resize(960, 640);
    if (owner != nullptr) owner->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    m_connectionLabel = new QLabel(this);
    m_connectionLabel->setObjectName("Connection");
    m_connectionLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_connectionLabel);

    auto* row = new QHBoxLayout();
    auto* periodLabel = new QLabel(ToQt("Pe&rioda [ms]:"), this);
    m_period = new QSpinBox(this);
    m_period->setObjectName("Period");
    m_period->setRange(20, 60'000);
    m_period->setValue(kDefaultPeriod);
    periodLabel->setBuddy(m_period);
    row->addWidget(periodLabel);
    row->addWidget(m_period);
    m_pause = AddButton(this, row, "Pause", "Pa&uza");
    m_pause->setCheckable(true);
    m_zoomIn = AddButton(this, row, "ZoomIn", "&Přiblížit");
    m_zoomOut = AddButton(this, row, "ZoomOut", "&Oddálit");
    m_live = AddButton(this, row, "Live", "&Aktuální");
    row->addSpacing(16);
    m_record = AddButton(this, row, "Record", "Zá&znam");
    m_record->setCheckable(true);
    m_exportPng = AddButton(this, row, "ExportPng", "Obrázek P&NG…");
    m_exportCsv = AddButton(this, row, "ExportCsv", "Tabulka &CSV…");
    row->addStretch(1);
    layout->addLayout(row);

    m_chart = new TStripChart(this);
    m_chart->setObjectName("Chart");
    for (int n = 0; n < 8; ++n) m_chart->AddBitLane(QStringLiteral("DIN%1").arg(n), n);
    for (int n = 0; n < 8; ++n) m_chart->AddBitLane(QStringLiteral("DOUT%1").arg(n), kDoutBit + n);
    m_chart->AddValueLane(QStringLiteral("PWM"), kPwmLine, 0, 65535, 4);
    for (std::size_t k = 0; k < std::size(kTrendStatusBits); ++k) {
        m_chart->AddBitLane(ToQt(kTrendStatusBits[k].name), kStatusBit + static_cast<int>(k));
    }
    m_chart->SetSource(this);
    layout->addWidget(m_chart, 1);

    m_readout = new QLabel(this);
    m_readout->setObjectName("Readout");
    m_readout->setTextFormat(Qt::PlainText);
    layout->addWidget(m_readout);

    m_statusBar1 = new TStatusLine(this);
    // The recording's state stands apart from the readings' results, so
    // that a failed write stays in view after the next reading.
    m_recordState = new QLabel(m_statusBar1);
    m_recordState->setObjectName("RecordState");
    m_recordState->setTextFormat(Qt::PlainText);
    m_statusBar1->addPermanentWidget(m_recordState);
    layout->addWidget(m_statusBar1);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName("Timer1");
    m_timer1->setInterval(kDefaultPeriod);
    connect(m_timer1, &QTimer::timeout, this, &TPrubeh::Timer1Timer);
    PeriodChange(kDefaultPeriod);

    connect(m_period, &QSpinBox::valueChanged, this, &TPrubeh::PeriodChange);
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) { m_chart->SetFollowing(!paused); });
    connect(m_chart, &TStripChart::FollowingChanged, this, [this](bool following) {
        const QSignalBlocker block(m_pause);
        m_pause->setChecked(!following);
    });
    connect(m_zoomIn, &QPushButton::clicked, this, [this] { m_chart->Zoom(2); });
    connect(m_zoomOut, &QPushButton::clicked, this, [this] { m_chart->Zoom(0.5); });
    connect(m_live, &QPushButton::clicked, this, [this] { m_chart->SetFollowing(true); });
    connect(m_record, &QPushButton::toggled, this, &TPrubeh::RecordClick);
    connect(m_exportPng, &QPushButton::clicked, this, &TPrubeh::ExportPngClick);
    connect(m_exportCsv, &QPushButton::clicked, this, &TPrubeh::ExportCsvClick);
    connect(m_chart, &TStripChart::CursorMoved, this, &TPrubeh::ShowReadout);
    ShowReadout();
    // The chart's keys (arrows, +, -, Page Up/Down, End) work at once.
    m_chart->setFocus();
}

void TPrubeh::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ShowConnection();
    m_timer1->start();
}

void TPrubeh::closeEvent(QCloseEvent* event) {
    // Closed, the window neither polls nor records; its samples stay for
    // the next opening.
    m_timer1->stop();
    if (!m_recordPath.isEmpty()) StopRecording("Záznam ukončen");
    event->accept();
}

bool TPrubeh::eventFilter(QObject* watched, QEvent* event) {
    // The main window's close step frees the record: this window lets go
    // of it first.
    if (watched == parent() && event->type() == QEvent::Close) {
        close();
        m_data = nullptr;
    }
    return QWidget::eventFilter(watched, event);
}

void TPrubeh::PeriodChange(int ms) {
    m_timer1->setInterval(ms);
    // A reading is drawn until the next one is due twice over; a longer
    // pause (a dialog holding the line, no connection) shows as a gap.
    m_chart->SetHoldMs(std::max(3 * ms, 500));
}

uint32_t TPrubeh::BitsOf(const TTrendSample& sample, uint32_t& known) {
    uint32_t bits = 0;
    known = 0;
    if (sample.InputsRead()) {
        known |= 0xFFu;
        bits |= sample.Inputs();
    }
    if (sample.DoutKnown()) {
        known |= 0xFFu << kDoutBit;
        bits |= uint32_t{sample.Dout()} << kDoutBit;
    }
    if (sample.StatusRead()) {
        for (std::size_t k = 0; k < std::size(kTrendStatusBits); ++k) {
            known |= 1u << (kStatusBit + k);
            bits |= ((sample.Status() >> kTrendStatusBits[k].bit) & 1u) << (kStatusBit + k);
        }
    }
    return bits;
}

void TPrubeh::AddSample(const TTrendSample& sample, TStripSummary& summary) {
    uint32_t known = 0;
    const uint32_t bits = BitsOf(sample, known);
    summary.AddBits(bits, known);
    if (sample.PwmKnown()) summary.lines[kPwmLine].Add(sample.Pwm());
}

uint32_t TPrubeh::Bits(std::size_t i, uint32_t& known) const { return BitsOf(m_ring.At(i), known); }

bool TPrubeh::Value(std::size_t i, int line, double& value) const {
    const TTrendSample& sample = m_ring.At(i);
    if (line != kPwmLine || !sample.PwmKnown()) return false;
    value = sample.Pwm();
    return true;
}

void TPrubeh::Summarize(std::size_t first, std::size_t last, TStripSummary& summary) const {
    const uint64_t base = m_added - m_ring.Size();  // the count of ring index 0
    uint64_t n = base + first;
    const uint64_t end = base + last;
    while (n < end) {
        if (n % kBlock == 0 && n + kBlock <= end) {
            summary.Add(m_blocks[static_cast<std::size_t>((n / kBlock) % m_blocks.size())]);
            n += kBlock;
        } else {
            AddSample(m_ring.At(static_cast<std::size_t>(n - base)), summary);
            ++n;
        }
    }
}

void TPrubeh::ShowStatus(const std::string& text) {
    // Ten readings a second would repaint the bar ten times for one text.
    if (text == m_status) return;
    m_status = text;
    m_statusBar1->Show(text);
}

void TPrubeh::ShowConnection() {
    std::string text;
    if (m_data == nullptr || !IsConnected(*m_data)) {
        text = kNotConnectedText;
    } else {
        text = " Modul  " + PrintableText(m_data->ModuleIdent) + ", adresa " +
               IntToStr(m_data->ModuleAddress) + ", " + IntToStr(m_data->Speed) + " Bd, perioda " +
               IntToStr(m_period->value()) + " ms";
    }
    if (text == m_connection) return;
    m_connection = text;
    m_connectionLabel->setText(ToQt(text));
}

void TPrubeh::Timer1Timer() {
    if (m_data == nullptr || m_polling) return;
    ShowConnection();
    const TData& rec = *m_data;
    if (!IsConnected(rec)) {
        ShowStatus(kNotConnectedText);
        return;
    }
    // A dialog's sequence or a scan has the line: this reading is skipped,
    // never put between their transactions.
    TLineHold line(kLineHolder);
    if (!line) {
        const char* holder = line.Line().Holder();
        ShowStatus(std::string(" Čtení čeká, linku používá: ") + (holder != nullptr ? holder : ""));
        return;
    }
    m_polling = true;
    const uint8_t address = rec.ModuleAddress;
    TTrendReading r;
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
    TCellBlock reply{};
    ModuleTransaction(rec.Kind, rec.Handle, address, 0, 64, d0, d1, d2, d3, d4, status, reply);
    r.inputsRead = status == 0;
    r.inputs = d1;
    r.errorCode = status;
    d0 = d1 = d2 = d3 = d4 = status = 0;
    ModuleTransaction(rec.Kind, rec.Handle, address, 100, 0, d0, d1, d2, d3, d4, status, reply);
    line.Release();
    r.statusRead = status == 0;
    r.status = d1 | (uint32_t{d2} << 8) | (uint32_t{d3} << 16) | (uint32_t{d4} << 24);
    if (r.errorCode == 0) r.errorCode = status;
    const TLiveOutputs outputs = OutputsOf(rec, address);
    r.doutKnown = outputs.DoutKnown;
    r.dout = outputs.Dout;
    r.pwmKnown = outputs.PwmKnown;
    r.pwm = outputs.Pwm;
    // The reading's time is when it was complete, as a watch's.
    r.unixMs = UnixMsNow();
    const std::string text = ResultMessage(rec.Kind, r.errorCode);
    if (r.errorCode != 0) m_errorTexts[r.errorCode] = text;
    m_polling = false;
    ShowStatus(" " + text);
    AddReading(r);
}

void TPrubeh::AddReading(const TTrendReading& reading) {
    m_ring.Push(reading);
    const uint64_t n = m_added++;
    TStripSummary& block = m_blocks[static_cast<std::size_t>((n / kBlock) % m_blocks.size())];
    if (n % kBlock == 0) block = TStripSummary{};
    AddSample(m_ring.At(m_ring.Size() - 1), block);
    m_chart->SamplesAdded();
    if (!m_recordPath.isEmpty()) RecordLine(reading);
}

bool TPrubeh::RecordLine(const TTrendReading& reading) {
    // The file is opened by name for every line, for appending only: a
    // rotation that renames it gets a new file at the next line, one that
    // copies and truncates it gets the next line at its new start, and an
    // empty file gets the header first.
    TOutputFile file;
    std::string reason;
    const std::string path = ToFileName(m_recordPath);
    if (file.Open(path, reason)) {
        std::string text = file.Empty() ? Cp1250ToUtf8(TrendCsvHeader()) + "\n" : std::string();
        text += Cp1250ToUtf8(TrendCsvLine(reading, m_errorTexts[reading.errorCode])) + "\n";
        if (file.Append(text, reason)) return true;
    }
    StopRecording("Zápis do souboru " + FromQt(m_recordPath) + " selhal, záznam skončil: " + reason);
    return false;
}

void TPrubeh::StopRecording(const std::string& why) {
    m_recordPath.clear();
    {
        const QSignalBlocker block(m_record);
        m_record->setChecked(false);
    }
    ShowRecordState(why);
}

void TPrubeh::ShowRecordState(const std::string& text) { m_recordState->setText(ToQt(text)); }

void TPrubeh::RecordClick(bool on) {
    if (!on) {
        StopRecording("Záznam ukončen");
        return;
    }
    // Appending to a file that exists is what a recording does, so its
    // choice asks nothing about overwriting.
    const QString name = ChooseFile("Záznam průběhu do souboru CSV", "CSV (*.csv)", "csv", false);
    if (name.isEmpty()) {
        StopRecording(FromQt(m_recordState->text()));
        return;
    }
    StartRecording(name);
}

bool TPrubeh::StartRecording(const QString& name) {
    std::string reason;
    TOutputFile probe;
    if (!probe.Open(ToFileName(name), reason)) {
        StopRecording("Záznam nelze začít: " + FromQt(name) + ": " + reason);
        return false;
    }
    m_recordPath = name;
    {
        const QSignalBlocker block(m_record);
        m_record->setChecked(true);
    }
    ShowRecordState("Záznam do " + FromQt(name));
    return true;
}

QString TPrubeh::ChooseFile(const char* title, const char* filter, const char* suffix,
                            bool confirmOverwrite) {
    QFileDialog dialog(this, ToQt(title), m_lastDir, ToQt(filter));
    dialog.setObjectName("FileDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromLatin1(suffix));
    if (!confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString name = dialog.selectedFiles().first();
    m_lastDir = QFileInfo(name).absolutePath();
    return name;
}

std::string TPrubeh::VisibleCsv() const {
    const auto [first, last] = m_chart->VisibleSamples();
    std::string text = Cp1250ToUtf8(TrendCsvHeader()) + "\n";
    for (std::size_t i = first; i < last; ++i) {
        const TTrendReading r = m_ring.At(i).Reading();
        text += Cp1250ToUtf8(TrendCsvLine(r, m_errorTexts[r.errorCode])) + "\n";
    }
    return text;
}

void TPrubeh::ExportCsvClick() {
    const QString name = ChooseFile("Uložit zobrazený průběh jako CSV", "CSV (*.csv)", "csv", true);
    if (name.isEmpty()) return;
    const std::string text = VisibleCsv();
    QSaveFile file(name);
    if (file.open(QIODevice::WriteOnly) &&
        file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
        file.commit()) {
        ShowStatus(" Uloženo: " + FromQt(name));
    } else {
        ShowStatus(" Soubor " + FromQt(name) + " nelze uložit: " + FromQt(file.errorString()));
    }
}

void TPrubeh::ExportPngClick() {
    const QString name = ChooseFile("Uložit zobrazený průběh jako obrázek PNG", "PNG (*.png)", "png", true);
    if (name.isEmpty()) return;
    if (m_chart->grab().save(name, "PNG")) {
        ShowStatus(" Uloženo: " + FromQt(name));
    } else {
        ShowStatus(" Soubor " + FromQt(name) + " nelze uložit.");
    }
}

void TPrubeh::ShowReadout() {
    const std::optional<int64_t> at = m_chart->CursorMs();
    std::string text;
    if (!at) {
        text = "Kurzor: klepněte do grafu nebo stiskněte šipku";
    } else if (!m_chart->CursorSample()) {
        text = "Kurzor " + LocalTimeAt(*at).clock + ": bez vzorku";
    } else {
        const std::vector<TStripChart::TLaneReading> lanes = m_chart->Readout();
        const int64_t sampleMs = m_ring.At(*m_chart->CursorSample()).UnixMs();
        text = "Kurzor " + LocalTimeAt(sampleMs).clock + "   DIN0-7:";
        for (std::size_t n = 0; n < 8; ++n) text += " " + BitText(lanes[n]);
        text += "   DOUT0-7:";
        for (std::size_t n = 8; n < 16; ++n) text += " " + BitText(lanes[n]);
        text += "   PWM: " +
                (lanes[16].known ? IntToStr(static_cast<int64_t>(lanes[16].value)) : std::string("?"));
        for (std::size_t n = 17; n < lanes.size(); ++n)
            text += "   " + FromQt(lanes[n].name) + " " + BitText(lanes[n]);
    }
    m_readout->setText(ToQt(text));
}
