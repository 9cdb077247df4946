// The shared timer queue of the headless runner: deadlines fire in order,
// once, and never after they were stopped, moved or destroyed; a pass fires
// only what was due when it began; on the runner's dispatcher's own deadline,
// and on a Qt timer where another queue holds that.
#include "runner/epoll_dispatcher.h"
#include "runner/timer_queue.h"
#include "testsupport/run_until.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

class TestTimerQueue : public QObject {
    Q_OBJECT

private slots:
    void fires_data();
    void fires();

private:
    void Fire();
};

void TestTimerQueue::fires_data() {
    QTest::addColumn<QString>("steps"); // per timer a, b, c: "x<ms>" start, "x-" stop, "x!" destroy
    // What a timer's handler does on its first three fires ("x:<step>"), the
    // steps above and "." (posts an event, as a socket notification comes
    // through the loop) and "~<ms>" (busy as long).
    QTest::addColumn<QString>("handlers");
    QTest::addColumn<QString>("fired"); // in order, with the posted events
    QTest::newRow("in deadline order") << "a60 b20 c40"
                                       << ""
                                       << "bca";
    QTest::newRow("moved later") << "a20 b40 a60"
                                 << ""
                                 << "ba";
    QTest::newRow("moved earlier") << "a60 b40 a20"
                                   << ""
                                   << "ab";
    QTest::newRow("stopped") << "a20 b40 a-"
                             << ""
                             << "b";
    QTest::newRow("stopped and started later") << "a20 a- b40 a60"
                                               << ""
                                               << "ba";
    QTest::newRow("destroyed while queued") << "a20 b40 a!"
                                            << ""
                                            << "b";
    QTest::newRow("restarts itself at 0 ms: once per pass") << "a10"
                                                            << "a:. a:a0"
                                                            << "a.a.a.a";
    QTest::newRow("destroys another due timer") << "a20 b20 c40"
                                                << "a:b!"
                                                << "ac";
    QTest::newRow("falls due in a long pass: the next pass") << "a10"
                                                             << "a:b1 a:~30 a:."
                                                             << "a.b";
}

void TestTimerQueue::fires() {
    for (const bool deadlineTaken : {false, true}) {
        const std::unique_ptr<TTimerQueue> other(deadlineTaken ? new TTimerQueue : nullptr);
        Fire();
    }
}

void TestTimerQueue::Fire() {
    QFETCH(QString, steps);
    QFETCH(QString, handlers);
    QFETCH(QString, fired);
    TTimerQueue queue;
    QString order;
    std::unique_ptr<TTimerQueue::TTimer> timers[3];
    const auto apply = [&](const QString& step) {
        if (step[0] == '.') {
            QMetaObject::invokeMethod(
                &queue, [&order] { order += '.'; }, Qt::QueuedConnection);
            return;
        }
        if (step[0] == '~') {
            QElapsedTimer busy;
            busy.start();
            while (busy.elapsed() < step.mid(1).toInt()) {
            }
            return;
        }
        auto& timer = timers[step[0].unicode() - 'a'];
        if (step[1] == '-')
            timer->Stop();
        else if (step[1] == '!')
            timer.reset();
        else
            timer->Start(step.mid(1).toInt());
    };
    int fires[3] = {};
    for (int i = 0; i < 3; ++i) {
        const QChar name('a' + i);
        timers[i] = std::make_unique<TTimerQueue::TTimer>(queue, [&, i, name] {
            order += name;
            if (++fires[i] > 3)
                return;
            for (const QString& action : handlers.split(' ', Qt::SkipEmptyParts))
                if (action[0] == name)
                    apply(action.mid(2));
        });
    }
    for (const QString& step : steps.split(' '))
        apply(step);
    // Long enough for every deadline and for one that should not come.
    RunUntil([] { return false; }, 150);
    QCOMPARE(order, fired);
}

int main(int argc, char** argv) {
    QCoreApplication::setEventDispatcher(new TEpollDispatcher);
    QCoreApplication app(argc, argv);
    TestTimerQueue test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_timer_queue.moc"
