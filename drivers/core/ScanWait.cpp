#include "ScanWait.h"

#include <algorithm>
#include <cmath>

namespace drv {

void ScanWait::Reset(std::chrono::microseconds configured) {
    m_configured = static_cast<double>(configured.count());
    m_floor = std::min(m_configured, static_cast<double>(kModuleTurnaround.count()));
    m_widest = m_configured < static_cast<double>(kModuleTurnaround.count())
                   ? m_configured
                   : std::max(m_configured, static_cast<double>(kWidest.count()));
    m_smoothed = 0;
    m_variation = 0;
    m_lateFloor = 0;
    m_sampled = false;
}

std::chrono::microseconds ScanWait::Allowance() const {
    if (!m_sampled) {
        return std::chrono::microseconds(std::llround(m_configured));
    }
    const double estimate =
        m_smoothed + std::max(static_cast<double>(kGrain.count()), kVariationFactor * m_variation);
    const double us = std::clamp(std::max(estimate, m_lateFloor), m_floor, m_widest);
    return std::chrono::microseconds(std::llround(us));
}

void ScanWait::Replied(std::chrono::microseconds waited) {
    const double us = std::max(0.0, static_cast<double>(waited.count()));
    if (!m_sampled) {
        // The first reply starts the estimate at the safe start, from which
        // the replies after it bring it down.
        m_smoothed = us;
        m_variation = std::max(0.0, m_configured - us) / kVariationFactor;
        m_sampled = true;
    } else {
        m_variation += (std::abs(m_smoothed - us) - m_variation) / 4;
        m_smoothed += (us - m_smoothed) / 8;
    }
    m_lateFloor -= m_lateFloor / kLateDecay;
}

void ScanWait::Late() { m_lateFloor = m_configured; }

}  // namespace drv
