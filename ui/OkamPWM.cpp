#include "ui/OkamPWM.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/Dekl.h"
#include "core/IntText.h"
#include "ui/FormUtil.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {
constexpr int kClientWidth = 279;
constexpr int kClientHeight = 160;
constexpr int32_t kMaxValue = 65535;
}  // namespace

TForm3::TForm3(QWidget* owner) : TFormDialog(owner) {
    setObjectName("Form3");
    setWindowTitle(ToQt("PWM výstup"));
    SetupFixedDialog(this, kClientWidth, kClientHeight);

    m_label1 = new QLabel(ToQt("PWM výstup (0-65535)"), this);
    m_label1->setObjectName("Label1");
    m_label1->move(24, 40);
    m_label1->adjustSize();
    m_edit1 = new QLineEdit(this);
    m_edit1->setObjectName("Edit1");
    m_edit1->setGeometry(168, 36, 89, 21);

    m_button1 = new QPushButton(ToQt("Zápis"), this);
    m_button1->setObjectName("Button1");
    m_button1->setGeometry(24, 88, 75, 25);
    m_button2 = new QPushButton(ToQt("Cancel"), this);
    m_button2->setObjectName("Button2");
    m_button2->setGeometry(182, 88, 75, 25);

    m_statusBar1 = new TStatusLine(this);
    const int barHeight = m_statusBar1->sizeHint().height();
    m_statusBar1->setGeometry(0, kClientHeight - barHeight, kClientWidth, barHeight);

    setTabOrder(m_button1, m_button2);
    setTabOrder(m_button2, m_edit1);
    m_button1->setFocus();

    connect(m_button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TForm3::Button2Click);
}

void TForm3::FormShow() {
    m_moduleAddress = 0;
    if (m_data != nullptr) m_moduleAddress = m_data->ModuleAddress;
    m_edit1->setText(ToQt("0"));
}

void TForm3::Button2Click() { close(); }

void TForm3::Button1Click() {
    if (m_data == nullptr) return;
    const TData& rec = *m_data;
    // The connection is reported before the value is looked at.
    if (!IsConnected(rec)) {
        m_statusBar1->Show(kNotConnectedText);
        return;
    }
    int32_t value = 0;
    if (!TryStrToInt(FromQt(m_edit1->text()), value) || value < 0 || value > kMaxValue) {
        m_statusBar1->Show(" Chyba zadané hodnoty (0-65535).");
        return;
    }
    m_statusBar1->Show(" Probíhá komunikace");

    uint8_t d0 = 0, d3 = 0, d4 = 0, status = 0;
    auto d1 = static_cast<uint8_t>(value % 256);
    auto d2 = static_cast<uint8_t>(value / 256);
    TCellBlock reply{};
    ModuleTransaction(rec.Kind, rec.Handle, m_moduleAddress, 1, 0, d0, d1, d2, d3, d4, status, reply);
    const std::string text = ResultMessage(rec.Kind, status);
    if (status == 0) NotePwmWritten(*m_data, m_moduleAddress, static_cast<uint16_t>(value));
    m_statusBar1->Show(status != 0 ? " " + text : std::string(" Hodnota zapsána"));
}
