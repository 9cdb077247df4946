// The Prometheus exposition of a fleet: the samples each family holds, the
// label escaping, and promtool's lint finding nothing.
#include "fleet_fixture.h"
#include "runner/metrics_text.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class TestMetricsText : public QObject {
    Q_OBJECT

private slots:
    void samples_data();
    void samples();
    void labels_data();
    void labels();

private:
    // promtool's lint of an exposition: empty when it finds nothing.
    static QByteArray PromtoolProblems(const QByteArray& exposition);
};

QByteArray TestMetricsText::PromtoolProblems(const QByteArray& exposition) {
    const QString promtool = QStandardPaths::findExecutable("promtool");
    if (promtool.isEmpty())
        return "promtool is missing (scripts/setup installs prometheus)";
    QProcess lint;
    lint.start(promtool, {"check", "metrics"});
    lint.write(exposition);
    lint.closeWriteChannel();
    if (!lint.waitForFinished(30000))
        return "promtool did not finish";
    const QByteArray said = lint.readAllStandardOutput() + lint.readAllStandardError();
    return lint.exitCode() == 0 && said.trimmed().isEmpty() ? QByteArray() : said;
}

void TestMetricsText::samples_data() {
    QTest::addColumn<QByteArray>("line"); // a whole line of the exposition
    QTest::addColumn<bool>("present");
    const auto row = [](const char* name, const char* line, bool present = true) {
        QTest::newRow(name) << QByteArray(line) << present;
    };
    row("up", "zyl_up{controller=\"10.0.0.1:10001\"} 1");
    row("down", "zyl_up{controller=\"10.0.0.3:10001\"} 0");
    row("replies", "zyl_replies_total{controller=\"10.0.0.1:10001\"} 2");
    row("resends", "zyl_resends_total{controller=\"10.0.0.2:10001\"} 1");
    row("no late reply", "zyl_late_replies_total{controller=\"10.0.0.2:10001\"} 0");
    row("outage", "zyl_outages_total{controller=\"10.0.0.3:10001\"} 1");
    row("no outage", "zyl_outages_total{controller=\"10.0.0.1:10001\"} 0");
    row("last reply",
        "zyl_last_reply_timestamp_seconds{controller=\"10.0.0.2:10001\"} 1714564802.5");
    row("check passed", "zyl_check_success{controller=\"10.0.0.1:10001\",item=\"Read Temp\"} 1");
    row("check failed", "zyl_check_success{controller=\"10.0.0.2:10001\",item=\"Read Temp\"} 0");
    row("no check, no verdict",
        "zyl_check_success{controller=\"10.0.0.1:10001\",item=\"Status\"} 1", false);
    row("failures", "zyl_check_failures_total{controller=\"10.0.0.2:10001\",item=\"Read Temp\"} 1");
    row("no check, no failures",
        "zyl_check_failures_total{controller=\"10.0.0.1:10001\",item=\"Status\"} 0", false);
    row("last rtt", "zyl_last_rtt_seconds{controller=\"10.0.0.3:10001\",item=\"Read Temp\"} 0.7");
    row("bucket below all",
        "zyl_reply_rtt_seconds_bucket{controller=\"10.0.0.1:10001\",le=\"0.001\"} 0");
    row("bucket between",
        "zyl_reply_rtt_seconds_bucket{controller=\"10.0.0.1:10001\",le=\"0.0025\"} 1");
    row("bucket above all",
        "zyl_reply_rtt_seconds_bucket{controller=\"10.0.0.1:10001\",le=\"0.005\"} 2");
    row("bucket +Inf", "zyl_reply_rtt_seconds_bucket{controller=\"10.0.0.1:10001\",le=\"+Inf\"} 2");
    row("sum", "zyl_reply_rtt_seconds_sum{controller=\"10.0.0.1:10001\"} 0.006");
    row("count", "zyl_reply_rtt_seconds_count{controller=\"10.0.0.3:10001\"} 1");
    row("item bucket", "zyl_item_rtt_seconds_bucket{item=\"Read Temp\",le=\"0.05\"} 2");
    row("item count", "zyl_item_rtt_seconds_count{item=\"Status\"} 2");
    row("build", "zyl_build_info{version=\"1.2.3\"} 1");
}

void TestMetricsText::samples() {
    QFETCH(QByteArray, line);
    QFETCH(bool, present);
    const TFleetView fleet = SampleFleet();
    TMetricsText metrics(fleet, "1.2.3");
    const QByteArray exposition = metrics.Render();
    QCOMPARE(exposition.contains('\n' + line + '\n'), present);
    QCOMPARE(metrics.Render(), exposition);
    QCOMPARE(PromtoolProblems(exposition), QByteArray());
}

void TestMetricsText::labels_data() {
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("written"); // between the quotes
    QTest::newRow("plain") << QByteArray("Read Temp") << QByteArray("Read Temp");
    QTest::newRow("quote") << QByteArray("say \"hi\"") << QByteArray("say \\\"hi\\\"");
    QTest::newRow("backslash") << QByteArray("C:\\dir") << QByteArray("C:\\\\dir");
    QTest::newRow("newline") << QByteArray("two\nlines") << QByteArray("two\\nlines");
    QTest::newRow("UTF-8") << QByteArray("T \xC2\xB0"
                                         "C")
                           << QByteArray("T \xC2\xB0"
                                         "C");
    QTest::newRow("not UTF-8") << QByteArray("T \xB0"
                                             "C\xFF")
                               << QByteArray("T \xC2\xB0"
                                             "C\xC3\xBF");
}

void TestMetricsText::labels() {
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, written);
    TFleetView fleet("odd", {label + ":1"}, {{label, true}}, kFleetStartMs);
    fleet.AddReply(0, 0, FleetReply("[x]", 1, Failed("no")));
    TMetricsText metrics(fleet, "1");
    const QByteArray exposition = metrics.Render();
    QVERIFY2(exposition.contains("zyl_item_rtt_seconds_count{item=\"" + written + "\"} 1\n"),
             exposition.constData());
    QVERIFY(exposition.contains("zyl_check_success{controller=\"" + written + ":1\",item=\"" +
                                written + "\"} 0\n"));
    QCOMPARE(PromtoolProblems(exposition), QByteArray());
}

QTEST_GUILESS_MAIN(TestMetricsText)
#include "tst_metrics_text.moc"
