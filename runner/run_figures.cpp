#include "runner/run_figures.h"

std::optional<TRoundTrips> RoundTripsOf(const TRttHistogram& rtt) {
    if (rtt.Count() == 0)
        return std::nullopt;
    return TRoundTrips{rtt.MinMs(), rtt.PercentileMs(50), rtt.PercentileMs(99), rtt.MaxMs()};
}

TTotals TotalsOf(const QList<TItemTally>& items) {
    TTotals totals;
    for (const TItemTally& tally : items) {
        totals.replies += tally.replies;
        totals.resends += tally.resends;
        totals.afterResend += tally.afterResend;
        totals.rttMs.Merge(tally.rtt);
    }
    totals.slowestMs = totals.rttMs.MaxMs();
    return totals;
}

int AvoidingReplyTimeout(double slowestMs) {
    return (int(slowestMs) / 100 + 1) * 100;
}
