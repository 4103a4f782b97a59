#include "ui/StatReg.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>
#include <string>

#include "core/Dekl.h"
#include "ui/FormUtil.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 276;
constexpr int kColumnPitch = 96;
constexpr int kNameWidth = 52;

constexpr const char* kUnused = "---";
// Names of the register's bits, column by column, least significant bit
// first; only the first byte has named bits.
constexpr std::array<std::array<const char*, 8>, 4> kBitNames{{
    {kUnused, "FN", "PRF", kUnused, "PWR", "RST", "ERR24", kUnused},
    {kUnused, kUnused, kUnused, kUnused, kUnused, kUnused, kUnused, kUnused},
    {kUnused, kUnused, kUnused, kUnused, kUnused, kUnused, kUnused, kUnused},
    {kUnused, kUnused, kUnused, kUnused, kUnused, kUnused, kUnused, kUnused},
}};

}  // namespace

TForm15::TForm15(QWidget* owner) : TFormDialog(owner) {
    setObjectName("Form15");
    setWindowTitle(ToQt("Status registr"));
    SetupFixedDialog(this, kClientWidth, kClientHeight);

    for (std::size_t c = 0; c < m_columns.size(); ++c) {
        const std::string byte = "D" + std::to_string(c + 1);
        const std::string panel = "Panel" + std::to_string(c + 1);
        m_columns[c] = std::make_unique<TBitColumn>(
            this, 24 + static_cast<int>(c) * kColumnPitch, 12, kNameWidth,
            TBitColumn::TNames{kBitNames[c], byte + "Name", byte + "Value", panel.c_str()});
    }

    m_button1 = new QPushButton(ToQt("Vynulovat"), this);
    m_button1->setObjectName("Button1");
    m_button1->setGeometry(24, 220, 75, 25);
    m_button2 = new QPushButton(ToQt("Cancel"), this);
    m_button2->setObjectName("Button2");
    m_button2->setGeometry(301, 220, 75, 25);
    m_button2->setFocus();

    m_statusBar1 = new TStatusLine(this);
    const int barHeight = m_statusBar1->sizeHint().height();
    m_statusBar1->setGeometry(0, kClientHeight - barHeight, kClientWidth, barHeight);

    connect(m_button1, &QPushButton::clicked, this, &TForm15::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TForm15::Button2Click);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName("Timer1");
    m_timer1->setInterval(kPollInterval);
    // A coarse timer may fire a tick 5 % early, and two in a row make one
    // short interval.
    m_timer1->setTimerType(Qt::PreciseTimer);
    connect(m_timer1, &QTimer::timeout, this, &TForm15::Timer1Timer);
    m_timer1->start();
}

void TForm15::FormShow() {
    if (m_data != nullptr) m_moduleAddress = m_data->ModuleAddress;
}

void TForm15::Button2Click() { close(); }

void TForm15::Timer1Timer() {
    if (m_data == nullptr) return;
    // A clear is running: the read follows it.
    if (m_busy) {
        m_ticks.Owe();
        return;
    }
    if (!m_ticks.Enter(*m_timer1, sender() == m_timer1)) return;
    m_busy = true;
    ReadRegister(*m_data);
    m_busy = false;
    // A tick is the least urgent thing the dialog does: what came in while
    // the read blocked, a Cancel, a close or "Vynulovat" among it, is
    // handled before the next tick can start.
    QCoreApplication::processEvents();
    // The timer came due during a transaction longer than its interval:
    // polling goes on at once rather than a whole interval later.
    if (m_ticks.Leave()) QTimer::singleShot(0, this, &TForm15::Timer1Timer);
}

void TForm15::Button1Click() {
    if (m_data == nullptr || m_busy) return;
    m_busy = true;
    ClearRegister(*m_data);
    m_busy = false;
    if (m_ticks.TakeOwed()) QTimer::singleShot(0, this, &TForm15::Timer1Timer);
}

void TForm15::ReadRegister(const TData& rec) {
    if (!IsConnected(rec)) {
        for (const auto& column : m_columns) column->MarkStale();
        m_statusBar1->Show(kNotConnectedText);
        return;
    }
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
    TCellBlock reply{};
    ModuleTransaction(rec.Kind, rec.Handle, m_moduleAddress, 100, 0, d0, d1, d2, d3, d4, status, reply);
    const std::string text = ResultMessage(rec.Kind, status);
    // On a failure the labels keep the last good reading, greyed.
    if (status == 0) {
        const std::array<uint8_t, 4> bytes{d1, d2, d3, d4};
        for (std::size_t c = 0; c < m_columns.size(); ++c) m_columns[c]->ShowByte(bytes[c]);
    } else {
        for (const auto& column : m_columns) column->MarkStale();
    }
    m_statusBar1->Show(" " + text);
}

void TForm15::ClearRegister(const TData& rec) {
    if (!IsConnected(rec)) {
        m_statusBar1->Show(kNotConnectedText);
        return;
    }
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
    TCellBlock reply{};
    ModuleTransaction(rec.Kind, rec.Handle, m_moduleAddress, 101, 0, d0, d1, d2, d3, d4, status, reply);
    const std::string text = ResultMessage(rec.Kind, status);
    // A successful clear says nothing: the next tick shows the register.
    if (status != 0) m_statusBar1->Show(" " + text);
}
