// The PWM output settings dialog: the period, initial value and negation
// of the PWM output as the module stores them (registers 35, 36, 37).
#pragma once

#include <array>

#include "ui/SettingsDialog.h"

class QLineEdit;
class QRadioButton;

class TForm4 : public TSettingsDialog {
    Q_OBJECT
  public:
    explicit TForm4(QWidget* owner = nullptr);

    void PrectiOkno(TModuleConfig& config) override;
    void ZapisOkno(const TModuleConfig& config) override;

  private:
    std::array<QRadioButton*, 7> m_period{};  // RadioButton1..7: period code 0..6
    QRadioButton* m_radioButton8;             // negation off
    QRadioButton* m_radioButton9;             // negation on
    QLineEdit* m_edit1;                       // initial value
};
