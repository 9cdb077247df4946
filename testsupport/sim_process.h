#pragma once

#include <QProcess>
#include <QStringList>

// controller-sim in a process of its own, on a free loopback port; ended when
// this object goes.
class SimProcess {
public:
    SimProcess() { process.setProcessChannelMode(QProcess::ForwardedErrorChannel); }
    ~SimProcess() {
        process.terminate();
        process.waitForFinished(kWaitMs);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The executable named in CONTROLLER_SIM, or else the one this build
    // made. Ends the process with a message when it is not there: a test
    // that cannot start the simulator must fail, not pass untried.
    static QString Program();

    // Starts it on 127.0.0.1 with a free port and the given options; the port
    // from its first line, "listening on 127.0.0.1:<port>", or 0 when it does
    // not start or says something else.
    quint16 Start(const QStringList& options);

    static constexpr int kWaitMs = 5000;
    QProcess process;
    QString firstLine;
};
