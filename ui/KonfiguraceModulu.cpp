#include "ui/KonfiguraceModulu.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/ConfigFile.h"
#include "core/ConfigRegisters.h"
#include "core/Cp1250.h"
#include "core/IntText.h"
#include "core/LocalTime.h"
#include "core/SmallFile.h"
#include "ui/LineLock.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

constexpr const char* kLineHolder = "konfigurace modulu";

// The three settings dialogs' groups, in the order they are written: the
// bus address and speed last, as they change how the module is reached.
struct TGroup {
    const TRegisterSequence* sequence;
};
const std::vector<TGroup>& Groups() {
    static const std::vector<TGroup> groups{
        {&kDigitalIoRegisters},
        {&kPwmRegisters},
        {&kAddressSpeedRegisters},
    };
    return groups;
}

std::string RegistersOf(const std::string& key) {
    static const std::vector<std::pair<std::string, std::string>> registers{
        {"bus_address", IntToStr(kRegBusAddress)},
        {"line_speed", IntToStr(kRegSpeedIndex)},
        {"din_negation", IntToStr(kRegDinNegation)},
        {"dout_negation", IntToStr(kRegDoutNegation)},
        {"dout_initial", IntToStr(kRegDoutInitial)},
        {"pwm_initial", IntToStr(kRegPwmInitialLow) + ", " + IntToStr(kRegPwmInitialHigh)},
        {"pwm_period_ms", IntToStr(kRegPwmMode)},
        {"pwm_negation", IntToStr(kRegPwmMode)},
    };
    for (const auto& [name, regs] : registers) {
        if (name == key) return regs;
    }
    return "";
}

std::string RegisterList(const std::vector<uint8_t>& regs) {
    std::string text;
    for (const uint8_t r : regs) text += (text.empty() ? "" : ", ") + IntToStr(r);
    return text.empty() ? "žádné" : text;
}

QString ChooseFile(QWidget* owner, bool save) {
    QFileDialog dialog(owner, ToQt(save ? kSaveCaption : kLoadCaption));
    dialog.setObjectName("ConfigFileDialog");
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters({ToQt("Konfigurace modulu (*.ini)"), ToQt("Všechny soubory (*)")});
    dialog.setDefaultSuffix("ini");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

// The path as the system takes it, and as the operator reads it.
std::string SystemPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
std::string ShownPath(const QString& path) { return FromQt(QDir::toNativeSeparators(path)); }

TSequenceHooks Hooks(const TShowText& show) {
    TSequenceHooks hooks;
    hooks.show = show;
    // Painting goes on; input waits until the sequence is done.
    hooks.pause = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    return hooks;
}

// Every stored register: the three dialogs' groups.
bool ReadAll(const TData& rec, TModuleConfig& config, const TShowText& show) {
    for (const TGroup& g : Groups()) {
        const TSequenceOutcome outcome = ReadConfig(rec, *g.sequence, config, Hooks(show));
        if (outcome.result != TSequenceResult::Done) {
            show(" Čtení registru " + IntToStr(outcome.reg) +
                 " selhalo: " + ResultMessage(rec.Kind, outcome.status));
            return false;
        }
    }
    return true;
}

}  // namespace

void SaveModuleConfiguration(QWidget* owner, TData& rec, const TShowText& show) {
    if (!IsConnected(rec)) {
        show(kNotConnectedText);
        return;
    }
    const QString path = ChooseFile(owner, true);
    if (path.isEmpty()) return;
    const std::string shown = ShownPath(path);
    TLineHold line;
    if (!TakeLine(line, kLineHolder)) {
        show(" Linka je obsazena.");
        return;
    }
    TModuleConfig config = rec.ModuleConfig;
    if (!ReadAll(rec, config, show)) return;
    std::string reason;
    if (!ConfigFileCanHold(config, reason)) {
        show(" Konfiguraci modulu nelze uložit: " + reason);
        return;
    }
    const std::string comment = "Modul " + PrintableText(rec.ModuleIdent) + ", adresa " +
                                IntToStr(rec.ModuleAddress) + ", uloženo " + LocalTimeNow().iso;
    if (!WriteFileAtomically(SystemPath(path), ConfigFileText(config, comment), reason)) {
        show(" Soubor " + shown + ": " + reason);
        return;
    }
    show(" Konfigurace uložena do " + shown + ".");
}

void LoadModuleConfiguration(QWidget* owner, TData& rec, const TShowText& show) {
    if (!IsConnected(rec)) {
        show(kNotConnectedText);
        return;
    }
    const QString path = ChooseFile(owner, false);
    if (path.isEmpty()) return;
    const std::string shown = ShownPath(path);
    // The whole file is checked before the module is asked anything.
    std::string text;
    std::string reason;
    TModuleConfig file;
    if (!ReadSmallFile(SystemPath(path), text, reason)) {
        show(" Soubor " + shown + ": " + reason + "; do modulu nebylo nic zapsáno.");
        return;
    }
    if (text.find('\0') != std::string::npos) {
        show(" Soubor " + shown + ": binární soubor, ne konfigurace modulu; do modulu nebylo nic zapsáno.");
        return;
    }
    if (!ParseConfigFile(text, file, reason)) {
        show(" Soubor " + shown + ": " + reason + "; do modulu nebylo nic zapsáno.");
        return;
    }
    TLineHold line;
    if (!TakeLine(line, kLineHolder)) {
        show(" Linka je obsazena.");
        return;
    }
    TModuleConfig module = rec.ModuleConfig;
    if (!ReadAll(rec, module, show)) return;
    show(" Konfigurace modulu přečtena, rozdíly proti souboru " + shown + ".");
    TKonfiguraceModulu dialog(owner, rec, module, file, shown);
    dialog.exec();
    show(dialog.StatusText());
}

TKonfiguraceModulu::TKonfiguraceModulu(QWidget* owner, TData& rec, const TModuleConfig& module,
                                       const TModuleConfig& file, const std::string& fileName)
    : QDialog(owner), m_rec(rec), m_module(module), m_file(file) {
    setObjectName("KonfiguraceModulu");
    setWindowTitle(ToQt(kLoadCaption));
    resize(520, 360);
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(ToQt("Soubor: " + PrintableText(fileName)), this);
    heading->setObjectName("FileLabel");
    heading->setTextFormat(Qt::PlainText);
    layout->addWidget(heading);

    m_table = new QTableWidget(0, 3, this);
    m_table->setObjectName("DiffTable");
    m_table->setHorizontalHeaderLabels(
        {ToQt("Registr"), ToQt("Hodnota v modulu"), ToQt("Hodnota v souboru")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    for (const auto& [key, inModule, inFile] : ConfigDifferences(module, file, true)) {
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        const std::string name = std::string(key->name) + " (" + RegistersOf(key->name) + ")";
        int column = 0;
        for (const std::string& cell : {name, inModule, inFile}) {
            m_table->setItem(row, column++, new QTableWidgetItem(ToQt(cell)));
        }
    }
    m_table->resizeColumnsToContents();
    layout->addWidget(m_table, 1);

    m_includeAddress = new QCheckBox(ToQt("Zapsat i &adresu a rychlost linky"), this);
    m_includeAddress->setObjectName("IncludeAddress");
    layout->addWidget(m_includeAddress);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_write = new QPushButton(ToQt("&Zapsat"), this);
    m_write->setObjectName("WriteButton");
    m_write->setDefault(true);
    m_cancel = new QPushButton(ToQt("&Storno"), this);
    m_cancel->setObjectName("CancelButton");
    m_cancel->setAutoDefault(false);
    buttons->addWidget(m_write);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);
    m_status = new TStatusLine(this);
    layout->addWidget(m_status);
    m_status->Show(m_table->rowCount() == 0 ? " Konfigurace modulu odpovídá souboru."
                                            : " Rozdíly: " + IntToStr(m_table->rowCount()) +
                                                  ". Zapsat hodnoty ze souboru do modulu?");
    connect(m_write, &QPushButton::clicked, this, &TKonfiguraceModulu::ZapsatClick);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_write->setFocus();
}

std::string TKonfiguraceModulu::StatusText() const { return m_status->Text(); }

std::vector<std::vector<std::string>> TKonfiguraceModulu::Differences() const {
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        rows.push_back({FromQt(m_table->item(r, 0)->text()), FromQt(m_table->item(r, 1)->text()),
                        FromQt(m_table->item(r, 2)->text())});
    }
    return rows;
}

void TKonfiguraceModulu::ZapsatClick() {
    m_write->setEnabled(false);
    m_includeAddress->setEnabled(false);
    std::vector<uint8_t> written;
    std::vector<uint8_t> notWritten;
    std::string failure;
    const TShowText show = [this](const std::string& text) { m_status->Show(text); };
    for (const TGroup& g : Groups()) {
        if (g.sequence == &kAddressSpeedRegisters && !m_includeAddress->isChecked()) continue;
        if (!failure.empty()) {
            for (const TRegisterField& f : g.sequence->fields) notWritten.push_back(f.reg);
            continue;
        }
        const TSequenceOutcome outcome = WriteConfig(m_rec, *g.sequence, m_file, Hooks(show));
        bool done = outcome.result == TSequenceResult::Done;
        for (const TRegisterField& f : g.sequence->fields) {
            if (!done && f.reg == outcome.reg) {
                failure =
                    outcome.result == TSequenceResult::Mismatch
                        ? std::string(kMismatchText) + " (registr " + IntToStr(f.reg) + ")"
                        : "registr " + IntToStr(f.reg) + ": " + ResultMessage(m_rec.Kind, outcome.status);
                notWritten.push_back(f.reg);
                // The registers after the failing one stay as they were.
                for (const TRegisterField* next = &f + 1;
                     next != g.sequence->fields.data() + g.sequence->fields.size(); ++next) {
                    notWritten.push_back(next->reg);
                }
                break;
            }
            written.push_back(f.reg);
        }
    }
    if (failure.empty()) {
        m_rec.ModuleConfig = m_file;
        m_status->Show(" Konfigurace zapsána a ověřena čtením (registry " + RegisterList(written) + ").");
    } else {
        m_status->Show(" Zápis selhal, " + failure + ". Zapsáno: registry " + RegisterList(written) +
                       "; nezapsáno: " + RegisterList(notWritten) + ".");
    }
    m_cancel->setText(ToQt("&Zavřít"));
    m_cancel->setFocus();
}
