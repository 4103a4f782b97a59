// What both monitors share: the bit texts and the column that shows one
// byte bit by bit.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class QLabel;
class QWidget;

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
    // A new reading; it looks live.
    void ShowByte(uint8_t byte);
    // The poll failed: the last reading stays, greyed, until the next one.
    void MarkStale();

  private:
    std::array<QLabel*, 8> m_values{};
};
