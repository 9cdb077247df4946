#include "base/quit_signals.h"
#include "runner/epoll_dispatcher.h"
#include "runner/headless.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // A closed standard output shows as EPIPE on the next write, which ends
    // the run cleanly with its report, instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    const int quitSignals = QuitSignalDescriptor();
    if (quitSignals < 0) {
        std::perror("zyl-test-run: signalfd");
        return 1;
    }
    // The loop waits on one epoll set: with thousands of controllers, Qt's
    // own dispatchers hand the kernel every descriptor at every wake-up.
    auto* dispatcher = new TEpollDispatcher;
    if (const int error = dispatcher->SetupError()) {
        std::fprintf(stderr, "zyl-test-run: epoll: %s\n", std::strerror(error));
        delete dispatcher;
        return 1;
    }
    QCoreApplication::setEventDispatcher(dispatcher);
    QCoreApplication app(argc, argv);
    return RunHeadless(QCoreApplication::arguments(), ZYL_VERSION, quitSignals);
}
