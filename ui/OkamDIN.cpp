#include "ui/OkamDIN.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include "core/Dekl.h"
#include "ui/FormUtil.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

constexpr int kClientWidth = 291;
constexpr int kClientHeight = 282;

}  // namespace

TForm11::TForm11(QWidget* owner) : TFormDialog(owner) {
    setObjectName("Form11");
    setWindowTitle(ToQt("Okamžité hodnoty digitálních vstupů"));
    SetupFixedDialog(this, kClientWidth, kClientHeight);

    m_inputs = std::make_unique<TBitColumn>(
        this, 104, 16, 48,
        TBitColumn::TNames{
            {"DIN0", "DIN1", "DIN2", "DIN3", "DIN4", "DIN5", "DIN6", "DIN7"}, "DIN", "Value", "Panel1"});

    m_button1 = new QPushButton(ToQt("Cancel"), this);
    m_button1->setObjectName("Button1");
    m_button1->setGeometry(108, 222, 75, 25);
    m_button1->setFocus();

    m_statusBar1 = new TStatusLine(this);
    const int barHeight = m_statusBar1->sizeHint().height();
    m_statusBar1->setGeometry(0, kClientHeight - barHeight, kClientWidth, barHeight);

    connect(m_button1, &QPushButton::clicked, this, &TForm11::Button1Click);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName("Timer1");
    m_timer1->setInterval(kPollInterval);
    // A coarse timer may fire a tick 5 % early, and two in a row make one
    // short interval.
    m_timer1->setTimerType(Qt::PreciseTimer);
    connect(m_timer1, &QTimer::timeout, this, &TForm11::Timer1Timer);
    m_timer1->start();
}

void TForm11::FormShow() {
    if (m_data != nullptr) m_moduleAddress = m_data->ModuleAddress;
}

void TForm11::Button1Click() { close(); }

void TForm11::Timer1Timer() {
    // Something inside a transaction may let window events run; a tick
    // that started then would talk to the module in the middle of this one.
    if (m_data == nullptr || !m_ticks.Enter(*m_timer1, sender() == m_timer1)) return;
    ReadInputs(*m_data);
    // A tick is the least urgent thing the dialog does: what came in while
    // the transaction blocked, a Cancel or a close among it, is handled
    // before the next tick can start.
    QCoreApplication::processEvents();
    // The timer came due during a transaction longer than its interval:
    // polling goes on at once rather than a whole interval later.
    if (m_ticks.Leave()) QTimer::singleShot(0, this, &TForm11::Timer1Timer);
}

void TForm11::ReadInputs(const TData& rec) {
    if (!IsConnected(rec)) {
        m_inputs->MarkStale();
        m_statusBar1->Show(kNotConnectedText);
        return;
    }
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
    TCellBlock reply{};
    ModuleTransaction(rec.Kind, rec.Handle, m_moduleAddress, 0, 64, d0, d1, d2, d3, d4, status, reply);
    const std::string text = ResultMessage(rec.Kind, status);
    // On a failure the labels keep the last good reading, greyed.
    if (status == 0) {
        m_inputs->ShowByte(d1);
    } else {
        m_inputs->MarkStale();
    }
    m_statusBar1->Show(" " + text);
}
