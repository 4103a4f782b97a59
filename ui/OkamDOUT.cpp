#include "ui/OkamDOUT.h"

#include <QCheckBox>
#include <QPushButton>

#include "core/Dekl.h"
#include "ui/FormUtil.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {
constexpr int kClientWidth = 233;
constexpr int kClientHeight = 271;
constexpr int kRowPitch = 24;
}  // namespace

TForm9::TForm9(QWidget* owner) : TFormDialog(owner) {
    setObjectName("Form9");
    setWindowTitle(ToQt("Zápis na digitální výstupy"));
    SetupFixedDialog(this, kClientWidth, kClientHeight);

    for (std::size_t n = 0; n < m_dout.size(); ++n) {
        const std::string name = "DOUT" + std::to_string(n);
        auto* box = new QCheckBox(ToQt(name), this);
        box->setObjectName(QString::fromLatin1(name.c_str()));
        box->setGeometry(40, 16 + static_cast<int>(n) * kRowPitch, 97, 17);
        m_dout[n] = box;
    }

    m_button1 = new QPushButton(ToQt("Zapsat"), this);
    m_button1->setObjectName("Button1");
    m_button1->setGeometry(24, 214, 75, 25);
    m_button2 = new QPushButton(ToQt("Cancel"), this);
    m_button2->setObjectName("Button2");
    m_button2->setGeometry(134, 214, 75, 25);

    m_statusBar1 = new TStatusLine(this);
    // The dialog is narrow: a slightly condensed face keeps the connection
    // text whole.
    QFont narrow = m_statusBar1->font();
    narrow.setStretch(QFont::SemiCondensed);
    m_statusBar1->setFont(narrow);
    const int barHeight = m_statusBar1->sizeHint().height();
    m_statusBar1->setGeometry(0, kClientHeight - barHeight, kClientWidth, barHeight);

    QWidget* previous = m_dout[0];
    for (QWidget* next : {static_cast<QWidget*>(m_dout[1]), static_cast<QWidget*>(m_dout[2]),
                          static_cast<QWidget*>(m_dout[3]), static_cast<QWidget*>(m_dout[4]),
                          static_cast<QWidget*>(m_dout[5]), static_cast<QWidget*>(m_dout[6]),
                          static_cast<QWidget*>(m_dout[7]), static_cast<QWidget*>(m_button1),
                          static_cast<QWidget*>(m_button2)}) {
        setTabOrder(previous, next);
        previous = next;
    }
    m_dout[0]->setFocus();

    connect(m_button1, &QPushButton::clicked, this, &TForm9::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TForm9::Button2Click);
}

// The boxes are left alone: they never claim to show the module's outputs.
void TForm9::FormShow() {
    if (m_data != nullptr) m_moduleAddress = m_data->ModuleAddress;
}

void TForm9::Button2Click() { close(); }

uint8_t TForm9::OutputByte() const {
    uint8_t byte = 0;
    for (std::size_t n = 0; n < m_dout.size(); ++n) {
        if (m_dout[n]->isChecked()) byte = static_cast<uint8_t>(byte | (1u << n));
    }
    return byte;
}

void TForm9::Button1Click() {
    if (m_data == nullptr) return;
    const TData& rec = *m_data;
    if (!IsConnected(rec)) {
        m_statusBar1->Show(kNotConnectedText);
        return;
    }
    uint8_t d0 = 0, d1 = OutputByte(), d2 = 0, d3 = 0, d4 = 0, status = 0;
    TCellBlock reply{};
    ModuleTransaction(rec.Kind, rec.Handle, m_moduleAddress, 1, 64, d0, d1, d2, d3, d4, status, reply);
    const std::string text = ResultMessage(rec.Kind, status);
    if (status == 0) NoteDoutWritten(*m_data, m_moduleAddress, OutputByte());
    m_statusBar1->Show(status != 0 ? " " + text : std::string(" Data zapsána"));
}
