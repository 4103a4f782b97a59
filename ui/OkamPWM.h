// The PWM output value dialog: writes one value, 0 to 65535, to the PWM
// output of the running module.
#pragma once

#include <cstdint>

#include "ui/FormUtil.h"

struct TData;
class QLabel;
class QLineEdit;
class QPushButton;
class TStatusLine;

class TForm3 : public TFormDialog {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* owner = nullptr);
    void SetData(TData* record) { m_data = record; }

    void FormShow() override;
    void Button1Click();  // "Zápis"
    void Button2Click();  // "Cancel"

  private:
    TData* m_data = nullptr;
    // Taken from the record when the dialog is shown; the write goes here
    // even if the record changes meanwhile.
    uint8_t m_moduleAddress = 0;
    QLabel* m_label1;
    QLineEdit* m_edit1;
    QPushButton* m_button1;
    QPushButton* m_button2;
    TStatusLine* m_statusBar1;
};
