#pragma once

#include <QtGlobal>

#include <chrono>

// CLOCK_MONOTONIC in ns, the clock of controller-sim's stamps.
inline qint64 NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
