#include "testsupport/run_until.h"

#include <QEventLoop>
#include <QTimer>

bool RunUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
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
