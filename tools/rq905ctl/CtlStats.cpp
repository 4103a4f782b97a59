#include "CtlStats.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "CtlConnection.h"
#include "CtlOutput.h"
#include "core/IntText.h"
#include "link/Txxx318.h"

namespace {

constexpr uint32_t kTimeout = 11;
constexpr uint32_t kDamaged = 12;
constexpr uint32_t kFirstModuleStatus = 21;
constexpr uint32_t kLastModuleStatus = 24;

// The trace file is emptied once it holds this much: a watch may run for
// weeks.
constexpr std::size_t kTraceFileLimit = 1 << 20;
// Without a trace to pass on, the file is read this seldom: each line
// names its request's address, so nothing is lost by waiting, and a
// transaction costs the tool no read of its own.
constexpr uint32_t kTraceReadEvery = 256;

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

TJsonObject SummaryJson(const TStatsSummary& s, bool refusedKnown) {
    const TStatsCounts& c = s.counts;
    TJsonObject json;
    json.Number("transactions", static_cast<int64_t>(c.transactions))
        .Number("answered", static_cast<int64_t>(c.answered))
        .Number("timeouts", static_cast<int64_t>(c.timeouts))
        .Number("damaged", static_cast<int64_t>(c.damaged));
    if (refusedKnown) {
        json.Number("refused", static_cast<int64_t>(c.refused));
    } else {
        json.Null("refused");
    }
    json.Number("module_errors", static_cast<int64_t>(c.moduleErrors))
        .Number("other_failures", static_cast<int64_t>(c.otherFailures));
    if (s.roundTrip) {
        json.Raw("round_trip_us", TJsonObject()
                                      .Number("min", s.roundTrip->minUs)
                                      .Number("median", s.roundTrip->medianUs)
                                      .Number("p99", s.roundTrip->p99Us)
                                      .Number("max", s.roundTrip->maxUs)
                                      .Str());
    } else {
        json.Null("round_trip_us");
    }
    return json;
}

// The connection's count of refused replies from a trace line that ends
// with "refused damaged D echo E" (a Send that refused something, or Done).
std::optional<uint64_t> RefusedEcho(std::string_view line) {
    const std::size_t at = line.rfind("refused damaged ");
    if (at == std::string_view::npos) return std::nullopt;
    const std::size_t echo = line.find(" echo ", at);
    if (echo == std::string_view::npos) return std::nullopt;
    return std::strtoull(std::string(line.substr(echo + 6)).c_str(), nullptr, 10);
}

// The bus address of a Send line's request ("... Send A5 07 C8 ..."), if it
// has one.
std::optional<uint8_t> RequestAddress(std::string_view line) {
    const std::size_t at = line.find(" Send A5 ");
    if (at == std::string_view::npos || line.size() < at + 11) return std::nullopt;
    const std::string hex(line.substr(at + 9, 2));
    char* end = nullptr;
    const unsigned long value = std::strtoul(hex.c_str(), &end, 16);
    if (end != hex.c_str() + 2) return std::nullopt;
    return static_cast<uint8_t>(value);
}

}  // namespace

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
    const bool moduleStatus = result >= kFirstModuleStatus && result <= kLastModuleStatus;
    if (result == 0 || moduleStatus) {
        ++c.answered;
        a.roundTrips.push_back(roundTripUs);
        if (moduleStatus) ++c.moduleErrors;
    } else if (result == kTimeout) {
        ++c.timeouts;
    } else if (result == kDamaged) {
        ++c.damaged;
    } else {
        ++c.otherFailures;
    }
}

void TLinkStats::AddRefused(uint8_t address, uint64_t count) { At(address).counts.refused += count; }

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

std::string StatsText(const TLinkStats& stats, bool perAddress) {
    std::string text = "Statistika spojení: " + SummaryText(stats.Total(), stats.RefusedKnown());
    if (!perAddress) return text;
    for (const auto& [address, summary] : stats.PerAddress()) {
        text += "\n  adresa " + IntToStr(address) + ": " + SummaryText(summary, stats.RefusedKnown());
    }
    return text;
}

std::string StatsJson(const TLinkStats& stats, bool perAddress) {
    TJsonObject body = SummaryJson(stats.Total(), stats.RefusedKnown());
    if (perAddress) {
        std::vector<std::string> addresses;
        for (const auto& [address, summary] : stats.PerAddress()) {
            addresses.push_back(TJsonObject()
                                    .Number("address", address)
                                    .Append(SummaryJson(summary, stats.RefusedKnown()))
                                    .Str());
        }
        body.Raw("addresses", JsonArrayOf(addresses.data(), addresses.size()));
    }
    return TJsonObject().Raw("stats", body.Str()).Str();
}

TStatsRecorder::TStatsRecorder(TLinkStats& stats, const std::optional<std::string>& userTrace)
    : m_stats(stats) {
    // A trace the user set in the environment is passed on as well.
    const char* inherited = std::getenv("RQ905_TRACE");
    const std::optional<std::string> wanted =
        userTrace ? userTrace
                  : (inherited != nullptr && *inherited != '\0' ? std::optional<std::string>(inherited)
                                                                : std::nullopt);
    if (wanted) {
        if (*wanted == "-") {
            m_forward = stderr;
        } else {
            m_forward = std::fopen(wanted->c_str(), "ab");
            m_forwardOwned = m_forward != nullptr;
        }
    }
    SetTraceFile(m_file.Valid() ? m_file.Name() : wanted.value_or(""));
    SetTransactionObserver(&TStatsRecorder::Observe, this);
}

TStatsRecorder::~TStatsRecorder() {
    Finish();
    if (m_forwardOwned) std::fclose(m_forward);
}

void TStatsRecorder::Finish() {
    if (m_finished) return;
    m_finished = true;
    SetTransactionObserver(nullptr, nullptr);
    ReadTrace();
    if (!m_traced) m_stats.SetRefusedUnknown();
}

void TStatsRecorder::Observe(void* self, uint8_t address, uint32_t result, uint32_t micros) {
    auto* recorder = static_cast<TStatsRecorder*>(self);
    recorder->m_stats.Add(address, result, micros);
    recorder->m_lastAddress = address;
    // A trace the user reads is passed on as it comes.
    if (recorder->m_forward != nullptr || ++recorder->m_unread >= kTraceReadEvery) recorder->ReadTrace();
}

void TStatsRecorder::ReadTrace() {
    m_unread = 0;
    if (!m_file.Valid()) return;
    const std::size_t before = m_pending.size();
    m_file.ReadNew(m_pending);
    if (m_pending.size() == before) return;
    const std::size_t end = m_pending.rfind('\n');
    if (end == std::string::npos) return;
    const std::string_view lines(m_pending.data(), end + 1);
    if (m_forward != nullptr) {
        std::fwrite(lines.data(), 1, lines.size(), m_forward);
        std::fflush(m_forward);
    }
    for (std::size_t from = 0; from < lines.size();) {
        const std::size_t to = lines.find('\n', from);
        const std::string_view line = lines.substr(from, to - from);
        from = to + 1;
        // A new connection counts from zero.
        if (line.find(" Init ") != std::string_view::npos) {
            m_traced = m_traced || line.find("| result 0 |") != std::string_view::npos;
            m_echoTotal = 0;
            continue;
        }
        if (const auto echo = RefusedEcho(line)) {
            if (*echo > m_echoTotal)
                m_stats.AddRefused(RequestAddress(line).value_or(m_lastAddress), *echo - m_echoTotal);
            m_echoTotal = *echo;
        }
    }
    m_pending.erase(0, end + 1);
    // Only whole lines have been read, so the file may start again.
    if (m_pending.empty() && m_file.ReadSoFar() >= kTraceFileLimit) m_file.Empty();
}
