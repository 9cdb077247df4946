#pragma once

// The fleet benchmark's figures of one run and their Markdown table.
#include "bench/child_watch.h"
#include "bench/fleet_peer.h"

#include <cstdint>
#include <vector>

// One run of one program with a number of controllers. "Steady" is the
// window from the last connection accepted to shortly before the child's end.
struct TRow {
    int controllers = 0;
    const char* program = "";
    int64_t startNs = 0; // NowNs() at the child's start
    TChildUse use;
    double steadyS = 0, steadyCpuS = 0; // 0: no steady window
    int64_t steadyReplies = 0;
    TPeerFigures peer;
};

// The runner's steady figures against another program's.
struct TRatio {
    double cpuPerReply = 0, repliesPerSecond = 0;
};
struct TRatios {
    int controllers = 0;
    TRatio client, floor;
};

// value with that many decimals; "-" for NaN.
QByteArray Figure(double value, int decimals);

// The project's nearest rank of the values (base/percentile.h); NaN for none.
double PercentileOf(const std::vector<float>& values, double p);

TRatios RatiosOf(const TRow& runner, const TRow& client, const TRow& floor);

void PrintHeader(double durationS, double intervalS, double idleRttMs);
// baselineRssKiB: the same program's peak with one controller; ideal: replies
// per second with no time lost beyond the cycle's own waits.
void PrintRow(const TRow& row, long baselineRssKiB, double ideal);
void PrintRatios(const std::vector<TRatios>& ratios);
