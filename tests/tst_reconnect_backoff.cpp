// The reconnect backoff on a clock of the test: the waits it asks for after
// each failure, with the random draw fixed per row.
#include "runner/reconnect_backoff.h"

#include <QTest>

class TestReconnectBackoff : public QObject {
    Q_OBJECT

private slots:
    void waits_data();
    void waits();
};

void TestReconnectBackoff::waits_data() {
    QTest::addColumn<int>("maxMs");
    QTest::addColumn<double>("draw");
    // "f" a failure, after which the clock moves on by the wait; "c" a
    // connection made; "+<ms>" the clock moves on.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<int>>("expected"); // the waits, one per failure
    QTest::addColumn<int>("failures");        // counted at the end
    const int max = TReconnectBackoff::kDefaultMaxMs;
    QTest::newRow("1.6 times longer each time")
        << max << 0.5 << "f f f f f" << QList<int>{1000, 1600, 2560, 4096, 6554} << 5;
    QTest::newRow("never more than the maximum")
        << max << 0.5 << "f f f f f f f f f f f"
        << QList<int>{1000, 1600, 2560, 4096, 6554, 10486, 16777, 26844, 42950, 60000, 60000} << 11;
    QTest::newRow("20 % shorter at the lowest draw")
        << max << 0.0 << "f f" << QList<int>{800, 1280} << 2;
    QTest::newRow("20 % longer at the highest draw")
        << max << 1.0 << "f f" << QList<int>{1200, 1920} << 2;
    QTest::newRow("jitter does not pass the maximum")
        << 5000 << 1.0 << "f f f f f" << QList<int>{1200, 1920, 3072, 4915, 5000} << 5;
    QTest::newRow("a maximum under 1 s") << 300 << 0.5 << "f f" << QList<int>{300, 300} << 2;
    QTest::newRow("held a minute: from 1 s again")
        << max << 0.5 << "f f f c +60000 f" << QList<int>{1000, 1600, 2560, 1000} << 1;
    QTest::newRow("failing again after that: longer again")
        << max << 0.5 << "f c +60000 f f f" << QList<int>{1000, 1000, 1600, 2560} << 3;
    QTest::newRow("lost within the minute: longer still")
        << max << 0.5 << "f f f c +59999 f" << QList<int>{1000, 1600, 2560, 4096} << 1;
    QTest::newRow("the minute counts from the connection, not the failures")
        << max << 0.5 << "+70000 f f c +30000 f" << QList<int>{1000, 1600, 2560} << 1;
    QTest::newRow("connected: no failures in a row")
        << max << 0.5 << "f f c" << QList<int>{1000, 1600} << 0;
}

void TestReconnectBackoff::waits() {
    QFETCH(int, maxMs);
    QFETCH(double, draw);
    QFETCH(QString, events);
    QFETCH(QList<int>, expected);
    QFETCH(int, failures);
    TReconnectBackoff backoff(maxMs);
    int64_t nowMs = 5000;
    QList<int> waits;
    for (const QString& event : events.split(' ')) {
        if (event == "f") {
            waits << backoff.Failed(nowMs, draw);
            nowMs += waits.back();
        } else if (event == "c") {
            backoff.Connected(nowMs);
        } else {
            nowMs += event.toInt();
        }
    }
    QCOMPARE(waits, expected);
    QCOMPARE(backoff.Failures(), failures);
}

QTEST_GUILESS_MAIN(TestReconnectBackoff)
#include "tst_reconnect_backoff.moc"
