#pragma once

// What the benchmark programs share: a monotonic clock, percentiles, and the
// simulated controller's reply stamps.
#include "base/percentile.h"
#include "bench/monotonic_clock.h"
#include "testsupport/run_until.h"
#include "testsupport/sim_process.h"

#include <QProcess>

#include <algorithm>
#include <vector>

// The runner's rank rule, so both report the same p99 of the same times.
inline double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return NearestRank(values, p);
}

// The benchmarks' waits check every 100 ms besides after each event, so the
// waiting costs next to no CPU of its own.
constexpr int kBenchPollMs = 100;

// A simulated controller in its own process, with the time of every reply
// it stamps (--stamp), as they come.
class Sim {
public:
    explicit Sim(const QStringList& options) {
        port = m_sim.Start(QStringList{QStringLiteral("--quiet")} + options);
        QObject::connect(&m_sim.process, &QProcess::readyReadStandardOutput, [this] { Read(); });
        Read();
    }

    quint16 port = 0;
    std::vector<qint64> replyNs;

private:
    void Read() {
        while (m_sim.process.canReadLine()) {
            const QByteArray line = m_sim.process.readLine().trimmed();
            if (line.startsWith("reply "))
                replyNs.push_back(line.mid(6).toLongLong());
        }
    }
    SimProcess m_sim;
};
