#include "ui/ProvozLinky.h"

#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/IntText.h"
#include "link/Txxx318.h"
#include "linkstats/FrameLog.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

struct TCommandName {
    uint8_t command;
    const char* name;
};
// The commands the program sends.
constexpr std::array<TCommandName, 7> kCommands{{
    {0, "čtení vstupů"},
    {1, "zápis výstupů"},
    {100, "čtení status registru"},
    {101, "nulování status registru"},
    {102, "čtení registru"},
    {103, "zápis registru"},
    {200, "identifikace"},
}};

constexpr std::array<const char*, TFrameModel::kColumnCount> kHeaders = {
    "Čas", "Směr", "Adresa", "Bajty", "Příkaz", "Index", "Data", "Výsledek"};
constexpr int kBytesColumn = 3;
constexpr int kResultColumn = 7;

// What the driver made of a frame it received, for a person.
struct TVerdictText {
    const char* verdict;
    const char* text;
};
constexpr std::array<TVerdictText, 8> kVerdicts{{
    {"taken", "převzato"},
    {"ignored address", "odmítnuto: odpověď jiného modulu"},
    {"ignored tag", "odmítnuto: opožděná odpověď"},
    {"ignored echo", "odmítnuto: jiný příkaz, index nebo registr"},
    {"ignored crc", "odmítnuto: chybný CRC"},
    {"ignored noise", "odmítnuto: šum, žádný rámec"},
    {"incomplete", "odmítnuto: nedokončený rámec"},
    {"duplicate", "druhá odpověď: kolize adres"},
}};

std::string Hex(const uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string Ms(uint32_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%u,%03u ms", us / 1000, us % 1000);
    return text;
}

bool Refused(const TFrame& frame) {
    return frame.sent ? frame.bytes.empty() || frame.result != 0 : frame.verdict != "taken";
}

}  // namespace

TFrameModel::TFrameModel(TTrafficLog& log, QObject* parent) : QAbstractTableModel(parent), m_log(log) {}

int TFrameModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TFrameModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TFrameModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return {};
    return ToQt(kHeaders[static_cast<std::size_t>(section)]);
}

QVariant TFrameModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::ForegroundRole))
        return {};
    const std::lock_guard lock(m_log.Mutex());
    const TFrame* frame = m_log.Frames().At(m_rows[static_cast<std::size_t>(index.row())]);
    if (frame == nullptr) return {};
    if (role == Qt::ForegroundRole) return Refused(*frame) ? QVariant(QBrush(Qt::darkRed)) : QVariant();
    // The tooltip shows a text that the column cuts short.
    return ToQt(Cells(*frame)[static_cast<std::size_t>(index.column())]);
}

std::array<std::string, TFrameModel::kColumnCount> TFrameModel::RowText(int row, bool withDate) const {
    if (row < 0 || row >= rowCount()) return {};
    const std::lock_guard lock(m_log.Mutex());
    const TFrame* frame = m_log.Frames().At(m_rows[static_cast<std::size_t>(row)]);
    return frame != nullptr ? Cells(*frame, withDate) : std::array<std::string, kColumnCount>{};
}

std::array<std::string, TFrameModel::kColumnCount> TFrameModel::Cells(const TFrame& frame,
                                                                      bool withDate) const {
    std::array<std::string, kColumnCount> cells;
    cells[0] = withDate || frame.time.size() <= 11 ? frame.time : frame.time.substr(11);
    cells[1] = frame.sent ? "vysláno" : "přijato";
    if (frame.address) cells[2] = IntToStr(*frame.address);
    cells[kBytesColumn] = frame.bytes.empty() ? "-" : Hex(frame.bytes.data(), frame.bytes.size());
    if (frame.decoded) {
        cells[4] = IntToStr(frame.command.value_or(0));
        for (const TCommandName& c : kCommands) {
            if (c.command == frame.command) cells[4] += std::string(" ") + c.name;
        }
        cells[5] = IntToStr(frame.index);
        cells[6] = Hex(frame.data.data(), frame.data.size());
    }
    cells[kResultColumn] = ResultOf(frame);
    return cells;
}

std::string TFrameModel::ResultOf(const TFrame& frame) const {
    if (!frame.sent) {
        for (const TVerdictText& v : kVerdicts) {
            if (frame.verdict != v.verdict) continue;
            std::string text = v.text;
            if (frame.decoded && frame.status != 0) text += ", stav modulu " + IntToStr(frame.status);
            return text;
        }
        return frame.verdict;
    }
    std::string text = frame.bytes.empty() ? "neodesláno: " : "";
    text += IntToStr(frame.result);
    const auto key = std::make_pair(frame.kind, frame.result);
    auto known = m_resultTexts.find(key);
    if (known == m_resultTexts.end() && frame.kind < kKindCount) {
        // Asked of the library that traced the frame; a text it cannot
        // give now (another kind bound) is asked again later.
        const std::string asked = ResultMessage(frame.kind, frame.result);
        if (!asked.empty()) known = m_resultTexts.emplace(key, asked).first;
    }
    if (known != m_resultTexts.end()) text += " " + known->second;
    return text + " (" + Ms(frame.micros) + ")";
}

bool TFrameModel::Passes(const TFrame& frame) const {
    return (!m_address || frame.address == m_address) && (!m_command || frame.command == m_command);
}

void TFrameModel::Refresh() {
    std::vector<uint64_t> fresh;
    uint64_t first = 0;
    {
        const std::lock_guard lock(m_log.Mutex());
        const TFrameRing& ring = m_log.Frames();
        first = ring.First();
        for (uint64_t n = std::max(m_taken, first); n < ring.End(); ++n) {
            if (Passes(*ring.At(n))) fresh.push_back(n);
        }
        m_taken = ring.End();
    }
    // Outside the lock: a view may ask for data while rows change.
    const auto gone = static_cast<int>(
        std::find_if(m_rows.begin(), m_rows.end(), [first](uint64_t n) { return n >= first; }) -
        m_rows.begin());
    if (gone > 0) {
        beginRemoveRows(QModelIndex(), 0, gone - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + gone);
        endRemoveRows();
    }
    if (!fresh.empty()) {
        const int at = rowCount();
        beginInsertRows(QModelIndex(), at, at + static_cast<int>(fresh.size()) - 1);
        m_rows.insert(m_rows.end(), fresh.begin(), fresh.end());
        endInsertRows();
    }
}

void TFrameModel::SetFilter(std::optional<uint8_t> address, std::optional<uint8_t> command) {
    beginResetModel();
    m_address = address;
    m_command = command;
    m_rows.clear();
    m_taken = 0;
    endResetModel();
    Refresh();
}

TProvozLinky* TProvozLinky::Open(QWidget* owner) {
    static QPointer<TProvozLinky> window;
    TTrafficLog* log = TTrafficLog::Current();
    if (log == nullptr) return nullptr;
    if (window == nullptr) {
        window = new TProvozLinky(*log, owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

TProvozLinky::TProvozLinky(TTrafficLog& log, QWidget* owner)
    : QWidget(owner, Qt::Window), m_log(log), m_model(new TFrameModel(log, this)) {
    setObjectName("ProvozLinky");
    setWindowTitle(ToQt("Provoz linky"));
    resize(1100, 560);

    auto* layout = new QVBoxLayout(this);
    auto* tools = new QHBoxLayout;
    layout->addLayout(tools);
    const auto addLabel = [&](const char* caption, QWidget* buddy) {
        auto* label = new QLabel(ToQt(caption), this);
        label->setBuddy(buddy);
        tools->addWidget(label);
        tools->addWidget(buddy);
    };
    m_address = new QLineEdit(this);
    m_address->setObjectName("FilterAddress");
    m_address->setFixedWidth(60);
    m_address->setPlaceholderText(ToQt("vše"));
    addLabel("&Adresa:", m_address);
    m_command = new QComboBox(this);
    m_command->setObjectName("FilterCommand");
    m_command->addItem(ToQt("všechny příkazy"));
    for (const TCommandName& c : kCommands)
        m_command->addItem(ToQt(IntToStr(c.command) + " " + c.name), static_cast<int>(c.command));
    addLabel("Pří&kaz:", m_command);
    tools->addStretch(1);
    const auto addButton = [&](const char* name, const char* caption) {
        auto* button = new QPushButton(ToQt(caption), this);
        button->setObjectName(name);
        tools->addWidget(button);
        return button;
    };
    m_pause = addButton("PauseButton", "&Pozastavit");
    m_pause->setCheckable(true);
    QPushButton* copy = addButton("CopyButton", "K&opírovat");
    QPushButton* save = addButton("SaveButton", "&Uložit…");

    m_note = new QLabel(ToQt("Ovladače tohoto připojení rámce nezapisují (knihovny výrobce): rámce nelze "
                             "zobrazit, statistika počítá transakce programu."),
                        this);
    m_note->setObjectName("NoteLabel");
    m_note->setWordWrap(true);
    m_note->hide();
    layout->addWidget(m_note);

    m_table = new QTableView(this);
    m_table->setObjectName("FrameTable");
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Wide enough for the longest text of each column but the last.
    const std::array<const char*, kResultColumn> widest = {"00:00:00.000000",
                                                           "vysláno",
                                                           "Adresa",
                                                           "00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                                                           "101 nulování status registru",
                                                           "Index",
                                                           "00 00 00 00 00"};
    for (std::size_t c = 0; c < widest.size(); ++c)
        m_table->setColumnWidth(static_cast<int>(c),
                                m_table->fontMetrics().horizontalAdvance(ToQt(widest[c])) + 16);
    layout->addWidget(m_table, 1);

    auto* box = new QGroupBox(ToQt("Statistika spojení"), this);
    auto* grid = new QGridLayout(box);
    struct TStatField {
        const char* name;
        const char* caption;
    };
    static constexpr std::array<TStatField, 11> kFields{{
        {"StatTransactions", "Transakce"},
        {"StatAnswered", "Odpovědi"},
        {"StatTimeouts", "Bez odpovědi"},
        {"StatDamaged", "Poškozené"},
        {"StatRefused", "Odmítnuté"},
        {"StatModuleErrors", "Chybové stavy modulu"},
        {"StatOther", "Jiné chyby"},
        {"StatMin", "Odezva min"},
        {"StatMedian", "Medián"},
        {"StatP99", "99 %"},
        {"StatMax", "Max"},
    }};
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        // Counts in the first two rows, the round trip in the third.
        const int row = i < 7 ? static_cast<int>(i / 4) : 2;
        const int column = 2 * static_cast<int>(i < 7 ? i % 4 : i - 7);
        grid->addWidget(new QLabel(ToQt(std::string(kFields[i].caption) + ":"), box), row, column);
        m_stats[i] = new QLabel(box);
        m_stats[i]->setObjectName(kFields[i].name);
        m_stats[i]->setMinimumWidth(80);
        grid->addWidget(m_stats[i], row, column + 1);
    }
    auto* reset = new QPushButton(ToQt("&Vynulovat statistiku"), box);
    reset->setObjectName("ResetButton");
    grid->addWidget(reset, 1, 6, 1, 2);
    layout->addWidget(box);

    m_statusLine = new TStatusLine(this);
    layout->addWidget(m_statusLine);

    connect(m_address, &QLineEdit::textChanged, this, &TProvozLinky::FilterChange);
    connect(m_command, &QComboBox::currentIndexChanged, this, &TProvozLinky::FilterChange);
    connect(copy, &QPushButton::clicked, this, &TProvozLinky::CopyClick);
    connect(save, &QPushButton::clicked, this, &TProvozLinky::SaveClick);
    connect(reset, &QPushButton::clicked, this, &TProvozLinky::ResetClick);
    connect(m_pause, &QPushButton::toggled, this, [this] { Timer1Timer(); });

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName("Timer1");
    m_timer1->setInterval(kRefreshInterval);
    connect(m_timer1, &QTimer::timeout, this, &TProvozLinky::Timer1Timer);
    m_timer1->start();
    Timer1Timer();
}

void TProvozLinky::Timer1Timer() {
    m_log.Poll();
    if (!m_pause->isChecked()) {
        QScrollBar* bar = m_table->verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        m_model->Refresh();
        // Following the newest frames, unless the technician scrolled back.
        if (atEnd) m_table->scrollToBottom();
    }
    if (m_ticks++ % kStatsEvery == 0 && std::chrono::steady_clock::now() >= m_statsDue) ShowStats();
    const int rows = m_model->rowCount();
    std::string text = " Rámců v seznamu: " + IntToStr(rows);
    if (m_pause->isChecked()) text += " (pozastaveno)";
    if (text != m_statusLine->Text()) m_statusLine->Show(text);
}

void TProvozLinky::ShowStats() {
    TStatsSummary total;
    bool traced = false;
    bool refusedKnown = true;
    const auto started = std::chrono::steady_clock::now();
    {
        const std::lock_guard lock(m_log.Mutex());
        total = m_log.Stats().Total();
        traced = m_log.Traced();
        refusedKnown = m_log.Stats().RefusedKnown();
    }
    const auto finished = std::chrono::steady_clock::now();
    m_statsDue = finished + 19 * (finished - started);
    // Without a trace nothing can tell a refused reply.
    refusedKnown = refusedKnown && traced;
    const TStatsCounts& c = total.counts;
    const std::array<std::string, 7> counts = {
        IntToStr(static_cast<int64_t>(c.transactions)),
        IntToStr(static_cast<int64_t>(c.answered)),
        IntToStr(static_cast<int64_t>(c.timeouts)),
        IntToStr(static_cast<int64_t>(c.damaged)),
        refusedKnown ? IntToStr(static_cast<int64_t>(c.refused)) : "neznámo",
        IntToStr(static_cast<int64_t>(c.moduleErrors)),
        IntToStr(static_cast<int64_t>(c.otherFailures))};
    for (std::size_t i = 0; i < counts.size(); ++i) m_stats[i]->setText(ToQt(counts[i]));
    const std::array<uint32_t, 4> trips =
        total.roundTrip ? std::array<uint32_t, 4>{total.roundTrip->minUs, total.roundTrip->medianUs,
                                                  total.roundTrip->p99Us, total.roundTrip->maxUs}
                        : std::array<uint32_t, 4>{};
    for (std::size_t i = 0; i < trips.size(); ++i)
        m_stats[7 + i]->setText(ToQt(total.roundTrip ? Ms(trips[i]) : std::string("-")));
    // The maker's libraries write no trace: said once the program has
    // talked to a module through them.
    m_note->setVisible(!traced && c.transactions > 0);
}

void TProvozLinky::FilterChange() {
    std::optional<uint8_t> address;
    int32_t value = 0;
    const std::string typed = FromQt(m_address->text());
    if (TryStrToInt(typed, value) && value >= 0 && value <= 255) address = static_cast<uint8_t>(value);
    // A text that is no address filters nothing, and says so by its colour.
    m_address->setStyleSheet(typed.empty() || address ? QString() : QString("color: darkred"));
    std::optional<uint8_t> command;
    if (m_command->currentIndex() > 0) command = static_cast<uint8_t>(m_command->currentData().toInt());
    m_model->SetFilter(address, command);
    m_table->scrollToBottom();
}

namespace {

std::string TableText(const TFrameModel& model, const std::vector<int>& rows, bool withDate) {
    std::string text;
    for (std::size_t c = 0; c < kHeaders.size(); ++c) text += std::string(c > 0 ? "\t" : "") + kHeaders[c];
    text += '\n';
    for (const int row : rows) {
        const auto cells = model.RowText(row, withDate);
        for (std::size_t c = 0; c < cells.size(); ++c) text += (c > 0 ? "\t" : "") + cells[c];
        text += '\n';
    }
    return text;
}

std::vector<int> AllRows(const TFrameModel& model) {
    std::vector<int> rows(static_cast<std::size_t>(model.rowCount()));
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<int>(i);
    return rows;
}

}  // namespace

void TProvozLinky::CopyClick() {
    // The selected rows, or the whole list when none is selected.
    std::vector<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    if (rows.empty()) rows = AllRows(*m_model);
    QApplication::clipboard()->setText(ToQt(TableText(*m_model, rows, false)));
    m_statusLine->Show(" Zkopírováno rámců: " + IntToStr(static_cast<int64_t>(rows.size())));
}

void TProvozLinky::SaveClick() {
    QFileDialog dialog(this, ToQt("Uložit provoz linky"));
    dialog.setObjectName("SaveDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(ToQt("Text (*.txt)"));
    dialog.setDefaultSuffix("txt");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SaveTo(dialog.selectedFiles().front());
}

void TProvozLinky::SaveTo(const QString& path) {
    // The whole list as it is filtered, with the full time of each frame.
    std::string text;
    const std::vector<int> rows = AllRows(*m_model);
    text = TableText(*m_model, rows, true);
    QFile file(path);
    const bool saved =
        file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) &&
        file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
        file.flush();
    file.close();
    m_statusLine->Show(saved ? " Uloženo rámců: " + IntToStr(static_cast<int64_t>(rows.size())) + " do " +
                                   FromQt(path)
                             : " Soubor nelze uložit: " + FromQt(path));
}

void TProvozLinky::ResetClick() {
    m_log.ResetStats();
    ShowStats();
}
