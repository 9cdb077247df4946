// Watches zyl-test-run over a long run: many controllers back to back against
// the bench's light peer on 127.0.0.1, split into groups (one in ten by
// default), one group rebooting at every period: it drops its connections
// (closing one, resetting the next) and refuses dials while it is away. The
// same run without reboots goes first, as the baseline for CPU per reply.
// Usage: bench_soak [--controllers 1000] [--duration 600] [--reboot-every 60]
//                   [--away 5] [--groups 10] [--reconnect-max S] [--no-reconnect]
//                   [--runner-option OPTION]...
// Prints a Markdown row per run, then the figures against their goals:
// resident memory at a fifth of the run and at its end, the cycles lost on
// connections that stayed up, the rebooted controllers that never came back,
// from listening again to the first reply, and CPU per reply.
#include "bench/child_watch.h"
#include "bench/file_limit.h"
#include "bench/fleet_peer.h"
#include "bench/fleet_table.h"
#include "bench/monotonic_clock.h"
#include "runner/reconnect_backoff.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// The runner's wait after a reply before it sends again.
constexpr double kSendDelayMs = 100;
// A child gets this long beyond its duration to finish and close.
constexpr double kGraceSeconds = 60;
// The last memory sample is taken this long before the child's duration ends.
constexpr double kEndMarginSeconds = 1;
// What the first reply after a reboot may take beyond the backoff's wait.
constexpr double kBackSlackMs = 200;

struct TSoakOptions {
    int controllers = 1000, groups = 10;
    double durationS = 600, rebootEveryS = 60, awayS = 5;
    std::optional<double> reconnectMaxS;
    bool reconnect = true;
    QStringList runnerOptions;
};

struct TSoakRun {
    const char* name = "";
    int reboots = 0;
    TChildUse use;
    long earlyRssKiB = 0, lateRssKiB = 0; // at a fifth of the run and at its end
    int64_t replies = 0;
    int64_t lostCycles = 0; // whole cycles missing between a reply and the next command
    int dropped = 0;        // connections the reboots dropped
    std::vector<float> backMs;
};

bool WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Collects what a peer saw into the run's figures.
void AddPeer(TSoakRun& run, const TPeerFigures& peer) {
    run.replies += peer.replies;
    for (const float lateMs : peer.lateMs)
        run.lostCycles += int64_t(std::max(0.0, std::floor(lateMs / kSendDelayMs)));
    run.dropped += peer.dropped;
    run.backMs.insert(run.backMs.end(), peer.backMs.begin(), peer.backMs.end());
}

class TSoakBench {
public:
    explicit TSoakBench(const TSoakOptions& options) : m_options(options) {}

    bool Ready() const { return m_folder.isValid(); }

    TSoakRun Run(bool reboots) {
        TSoakRun run;
        run.name = reboots ? "rebooting" : "steady";
        std::vector<std::unique_ptr<TFleetPeer>> peers;
        for (int group = 0; group < m_options.groups; ++group)
            peers.push_back(std::make_unique<TFleetPeer>(GroupSize(group), 0));
        const QStringList arguments = RunnerArguments(peers);
        if (arguments.isEmpty()) {
            run.use.exit = "no peer";
            return run;
        }
        TChildWatch child(QStringLiteral(ZYL_TEST_RUN_PATH), arguments,
                          m_folder.filePath(QString::fromLatin1(run.name)));
        const int64_t startNs = child.StartNs();
        const auto at = [startNs](double seconds) { return startNs + int64_t(seconds * 1e9); };
        const double lateS = m_options.durationS - kEndMarginSeconds;
        run.use = child.Wait(at(m_options.durationS + kGraceSeconds), [&] {
            const int64_t nowNs = NowNs();
            if (reboots && (run.reboots + 1) * m_options.rebootEveryS < m_options.durationS &&
                nowNs >= at((run.reboots + 1) * m_options.rebootEveryS))
                peers[size_t(run.reboots++ % m_options.groups)]->Reboot(
                    int64_t(m_options.awayS * 1e9));
            if (!run.earlyRssKiB && nowNs >= at(m_options.durationS / 5))
                run.earlyRssKiB = child.RssKiB();
            if (!run.lateRssKiB && nowNs >= at(lateS))
                run.lateRssKiB = child.RssKiB();
        });
        for (const auto& peer : peers)
            AddPeer(run, peer->Stop());
        return run;
    }

private:
    int GroupSize(int group) const {
        return m_options.controllers / m_options.groups +
               (group < m_options.controllers % m_options.groups ? 1 : 0);
    }

    // A one-item definition and a hosts file whose lines take the groups'
    // ports in turn, so that every group is spread over the list.
    QStringList RunnerArguments(const std::vector<std::unique_ptr<TFleetPeer>>& peers) {
        QByteArray hosts;
        for (int controller = 0; controller < m_options.controllers; ++controller) {
            const uint16_t port = peers[size_t(controller % m_options.groups)]->Port();
            if (port == 0)
                return {};
            hosts += "127.0.0.1:" + QByteArray::number(port) + '\n';
        }
        const QString definition = m_folder.filePath(QStringLiteral("one.tst"));
        const QString hostsFile = m_folder.filePath(QStringLiteral("hosts"));
        if (!WriteFile(definition, "IP=127.0.0.1\nPort=" + QByteArray::number(peers[0]->Port()) +
                                       "\nFirmware=[0A!?v]\n") ||
            !WriteFile(hostsFile, hosts))
            return {};
        QStringList arguments{QStringLiteral("--cycles"),
                              QStringLiteral("0"),
                              QStringLiteral("--duration"),
                              QString::number(m_options.durationS),
                              QStringLiteral("--quiet"),
                              QStringLiteral("--hosts"),
                              hostsFile};
        if (m_options.reconnect)
            arguments << QStringLiteral("--reconnect");
        if (m_options.reconnectMaxS)
            arguments << QStringLiteral("--reconnect-max")
                      << QString::number(*m_options.reconnectMaxS);
        return arguments << m_options.runnerOptions << definition;
    }

    const TSoakOptions& m_options;
    QTemporaryDir m_folder;
};

// The longest wait of the backoff that can be pending when a controller that
// went away listens again awayMs later, over every draw of the jitter.
double LongestPendingWaitMs(double awayMs, int maxMs) {
    TReconnectBackoff shortest(maxMs), longest(maxMs);
    double soonestMs = 0, latestMs = 0; // of the dial that ends the wait
    double pendingMs = 0;
    while (soonestMs <= awayMs) {
        const int shortMs = shortest.Failed(0, 0), longMs = longest.Failed(0, 1);
        if (latestMs + longMs > awayMs)
            pendingMs = std::max(pendingMs, double(longMs));
        soonestMs += shortMs;
        latestMs += longMs;
    }
    return pendingMs;
}

double PerReplyUs(const TSoakRun& run) {
    return run.replies > 0 ? run.use.cpuS * 1e6 / double(run.replies) : NAN;
}

double GrowthPercent(const TSoakRun& run) {
    return run.earlyRssKiB > 0
               ? 100.0 * double(run.lateRssKiB - run.earlyRssKiB) / double(run.earlyRssKiB)
               : NAN;
}

int NotBack(const TSoakRun& run) {
    return run.dropped - int(run.backMs.size());
}

void PrintHeader(const TSoakOptions& options) {
    std::printf("%d controllers back to back for %g s on 127.0.0.1 in %d groups; one group "
                "reboots every %g s, away %g s; the runner %s --reconnect\n\n",
                options.controllers, options.durationS, options.groups, options.rebootEveryS,
                options.awayS, options.reconnect ? "with" : "without");
    std::printf("| run | reboots | replies | CPU s | CPU µs / reply | RSS KiB at %g s / %g s | "
                "growth %% | cycles lost on live connections | dropped | not back | back p50 / "
                "p99 ms | exit |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n",
                options.durationS / 5, options.durationS - kEndMarginSeconds);
}

void PrintRun(const TSoakRun& run) {
    std::printf("| %s | %d | %lld | %s | %s | %ld / %ld | %s | %lld | %d | %d | %s / %s | %s |\n",
                run.name, run.reboots, static_cast<long long>(run.replies),
                Figure(run.use.cpuS, 1).constData(), Figure(PerReplyUs(run), 2).constData(),
                run.earlyRssKiB, run.lateRssKiB, Figure(GrowthPercent(run), 2).constData(),
                static_cast<long long>(run.lostCycles), run.dropped, NotBack(run),
                Figure(PercentileOf(run.backMs, 0.5), 0).constData(),
                Figure(PercentileOf(run.backMs, 0.99), 0).constData(), run.use.exit.constData());
}

void PrintGoals(const TSoakOptions& options, const TSoakRun& steady, const TSoakRun& rebooting) {
    const int maxMs =
        int(options.reconnectMaxS.value_or(TReconnectBackoff::kDefaultMaxMs / 1000.0) * 1000);
    const double backGoalMs = LongestPendingWaitMs(options.awayS * 1000, maxMs) + kBackSlackMs;
    std::printf("\nRSS growth, rebooting: %s %% (goal: within 1 %%)\n",
                Figure(GrowthPercent(rebooting), 2).constData());
    std::printf("cycles lost on live connections: %lld; rebooted controllers not back: %d (goal: "
                "0 and 0)\n",
                static_cast<long long>(rebooting.lostCycles), NotBack(rebooting));
    std::printf("listening again to the first reply, p99: %s ms (goal: at most %.0f ms, the "
                "longest wait of the backoff then pending plus %.0f ms)\n",
                Figure(PercentileOf(rebooting.backMs, 0.99), 0).constData(), backGoalMs,
                kBackSlackMs);
    std::printf("CPU per reply, rebooting / steady: %s x (goal: at most 1.1 x)\n",
                Figure(PerReplyUs(rebooting) / PerReplyUs(steady), 3).constData());
}

std::optional<TSoakOptions> ParseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption controllers("controllers", "Controllers (default 1000).", "N", "1000");
    const QCommandLineOption duration("duration", "Seconds per run (default 600).", "S", "600");
    const QCommandLineOption every("reboot-every", "Seconds between reboots (default 60).", "S",
                                   "60");
    const QCommandLineOption away("away", "Seconds a rebooting group is away (default 5).", "S",
                                  "5");
    const QCommandLineOption groups("groups", "Groups, one rebooting at a time (default 10).", "N",
                                    "10");
    const QCommandLineOption reconnectMax("reconnect-max", "Passed to the runner.", "S");
    const QCommandLineOption noReconnect("no-reconnect", "Run the runner without --reconnect.");
    const QCommandLineOption runnerOption("runner-option", "One more argument for the runner.",
                                          "OPTION");
    parser.addOptions(
        {controllers, duration, every, away, groups, reconnectMax, noReconnect, runnerOption});
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty())
        return std::nullopt;
    TSoakOptions options;
    options.controllers = parser.value(controllers).toInt();
    options.groups = parser.value(groups).toInt();
    options.durationS = parser.value(duration).toDouble();
    options.rebootEveryS = parser.value(every).toDouble();
    options.awayS = parser.value(away).toDouble();
    if (parser.isSet(reconnectMax))
        options.reconnectMaxS = parser.value(reconnectMax).toDouble();
    options.reconnect = !parser.isSet(noReconnect);
    options.runnerOptions = parser.values(runnerOption);
    if (options.groups < 1 || options.controllers < options.groups || !(options.durationS > 5) ||
        !(options.rebootEveryS > options.awayS) || !(options.awayS > 0) ||
        (options.reconnectMaxS && !(*options.reconnectMaxS >= 1)))
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::optional<TSoakOptions> options = ParseOptions(QCoreApplication::arguments());
    if (!options) {
        std::fprintf(stderr, "usage: bench_soak [--controllers N >= groups] [--duration S > 5] "
                             "[--reboot-every S > away] [--away S] [--groups N] "
                             "[--reconnect-max S >= 1] [--no-reconnect] "
                             "[--runner-option OPTION]...\n");
        return 2;
    }
    // The peers hold one socket per controller, and so does the runner.
    const rlim_t fileLimit = RaiseOpenFileLimit();
    if (rlim_t(options->controllers) + 64 > fileLimit) {
        std::fprintf(stderr, "%d controllers need more than the %llu descriptors allowed\n",
                     options->controllers, static_cast<unsigned long long>(fileLimit));
        return 1;
    }
    TSoakBench bench(*options);
    if (!bench.Ready())
        return 1;
    PrintHeader(*options);
    const TSoakRun steady = bench.Run(false);
    PrintRun(steady);
    std::fflush(stdout);
    if (steady.use.exit == "2") {
        std::fprintf(stderr, "the runner refused its arguments%s\n",
                     options->reconnect ? " (one without --reconnect needs --no-reconnect)" : "");
        return 1;
    }
    const TSoakRun rebooting = bench.Run(true);
    PrintRun(rebooting);
    PrintGoals(*options, steady, rebooting);
    return 0;
}
