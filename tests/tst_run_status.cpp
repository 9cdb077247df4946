// The exit-status policy and a controller's outage log, in process.
#include "runner/outage_log.h"
#include "runner/run_status.h"

#include <QTest>

class TestRunStatus : public QObject {
    Q_OBJECT

private slots:
    void controllerStatus_data();
    void controllerStatus();
    void moreSevere_data();
    void moreSevere();
    void outageLogStaysBounded();
};

void TestRunStatus::controllerStatus_data() {
    QTest::addColumn<int>("stoppedWith");
    QTest::addColumn<bool>("everConnected");
    QTest::addColumn<bool>("checkFailed");
    QTest::addColumn<bool>("tooManyResends");
    QTest::addColumn<int>("outages");
    QTest::addColumn<int>("status");
    QTest::newRow("ran its course") << 0 << true << false << false << 0 << 0;
    QTest::newRow("never connected") << 0 << false << false << false << 0 << 1;
    QTest::newRow("a check failed") << 0 << true << true << false << 0 << 4;
    QTest::newRow("too many resends") << 0 << true << false << true << 0 << 5;
    QTest::newRow("a check before resends") << 0 << true << true << true << 0 << 4;
    QTest::newRow("an outage before a check") << 0 << true << true << false << 1 << 1;
    QTest::newRow("stopped answering") << 3 << true << true << false << 0 << 3;
    QTest::newRow("out of step after an outage") << 6 << true << false << false << 2 << 1;
    QTest::newRow("interrupted after an outage") << 130 << true << false << false << 1 << 130;
    QTest::newRow("output closed") << 141 << true << true << false << 0 << 141;
}

void TestRunStatus::controllerStatus() {
    QFETCH(int, stoppedWith);
    QFETCH(bool, everConnected);
    QFETCH(bool, checkFailed);
    QFETCH(bool, tooManyResends);
    QFETCH(int, outages);
    QFETCH(int, status);
    QCOMPARE(ControllerStatus(
                 {stoppedWith, everConnected, checkFailed, tooManyResends, uint64_t(outages)}),
             status);
}

void TestRunStatus::moreSevere_data() {
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("severe");
    QTest::newRow("3 beside 4") << 4 << 3 << 3;
    QTest::newRow("4 beside 5") << 5 << 4 << 4;
    QTest::newRow("1 beside 3") << 3 << 1 << 1;
    QTest::newRow("6 beside 4") << 4 << 6 << 6;
    QTest::newRow("2 beside 1") << 1 << 2 << 2;
    QTest::newRow("130 beside 2") << 2 << 130 << 130;
    QTest::newRow("0 beside 5") << 0 << 5 << 5;
}

void TestRunStatus::moreSevere() {
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, severe);
    QCOMPARE(MoreSevere(a, b), severe);
    QCOMPARE(MoreSevere(b, a), severe);
}

// A run of months: the count and the time down add up, the last ten stay.
void TestRunStatus::outageLogStaysBounded() {
    TOutageLog log;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    for (int i = 0; i < 25; ++i) {
        QVERIFY(log.Began(start.addSecs(i), i * 1000, "lost " + QByteArray::number(i)));
        QVERIFY(!log.Began(start.addSecs(i), i * 1000 + 10, "refused"));
        QCOMPARE(log.Ended(i * 1000 + 100), int64_t(100));
    }
    QVERIFY(log.Began(start, 30000, "lost at the end"));
    log.RunEnded(30500);
    QCOMPARE(log.Outages(), uint64_t(26));
    QCOMPARE(log.DownMs(), int64_t(25 * 100 + 500));
    QCOMPARE(log.LastOutages().Size(), TOutageLog::kKept);
    QCOMPARE(log.LastOutages()[0].reason, QByteArray("lost 16"));
    QCOMPARE(log.LastOutages()[9].downMs, int64_t(-1));
    QCOMPARE(log.LastFailures().Added(), uint64_t(51));
    QCOMPARE(log.LastFailures()[9].reason, QByteArray("lost at the end"));
    const QByteArrayList details = OutageDetails(log);
    QCOMPARE(details.size(), 11);
    QCOMPARE(details.constLast(), QByteArray("and 16 earlier"));
}

QTEST_GUILESS_MAIN(TestRunStatus)
#include "tst_run_status.moc"
