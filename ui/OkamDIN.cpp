#include "ui/OkamDIN.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "core/Dekl.h"
#include "ui/FormUtil.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

constexpr int kClientWidth = 291;
constexpr int kClientHeight = 282;
constexpr int kRowPitch = 24;
constexpr int kRowHeight = 17;
constexpr int kPanelWidth = 25;

QLabel* MakeLabel(QWidget* parent, const std::string& name, const char* caption) {
    auto* label = new QLabel(ToQt(caption), parent);
    label->setObjectName(QString::fromLatin1(name.c_str()));
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

const char* BitText(uint8_t byte, unsigned bit) {
    if (bit > 7) return "0";
    return ((byte >> bit) & 1u) != 0 ? "1" : "0";
}

TBitColumn::TBitColumn(QWidget* parent, int left, int top, int nameWidth, const TNames& names) {
    auto* panel = new QLabel(parent);
    panel->setObjectName(names.panel);
    panel->setGeometry(left + nameWidth, top, kPanelWidth, 8 * kRowPitch + 4);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAutoFillBackground(true);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    panel->setPalette(white);

    for (std::size_t r = 0; r < m_values.size(); ++r) {
        const int rowTop = 6 + static_cast<int>(r) * kRowPitch;
        QLabel* name = MakeLabel(parent, names.namePrefix + std::to_string(r), names.captions[r]);
        name->setGeometry(left, top + rowTop, nameWidth - 4, kRowHeight);
        QLabel* value = MakeLabel(panel, names.valuePrefix + std::to_string(r), "0");
        value->setGeometry(2, rowTop, kPanelWidth - 4, kRowHeight);
        value->setAlignment(Qt::AlignCenter);
        m_values[r] = value;
    }
}

void TBitColumn::ShowByte(uint8_t byte) {
    for (std::size_t r = 0; r < m_values.size(); ++r) {
        m_values[r]->setText(ToQt(BitText(byte, static_cast<unsigned>(r))));
    }
}

TForm11::TForm11(QWidget* owner) : QDialog(owner) {
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
    connect(m_timer1, &QTimer::timeout, this, &TForm11::Timer1Timer);
    m_timer1->start();
}

void TForm11::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOnScreen(this);
    FormShow();
}

void TForm11::FormShow() {
    if (m_data != nullptr) m_moduleAddress = m_data->ModuleAddress;
}

void TForm11::Button1Click() { close(); }

void TForm11::Timer1Timer() {
    if (m_data == nullptr || m_inTick) return;
    // Something inside a transaction may let window events run; a tick
    // that started then would talk to the module in the middle of this one.
    m_inTick = true;
    ReadInputs(*m_data);
    m_inTick = false;
}

void TForm11::ReadInputs(const TData& rec) {
    if (!IsConnected(rec)) {
        m_statusBar1->Show(kNotConnectedText);
        return;
    }
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
    TCellBlock reply{};
    ModuleTransaction(rec.Kind, rec.Handle, m_moduleAddress, 0, 64, d0, d1, d2, d3, d4, status, reply);
    const std::string text = ResultMessage(rec.Kind, status);
    // On a failure the labels keep the last good reading.
    if (status == 0) m_inputs->ShowByte(d1);
    m_statusBar1->Show(" " + text);
}
