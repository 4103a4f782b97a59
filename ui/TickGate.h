// One tick at a time for a polling dialog. A tick that comes due while
// another runs must not nest, but it must not be lost either: it is owed,
// and runs as soon as the running tick ends. However many came due
// meanwhile, one is owed.
//
// A tick may come due inside another in two ways: a transaction or the
// tick's own event processing calls the handler again, which the gate
// refuses; or the timer's time passes while the handler that the timer
// itself started runs, and then Qt drops the timer's event, as it never
// delivers a timer's event inside that timer's own handler. The second is
// seen by the time: the gate notes when the timer is next due.
#pragma once

#include <QTimer>
#include <chrono>
#include <utility>

class TTickGate {
  public:
    // Starts a tick; false, with a tick owed, when one is running.
    // byTimer: the timer's own event started it.
    bool Enter(const QTimer& timer, bool byTimer) {
        if (m_running) {
            // A timer event that was already due when this tick started is
            // the one this tick runs for: Windows delivers it late, inside
            // the tick, and owing it would start a burst of ticks.
            if (!byTimer || Clock::now() >= m_due) m_owed = true;
            return false;
        }
        m_running = true;
        const int left = timer.remainingTime();
        // Overdue (0): its event is pending and belongs to this tick.
        m_due = left > 0    ? Clock::now() + std::chrono::milliseconds(left)
                : left == 0 ? Clock::now() + std::chrono::milliseconds(timer.interval())
                            : Clock::time_point::max();
        return true;
    }
    // Ends the tick; true when one came due meanwhile and is to run now.
    bool Leave() {
        m_running = false;
        return std::exchange(m_owed, false) || Clock::now() >= m_due;
    }
    // A tick came due while something else blocked the dialog.
    void Owe() { m_owed = true; }
    // Outside a tick: true when one is owed and is to run now.
    bool TakeOwed() { return !m_running && std::exchange(m_owed, false); }

  private:
    using Clock = std::chrono::steady_clock;
    bool m_running = false;
    bool m_owed = false;
    Clock::time_point m_due{};
};
