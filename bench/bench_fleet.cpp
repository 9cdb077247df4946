// Measures zyl-test-run against many controllers at once, beside bare_fleet,
// the floor that does only the socket, read notifier and 100 ms timer work per
// controller in a bare Qt program, and epoll_fleet, the same as a bare epoll
// client without Qt. For each size all three run, one after the other, as child processes
// against the bench's own light peer on 127.0.0.1 for a fixed time, with a
// one-item definition (send, reply, 100 ms, send again).
// Usage: bench_fleet [--sizes 10,100,1000,10000] [--duration 20] [--interval S]
//                    [--max-connecting N] [--json] [--runner-option OPTION]...
// Prints a Markdown table per size and program, then the runner's ratios to
// the client and to the floor.
// "Steady" figures run from the moment the peer has accepted every connection
// to shortly before the child's duration ends, so that neither start-up nor
// the connect phase's crowd blurs the cycle.
#include "bench/child_watch.h"
#include "bench/file_limit.h"
#include "bench/fleet_peer.h"
#include "bench/fleet_table.h"
#include "bench/monotonic_clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

constexpr double kSendDelayMs = 100;
// A child gets this long beyond its duration to connect, finish and close.
constexpr double kGraceSeconds = 60;
// The steady window ends this long before the child's duration does.
constexpr double kEndMarginSeconds = 0.25;
// The bare programs' connection attempts in flight unless --max-connecting says.
constexpr int kBareConnecting = 256;

enum TProgram { kRunner, kFloor, kClient, kPrograms };
struct TProgramFile {
    const char* name;
    const char* path;
} constexpr kProgramFiles[] = {
    {"runner", ZYL_TEST_RUN_PATH}, {"floor", BARE_FLEET_PATH}, {"epoll client", EPOLL_FLEET_PATH}};

struct TBenchOptions {
    std::vector<int> sizes;
    double durationS = 20, intervalS = 0;
    std::optional<int> maxConnecting;
    bool json = false;
    QStringList runnerOptions;
};

// The loopback round trip of an idle peer, median of 50: the part of a
// controller's cycle beyond the 100 ms that no program can save.
double IdleRoundTripMs() {
    TFleetPeer peer(1, 0);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(peer.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<float> ms;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        static const char kCommand[] = "[0A!?v]";
        char reply[64];
        for (int i = 0; i < 50; ++i) {
            const int64_t sent = NowNs();
            if (::send(fd, kCommand, sizeof kCommand - 1, MSG_NOSIGNAL) <= 0 ||
                ::recv(fd, reply, sizeof reply, 0) <= 0)
                break;
            ms.push_back(float(NowNs() - sent) / 1e6F);
        }
    }
    ::close(fd);
    return PercentileOf(ms, 0.5);
}

bool WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class TFleetBench {
public:
    TFleetBench(const TBenchOptions& options, double idleRttMs)
        : m_options(options), m_idleRttMs(idleRttMs) {}

    bool Ready() const { return m_folder.isValid(); }

    // One run of one program with `controllers`.
    TRow Run(int controllers, TProgram program, double durationS) {
        const TProgramFile& file = kProgramFiles[program];
        TRow row{controllers, file.name, 0, {}, 0, 0, 0, {}};
        // A fresh peer, so a fresh port: no clash with the last run's
        // connections still in TIME_WAIT.
        TFleetPeer peer(controllers, m_options.intervalS);
        const QStringList arguments = peer.Port() == 0 ? QStringList()
                                      : program == kRunner
                                          ? RunnerArguments(peer.Port(), controllers, durationS)
                                          : BareArguments(peer.Port(), controllers, durationS);
        if (arguments.isEmpty()) {
            row.use.exit = "no peer";
            return row;
        }
        const QString base = m_folder.filePath(QString::fromLatin1(row.program) + '-' +
                                               QString::number(controllers));
        TChildWatch child(QString::fromUtf8(file.path), arguments, base);
        row.startNs = child.StartNs();
        struct TSample {
            int64_t ns = 0, cpuNs = 0, replies = 0;
        };
        const auto sample = [&] { return TSample{NowNs(), child.CpuNs(), peer.Replies()}; };
        std::optional<TSample> from, to;
        const int64_t endNs = row.startNs + int64_t((durationS - kEndMarginSeconds) * 1e9);
        row.use = child.Wait(row.startNs + int64_t((durationS + kGraceSeconds) * 1e9), [&] {
            if (!from && peer.Accepted() >= controllers)
                from = sample();
            else if (from && !to && NowNs() >= endNs)
                to = sample();
        });
        row.peer = peer.Stop();
        if (from && to) {
            row.steadyS = double(to->ns - from->ns) / 1e9;
            row.steadyCpuS = double(to->cpuNs - from->cpuNs) / 1e9;
            row.steadyReplies = to->replies - from->replies;
        }
        if (row.use.exit != "0")
            ReportError(base + QStringLiteral(".err"), row);
        return row;
    }

    double IdealPerSecond(int controllers) const {
        return controllers * 1000 /
               std::max(kSendDelayMs + m_idleRttMs, m_options.intervalS * 1000);
    }

private:
    // The runner's definition: the peer's address and port and one item.
    QStringList RunnerArguments(uint16_t port, int controllers, double durationS) {
        const QString definition = m_folder.filePath(QStringLiteral("one.tst"));
        if (!WriteFile(definition,
                       "IP=127.0.0.1\nPort=" + QByteArray::number(port) + "\nFirmware=[0A!?v]\n"))
            return {};
        QStringList arguments{QStringLiteral("--cycles"), QStringLiteral("0"),
                              QStringLiteral("--duration"), QString::number(durationS),
                              m_options.json ? QStringLiteral("--json")
                                             : QStringLiteral("--quiet")};
        // One controller goes by the definition alone, which any version of the
        // runner takes: the baseline for memory per controller.
        if (controllers > 1) {
            const QString hosts = m_folder.filePath(QStringLiteral("hosts"));
            const QByteArray line = "127.0.0.1:" + QByteArray::number(port) + '\n';
            if (!WriteFile(hosts, line.repeated(controllers)))
                return {};
            arguments << QStringLiteral("--hosts") << hosts;
        }
        if (m_options.intervalS > 0)
            // A reply every interval is no silence: the give-up time must
            // exceed it.
            arguments << QStringLiteral("--interval") << QString::number(m_options.intervalS)
                      << QStringLiteral("--timeout") << QString::number(m_options.intervalS + 10);
        if (m_options.maxConnecting)
            arguments << QStringLiteral("--max-connecting")
                      << QString::number(*m_options.maxConnecting);
        return arguments << m_options.runnerOptions << definition;
    }

    QStringList BareArguments(uint16_t port, int controllers, double durationS) const {
        return {QStringLiteral("127.0.0.1"),
                QString::number(port),
                QString::number(controllers),
                QString::number(durationS),
                QString::number(m_options.intervalS),
                QString::number(m_options.maxConnecting.value_or(kBareConnecting))};
    }

    static void ReportError(const QString& errorFile, const TRow& row) {
        QFile file(errorFile);
        const QByteArray first =
            file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
        std::fprintf(stderr, "%s, %d controllers: exit %s: %s\n", row.program, row.controllers,
                     row.use.exit.constData(), first.constData());
    }

    const TBenchOptions& m_options;
    const double m_idleRttMs;
    QTemporaryDir m_folder;
};

std::optional<TBenchOptions> ParseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption sizes("sizes", "Controller counts, comma-separated.", "N,...",
                                   "10,100,1000,10000");
    const QCommandLineOption duration("duration", "Seconds per run (default 20).", "S", "20");
    const QCommandLineOption interval(
        "interval", "Passed to the runner; the bare programs keep it too.", "S", "0");
    const QCommandLineOption connecting("max-connecting", "Passed to both.", "N");
    const QCommandLineOption json("json", "The runner writes JSON Lines instead of --quiet.");
    const QCommandLineOption runnerOption(
        "runner-option", "One more argument for the runner, such as --reply-timeout=5000.",
        "OPTION");
    parser.addOptions({sizes, duration, interval, connecting, json, runnerOption});
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty())
        return std::nullopt;
    TBenchOptions options;
    for (const QString& size : parser.value(sizes).split(',')) {
        const int count = size.toInt();
        if (count < 1)
            return std::nullopt;
        options.sizes.push_back(count);
    }
    options.durationS = parser.value(duration).toDouble();
    options.intervalS = parser.value(interval).toDouble();
    if (parser.isSet(connecting))
        options.maxConnecting = parser.value(connecting).toInt();
    options.json = parser.isSet(json);
    options.runnerOptions = parser.values(runnerOption);
    if (!(options.durationS > 1) || !(options.intervalS >= 0) ||
        (options.maxConnecting && *options.maxConnecting < 1))
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::optional<TBenchOptions> options = ParseOptions(QCoreApplication::arguments());
    if (!options) {
        std::fprintf(stderr, "usage: bench_fleet [--sizes 10,100,1000,10000] [--duration S > 1] "
                             "[--interval S] [--max-connecting N] [--json] [--runner-option "
                             "OPTION]...\n");
        return 2;
    }
    // With few passes per controller, where each one's phase falls decides
    // whether a pass lands inside the window.
    if (options->intervalS > 0 && options->durationS < 6 * options->intervalS)
        std::fprintf(stderr, "replies/s is coarse with fewer than 6 intervals per run\n");
    // The peer holds one socket per controller.
    const rlim_t fileLimit = RaiseOpenFileLimit();

    const double idleRttMs = IdleRoundTripMs();
    TFleetBench bench(*options, idleRttMs);
    if (!bench.Ready())
        return 1;
    // Memory per controller is what N controllers hold beyond one.
    const double baselineS = std::min(options->durationS, 3.0);
    long baselines[kPrograms];
    for (int program = 0; program < kPrograms; ++program)
        baselines[program] = bench.Run(1, TProgram(program), baselineS).use.peakRssKiB;

    PrintHeader(options->durationS, options->intervalS, idleRttMs);
    std::vector<TRatios> ratios;
    for (const int controllers : options->sizes) {
        if (rlim_t(controllers) + 64 > fileLimit) {
            std::fprintf(stderr, "%d controllers need more than the %llu descriptors allowed\n",
                         controllers, static_cast<unsigned long long>(fileLimit));
            continue;
        }
        TRow rows[kPrograms];
        for (int program = 0; program < kPrograms; ++program) {
            rows[program] = bench.Run(controllers, TProgram(program), options->durationS);
            PrintRow(rows[program], baselines[program], bench.IdealPerSecond(controllers));
            std::fflush(stdout);
        }
        ratios.push_back(RatiosOf(rows[kRunner], rows[kClient], rows[kFloor]));
    }

    PrintRatios(ratios);
    return 0;
}
