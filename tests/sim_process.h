#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// controller-sim (the executable CTest names in CONTROLLER_SIM) in a process
// of its own, on a free loopback port; ended when this object goes.
class SimProcess {
public:
    SimProcess() { process.setProcessChannelMode(QProcess::ForwardedErrorChannel); }
    ~SimProcess() {
        process.terminate();
        process.waitForFinished(kWaitMs);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    static QString Program() { return qEnvironmentVariable("CONTROLLER_SIM"); }

    // Starts it on 127.0.0.1 with a free port and the given options; the port
    // from its first line, "listening on 127.0.0.1:<port>", or 0 when it does
    // not start or says something else.
    quint16 Start(const QStringList& options) {
        process.start(Program(), QStringList{"--port", "0"} + options);
        if (!process.waitForStarted(kWaitMs))
            return 0;
        while (!process.canReadLine() && process.waitForReadyRead(kWaitMs)) {
        }
        firstLine = QString::fromLatin1(process.readLine()).trimmed();
        const QRegularExpressionMatch match =
            QRegularExpression("^listening on 127\\.0\\.0\\.1:(\\d+)$").match(firstLine);
        return match.hasMatch() ? match.captured(1).toUShort() : 0;
    }

    static constexpr int kWaitMs = 5000;
    QProcess process;
    QString firstLine;
};
