#include "testsupport/run_until.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

bool RunUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
    if (done())
        return true;
    QEventLoop loop;
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, check);
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(pollMs);
    loop.exec();
    return done();
}
