// The digital outputs dialog: sets the eight outputs DOUT0-DOUT7 of the
// running module at once from eight check boxes.
#pragma once

#include <array>
#include <cstdint>

#include "ui/FormUtil.h"

struct TData;
class QCheckBox;
class QPushButton;
class TStatusLine;

class TForm9 : public TFormDialog {
    Q_OBJECT
  public:
    explicit TForm9(QWidget* owner = nullptr);
    void SetData(TData* record) { m_data = record; }

    void FormShow() override;
    void Button1Click();  // "Zapsat"
    void Button2Click();  // "Cancel"

    // Bit n is set exactly when the box DOUTn is ticked.
    uint8_t OutputByte() const;

  private:
    TData* m_data = nullptr;
    uint8_t m_moduleAddress = 0;  // taken from the record when shown
    std::array<QCheckBox*, 8> m_dout{};
    QPushButton* m_button1;
    QPushButton* m_button2;
    TStatusLine* m_statusBar1;
};
