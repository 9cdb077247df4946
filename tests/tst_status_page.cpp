// The status page as a browser reads it: the rows in their order, each
// controller's state, failure and verdicts, the count of the rest, and text
// from controllers kept as text.
#include "fleet_fixture.h"
#include "runner/status_page.h"
#include "test_support.h"
#include "testsupport/sim_process.h"

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
    void live();

private:
    // The page's DOM as headless Chromium built it, from a file or a server.
    static QByteArray Dom(const QByteArray& page);
    static QByteArray DomAt(const QString& url);
    // The text of each cell of each row of the controllers' table.
    static QList<QStringList> Rows(const QByteArray& dom);
};

QByteArray TestStatusPage::Dom(const QByteArray& page) {
    QTemporaryDir dir;
    const QString path = dir.filePath("status.html");
    return WriteFile(path, page) ? DomAt(QUrl::fromLocalFile(path).toString()) : QByteArray();
}

QByteArray TestStatusPage::DomAt(const QString& url) {
    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty())
        return {};
    QTemporaryDir dir;
    QProcess browser;
    // As root Chromium runs only without its sandbox; the page is ours.
    browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu",
                             "--user-data-dir=" + dir.filePath("profile"), "--dump-dom", url});
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

// The page a running runner serves, fed by its controllers: one given up,
// one failing its check, one passing.
void TestStatusPage::live() {
    if (qEnvironmentVariable("CONTROLLER_SIM").isEmpty())
        QSKIP("CONTROLLER_SIM is not set (CTest sets it)");
    SimProcess good, wrong;
    const QByteArray refused = "127.0.0.1:" + QByteArray::number(RefusedPort());
    const QByteArray passing = "127.0.0.1:" + QByteArray::number(good.Start({"--quiet"}));
    const QByteArray failing =
        "127.0.0.1:" + QByteArray::number(wrong.Start({"--quiet", "--wrong-reading"}));
    QTemporaryDir dir;
    const auto write = [&dir](const QString& name, const QByteArray& text) {
        return WriteFile(dir.filePath(name), text);
    };
    QVERIFY(write("site.tst", "IP=127.0.0.1\r\nPort=1\r\nRead Temp=[0A!?rt]\r\n"));
    QVERIFY(write("site.checks.toml",
                  "[\"Read Temp\"]\nmatch = '\\[0A!rt=(\\d+(?:\\.\\d+)?)\\]'\nmax = 60\n"));
    QVERIFY(write("site.hosts", passing + '\n' + failing + '\n' + refused + '\n'));
    const QString port = QString::number(RefusedPort());
    QProcess runner;
    runner.setWorkingDirectory(dir.path());
    runner.start(ZYL_TEST_RUN_PATH, {"--cycles", "0", "--quiet", "--metrics", port, "--hosts",
                                     "site.hosts", "site.tst"});
    QVERIFY(runner.waitForStarted());
    QTest::qWait(1500);
    const QByteArray dom = DomAt("http://127.0.0.1:" + port + "/");
    runner.kill();
    runner.waitForFinished();
    if (dom.isEmpty())
        QSKIP("headless Chromium is missing or failed (scripts/setup installs chromium)");
    QList<QStringList> rows = Rows(dom);
    QCOMPARE(rows.size(), 3);
    // The failing two first, the one changed last leading.
    QCOMPARE(rows[2], QStringList({passing, "up", "", "[0A!rt=38.5] | pass"}));
    if (rows[0][0] != refused)
        rows.swapItemsAt(0, 1);
    QCOMPARE(rows[0][0], refused);
    QVERIFY2(rows[0][1].startsWith("given up at "), qPrintable(rows[0][1]));
    QVERIFY2(rows[0][2].endsWith("Connection refused)"), qPrintable(rows[0][2]));
    QCOMPARE(rows[1].mid(0, 2), QStringList({failing, "up"}));
    QVERIFY2(rows[1][2].endsWith("Read Temp: 72.5 above max 60"), qPrintable(rows[1][2]));
    QCOMPARE(rows[1][3], "[0A!rt=72.5] | fail: 72.5 above max 60");
}

QTEST_GUILESS_MAIN(TestStatusPage)
#include "tst_status_page.moc"
