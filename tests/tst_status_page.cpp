// The status page as a browser reads it: the rows in their order, each
// controller's state, failure and verdicts, the count of the rest, and text
// from controllers kept as text.
#include "fleet_fixture.h"
#include "runner/status_page.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestStatusPage : public QObject {
    Q_OBJECT

private slots:
    void rows();
    void restCounted();
    void escaped_data();
    void escaped();

private:
    // The page's DOM as headless Chromium built it.
    static QByteArray Dom(const QByteArray& page);
    // The text of each cell of each row of the controllers' table.
    static QList<QStringList> Rows(const QByteArray& dom);
};

QByteArray TestStatusPage::Dom(const QByteArray& page) {
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        return {};
    QTemporaryDir dir;
    QFile file(dir.filePath("status.html"));
    if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size())
        return {};
    file.close();
    QProcess browser;
    // As root Chromium runs only without its sandbox; the page is ours.
    browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu",
                             "--user-data-dir=" + dir.filePath("profile"), "--dump-dom",
                             QUrl::fromLocalFile(file.fileName()).toString()});
    if (!browser.waitForFinished(60000))
        return {};
    return browser.readAllStandardOutput();
}

QList<QStringList> TestStatusPage::Rows(const QByteArray& dom) {
    const QString html = QString::fromUtf8(dom);
    const qsizetype body = html.indexOf("<tbody>", html.indexOf("id=\"controllers\""));
    QList<QStringList> rows;
    static const QRegularExpression row("<tr[^>]*>(.*?)</tr>");
    static const QRegularExpression cell("<td[^>]*>(.*?)</td>");
    static const QRegularExpression tag("<[^>]*>");
    for (const auto& r : row.globalMatch(html.mid(body))) {
        QStringList cells;
        for (const auto& c : cell.globalMatch(r.captured(1)))
            cells.append(QString(c.captured(1)).replace("<br>", " | ").remove(tag));
        rows.append(cells);
    }
    return rows;
}

void TestStatusPage::rows() {
    TFleetView fleet = SampleFleet();
    fleet.AddReply(0, 1, FleetReply("<script>document.title='x'</script>", 5));
    // Changed last, but working again: after those failing now.
    fleet.SetState(0, TControllerState::Down, kFleetStartMs + 5500);
    fleet.SetState(0, TControllerState::Up, kFleetStartMs + 5800);
    const QByteArray dom = Dom(StatusPage(fleet, kFleetStartMs + 6000));
    if (dom.isEmpty())
        QSKIP("headless Chromium is missing or failed (scripts/setup installs chromium)");
    QVERIFY(dom.contains("<meta http-equiv=\"refresh\" content=\"5\">"));
    QVERIFY(!dom.contains("<script"));
    const QList<QStringList> rows = Rows(dom);
    // Down, then a failed check, then the rest; in each: controller, state,
    // last failure, then one cell per item.
    const QList<QStringList> expected{
        {"10.0.0.3:10001", "down since 2024-05-01 12:00:05 UTC",
         "2024-05-01 12:00:05 UTC Connection reset by peer", "[T=20.0] | pass", ""},
        {"10.0.0.2:10001", "up", "2024-05-01 12:00:02 UTC Read Temp: 72.5 above max 60",
         "[T=72.5] | fail: 72.5 above max 60", "[OK]"},
        {"10.0.0.1:10001", "up", "", "[T=21.5] | pass",
         "&lt;script&gt;document.title='x'&lt;/script&gt;"},
    };
    QCOMPARE(rows, expected);
    QVERIFY(dom.contains("<td class=\"fail\"><code>[T=72.5]"));
    QVERIFY(dom.contains("<th>Down</th><td>1</td>"));
    QVERIFY(dom.contains("<th>Outages</th><td>2</td>"));
    QVERIFY(dom.contains("<th>Failing a check</th><td>1</td>"));
}

void TestStatusPage::restCounted() {
    QList<QByteArray> controllers;
    for (size_t c = 0; c < kStatusPageControllers + 3; ++c)
        controllers.append("10.0.0.1:" + QByteArray::number(quint64(c + 1)));
    TFleetView fleet("many", controllers, {{"Status", false}}, kFleetStartMs);
    // The last one failed most recently: it leads.
    fleet.SetState(controllers.size() - 1, TControllerState::GivenUp, kFleetStartMs + 9000);
    const QByteArray page = StatusPage(fleet, kFleetStartMs + 9000);
    const QList<QStringList> rows = Rows(page);
    QCOMPARE(rows.size(), qsizetype(kStatusPageControllers));
    QCOMPARE(rows.constFirst().constFirst(), "10.0.0.1:503");
    QCOMPARE(rows.constFirst().at(1), "given up at 2024-05-01 12:00:09 UTC");
    QVERIFY(page.contains("<p id=\"more\">and 3 more controllers</p>"));
}

void TestStatusPage::escaped_data() {
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("markup") << QByteArray("<b>Temp</b>") << QByteArray("&lt;b&gt;Temp&lt;/b&gt;");
    QTest::newRow("ampersand") << QByteArray("A&B") << QByteArray("A&amp;B");
    QTest::newRow("quotes") << QByteArray("\"'") << QByteArray("&quot;&#39;");
    QTest::newRow("not UTF-8") << QByteArray("T \xB0") << QByteArray("T \xC2\xB0");
}

void TestStatusPage::escaped() {
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, shown);
    TFleetView fleet(label, {label}, {{label, false}}, kFleetStartMs);
    fleet.AddReply(0, 0, FleetReply(label, 1));
    fleet.AddFailure(0, kFleetStartMs, label, label);
    const QByteArray page = StatusPage(fleet, kFleetStartMs);
    QVERIFY(page.contains("<title>zyl-test-run: " + shown + "</title>"));
    QVERIFY(page.contains("<th>" + shown + "</th>"));
    QVERIFY(page.contains("<td>" + shown + "</td>"));
    QVERIFY(page.contains("<code>" + shown + "</code>"));
    QVERIFY(page.contains(" " + shown + ": " + shown + "</td>"));
    QVERIFY(!page.contains(label) || label == shown);
}

QTEST_GUILESS_MAIN(TestStatusPage)
#include "tst_status_page.moc"
