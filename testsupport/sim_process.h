#pragma once

#include <QProcess>
#include <QStringList>

// controller-sim in a process of its own, on a free loopback port; ended when
// this object goes.
class SimProcess {
public:
    explicit SimProcess(const QString& program = Program()) : m_program(program) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~SimProcess() {
        process.terminate();
        process.waitForFinished(kWaitMs);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The executable CTest names in CONTROLLER_SIM.
    static QString Program() { return qEnvironmentVariable("CONTROLLER_SIM"); }

    // Starts it on 127.0.0.1 with a free port and the given options; the port
    // from its first line, "listening on 127.0.0.1:<port>", or 0 when it does
    // not start or says something else.
    quint16 Start(const QStringList& options);

    static constexpr int kWaitMs = 5000;
    QProcess process;
    QString firstLine;

private:
    QString m_program;
};
