// The scan mode's turnaround allowance, following the replies the scan
// itself sees, as TCP's retransmission time-out follows its round trips
// (RFC 6298): a smoothed wait plus a multiple of its variation. SetConfig's
// allowance is the safe start; replies that come early and steadily bring
// the allowance down towards the module's turnaround, never below it.
// A reply that came after its wait had ended counts too, with its own
// lateness, so that a busy PC (whose tty work is late by milliseconds)
// widens the allowance, past the start if need be, up to kWidest; and a
// wait that the driver itself ends late puts it back to the start.
#pragma once

#include <chrono>

namespace drv {

// The module begins its reply within this long of the request's last stop
// bit.
inline constexpr std::chrono::microseconds kModuleTurnaround{2000};
// A wait that ends this much later than its deadline tells of a busy
// machine (an idle one wakes within a tenth of this). Windows ends a wait
// on its timer's tick, 15.6 ms unless a program asked for a finer one, and
// in whole milliseconds: there only a wait late by more than a tick tells.
#ifdef _WIN32
inline constexpr std::chrono::microseconds kBusyWakeUp{17000};
#else
inline constexpr std::chrono::microseconds kBusyWakeUp{1000};
#endif

class ScanWait {
  public:
    // As RFC 6298: the smoothed wait takes an eighth of each new one, its
    // variation a quarter, and the allowance is the wait plus four
    // variations, at least the timer's grain.
    static constexpr int kVariationFactor = 4;
    static constexpr std::chrono::microseconds kGrain{100};
    // A late reply puts the allowance back to the safe start; that floor
    // then falls by a 32nd with each reply seen in time, so that one busy
    // moment is not forgotten after a few replies.
    static constexpr int kLateDecay = 32;
    // The most the replies widen it to: a busy PC's tty work, or a USB
    // converter's latency timer (16 ms by default).
    static constexpr std::chrono::microseconds kWidest{20000};

    // configured: SetConfig's allowance. A value below the module's
    // turnaround is the caller's own choice and is kept as it is.
    void Reset(std::chrono::microseconds configured);
    std::chrono::microseconds Allowance() const;
    // A reply's first byte came this long after the request's line time and
    // one byte time: the turnaround and what the PC added; also a reply
    // found after its wait had ended, as late as it was found.
    void Replied(std::chrono::microseconds waited);
    // Input that made no reply came after the wait had ended, or the wait
    // itself ended late.
    void Late();

  private:
    double m_configured = 0;
    double m_floor = 0;
    double m_widest = 0;
    double m_smoothed = 0;
    double m_variation = 0;
    double m_lateFloor = 0;
    bool m_sampled = false;
};

}  // namespace drv
