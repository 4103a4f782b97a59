#include "LinkStats.h"

#include <algorithm>
#include <cstdio>

#include "core/IntText.h"

namespace {

constexpr uint32_t kTimeout = 11;
constexpr uint32_t kDamaged = 12;
constexpr uint32_t kFirstModuleStatus = 21;
constexpr uint32_t kLastModuleStatus = 24;

void Sum(TStatsCounts& into, const TStatsCounts& c) {
    into.transactions += c.transactions;
    into.answered += c.answered;
    into.timeouts += c.timeouts;
    into.damaged += c.damaged;
    into.moduleErrors += c.moduleErrors;
    into.otherFailures += c.otherFailures;
    into.refused += c.refused;
}

// Milliseconds with three decimals and a decimal comma.
std::string Ms(uint32_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%u,%03u ms", us / 1000, us % 1000);
    return text;
}

std::string Count(uint64_t n) { return std::to_string(n); }

}  // namespace

TOutcome Classify(uint32_t result) {
    if (result == 0) return TOutcome::Answered;
    if (result >= kFirstModuleStatus && result <= kLastModuleStatus) return TOutcome::ModuleError;
    if (result == kTimeout) return TOutcome::Timeout;
    if (result == kDamaged) return TOutcome::Damaged;
    return TOutcome::Other;
}

const char* OutcomeName(TOutcome outcome) {
    switch (outcome) {
        case TOutcome::Answered:
            return "ok";
        case TOutcome::ModuleError:
            return "module_error";
        case TOutcome::Timeout:
            return "timeout";
        case TOutcome::Damaged:
            return "damaged";
        case TOutcome::Other:
            return "other";
    }
    return "other";
}

uint32_t Percentile(const std::vector<uint32_t>& sorted, unsigned perMille) {
    const std::size_t n = sorted.size();
    // Rank ceil(n * p / 1000), 1-based.
    std::size_t rank = (n * perMille + 999) / 1000;
    rank = std::clamp<std::size_t>(rank, 1, n);
    return sorted[rank - 1];
}

TLinkStats::TAddress& TLinkStats::At(uint8_t address) {
    const auto [it, added] = m_addresses.try_emplace(address);
    if (added) m_order.push_back(address);
    return it->second;
}

void TLinkStats::Add(uint8_t address, uint32_t result, uint32_t roundTripUs) {
    TAddress& a = At(address);
    TStatsCounts& c = a.counts;
    ++c.transactions;
    switch (Classify(result)) {
        case TOutcome::ModuleError:
            ++c.moduleErrors;
            [[fallthrough]];
        case TOutcome::Answered:
            ++c.answered;
            a.roundTrips.push_back(roundTripUs);
            break;
        case TOutcome::Timeout:
            ++c.timeouts;
            break;
        case TOutcome::Damaged:
            ++c.damaged;
            break;
        case TOutcome::Other:
            ++c.otherFailures;
            break;
    }
}

void TLinkStats::AddRefused(uint8_t address, uint64_t count) { At(address).counts.refused += count; }

void TLinkStats::Reset() {
    m_addresses.clear();
    m_order.clear();
}

TStatsSummary TLinkStats::Summarise(const TStatsCounts& counts, std::vector<uint32_t> roundTrips) {
    TStatsSummary s;
    s.counts = counts;
    if (roundTrips.empty()) return s;
    std::sort(roundTrips.begin(), roundTrips.end());
    s.roundTrip = TRoundTrip{roundTrips.front(), Percentile(roundTrips, 500), Percentile(roundTrips, 990),
                             roundTrips.back()};
    return s;
}

TStatsSummary TLinkStats::Total() const {
    TStatsCounts counts;
    std::vector<uint32_t> all;
    for (const auto& [address, a] : m_addresses) {
        Sum(counts, a.counts);
        all.insert(all.end(), a.roundTrips.begin(), a.roundTrips.end());
    }
    return Summarise(counts, std::move(all));
}

std::vector<std::pair<uint8_t, TStatsSummary>> TLinkStats::PerAddress() const {
    std::vector<std::pair<uint8_t, TStatsSummary>> list;
    for (const uint8_t address : m_order) {
        const TAddress& a = m_addresses.at(address);
        list.emplace_back(address, Summarise(a.counts, a.roundTrips));
    }
    return list;
}

std::string SummaryText(const TStatsSummary& s, bool refusedKnown) {
    const TStatsCounts& c = s.counts;
    std::string text = "transakce " + Count(c.transactions) + ", odpovědi " + Count(c.answered) +
                       ", bez odpovědi " + Count(c.timeouts) + ", poškozené odpovědi " + Count(c.damaged) +
                       ", odmítnuté odpovědi " + (refusedKnown ? Count(c.refused) : std::string("neznámo")) +
                       ", chybové stavy modulu " + Count(c.moduleErrors) + ", jiné chyby " +
                       Count(c.otherFailures) + "; doba odezvy ";
    if (!s.roundTrip) return text + "-";
    const TRoundTrip& r = *s.roundTrip;
    return text + "min " + Ms(r.minUs) + ", medián " + Ms(r.medianUs) + ", p99 " + Ms(r.p99Us) + ", max " +
           Ms(r.maxUs);
}

std::string StatsText(const TLinkStats& stats, bool perAddress) {
    std::string text = "Statistika spojení: " + SummaryText(stats.Total(), stats.RefusedKnown());
    if (!perAddress) return text;
    for (const auto& [address, summary] : stats.PerAddress()) {
        text += "\n  adresa " + IntToStr(address) + ": " + SummaryText(summary, stats.RefusedKnown());
    }
    return text;
}
