// How long a scrape holds the runner's loop: the metrics exposition and the
// status page of 10,000 controllers with 3 items each, every item with a
// check and a spread of round trips. Prints the slowest and the median of
// several renderings and the exposition's size; exits 1 when the slowest
// exposition takes 50 ms or more.
#include "runner/metrics_text.h"
#include "runner/status_page.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kControllers = 10000;
constexpr int kRepliesPerItem = 200;
constexpr int kRuns = 20;
constexpr double kBudgetMs = 50;

TFleetView BusyFleet() {
    QList<QByteArray> controllers;
    for (int c = 0; c < kControllers; ++c)
        controllers.append("10.1." + QByteArray::number(c / 250) + '.' +
                           QByteArray::number(c % 250) + ":10001");
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    TFleetView fleet("bench", controllers,
                     {{"Read Temp", true}, {"Read Volt", true}, {"Status", true}}, nowMs);
    TReplyRecord record;
    record.time = QDateTime::currentDateTimeUtc();
    record.reply = "[T=21.5]";
    for (size_t c = 0; c < size_t(kControllers); ++c) {
        fleet.SetState(c, TControllerState::Up, nowMs);
        for (size_t item = 0; item < 3; ++item)
            for (int r = 0; r < kRepliesPerItem; ++r) {
                // 0.5 to 40 ms, a few slow ones: a real LAN's spread.
                record.rttMs = 0.5 + double((c * 7 + item * 13 + size_t(r) * 31) % 400) / 10 +
                               (r % 50 == 0 ? 300 : 0);
                record.verdict.outcome =
                    r % 97 == 0 ? TVerdict::TOutcome::Fail : TVerdict::TOutcome::Pass;
                fleet.AddReply(c, item, record);
            }
    }
    return fleet;
}

struct TTimes {
    double slowest;
    double median;
    qsizetype bytes;
};

TTimes Time(const std::function<QByteArray()>& render) {
    std::vector<double> ms;
    qsizetype bytes = 0;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        bytes = render().size();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms.back(), ms[ms.size() / 2], bytes};
}

} // namespace

int main() {
    const TFleetView fleet = BusyFleet();
    TMetricsText metrics(fleet, "bench");
    const TTimes exposition = Time([&] { return metrics.Render(); });
    const TTimes page =
        Time([&] { return StatusPage(fleet, QDateTime::currentMSecsSinceEpoch()); });
    std::printf("%d controllers x 3 items, %d renderings each\n", kControllers, kRuns);
    std::printf("  /metrics  slowest %6.1f ms  median %6.1f ms  %lld bytes\n", exposition.slowest,
                exposition.median, qlonglong(exposition.bytes));
    std::printf("  /         slowest %6.1f ms  median %6.1f ms  %lld bytes\n", page.slowest,
                page.median, qlonglong(page.bytes));
    return exposition.slowest < kBudgetMs ? 0 : 1;
}
