#pragma once

#include "runner/item_tally.h"

#include <QList>

#include <optional>
#include <vector>

struct TRoundTrips {
    double min, median, p99, max;
};
// Nearest-rank statistics of round-trip times; nothing for no times.
std::optional<TRoundTrips> RoundTripsOf(std::vector<double> ms);

// A run's figures over all its items.
struct TTotals {
    int replies = 0, resends = 0, afterResend = 0;
    std::vector<double> rttMs;
    double slowestMs = 0;
};
TTotals TotalsOf(const QList<TItemTally>& items);

// The reply timeout under which the slowest reply would have come before any
// resend: the next whole 100 ms above it.
int AvoidingReplyTimeout(double slowestMs);
