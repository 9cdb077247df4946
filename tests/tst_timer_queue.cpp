// The shared timer queue of the headless runner: deadlines fire in order,
// once, and never after they were stopped, moved or destroyed.
#include "runner/timer_queue.h"
#include "testsupport/run_until.h"

#include <QTest>

#include <memory>

class TestTimerQueue : public QObject {
    Q_OBJECT

private slots:
    void fires_data();
    void fires();
};

void TestTimerQueue::fires_data() {
    QTest::addColumn<QString>("steps"); // per timer a, b, c: "x<ms>" start, "x-" stop, "x!" destroy
    QTest::addColumn<QString>("fired"); // in order
    QTest::newRow("in deadline order") << "a60 b20 c40"
                                       << "bca";
    QTest::newRow("moved later") << "a20 b40 a60"
                                 << "ba";
    QTest::newRow("moved earlier") << "a60 b40 a20"
                                   << "ab";
    QTest::newRow("stopped") << "a20 b40 a-"
                             << "b";
    QTest::newRow("stopped and started later") << "a20 a- b40 a60"
                                               << "ba";
    QTest::newRow("destroyed while queued") << "a20 b40 a!"
                                            << "b";
}

void TestTimerQueue::fires() {
    QFETCH(QString, steps);
    QFETCH(QString, fired);
    TTimerQueue queue;
    QString order;
    std::unique_ptr<TTimerQueue::TTimer> timers[3];
    for (int i = 0; i < 3; ++i)
        timers[i] =
            std::make_unique<TTimerQueue::TTimer>(queue, [&order, i] { order += QChar('a' + i); });
    for (const QString& step : steps.split(' ')) {
        auto& timer = timers[step[0].unicode() - 'a'];
        if (step[1] == '-')
            timer->Stop();
        else if (step[1] == '!')
            timer.reset();
        else
            timer->Start(step.mid(1).toInt());
    }
    // Long enough for every deadline and for one that should not come.
    RunUntil([] { return false; }, 150);
    QCOMPARE(order, fired);
}

QTEST_GUILESS_MAIN(TestTimerQueue)
#include "tst_timer_queue.moc"
