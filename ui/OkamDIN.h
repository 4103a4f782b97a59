// The digital inputs monitor: shows DIN0-DIN7 as "0" or "1", polled every
// 100 ms while the dialog exists.
//
// Also home of what both monitors (this one and the status register's)
// share: the bit texts and the column that shows one byte bit by bit.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

struct TData;
class QLabel;
class QPushButton;
class QTimer;
class TStatusLine;

// "1" when the bit is set, else "0"; bits above 7 read "0".
const char* BitText(uint8_t byte, unsigned bit);

// Eight name labels, one a row, and to their right a narrow sunken white
// panel of eight value labels; row r shows bit r of one byte, so the least
// significant bit is at the top. Every value starts as "0".
class TBitColumn {
  public:
    struct TNames {
        std::array<const char*, 8> captions;  // name label texts, top down
        std::string namePrefix;               // name label r is namePrefix + r
        std::string valuePrefix;              // value label r is valuePrefix + r
        const char* panel;
    };
    TBitColumn(QWidget* parent, int left, int top, int nameWidth, const TNames& names);
    void ShowByte(uint8_t byte);

  private:
    std::array<QLabel*, 8> m_values{};
};

// Polls from a window timer for as long as the dialog exists. Ticks never
// nest, and a blocking transaction that outlasts the interval leaves no
// queue of due ticks behind: the timer fires at most once when it is late.
class TForm11 : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kPollInterval = 100;  // ms

    explicit TForm11(QWidget* owner = nullptr);
    void SetData(TData* record) { m_data = record; }

    void FormShow();
    void Timer1Timer();
    void Button1Click();  // "Cancel"

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ReadInputs(const TData& rec);

    TData* m_data = nullptr;
    uint8_t m_moduleAddress = 0;  // taken from the record when shown
    bool m_inTick = false;
    std::unique_ptr<TBitColumn> m_inputs;
    QPushButton* m_button1;
    TStatusLine* m_statusBar1;
    QTimer* m_timer1;
};
