// Measures zyl-test-run against the simulated controller on 127.0.0.1:
//  - one pass over the eight designed items, launch to exit, against
//    8 x (send delay + round trip) plus the quiet the run waits for after
//    its last reply plus start-up;
//  - start-up: launch to the first command reaching the controller, less the
//    send delay the cycle keeps before its first command, against a bare
//    QCoreApplication program that connects and sends.
// Medians of several runs. Usage: bench_runner [runs]   (default 11)
#include "bench/bench_support.h"
#include "sequencing/cycle_rules.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace {

// The address and port lines and the first eight items of the example.
QByteArray EightItems() {
    QFile example(QStringLiteral(EXAMPLE_DEFINITION));
    if (!example.open(QIODevice::ReadOnly))
        return {};
    QByteArray text;
    for (int line = 0; line < 10 && !example.atEnd(); ++line)
        text += example.readLine();
    return text;
}

struct Launch {
    double totalMs = 0; // launch to exit
    double firstMs = 0; // launch to the controller's first reply
    std::vector<double> rttMs;
};

// Starts program and waits for it to end; the first stamp the controller
// made after the launch marks the first command.
Launch Measure(Sim& sim, const QString& program, const QStringList& arguments) {
    const size_t stampsBefore = sim.replyNs.size();
    QProcess process;
    const qint64 launched = NowNs();
    qint64 ended = 0;
    QObject::connect(&process, &QProcess::finished, [&] { ended = NowNs(); });
    process.start(program, arguments);
    RunUntil([&] { return ended != 0; }, 30000, kBenchPollMs);
    Launch launch;
    launch.totalMs = double(ended - launched) / 1e6;
    RunUntil([&] { return sim.replyNs.size() > stampsBefore; }, 2000, kBenchPollMs);
    if (sim.replyNs.size() > stampsBefore)
        launch.firstMs = double(sim.replyNs[stampsBefore] - launched) / 1e6;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.contains("rtt_ms"))
            launch.rttMs.push_back(object.value("rtt_ms").toDouble());
    }
    return launch;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 11;
    Sim sim({QStringLiteral("--stamp")});
    QTemporaryDir folder;
    const QString definition = folder.filePath(QStringLiteral("eight.tst"));
    QFile file(definition);
    if (sim.port == 0 || !file.open(QIODevice::WriteOnly) || file.write(EightItems()) <= 0) {
        std::fprintf(stderr, "no controller or no definition\n");
        return 1;
    }
    file.close();
    const QStringList runnerArguments{QStringLiteral("--json"), QStringLiteral("--port"),
                                      QString::number(sim.port), definition};

    std::vector<double> total, first, bare, expected, rtt;
    for (int run = 0; run < runs; ++run) {
        const Launch runner = Measure(sim, QStringLiteral(ZYL_TEST_RUN_PATH), runnerArguments);
        const Launch floor =
            Measure(sim, QStringLiteral(BARE_CONNECT_PATH), {QString::number(sim.port)});
        const double startUp = runner.firstMs - kSendDelayMs;
        const double rttSum = std::accumulate(runner.rttMs.begin(), runner.rttMs.end(), 0.0);
        total.push_back(runner.totalMs);
        first.push_back(runner.firstMs);
        bare.push_back(floor.firstMs);
        // After the last reply the run waits for quiet: the longest round
        // trip and two send delays.
        const double quietMs =
            *std::max_element(runner.rttMs.begin(), runner.rttMs.end()) + 2 * kSendDelayMs;
        expected.push_back(8 * kSendDelayMs + rttSum + startUp + quietMs);
        rtt.insert(rtt.end(), runner.rttMs.begin(), runner.rttMs.end());
    }
    const double startUp = Percentile(first, 0.5) - kSendDelayMs;
    std::printf("runs                                         %d (medians)\n", runs);
    std::printf("one pass, 8 items, launch to exit            %.1f ms\n", Percentile(total, 0.5));
    std::printf("8 x (100 ms + round trip) + quiet + start-up %.1f ms\n",
                Percentile(expected, 0.5));
    std::printf("round trip median / max                      %.3f / %.3f ms\n",
                Percentile(rtt, 0.5), Percentile(rtt, 1.0));
    std::printf("launch to first command: runner              %.1f ms (%.1f ms without the "
                "100 ms send delay)\n",
                Percentile(first, 0.5), startUp);
    std::printf("launch to first command: bare program        %.1f ms\n", Percentile(bare, 0.5));
    std::printf("start-up ratio runner / bare                 %.2f\n",
                startUp / Percentile(bare, 0.5));
    return 0;
}
