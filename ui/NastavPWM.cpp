#include "ui/NastavPWM.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "core/IntText.h"
#include "ui/QtText.h"

namespace {

// Period code i is RadioButton(i + 1); code 7 has no button.
constexpr std::array<const char*, 7> kPeriodCaptions = {"1,024 s",  "2,048 s",  "4,096 s", "8,192 s",
                                                        "16,384 s", "32,768 s", "65,535 s"};
constexpr uint8_t kPeriodMask = 0x07;
constexpr uint8_t kNegationBit = 0x80;

QRadioButton* MakeRadio(QWidget* group, int number, const char* caption, int top) {
    auto* radio = new QRadioButton(ToQt(caption), group);
    radio->setObjectName(QString("RadioButton%1").arg(number));
    radio->setGeometry(24, top, 110, 17);
    return radio;
}

}  // namespace

TForm4::TForm4(QWidget* owner) : TSettingsDialog(owner, kPwmRegisters, "Form4", "PWM výstup", 396, 271) {
    auto* periodGroup = new QGroupBox(ToQt(" Perioda PWM  "), this);
    periodGroup->setObjectName("GroupBox1");
    periodGroup->setGeometry(16, 8, 161, 192);
    for (std::size_t code = 0; code < m_period.size(); ++code) {
        m_period[code] = MakeRadio(periodGroup, static_cast<int>(code) + 1, kPeriodCaptions[code],
                                   26 + static_cast<int>(code) * 23);
    }

    auto* negationGroup = new QGroupBox(ToQt(" Negace výstupu "), this);
    negationGroup->setObjectName("GroupBox2");
    negationGroup->setGeometry(200, 8, 177, 76);
    m_radioButton8 = MakeRadio(negationGroup, 8, "vypnuta", 26);
    m_radioButton9 = MakeRadio(negationGroup, 9, "zapnuta", 49);

    auto* label = new QLabel(ToQt("Inicializační hodnota  (0-65535)"), this);
    label->setObjectName("Label1");
    label->move(200, 104);
    label->adjustSize();
    m_edit1 = new QLineEdit(this);
    m_edit1->setObjectName("Edit1");
    m_edit1->setGeometry(200, 124, 177, 21);

    PlaceButtons(16, 377, 214);

    QWidget* previous = nullptr;
    auto chain = [&](QWidget* next) {
        if (previous != nullptr) setTabOrder(previous, next);
        previous = next;
    };
    for (QRadioButton* radio : m_period) chain(radio);
    for (QWidget* w : std::initializer_list<QWidget*>{m_edit1, m_button1, m_button2, m_button3, m_button4,
                                                      m_radioButton8, m_radioButton9}) {
        chain(w);
    }
    m_period[0]->setFocus();
}

void TForm4::ZapisOkno(const TModuleConfig& config) {
    const unsigned code = config.PwmMode & kPeriodMask;
    // A code without a button leaves the choice on screen as it was.
    if (code < m_period.size()) m_period[code]->setChecked(true);
    if ((config.PwmMode & kNegationBit) != 0) {
        m_radioButton9->setChecked(true);
    } else {
        m_radioButton8->setChecked(true);
    }
    m_edit1->setText(ToQt(IntToStr(config.PwmInitial)));
}

void TForm4::PrectiOkno(TModuleConfig& config) {
    int32_t value = 0;
    if (!TryStrToInt(FromQt(m_edit1->text()), value) || value < 0 || value > 65535) {
        ShowStatus(" Inicializační hodnota musí být v rozsahu 0-65535.");
        return;
    }
    config.PwmInitial = static_cast<uint16_t>(value);
    unsigned code = 0;
    for (std::size_t i = 0; i < m_period.size(); ++i) {
        if (m_period[i]->isChecked()) code = static_cast<unsigned>(i);
    }
    config.PwmMode = static_cast<uint8_t>(code | (m_radioButton9->isChecked() ? kNegationBit : 0u));
    ShowStatus(" ");
}
