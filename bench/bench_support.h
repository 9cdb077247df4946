#pragma once

// What the benchmark programs share: a monotonic clock, percentiles, a
// bounded wait on the event loop, and the simulated controller in its own
// process.
#include "base/percentile.h"
#include "testsupport/run_until.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// CLOCK_MONOTONIC in ns, the clock of controller-sim's stamps.
inline qint64 NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The runner's rank rule, so both report the same p99 of the same times.
inline double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return NearestRank(values, p);
}

// Waits without spending CPU of its own: done() is checked every 100 ms.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
    return RunUntil(done, ms, 100);
}

// A simulated controller in its own process, stamping every reply.
class Sim {
public:
    explicit Sim(const QStringList& options) {
        m_process.setProgram(QStringLiteral(CONTROLLER_SIM_PATH));
        m_process.setArguments(
            QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet")} +
            options);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { Read(); });
        m_process.start();
        WaitFor([this] { return port != 0; }, 5000);
    }
    ~Sim() {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }

    quint16 port = 0;
    std::vector<qint64> replyNs;

private:
    void Read() {
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("reply "))
                replyNs.push_back(line.mid(6).toLongLong());
            else if (line.startsWith("listening on "))
                port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
        }
    }
    QProcess m_process;
};
