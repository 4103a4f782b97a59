#include "BusScan.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>

#include "core/IntText.h"

namespace busscan {

namespace {

using Clock = std::chrono::steady_clock;

// A request frame is 13 bytes of 10 bits.
constexpr double kRequestBytes = 13;

bool Asked(const TCancelled& cancelled) { return cancelled && cancelled(); }

TScanOutcome Ended(TScanEnd end) {
    TScanOutcome outcome;
    outcome.end = end;
    return outcome;
}

}  // namespace

uint32_t ScanAllowance(uint8_t speedIndex, uint32_t atLeastMs) {
    const uint32_t table = kScanAllowance[std::min<uint8_t>(speedIndex, kSpeedCount - 1)];
    return std::max(table, atLeastMs * 10);
}

TIdentOutcome Identify(uint8_t kind, uint32_t handle, uint8_t address, TIdent& ident,
                       const TCancelled& cancelled) {
    TIdentOutcome outcome;
    std::string parts[3];
    for (uint8_t index = 0; index < 3; ++index) {
        if (Asked(cancelled)) {
            outcome.interrupted = true;
            return outcome;
        }
        uint8_t d[5]{};
        uint8_t status = 0;
        TCellBlock reply{};
        ModuleTransaction(kind, handle, address, 200, index, d[0], d[1], d[2], d[3], d[4], status, reply);
        // A cancel during the transaction may have cut its wait short: the
        // failure is the cancel's, not the module's.
        if (status != 0 && Asked(cancelled)) {
            outcome.interrupted = true;
            return outcome;
        }
        if (index == 0) outcome.firstStatus = status;
        if (status != 0) {
            outcome.code = status;
            outcome.text = ResultMessage(kind, status);
            return outcome;
        }
        for (int i = 1; i <= 4; ++i) parts[index].push_back(static_cast<char>(d[i]));
    }
    ident.name = parts[0] + parts[1];
    ident.version = parts[2];
    return outcome;
}

TProbe Probe(uint8_t kind, uint32_t handle, uint8_t address, const TCancelled& cancelled) {
    TProbe probe;
    for (unsigned attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const TIdentOutcome outcome = Identify(kind, handle, address, probe.ident, cancelled);
        if (outcome.interrupted) {
            probe.result = TProbeResult::Interrupted;
            return probe;
        }
        if (outcome.code == 0) {
            probe.result = TProbeResult::Module;
            return probe;
        }
        if (outcome.code == kCodeCollision) {
            probe.result = TProbeResult::Collision;
            probe.failure = outcome;
            return probe;
        }
        if (outcome.code != kCodeDamaged) {
            // Silence at once is nobody there; silence after a damaged
            // reply leaves the damage to be told.
            const bool silent = outcome.code == kCodeTimeout && outcome.firstStatus == kCodeTimeout;
            if (attempt == 0 && silent) {
                probe.result = TProbeResult::Silent;
                return probe;
            }
            if (attempt == 0 || !silent) probe.failure = outcome;
            probe.result = TProbeResult::Failed;
            return probe;
        }
        probe.failure = outcome;
    }
    probe.result = TProbeResult::Collision;
    return probe;
}

std::string CollisionText(uint8_t address) {
    return "kolize adres: více modulů na adrese " + IntToStr(address) + "?";
}

TBusScanner::TBusScanner(TCancelled cancelled) : m_cancelled(std::move(cancelled)) {}

bool TBusScanner::Cancelled() const { return m_cancel.load() || Asked(m_cancelled); }

TScanOutcome TBusScanner::Run(uint8_t kind, uint32_t handle, const TScanSettings& settings,
                              uint8_t currentSpeed, const TScanObserver& observer) {
    std::vector<uint8_t> speeds = settings.speeds;
    if (speeds.empty()) speeds.push_back(currentSpeed);
    const uint32_t perSpeed = settings.from <= settings.to ? settings.to - settings.from + 1U : 0U;
    const TCancelled stop = [this] { return Cancelled(); };
    TScanProgress progress;
    progress.total = perSpeed * static_cast<uint32_t>(speeds.size());
    TScanClock clock;
    const auto start = Clock::now();
    for (std::size_t s = 0; s < speeds.size(); ++s) {
        if (Cancelled()) return Ended(TScanEnd::Cancelled);
        const uint8_t speedIndex = speeds[s];
        const uint32_t allowance = ScanAllowance(speedIndex, settings.atLeastMs);
        const uint32_t result =
            InterfaceSetConfig(kind, handle, SpeedFromIndex(speedIndex), allowance, kScanMode);
        if (result != 0) {
            if (Cancelled()) return Ended(TScanEnd::Cancelled);
            TScanOutcome failed = Ended(TScanEnd::LineFailed);
            failed.code = result;
            failed.text = ResultMessage(kind, result);
            failed.speedIndex = speedIndex;
            return failed;
        }
        if (observer.speedStarted) observer.speedStarted(speedIndex);
        // Results wait here until no late reply can change them, so that
        // they are told in address order: a silent address until as many
        // silent ones after it as the driver matches late replies against.
        // Each keeps the progress as it was when its address was asked.
        std::deque<std::pair<TScanAddress, TScanProgress>> pending;
        const auto describe = [&](uint8_t address, const TProbe& probe) {
            TScanAddress found;
            found.address = address;
            found.speedIndex = speedIndex;
            found.speed = SpeedFromIndex(speedIndex);
            found.result = probe.result;
            if (probe.result == TProbeResult::Module) {
                found.ident = probe.ident;
            } else if (probe.result == TProbeResult::Collision) {
                found.code = probe.failure.code;
                found.text = CollisionText(address);
            } else if (probe.result == TProbeResult::Failed) {
                found.code = probe.failure.code;
                found.text = probe.failure.text;
            }
            return found;
        };
        const auto silent = [](const auto& p) { return p.first.result == TProbeResult::Silent; };
        // Tells the settled results, or all of them. False when the
        // observer or the first module ends the scan.
        const auto tell = [&](bool all) {
            while (!pending.empty()) {
                if (!all && silent(pending.front()) &&
                    std::count_if(pending.begin(), pending.end(), silent) <=
                        static_cast<std::ptrdiff_t>(kLateReach)) {
                    return true;
                }
                const auto [found, asOf] = pending.front();
                pending.pop_front();
                if (observer.address && !observer.address(found, asOf)) return false;
                if (settings.stopAtFirst && found.result == TProbeResult::Module) return false;
            }
            return true;
        };
        const auto cancelled = [&] {
            tell(true);
            return Ended(TScanEnd::Cancelled);
        };
        // A module whose reply came after its address had been told silent
        // is asked again, now that the driver waits longer.
        const auto askLate = [&] {
            uint8_t late = 0;
            while (InterfaceLateReply(kind, handle, late) == 0) {
                const auto it = std::find_if(pending.begin(), pending.end(), [&](const auto& p) {
                    return p.first.address == late && silent(p);
                });
                if (it == pending.end()) continue;
                const TProbe again = Probe(kind, handle, late, stop);
                if (again.result == TProbeResult::Interrupted) return false;
                it->first = describe(late, again);
            }
            return true;
        };
        for (unsigned a = settings.from; a <= settings.to; ++a) {
            const auto address = static_cast<uint8_t>(a);
            const auto began = Clock::now();
            const TProbe probe = Probe(kind, handle, address, stop);
            if (probe.result == TProbeResult::Interrupted) return cancelled();
            const auto now = Clock::now();
            clock.Add(speedIndex, allowance,
                      std::chrono::duration_cast<std::chrono::microseconds>(now - began));
            ++progress.done;
            progress.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
            std::vector<std::pair<uint8_t, uint32_t>> remaining{{speedIndex, settings.to - a}};
            for (std::size_t later = s + 1; later < speeds.size(); ++later) {
                remaining.emplace_back(speeds[later], perSpeed);
            }
            progress.left = clock.Left(remaining, settings.atLeastMs);
            pending.emplace_back(describe(address, probe), progress);
            if (!askLate()) return cancelled();
            const bool first = settings.stopAtFirst && probe.result == TProbeResult::Module;
            if (!tell(first)) return Ended(TScanEnd::Stopped);
        }
        if (!askLate()) return cancelled();
        if (!tell(true)) return Ended(TScanEnd::Stopped);
    }
    return Ended(TScanEnd::Finished);
}

double TScanClock::ModelUs(uint8_t speedIndex, uint32_t allowance) {
    const double baud = SpeedFromIndex(speedIndex);
    return (kRequestBytes + 1) * 10 * 1e6 / baud + allowance * 100.0;
}

void TScanClock::Add(uint8_t speedIndex, uint32_t allowance, std::chrono::microseconds took) {
    m_modelUs += ModelUs(speedIndex, allowance);
    m_tookUs += static_cast<double>(took.count());
}

std::chrono::milliseconds TScanClock::Left(const std::vector<std::pair<uint8_t, uint32_t>>& remaining,
                                           uint32_t atLeastMs) const {
    // Before any address the model alone; after, modules found and the
    // drivers' own wait show in the ratio.
    const double ratio = m_modelUs > 0 ? m_tookUs / m_modelUs : 1.0;
    double us = 0;
    for (const auto& [speedIndex, count] : remaining) {
        us += count * ModelUs(speedIndex, ScanAllowance(speedIndex, atLeastMs));
    }
    return std::chrono::milliseconds(static_cast<int64_t>(std::llround(us * ratio / 1000)));
}

}  // namespace busscan
