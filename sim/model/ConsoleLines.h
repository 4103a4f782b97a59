// Splits the console's input into lines. A line is capped, so that a stream
// without a newline can neither grow the buffer nor be scanned again and
// again from its start.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline constexpr std::size_t kMaxConsoleLine = 4096;

struct ConsoleLine {
    std::string text;
    bool tooLong = false;  // the line passed the cap; the rest of it is dropped
};

class ConsoleLines {
  public:
    // The lines completed by these bytes. An overlong line is reported
    // once, when it passes the cap, without its text.
    std::vector<ConsoleLine> Feed(std::string_view bytes);

  private:
    std::string m_pending;
    bool m_discarding = false;
};

}  // namespace sim
