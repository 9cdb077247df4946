// The plugin form of a run: its status and lines from the controllers'
// outcomes, the items' slowest round trips and the thresholds.
#include "runner/nagios_report.h"

#include <QTest>

Q_DECLARE_METATYPE(QList<TNagiosController>)
Q_DECLARE_METATYPE(QList<TNagiosItem>)
Q_DECLARE_METATYPE(TNagiosThresholds)

class TestNagiosReport : public QObject {
    Q_OBJECT

private slots:
    void report_data();
    void report();
    void unknown();
};

namespace {

TNagiosController Controller(int n, double slowestMs = 12, quint64 resends = 0,
                             TNagiosProblem problem = TNagiosProblem::None,
                             const QByteArray& reason = {}) {
    return {"10.0.0." + QByteArray::number(n) + ":10001", problem, reason, 3, resends, slowestMs};
}

const QList<TNagiosItem> kReadTemp{{"Read Temp", 12}};
const TNagiosThresholds kLimits{500, 1000};

} // namespace

void TestNagiosReport::report_data() {
    QTest::addColumn<QList<TNagiosController>>("controllers");
    QTest::addColumn<QList<TNagiosItem>>("items");
    QTest::addColumn<TNagiosThresholds>("limits");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("status");
    const auto add = [](QTestData& row, const QList<TNagiosController>& controllers, int status,
                        const QByteArray& text, const QList<TNagiosItem>& items = kReadTemp,
                        const TNagiosThresholds& limits = kLimits) {
        row << controllers << items << limits << text << status;
    };
    const QByteArray perf = " | 'Read Temp'=0.012s;0.5;1;0;\n";
    add(QTest::newRow("all OK"), {Controller(1), Controller(2), Controller(3)}, kNagiosOk,
        "ZYL OK - 3 controllers, 9 replies" + perf);
    add(QTest::newRow("a resend within the limit"), {Controller(1), Controller(2, 12, 1)},
        kNagiosWarning,
        "ZYL WARNING - 2 controllers, 6 replies, 1 not OK" + perf +
            "10.0.0.2:10001 WARNING - 1 resend\n");
    add(QTest::newRow("over warning"), {Controller(1, 600)}, kNagiosWarning,
        "ZYL WARNING - 1 controller, 3 replies, 1 not OK | 'Read Temp'=0.6s;0.5;1;0;\n"
        "10.0.0.1:10001 WARNING - round trip 600.0 ms over the warning 500 ms\n",
        {{"Read Temp", 600}});
    add(QTest::newRow("over critical, beside a warning"),
        {Controller(1, 1200), Controller(2, 12, 2)}, kNagiosCritical,
        "ZYL CRITICAL - 2 controllers, 6 replies, 2 not OK" + perf +
            "10.0.0.1:10001 CRITICAL - round trip 1200.0 ms over the critical 1000 ms\n"
            "10.0.0.2:10001 WARNING - 2 resends\n");
    add(QTest::newRow("a check failed"),
        {Controller(1, 12, 0, TNagiosProblem::CheckFailed, "Read Temp: 72.5 above max 60")},
        kNagiosCritical,
        "ZYL CRITICAL - 1 controller, 3 replies, 1 not OK" + perf +
            "10.0.0.1:10001 CRITICAL - Read Temp: 72.5 above max 60\n");
    add(QTest::newRow("no reply, no thresholds"), {Controller(1, -1, 0, TNagiosProblem::NoReply)},
        kNagiosCritical,
        "ZYL CRITICAL - 1 controller, 3 replies, 1 not OK | 'Read Temp'=U;;;0;\n"
        "10.0.0.1:10001 CRITICAL - no reply\n",
        {{"Read Temp", -1}}, TNagiosThresholds{});
    add(QTest::newRow("connection"),
        {Controller(1, -1, 0, TNagiosProblem::Connection, "Connection refused")}, kNagiosCritical,
        "ZYL CRITICAL - 1 controller, 3 replies, 1 not OK\n"
        "10.0.0.1:10001 CRITICAL - Connection refused\n",
        {});
    add(QTest::newRow("out of step"), {Controller(1, 12, 0, TNagiosProblem::OutOfStep)},
        kNagiosCritical,
        "ZYL CRITICAL - 1 controller, 3 replies, 1 not OK" + perf +
            "10.0.0.1:10001 CRITICAL - replies out of step\n");
    add(QTest::newRow("odd label and reason"),
        {Controller(1, 12, 0, TNagiosProblem::CheckFailed, "got a|b\nc")}, kNagiosCritical,
        "ZYL CRITICAL - 1 controller, 3 replies, 1 not OK | 'it''s _ x/y'=0.012s;0.5;1;0;\n"
        "10.0.0.1:10001 CRITICAL - got a/b\\nc\n",
        {{"it's = x|y", 12}});
}

void TestNagiosReport::report() {
    QFETCH(QList<TNagiosController>, controllers);
    QFETCH(QList<TNagiosItem>, items);
    QFETCH(TNagiosThresholds, limits);
    QFETCH(QByteArray, text);
    QFETCH(int, status);
    const TNagiosReport report = NagiosReport(controllers, items, limits);
    QCOMPARE(report.text, text);
    QCOMPARE(report.status, status);
}

void TestNagiosReport::unknown() {
    const TNagiosReport report = NagiosUnknown("No commands in site.tst");
    QCOMPARE(report.text, QByteArray("ZYL UNKNOWN - No commands in site.tst\n"));
    QCOMPARE(report.status, int(kNagiosUnknown));
}

QTEST_GUILESS_MAIN(TestNagiosReport)
#include "tst_nagios_report.moc"
