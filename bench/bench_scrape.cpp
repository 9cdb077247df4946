// Measures what a Prometheus scrape costs the controllers of a runner: the
// runner drives N controllers (the fleet bench's light peer) with 3 items
// each and --metrics, once left alone and once scraped every second, and
// the peer measures how late each command within a pass came beyond the
// 100 ms send delay. A scrape that held the loop shows as lateness.
// Usage: bench_scrape [CONTROLLERS (10000)] [SECONDS per run (30)] [INTERVAL (5)]
// The interval (--interval of the runner) keeps the runner short of its
// limit, as a site's would: a saturated loop is late whatever a scrape does.
#include "bench/child_watch.h"
#include "bench/file_limit.h"
#include "bench/fleet_peer.h"
#include "bench/fleet_table.h"
#include "bench/monotonic_clock.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

// From the last connection on, the runs wait this long before scraping.
constexpr double kSettleS = 2;

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port free a moment ago, for the runner's --metrics.
uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// GET /metrics as a scraper does, read to the end; the bytes it got.
int64_t Scrape(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    int64_t bytes = 0;
    static const char kRequest[] = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) > 0) {
        char buffer[65536];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            bytes += got;
    }
    ::close(fd);
    return bytes;
}

struct TScrapeRun {
    TPeerFigures peer;
    std::vector<float> scrapeMs;
    int64_t bytes = 0;
    QByteArray exit;
};

struct TScrapeBench {
    int controllers;
    double durationS, intervalS;
};

TScrapeRun Run(const QTemporaryDir& folder, const TScrapeBench& bench, bool scrape) {
    const int controllers = bench.controllers;
    const double durationS = bench.durationS;
    TScrapeRun run;
    TFleetPeer peer(controllers, bench.intervalS);
    const QByteArray address = "127.0.0.1:" + QByteArray::number(peer.Port());
    QFile definition(folder.filePath("three.tst"));
    QFile hosts(folder.filePath("hosts"));
    if (!definition.open(QIODevice::WriteOnly) || !hosts.open(QIODevice::WriteOnly))
        return run;
    definition.write("IP=127.0.0.1\nPort=1\nRead Temp=[0A!?rt]\nRead Volt=[0A!?rv]\n"
                     "Status=[0A!?s]\n");
    hosts.write((address + '\n').repeated(controllers));
    definition.close();
    hosts.close();
    const uint16_t port = FreePort();
    TChildWatch child(ZYL_TEST_RUN_PATH,
                      {"--cycles", "0", "--duration", QString::number(durationS), "--interval",
                       QString::number(bench.intervalS), "--timeout",
                       QString::number(bench.intervalS + 10), "--quiet", "--metrics",
                       QString::number(port), "--hosts", hosts.fileName(), definition.fileName()},
                      folder.filePath(scrape ? "scraped" : "alone"));
    int64_t nextNs = 0;
    const int64_t lastNs = child.StartNs() + int64_t((durationS - 1) * 1e9);
    run.exit = child
                   .Wait(child.StartNs() + int64_t((durationS + 60) * 1e9),
                         [&] {
                             const int64_t nowNs = NowNs();
                             if (!scrape || peer.Accepted() < controllers || nowNs > lastNs)
                                 return;
                             if (nextNs == 0)
                                 nextNs = nowNs + int64_t(kSettleS * 1e9);
                             if (nowNs < nextNs)
                                 return;
                             run.bytes = Scrape(port);
                             run.scrapeMs.push_back(float(NowNs() - nowNs) / 1e6F);
                             nextNs += int64_t(1e9);
                         })
                   .exit;
    run.peer = peer.Stop();
    return run;
}

// How late each command within a pass came: the gap after the reply before
// it, less the 100 ms send delay. The gaps that end a pass wait for the
// interval and are left out.
std::vector<float> LateWithinPasses(const std::vector<float>& gapMs, double intervalS) {
    std::vector<float> late;
    for (const float gap : gapMs)
        if (gap < float(intervalS * 500))
            late.push_back(gap - 100);
    return late;
}

void Print(const char* what, const TScrapeRun& run, double intervalS) {
    const std::vector<float> late = LateWithinPasses(run.peer.gapMs, intervalS);
    std::printf(
        "| %s | %lld | %s / %s / %s | %zu | %s / %s | %.1f | %s |\n", what,
        static_cast<long long>(run.peer.replies), Figure(PercentileOf(late, 0.5), 2).constData(),
        Figure(PercentileOf(late, 0.99), 2).constData(),
        Figure(late.empty() ? NAN : *std::max_element(late.begin(), late.end()), 2).constData(),
        run.scrapeMs.size(), Figure(PercentileOf(run.scrapeMs, 0.5), 1).constData(),
        Figure(run.scrapeMs.empty() ? NAN
                                    : *std::max_element(run.scrapeMs.begin(), run.scrapeMs.end()),
               1)
            .constData(),
        double(run.bytes) / 1e6, run.exit.constData());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const TScrapeBench bench{arguments.value(1, "10000").toInt(),
                             arguments.value(2, "30").toDouble(),
                             arguments.value(3, "5").toDouble()};
    QTemporaryDir folder;
    if (bench.controllers < 1 || bench.durationS < 2 * kSettleS + 2 || bench.intervalS < 0 ||
        !folder.isValid()) {
        std::fprintf(stderr, "usage: bench_scrape [CONTROLLERS] [SECONDS > 6] [INTERVAL]\n");
        return 2;
    }
    RaiseOpenFileLimit();
    std::printf("%d controllers x 3 items, interval %g s, %g s per run on 127.0.0.1\n\n",
                bench.controllers, bench.intervalS, bench.durationS);
    std::printf(
        "| run | replies | late within a pass, median / p99 / max ms | scrapes "
        "| scrape median / max ms | exposition MB | exit |\n|---|---|---|---|---|---|---|\n");
    Print("not scraped", Run(folder, bench, false), bench.intervalS);
    Print("scraped every second", Run(folder, bench, true), bench.intervalS);
    return 0;
}
