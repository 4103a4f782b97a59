#include "ui/NastavDIO.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

#include "ui/QtText.h"

namespace {

constexpr int kGroupTop = 8;
constexpr int kGroupW = 129;
constexpr int kGroupH = 200;
constexpr int kBoxPitch = 21;

// A framed group of eight check boxes named from firstNumber upward.
std::array<QCheckBox*, 8> MakeGroup(QWidget* parent, const char* name, const char* caption, int left,
                                    int firstNumber, const char* boxPrefix) {
    auto* group = new QGroupBox(ToQt(caption), parent);
    group->setObjectName(name);
    group->setGeometry(left, kGroupTop, kGroupW, kGroupH);
    std::array<QCheckBox*, 8> boxes{};
    for (int bit = 0; bit < 8; ++bit) {
        auto* box = new QCheckBox(QString("%1%2").arg(boxPrefix).arg(bit), group);
        box->setObjectName(QString("CheckBox%1").arg(firstNumber + bit));
        box->setGeometry(24, 24 + bit * kBoxPitch, 90, 17);
        boxes[static_cast<std::size_t>(bit)] = box;
    }
    return boxes;
}

uint8_t BitsOf(const std::array<QCheckBox*, 8>& boxes) {
    unsigned bits = 0;
    for (std::size_t n = 0; n < boxes.size(); ++n) {
        if (boxes[n]->isChecked()) bits |= 1u << n;
    }
    return static_cast<uint8_t>(bits);
}

void ShowBits(const std::array<QCheckBox*, 8>& boxes, uint8_t bits) {
    for (std::size_t n = 0; n < boxes.size(); ++n) boxes[n]->setChecked(((bits >> n) & 1u) != 0);
}

}  // namespace

TForm14::TForm14(QWidget* owner)
    : TSettingsDialog(owner, kDigitalIoRegisters, "Form14", "Nastavení digitálních vstupů/výstupů", 451,
                      273) {
    m_dinNegation = MakeGroup(this, "GroupBox1", " Negace DIN ", 16, 1, "DIN");
    m_doutNegation = MakeGroup(this, "GroupBox2", "Negace DOUT ", 161, 33, "DOUT");
    m_doutInitial = MakeGroup(this, "GroupBox3", " Počáteční stav DOUT ", 306, 65, "DOUT");

    PlaceButtons(16, 306 + kGroupW, 218);

    QWidget* previous = nullptr;
    for (const TBoxes* group : {&m_dinNegation, &m_doutNegation, &m_doutInitial}) {
        for (QCheckBox* box : *group) {
            if (previous != nullptr) setTabOrder(previous, box);
            previous = box;
        }
    }
    for (QPushButton* button : {m_button1, m_button2, m_button3, m_button4}) {
        setTabOrder(previous, button);
        previous = button;
    }
    m_dinNegation[0]->setFocus();
}

void TForm14::ZapisOkno(const TModuleConfig& config) {
    ShowBits(m_dinNegation, config.DinNegation[0]);
    ShowBits(m_doutNegation, config.DoutNegation[0]);
    ShowBits(m_doutInitial, config.DoutInitial[0]);
}

void TForm14::PrectiOkno(TModuleConfig& config) {
    // Only element 0 reaches the module; the rest is kept at 0.
    config.DinNegation = {BitsOf(m_dinNegation), 0, 0, 0};
    config.DoutNegation = {BitsOf(m_doutNegation), 0, 0, 0};
    config.DoutInitial = {BitsOf(m_doutInitial), 0, 0, 0};
    ShowStatus(" ");
}
