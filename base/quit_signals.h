#pragma once

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>

// Blocks SIGINT, SIGTERM and SIGHUP and returns a descriptor that becomes readable
// when one arrives (-1 on failure), so a program reacts on its event loop and
// not inside an asynchronous handler. Call it before any thread starts, so
// every thread inherits the mask. Header-only: the simulated controller uses
// it too without linking the tool's library.
inline int QuitSignalDescriptor() {
    sigset_t quitSet;
    sigemptyset(&quitSet);
    sigaddset(&quitSet, SIGINT);
    sigaddset(&quitSet, SIGTERM);
    sigaddset(&quitSet, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &quitSet, nullptr);
    return signalfd(-1, &quitSet, SFD_CLOEXEC | SFD_NONBLOCK);
}
