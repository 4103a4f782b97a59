// The address and speed dialog: the bus address and line speed that the
// module stores (registers 63 and 62). It never changes the address or
// speed the program talks over.
#pragma once

#include "ui/SettingsDialog.h"

class QComboBox;
class QLineEdit;

class TForm12 : public TSettingsDialog {
    Q_OBJECT
  public:
    explicit TForm12(QWidget* owner = nullptr);

    void PrectiOkno(TModuleConfig& config) override;
    void ZapisOkno(const TModuleConfig& config) override;

  private:
    QLineEdit* m_edit1;      // bus address
    QComboBox* m_comboBox1;  // line speed
};
