#include "runner/run_figures.h"

#include "base/percentile.h"

#include <algorithm>

std::optional<TRoundTrips> RoundTripsOf(std::vector<double> ms) {
    if (ms.empty())
        return std::nullopt;
    std::sort(ms.begin(), ms.end());
    return TRoundTrips{ms.front(), NearestRank(ms, 0.5), NearestRank(ms, 0.99), ms.back()};
}

TTotals TotalsOf(const QList<TItemTally>& items) {
    TTotals totals;
    for (const TItemTally& tally : items) {
        totals.replies += tally.replies;
        totals.resends += tally.resends;
        totals.afterResend += tally.afterResend;
        totals.rttMs.insert(totals.rttMs.end(), tally.rttMs.begin(), tally.rttMs.end());
    }
    if (!totals.rttMs.empty())
        totals.slowestMs = *std::max_element(totals.rttMs.begin(), totals.rttMs.end());
    return totals;
}

int AvoidingReplyTimeout(double slowestMs) {
    return (int(slowestMs) / 100 + 1) * 100;
}
