#include "ui/NastavAdr.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/IntText.h"
#include "ui/QtText.h"

namespace {

constexpr int kLabelX = 24;
constexpr int kControlX = 208;
constexpr int kControlW = 161;
constexpr int kControlH = 21;

void MakeLabel(QWidget* parent, const char* name, const char* caption, int controlTop) {
    auto* label = new QLabel(ToQt(caption), parent);
    label->setObjectName(name);
    label->move(kLabelX, controlTop + 3);
    label->adjustSize();
}

}  // namespace

TForm12::TForm12(QWidget* owner)
    : TSettingsDialog(owner, kAddressSpeedRegisters, "Form12", "Nastavení komunikační adresy a rychlosti",
                      393, 200) {
    MakeLabel(this, "Label1", "Adresa modulu  (0-255)", 32);
    m_edit1 = new QLineEdit(this);
    m_edit1->setObjectName("Edit1");
    m_edit1->setGeometry(kControlX, 32, kControlW, kControlH);

    MakeLabel(this, "Label2", "Komunikační rychlost", 72);
    m_comboBox1 = new QComboBox(this);
    m_comboBox1->setObjectName("ComboBox1");
    m_comboBox1->setGeometry(kControlX, 72, kControlW, kControlH);
    // Entry i is speed index i, which is what the module stores.
    for (const TLineSpeed& speed : kLineSpeeds) m_comboBox1->addItem(ToQt(speed.listText));
    m_comboBox1->setCurrentIndex(kDefaultSpeedIndex);

    PlaceButtons(kLabelX, kControlX + kControlW, 124);

    setTabOrder(m_edit1, m_comboBox1);
    setTabOrder(m_comboBox1, m_button1);
    setTabOrder(m_button1, m_button2);
    setTabOrder(m_button2, m_button3);
    setTabOrder(m_button3, m_button4);
    m_edit1->setFocus();
}

void TForm12::ZapisOkno(const TModuleConfig& config) {
    m_edit1->setText(ToQt(IntToStr(config.BusAddress)));
    m_comboBox1->setCurrentIndex(config.SpeedIndex < kSpeedCount ? config.SpeedIndex : -1);
}

void TForm12::PrectiOkno(TModuleConfig& config) {
    int32_t address = 0;
    if (!TryStrToInt(FromQt(m_edit1->text()), address) || address < 0 || address > 255) {
        ShowStatus(" Adresa modulu musí být v rozsahu 0-255.");
        return;
    }
    config.BusAddress = static_cast<uint8_t>(address);
    const int index = m_comboBox1->currentIndex();
    if (index < 0 || index >= kSpeedCount) {
        ShowStatus(" Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");
        return;
    }
    config.SpeedIndex = static_cast<uint8_t>(index);
    ShowStatus(" ");
}
