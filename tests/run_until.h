#pragma once

#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs the event loop until `done` holds (checked every `pollMs`), at most
// `timeoutMs`. Unlike QTest::qWaitFor and QTRY_*, which sleep 10 ms between
// rounds, it keeps serving events as they come, so timings measured
// meanwhile stay true; between checks it costs no CPU of its own.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 2) {
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(pollMs);
    if (!done())
        loop.exec();
    return done();
}
