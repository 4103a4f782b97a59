#include "ui/ModulyNaSbernici.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <sstream>

#include "core/ConfigFile.h"
#include "core/Cp1250.h"
#include "core/Dekl.h"
#include "core/IntText.h"
#include "core/LocalTime.h"
#include "core/SettingsPlace.h"
#include "core/SmallFile.h"
#include "ui/Pripojeni.h"
#include "ui/QtText.h"

using busscan::TProbeResult;
using busscan::TScanEnd;

namespace {

constexpr const char* kLineHolder = "hledání modulů";
constexpr char kSeparator = '\t';

std::string NowText() {
    const std::string iso = LocalTimeNow().iso;  // 2026-12-08T09:41:07.123+01:00
    return iso.size() >= 19 ? iso.substr(0, 10) + " " + iso.substr(11, 8) : iso;
}

std::string LeftText(std::chrono::milliseconds left) {
    const auto s = static_cast<int64_t>((left.count() + 999) / 1000);
    return s >= 60 ? IntToStr(s / 60) + " min " + IntToStr(s % 60) + " s" : IntToStr(s) + " s";
}

bool KnownState(const std::string& state) {
    return state == kAnswersText || state == kSilentText || state == kCollisionText;
}

// "9600", "115200, 9600": speed indexes, fastest first, each once.
bool ParseSpeeds(const std::string& text, std::vector<uint8_t>& indexes, std::string& bad) {
    std::array<bool, kSpeedCount> chosen{};
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ',')) {
        std::istringstream words(item);
        std::string word;
        while (words >> word) {
            std::optional<uint8_t> index;
            if (!ParseLineSpeed(word, index)) {
                bad = word;
                return false;
            }
            chosen[*index] = true;
        }
    }
    indexes.clear();
    for (uint8_t i = kSpeedCount; i-- > 0;) {
        if (chosen[i]) indexes.push_back(i);
    }
    return true;
}

}  // namespace

std::string BusFileText(const std::vector<TBusRow>& rows) {
    std::string text;
    for (const TBusRow& r : rows) {
        for (const std::string& field :
             {IntToStr(r.address), IntToStr(r.speed), r.name, r.version, r.state}) {
            text += PrintableText(field) + kSeparator;
        }
        text += r.lastAnswer + "\n";
    }
    return text;
}

std::vector<TBusRow> ParseBusFile(const std::string& text) {
    std::vector<TBusRow> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t at; (at = line.find(kSeparator, start)) != std::string::npos; start = at + 1) {
            fields.push_back(line.substr(start, at - start));
        }
        fields.push_back(line.substr(start));
        int32_t address = 0;
        int32_t speed = 0;
        if (fields.size() != 6 || !TryStrToInt(fields[0], address) || address < 0 || address > 255 ||
            !TryStrToInt(fields[1], speed) || !KnownState(fields[4]) ||
            SpeedFromIndex(IndexFromSpeed(static_cast<uint32_t>(speed))) != static_cast<uint32_t>(speed)) {
            continue;
        }
        rows.push_back(TBusRow{static_cast<uint8_t>(address), static_cast<uint32_t>(speed), fields[2],
                               fields[3], fields[4], fields[5]});
    }
    return rows;
}

// What the worker thread works with: copies, so that it never reads the
// record, and its results, read once it has ended.
struct TModulyNaSbernici::TJob {
    uint8_t kind = 0;
    TInitParams params{};  // the scan's own link
    std::string ip;
    uint32_t openHandle = 0;  // the open connection, closed for the scan
    TInitParams reopenParams{};
    std::string reopenIp;
    uint8_t reopenSpeed = 0;
    busscan::TScanSettings settings;
    uint8_t currentSpeed = 0;
    busscan::TBusScanner scanner;

    uint32_t openCode = 0;
    std::string openText;
    busscan::TScanOutcome outcome;
    bool reopened = false;
    uint32_t reopenedHandle = 0;
    std::string reopenText;

    void Run(const busscan::TScanObserver& observer) {
        const bool wasOpen = openHandle != 0;
        if (wasOpen) {
            uint32_t closing = openHandle;
            CloseInterface(kind, closing);
        }
        uint32_t handle = 0;
        openCode = OpenInterface(kind, handle, params);
        if (openCode != 0) {
            openText = ResultMessage(kind, openCode);
        } else {
            outcome = scanner.Run(kind, handle, settings, currentSpeed, observer);
            CloseInterface(kind, handle);
        }
        if (wasOpen) Reopen();
    }

    void Reopen() {
        uint32_t handle = 0;
        uint32_t code = OpenInterface(kind, handle, reopenParams);
        if (code == 0) {
            code = InterfaceSetConfig(kind, handle, SpeedFromIndex(reopenSpeed),
                                      SpeedConfigValue(reopenSpeed), 2);
            if (code != 0) {
                reopenText = ResultMessage(kind, code);
                CloseInterface(kind, handle);
                return;
            }
            reopened = true;
            reopenedHandle = handle;
            return;
        }
        reopenText = ResultMessage(kind, code);
    }
};

TModulyNaSbernici::TModulyNaSbernici(QWidget* parent, std::string busFile)
    : QWidget(parent), m_busFile(std::move(busFile)) {
    setObjectName("ModulyNaSbernici");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(ToQt("Moduly na sběrnici"), this);
    title->setObjectName("BusTitle");
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    auto* controls = new QHBoxLayout;
    auto label = [&](const char* name, const char* caption, QWidget* buddy) {
        auto* l = new QLabel(ToQt(caption), this);
        l->setObjectName(name);
        l->setBuddy(buddy);
        controls->addWidget(l);
        controls->addWidget(buddy);
    };
    m_from = new QSpinBox(this);
    m_from->setObjectName("ScanFrom");
    m_from->setRange(0, 255);
    m_from->setValue(0);
    m_to = new QSpinBox(this);
    m_to->setObjectName("ScanTo");
    m_to->setRange(0, 255);
    m_to->setValue(255);
    m_speeds = new QLineEdit(this);
    m_speeds->setObjectName("ScanSpeeds");
    m_speeds->setToolTip(
        ToQt("Rychlosti linky v Bd oddělené čárkou, např. 115200, 9600; "
             "prázdné: rychlost připojení"));
    label("ScanFromLabel", "&Adresy", m_from);
    label("ScanToLabel", "&do", m_to);
    label("ScanSpeedsLabel", "&Rychlosti", m_speeds);
    m_search = new QPushButton(ToQt("&Hledat"), this);
    m_search->setObjectName("SearchButton");
    m_stop = new QPushButton(ToQt("&Zastavit"), this);
    m_stop->setObjectName("StopButton");
    m_stop->setEnabled(false);
    controls->addWidget(m_search);
    controls->addWidget(m_stop);
    layout->addLayout(controls);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName("ScanProgress");
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setFormat("");
    m_progress->setTextVisible(true);
    layout->addWidget(m_progress);

    // The table's place; the table itself comes after the window's first
    // frame (BuildTable).
    m_tableSlot = layout->count();
    layout->addStretch(1);

    m_status = new QLabel(this);
    m_status->setObjectName("BusStatus");
    m_status->setTextFormat(Qt::PlainText);
    layout->addWidget(m_status);

    connect(m_search, &QPushButton::clicked, this, &TModulyNaSbernici::HledatClick);
    connect(m_stop, &QPushButton::clicked, this, &TModulyNaSbernici::ZastavitClick);

    std::string text;
    std::string reason;
    if (!m_busFile.empty() && ReadSmallFile(m_busFile, text, reason)) m_rows = ParseBusFile(text);
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const TBusRow& a, const TBusRow& b) {
        return a.address != b.address ? a.address < b.address : a.speed > b.speed;
    });
    ShowRows();
}

TModulyNaSbernici::~TModulyNaSbernici() { StopScan(); }

QTableWidget* TModulyNaSbernici::Table() {
    if (m_table == nullptr) BuildTable();
    return m_table;
}

void TModulyNaSbernici::BuildTable() {
    m_table = new QTableWidget(0, 6, this);
    m_table->setObjectName("BusTable");
    m_table->setHorizontalHeaderLabels({ToQt("Adresa"), ToQt("Rychlost"), ToQt("Název"), ToQt("Verze"),
                                        ToQt("Stav"), ToQt("Poslední odpověď")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->installEventFilter(this);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { RequestConnect(row); });
    auto* box = static_cast<QVBoxLayout*>(layout());
    delete box->takeAt(m_tableSlot);
    box->insertWidget(m_tableSlot, m_table, 1);
    // After the buttons in the tab order, as if made with them.
    setTabOrder(m_stop, m_table);
    ShowRows();
    if (isVisible()) m_table->show();
}

void TModulyNaSbernici::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // The first frame shows the window without the table, a few
    // milliseconds sooner; the table follows at once.
    if (m_table == nullptr && !m_tableDue) {
        m_tableDue = true;
        QTimer::singleShot(0, this, [this] { Table(); });
    }
}

void TModulyNaSbernici::SetData(TData* record) {
    m_data = record;
    MarkConnected();
}

std::string TModulyNaSbernici::StatusText() const { return FromQt(m_status->text()); }

void TModulyNaSbernici::ShowStatus(const std::string& text) { m_status->setText(ToQt(PrintableText(text))); }

bool TModulyNaSbernici::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            RequestConnect(m_table->currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TModulyNaSbernici::RequestConnect(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return;
    const TBusRow& r = m_rows[static_cast<std::size_t>(row)];
    emit ConnectRequested(r.address, IndexFromSpeed(r.speed));
}

void TModulyNaSbernici::MarkConnected() {
    if (m_data != nullptr) {
        m_speeds->setPlaceholderText(ToQt(IntToStr(m_data->Speed) + " (rychlost připojení)"));
    }
    ShowRows();
}

void TModulyNaSbernici::ShowRows() {
    if (m_table == nullptr) return;  // BuildTable shows them
    const int current = m_table->currentRow();
    m_table->setRowCount(static_cast<int>(m_rows.size()));
    const bool connected = m_data != nullptr && IsConnected(*m_data);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const TBusRow& r = m_rows[i];
        const bool mark = connected && r.address == m_data->ModuleAddress && r.speed == m_data->Speed;
        const std::array<std::string, 6> cells{
            IntToStr(r.address), IntToStr(r.speed) + " Bd", r.name, r.version, r.state, r.lastAnswer};
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(ToQt(PrintableText(cells[static_cast<std::size_t>(c)])));
            QFont font = item->font();
            font.setBold(mark);
            item->setFont(font);
            if (mark) item->setToolTip(ToQt("Připojený modul"));
            if (r.state == kCollisionText) item->setForeground(Qt::red);
            if (r.state == kSilentText) item->setForeground(Qt::gray);
            m_table->setItem(static_cast<int>(i), c, item);
        }
    }
    if (current >= 0 && current < m_table->rowCount()) m_table->setCurrentCell(current, 0);
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);
}

void TModulyNaSbernici::HledatClick() {
    if (m_data == nullptr || Scanning()) return;
    const TData& rec = *m_data;
    if (m_from->value() > m_to->value()) {
        ShowStatus("Neplatný rozsah adres.");
        return;
    }
    std::vector<uint8_t> speeds;
    std::string bad;
    if (!ParseSpeeds(FromQt(m_speeds->text()), speeds, bad)) {
        ShowStatus("Neplatná rychlost linky: " + bad);
        return;
    }
    // Over UDP the converter passes the request on at any line speed.
    if (speeds.size() > 1 && rec.Kind == kKindLan) {
        ShowStatus(
            "Převodník RQ-1318 přenáší dotaz při každé rychlosti linky; "
            "zkoušet rychlosti lze jen u sériových rozhraní.");
        return;
    }
    if (!m_line.TryTake(kLineHolder)) {
        ShowStatus("Linka je obsazena.");
        return;
    }

    m_foundModules = m_foundCollisions = 0;
    m_job = std::make_unique<TJob>();
    TJob& job = *m_job;
    job.kind = rec.Kind;
    TData own = rec;
    // Without a time-out of its own the LAN converter's wait follows the
    // line speed; the settings' one is for one module, not for many.
    own.UdpTimeout = 0;
    InitParamsFromRecord(own);
    job.params = own.InitParams;
    job.ip = rec.IpAddress;
    if (job.kind == kKindLan) job.params[0] = reinterpret_cast<uintptr_t>(job.ip.c_str());
    if (IsConnected(rec)) {
        job.openHandle = rec.Handle;
        job.reopenParams = rec.InitParams;
        job.reopenIp = rec.IpAddress;
        if (job.kind == kKindLan) job.reopenParams[0] = reinterpret_cast<uintptr_t>(job.reopenIp.c_str());
        job.reopenSpeed = IndexFromSpeed(rec.Speed);
    }
    job.settings.from = static_cast<uint8_t>(m_from->value());
    job.settings.to = static_cast<uint8_t>(m_to->value());
    job.settings.speeds = speeds;
    job.currentSpeed = IndexFromSpeed(rec.Speed);
    m_line.Line().SetReleaseRequest([&job] { job.scanner.Cancel(); });

    const std::size_t speedCount = speeds.empty() ? 1 : speeds.size();
    m_progress->setRange(0, static_cast<int>((job.settings.to - job.settings.from + 1U) * speedCount));
    m_progress->setValue(0);
    m_progress->setFormat("%p %");
    m_search->setEnabled(false);
    m_stop->setEnabled(true);
    m_stop->setFocus();
    std::string bauds;
    for (const uint8_t s : speeds.empty() ? std::vector<uint8_t>{job.currentSpeed} : speeds) {
        bauds += (bauds.empty() ? "" : ", ") + IntToStr(SpeedFromIndex(s));
    }
    ShowStatus("Hledání modulů na adresách " + IntToStr(job.settings.from) + "–" + IntToStr(job.settings.to) +
               ", " + bauds + " Bd…");

    busscan::TScanObserver observer;
    observer.address = [this](const busscan::TScanAddress& found, const busscan::TScanProgress& progress) {
        QMetaObject::invokeMethod(
            this, [this, found, progress] { Found(found, progress); }, Qt::QueuedConnection);
        return true;
    };
    m_worker = std::thread([this, &job, observer] {
        job.Run(observer);
        QMetaObject::invokeMethod(this, &TModulyNaSbernici::FinishScan, Qt::QueuedConnection);
    });
}

void TModulyNaSbernici::ZastavitClick() {
    if (m_job && Scanning()) m_job->scanner.Cancel();
}

void TModulyNaSbernici::StopScan() {
    if (!Scanning()) return;
    m_job->scanner.Cancel();
    FinishScan();
}

void TModulyNaSbernici::Found(const busscan::TScanAddress& found, const busscan::TScanProgress& progress) {
    m_progress->setMaximum(static_cast<int>(progress.total));
    m_progress->setValue(static_cast<int>(progress.done));
    m_progress->setFormat(ToQt("%p %  – zbývá " + LeftText(progress.left)));
    auto at = std::find_if(m_rows.begin(), m_rows.end(), [&](const TBusRow& r) {
        return r.address == found.address && r.speed == found.speed;
    });
    const bool answered = found.result == TProbeResult::Module || found.result == TProbeResult::Collision;
    if (at == m_rows.end()) {
        if (!answered) return;
        TBusRow row;
        row.address = found.address;
        row.speed = found.speed;
        // Fast speeds first within an address, as a scan tries them.
        at = m_rows.insert(std::find_if(m_rows.begin(), m_rows.end(),
                                        [&](const TBusRow& r) {
                                            return r.address > row.address ||
                                                   (r.address == row.address && r.speed < row.speed);
                                        }),
                           row);
    }
    switch (found.result) {
        case TProbeResult::Module:
            ++m_foundModules;
            at->name = found.ident.name;
            at->version = found.ident.version;
            at->state = kAnswersText;
            at->lastAnswer = NowText();
            break;
        case TProbeResult::Collision:
            ++m_foundCollisions;
            at->state = kCollisionText;
            at->lastAnswer = NowText();
            break;
        default:
            at->state = kSilentText;
            break;
    }
    ShowRows();
}

void TModulyNaSbernici::FinishScan() {
    if (!Scanning()) return;
    m_worker.join();
    // The addresses the worker posted before it ended come first.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    const TJob& job = *m_job;
    if (job.openHandle != 0 && m_data != nullptr) {
        m_data->Handle = job.reopened ? job.reopenedHandle : 0;
        m_data->Connected = job.reopened ? 1 : 0;
    }
    std::string text;
    if (job.openCode != 0) {
        text = "Chyba inicializace připojení - " + job.openText;
    } else if (job.outcome.end == TScanEnd::LineFailed) {
        text = "Rychlost " + IntToStr(SpeedFromIndex(job.outcome.speedIndex)) + " Bd: " + job.outcome.text;
    } else {
        text = "Nalezeno modulů: " + IntToStr(m_foundModules);
        if (m_foundCollisions > 0) text += ", kolize adres: " + IntToStr(m_foundCollisions);
        if (job.outcome.end == TScanEnd::Cancelled) text += " (hledání zastaveno)";
    }
    if (job.openHandle != 0 && !job.reopened) text += "; připojení nelze obnovit - " + job.reopenText;
    m_progress->setFormat(job.outcome.end == TScanEnd::Finished && job.openCode == 0 ? "%p %" : "");
    ShowStatus(text);
    m_search->setEnabled(true);
    m_stop->setEnabled(false);
    // A scan's end shows its rows: the table is there by then, painted or
    // not.
    QTableWidget* table = Table();
    if (m_stop->hasFocus() || focusWidget() == nullptr) table->setFocus();
    m_line.Release();
    SaveRows();
    ShowRows();
    emit ScanEnded();
}

void TModulyNaSbernici::SaveRows() {
    if (m_busFile.empty()) return;
    std::string reason;
    MakeParentDirectories(m_busFile);
    if (!WriteFileAtomically(m_busFile, BusFileText(m_rows), reason)) {
        ShowStatus(StatusText() + "; tabulku nelze uložit: " + reason);
    }
}
