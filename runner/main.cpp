#include "base/quit_signals.h"
#include "runner/headless.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // A closed standard output shows as EPIPE on the next write, which ends
    // the run cleanly with its report, instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    const int quitSignals = QuitSignalDescriptor();
    if (quitSignals < 0) {
        std::perror("zyl-test-run: signalfd");
        return 1;
    }
    // Qt's own Unix event dispatcher rather than the GLib one: with
    // thousands of controllers, GLib walks a list on every re-arming of a read
    // notifier, which the read latch does once per reply.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    return RunHeadless(QCoreApplication::arguments(), ZYL_VERSION, quitSignals);
}
