// The status register monitor: shows the module's 32-bit status register
// bit by bit, polled every 500 ms while the dialog exists, and clears it on
// "Vynulovat".
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "ui/BitColumn.h"
#include "ui/FormUtil.h"
#include "ui/TickGate.h"

struct TData;
class QPushButton;
class QTimer;
class TStatusLine;

// Ticks never nest, a clear never runs inside a read, and a late timer
// fires once rather than catching up: the tick that came due during a long
// read or clear runs as soon as it ends.
class TForm15 : public TFormDialog {
    Q_OBJECT
  public:
    static constexpr int kPollInterval = 500;  // ms

    explicit TForm15(QWidget* owner = nullptr);
    void SetData(TData* record) { m_data = record; }

    void FormShow() override;
    void Timer1Timer();
    void Button1Click();  // "Vynulovat"
    void Button2Click();  // "Cancel"

  private:
    void ReadRegister(const TData& rec);
    void ClearRegister(const TData& rec);

    TData* m_data = nullptr;
    uint8_t m_moduleAddress = 0;  // taken from the record when shown
    bool m_busy = false;          // a read or a clear is running
    TTickGate m_ticks;
    // Left to right the reply bytes D1, D2, D3, D4.
    std::array<std::unique_ptr<TBitColumn>, 4> m_columns;
    QPushButton* m_button1;
    QPushButton* m_button2;
    TStatusLine* m_statusBar1;
    QTimer* m_timer1;
};
