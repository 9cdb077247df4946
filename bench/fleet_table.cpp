#include "bench/fleet_table.h"

#include "base/percentile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

double RepliesPerSecond(const TRow& row) {
    return row.steadyS > 0 ? double(row.steadyReplies) / row.steadyS : NAN;
}

double MicrosecondsPerReply(const TRow& row) {
    return row.steadyReplies > 0 ? row.steadyCpuS * 1e6 / double(row.steadyReplies) : NAN;
}

QByteArray Percent(double part, double whole) {
    return Figure(whole > 0 ? 100 * part / whole : NAN, 1);
}

} // namespace

QByteArray Figure(double value, int decimals) {
    return std::isfinite(value) ? QByteArray::number(value, 'f', decimals) : QByteArray("-");
}

double PercentileOf(const std::vector<float>& values, double p) {
    if (values.empty())
        return NAN;
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    return NearestRank(sorted, p);
}

TRatios RatiosOf(const TRow& runner, const TRow& client, const TRow& floor) {
    const auto against = [&runner](const TRow& other) {
        return TRatio{MicrosecondsPerReply(runner) / MicrosecondsPerReply(other),
                      RepliesPerSecond(runner) / RepliesPerSecond(other)};
    };
    return {runner.controllers, against(client), against(floor)};
}

void PrintHeader(double durationS, double intervalS, double idleRttMs) {
    std::printf("%g s per run on 127.0.0.1, interval %g s, idle round trip %.3f ms\n\n", durationS,
                intervalS, idleRttMs);
    std::printf("| controllers | program | CPU %% of a core, steady / whole run | CPU µs / reply | "
                "peak RSS MiB | RSS / controller KiB | replies/s | ideal/s | %% of ideal | gap "
                "after a reply, median / p99 ms | late p99 ms | connect all ms | exit | peer "
                "CPU %% |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
}

void PrintRow(const TRow& row, long baselineRssKiB, double ideal) {
    const TChildUse& use = row.use;
    const TPeerFigures& peer = row.peer;
    const double rate = RepliesPerSecond(row);
    const double rssPerController =
        row.controllers > 1 && baselineRssKiB > 0
            ? double(use.peakRssKiB - baselineRssKiB) / double(row.controllers - 1)
            : NAN;
    const QByteArray connected = peer.allConnectedNs != 0
                                     ? Figure(double(peer.allConnectedNs - row.startNs) / 1e6, 0)
                                     : QByteArray::number(peer.accepted) + " of " +
                                           QByteArray::number(row.controllers) + " came";
    std::printf("| %d | %s | %s / %s | %s | %s | %s | %s | %s | %s | %s / %s | %s | %s | %s | %s "
                "|\n",
                row.controllers, row.program, Percent(row.steadyCpuS, row.steadyS).constData(),
                Percent(use.cpuS, use.wallS).constData(),
                Figure(MicrosecondsPerReply(row), 1).constData(),
                Figure(double(use.peakRssKiB) / 1024, 1).constData(),
                Figure(rssPerController, 2).constData(), Figure(rate, 0).constData(),
                Figure(ideal, 0).constData(), Percent(rate, ideal).constData(),
                Figure(PercentileOf(peer.gapMs, 0.5), 2).constData(),
                Figure(PercentileOf(peer.gapMs, 0.99), 2).constData(),
                Figure(PercentileOf(peer.lateMs, 0.99), 2).constData(), connected.constData(),
                use.exit.constData(), Percent(peer.cpuSeconds, use.wallS).constData());
}

void PrintRatios(const std::vector<TRatios>& ratios) {
    std::printf("\n| controllers | CPU per reply, runner / epoll client | replies/s, runner / "
                "epoll client | CPU per reply, runner / floor | replies/s, runner / floor |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const TRatios& ratio : ratios)
        std::printf("| %d | %s | %s | %s | %s |\n", ratio.controllers,
                    Figure(ratio.client.cpuPerReply, 2).constData(),
                    Figure(ratio.client.repliesPerSecond, 2).constData(),
                    Figure(ratio.floor.cpuPerReply, 2).constData(),
                    Figure(ratio.floor.repliesPerSecond, 2).constData());
}
