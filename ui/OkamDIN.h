// The digital inputs monitor: shows DIN0-DIN7 as "0" or "1", polled every
// 100 ms while the dialog exists.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/BitColumn.h"
#include "ui/FormUtil.h"
#include "ui/TickGate.h"

struct TData;
class QPushButton;
class QTimer;
class TStatusLine;

// Polls from a window timer for as long as the dialog exists. Ticks never
// nest, and a blocking transaction that outlasts the interval leaves no
// queue of due ticks behind: the one tick that came due runs as soon as the
// transaction ends.
class TForm11 : public TFormDialog {
    Q_OBJECT
  public:
    static constexpr int kPollInterval = 100;  // ms

    explicit TForm11(QWidget* owner = nullptr);
    void SetData(TData* record) { m_data = record; }

    void FormShow() override;
    void Timer1Timer();
    void Button1Click();  // "Cancel"

  private:
    void ReadInputs(const TData& rec);

    TData* m_data = nullptr;
    uint8_t m_moduleAddress = 0;  // taken from the record when shown
    TTickGate m_ticks;
    std::unique_ptr<TBitColumn> m_inputs;
    QPushButton* m_button1;
    TStatusLine* m_statusBar1;
    QTimer* m_timer1;
};
