// Link statistics: the outcome and round trip of every module transaction,
// in total and per bus address, and the replies the drivers refused
// (another module's, a late one, a wrong echo). rq905ctl --stats, the
// desktop program's traffic window and the gateway's metrics count alike.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The outcome classes of a transaction's result.
enum class TOutcome : uint8_t {
    Answered,     // done: a reply was taken with status 0
    ModuleError,  // results 21-24: a reply was taken, with a status of the module itself
    Timeout,      // result 11
    Damaged,      // result 12
    Other,
};
TOutcome Classify(uint32_t result);
// Names for machines (metrics labels, JSON): "ok", "module_error", ...
const char* OutcomeName(TOutcome outcome);
inline constexpr int kOutcomeCount = 5;

struct TStatsCounts {
    uint64_t transactions = 0;
    uint64_t answered = 0;      // a reply was taken: done, or a module error status
    uint64_t timeouts = 0;      // result 11
    uint64_t damaged = 0;       // result 12
    uint64_t moduleErrors = 0;  // results 21-24, a status of the module itself
    uint64_t otherFailures = 0;
    uint64_t refused = 0;  // replies the driver refused (wrong address, tag or echo)
};

struct TRoundTrip {
    uint32_t minUs = 0;
    uint32_t medianUs = 0;
    uint32_t p99Us = 0;
    uint32_t maxUs = 0;
};

struct TStatsSummary {
    TStatsCounts counts;
    std::optional<TRoundTrip> roundTrip;  // none without an answered transaction
};

// The nearest-rank percentile of ascending samples: the smallest sample
// with at least perMille thousandths of all at or below it. samples must
// not be empty.
uint32_t Percentile(const std::vector<uint32_t>& sorted, unsigned perMille);

// Round trips are kept whole (4 bytes a transaction) so that the
// percentiles are exact; a long-running view resets now and then.
class TLinkStats {
  public:
    // result: the full result of the transaction; roundTripUs: how long the
    // driver took, counted only for a transaction that was answered.
    void Add(uint8_t address, uint32_t result, uint32_t roundTripUs);
    void AddRefused(uint8_t address, uint64_t count);
    // The drivers give no count of refused replies (the driver host).
    void SetRefusedUnknown() { m_refusedKnown = false; }
    bool RefusedKnown() const { return m_refusedKnown; }
    // Forgets every count; whether refused replies are known stays.
    void Reset();

    TStatsSummary Total() const;
    // Per address, in the order of their first transaction.
    std::vector<std::pair<uint8_t, TStatsSummary>> PerAddress() const;

  private:
    struct TAddress {
        TStatsCounts counts;
        std::vector<uint32_t> roundTrips;
    };
    TAddress& At(uint8_t address);
    static TStatsSummary Summarise(const TStatsCounts& counts, std::vector<uint32_t> roundTrips);

    std::map<uint8_t, TAddress> m_addresses;
    std::vector<uint8_t> m_order;
    bool m_refusedKnown = true;
};

// One summary as Windows-1250 text for a person ("transakce 3, odpovědi 3,
// ...; doba odezvy min ...").
std::string SummaryText(const TStatsSummary& summary, bool refusedKnown);
// A total line, and with perAddress a line per address.
std::string StatsText(const TLinkStats& stats, bool perAddress);
