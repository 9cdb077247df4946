#pragma once

#include "runner/item_tally.h"

#include <QList>

#include <optional>

struct TRoundTrips {
    double min, median, p99, max;
};
// Round-trip statistics, the percentiles within 1 % of the nearest rank;
// nothing for no round trips.
std::optional<TRoundTrips> RoundTripsOf(const TRttHistogram& rtt);

// A run's figures over all its items.
struct TTotals {
    qint64 replies = 0, resends = 0, afterResend = 0;
    TRttHistogram rttMs;
    double slowestMs = 0;
};
TTotals TotalsOf(const QList<TItemTally>& items);

// The reply timeout under which the slowest reply would have come before any
// resend: the next whole 100 ms above it.
int AvoidingReplyTimeout(double slowestMs);
