// Link statistics of rq905ctl --stats: the outcome and round trip of every
// module transaction, in total and per bus address, and the replies the
// drivers refused (another module's, a late one, a wrong echo). The
// drivers count those inside, and the count reaches the tool through their
// frame trace, the way the driver boundary already offers; the seven entry
// points stay as they are.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CtlTraceFile.h"

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
// percentiles are exact.
class TLinkStats {
  public:
    // result: the full result of the transaction; roundTripUs: how long the
    // driver took, counted only for a transaction that was answered.
    void Add(uint8_t address, uint32_t result, uint32_t roundTripUs);
    void AddRefused(uint8_t address, uint64_t count);
    // The drivers give no count of refused replies (the driver host).
    void SetRefusedUnknown() { m_refusedKnown = false; }
    bool RefusedKnown() const { return m_refusedKnown; }

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

// The summary: Windows-1250 lines for a person (a total line, a round-trip
// line, and with perAddress a line per address), or one JSON object.
std::string StatsText(const TLinkStats& stats, bool perAddress);
std::string StatsJson(const TLinkStats& stats, bool perAddress);

// Keeps stats of every module transaction while it lives: it watches the
// interface library layer's transactions and points the drivers' trace at
// a private file, which it reads after each transaction for the refused
// replies. A trace the user asked for (--trace FILE or -) gets every line
// of it passed on. Construct it before the link opens; Finish once the link
// is closed, before the summary.
class TStatsRecorder {
  public:
    TStatsRecorder(TLinkStats& stats, const std::optional<std::string>& userTrace);
    ~TStatsRecorder();
    TStatsRecorder(const TStatsRecorder&) = delete;
    TStatsRecorder& operator=(const TStatsRecorder&) = delete;

    void Finish();

  private:
    static void Observe(void* self, uint8_t address, uint32_t result, uint32_t micros);
    // Reads the trace's new lines; refused replies go to the address of
    // the request that refused them.
    void ReadTrace();

    TLinkStats& m_stats;
    TTraceFile m_file;
    std::FILE* m_forward = nullptr;
    bool m_forwardOwned = false;
    std::string m_pending;  // the part of a line not yet complete
    uint64_t m_echoTotal = 0;
    uint8_t m_lastAddress = 0;
    uint32_t m_unread = 0;  // transactions since the trace was read
    bool m_traced = false;  // a connection opened with the trace
    bool m_finished = false;
};
