#include "CtlStats.h"

#include "CtlOutput.h"

namespace {

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

}  // namespace

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
