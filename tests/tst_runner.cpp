// zyl-test-run end to end: the executable against controller-sim or a peer
// played by the test, its output parsed back.
#include "connection/client_socket.h"
#include "loopback_peer.h"
#include "runner/run_report.h"
#include "test_support.h"
#include "testsupport/sim_process.h"
#include "tools/controller-sim/controller_sim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <QtMath>

#include <algorithm>
#include <csignal>
#include <sys/socket.h>

namespace {

constexpr int kWaitMs = 15000;

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs zyl-test-run in folder with the event loop going, so peers of this
// process keep answering. started, if given, runs once it is running.
Outcome RunRunner(const QString& folder, const QStringList& arguments,
                  const std::function<void(QProcess&)>& started = {}) {
    QProcess runner;
    runner.setWorkingDirectory(folder);
    QSignalSpy finished(&runner, &QProcess::finished);
    runner.start(QStringLiteral(ZYL_TEST_RUN_PATH), arguments);
    if (runner.waitForStarted(kWaitMs) && started)
        started(runner);
    if (runner.state() != QProcess::NotRunning && !finished.wait(kWaitMs))
        runner.kill();
    runner.waitForFinished(kWaitMs);
    const int code = runner.exitStatus() == QProcess::NormalExit ? runner.exitCode() : -1;
    return {code, runner.readAllStandardOutput(), runner.readAllStandardError()};
}

QByteArray Definition(quint16 port, const QByteArray& items) {
    return "IP=127.0.0.1\r\nPort=" + QByteArray::number(port) + "\r\n" + items;
}

QString Write(const QTemporaryDir& folder, const QByteArray& content,
              const QString& name = QStringLiteral("default1.tst")) {
    QFile file(folder.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return name;
}

QList<QJsonObject> JsonLines(const QByteArray& out) {
    QList<QJsonObject> objects;
    for (const QByteArray& line : out.split('\n'))
        if (!line.isEmpty())
            objects.append(QJsonDocument::fromJson(line).object());
    return objects;
}

const QByteArray kThreeItems = "Read Firmware=[0A!?v]\r\nRead Temp=[0A!?rt]\r\nPoll=[0A!p]\r\n";

} // namespace

class TestRunner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void escapedText_data();
    void escapedText();
    void passes_data();
    void passes();
    void failures_data();
    void failures();
    void junitReport();
    void textOutput();
    void urgentByte();
    void interrupted_data();
    void interrupted();
    void helpAndVersion();

private:
    QTemporaryDir m_folder;
};

void TestRunner::initTestCase() {
    if (qEnvironmentVariable("CONTROLLER_SIM").isEmpty())
        QSKIP("CONTROLLER_SIM is not set (CTest sets it)");
    QVERIFY(m_folder.isValid());
}

void TestRunner::escapedText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("json");
    QTest::newRow("ascii") << QByteArray("[0A!v=1]") << "[0A!v=1]"
                           << "[0A!v=1]";
    QTest::newRow("utf-8") << QByteArray("t=\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80")
                           << QString::fromUtf8("t=\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80")
                           << QString::fromUtf8("t=\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    QTest::newRow("latin-1") << QByteArray("\xe9]") << "\\xe9]"
                             << "\\xe9]";
    QTest::newRow("overlong") << QByteArray("\xc0\x80") << "\\xc0\\x80"
                              << "\\xc0\\x80";
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << "\\xed\\xa0\\x80"
                               << "\\xed\\xa0\\x80";
    QTest::newRow("cut short") << QByteArray("\xe2\x82]") << "\\xe2\\x82]"
                               << "\\xe2\\x82]";
    QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << "\\xf4\\x90\\x80\\x80"
                                    << "\\xf4\\x90\\x80\\x80";
    QTest::newRow("backslash") << QByteArray("a\\xe9") << "a\\\\xe9"
                               << "a\\\\xe9";
    QTest::newRow("controls") << QByteArray("a\r\n\tb\x01\x7f", 7) << "a\\r\\n\\tb\\x01\\x7f"
                              << "a\r\n\tb\x01\x7f";
    QTest::newRow("nul") << QByteArray("a\0b", 3) << "a\\x00b"
                         << QString(QStringLiteral("a")) + QChar(0) + "b";
}

void TestRunner::escapedText() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    QFETCH(QString, json);
    QCOMPARE(EscapedText(bytes, true), line);
    QCOMPARE(EscapedText(bytes, false), json);
}

void TestRunner::passes_data() {
    QTest::addColumn<QByteArray>("items");
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<int>>("answeredSlots");
    QTest::addColumn<QList<int>>("resends");

    QTest::newRow("immediate, two passes")
        << kThreeItems << QStringList{} << QStringList{"--cycles", "2"}
        << QList<int>{1, 2, 3, 1, 2, 3} << QList<int>{0, 0, 0, 0, 0, 0};
    QTest::newRow("split and delayed")
        << kThreeItems << QStringList{"--split", "3", "--delay", "150"} << QStringList{}
        << QList<int>{1, 2, 3} << QList<int>{0, 0, 0};
    QTest::newRow("third reply dropped")
        << kThreeItems << QStringList{"--drop-every", "3"} << QStringList{} << QList<int>{1, 2, 3}
        << QList<int>{0, 0, 1};
    // Lines past slot 18 are no items, blank lines are passed over.
    QByteArray lines;
    QList<int> answered;
    for (int slot = 1; slot <= 23; ++slot) {
        const bool blank = slot % 4 == 0;
        lines += blank ? QByteArray("\r\n")
                       : "Item " + QByteArray::number(slot) + "=[0A!?c" + QByteArray::number(slot) +
                             "]\r\n";
        if (!blank && slot <= 18)
            answered.append(slot);
    }
    QTest::newRow("25 lines with blank ones")
        << lines << QStringList{} << QStringList{"--timeout", "1"} << answered
        << QList<int>(answered.size(), 0);
    // Over 100 round trips: the p99 is the second slowest, not the slowest.
    QList<int> thrice;
    for (int cycle = 0; cycle < 34; ++cycle)
        thrice << 1 << 2 << 3;
    QTest::newRow("102 round trips")
        << kThreeItems << QStringList{} << QStringList{"--cycles", "34"} << thrice
        << QList<int>(thrice.size(), 0);
}

// Every reply arrives in order as a JSON line with what was sent, the
// controller's answer and the resends; the summary adds them up.
void TestRunner::passes() {
    QFETCH(QByteArray, items);
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, options);
    QFETCH(QList<int>, answeredSlots);
    QFETCH(QList<int>, resends);
    SimProcess sim;
    const quint16 port = sim.Start(QStringList{"--quiet"} + simOptions);
    QVERIFY(port != 0);
    Write(m_folder, Definition(port, items));

    const Outcome outcome = RunRunner(m_folder.path(), options + QStringList{"--json"});
    QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
    const QList<QJsonObject> lines = JsonLines(outcome.out);
    QCOMPARE(lines.size(), answeredSlots.size() + 1);
    const QJsonObject summary = lines.constLast().value("summary").toObject();
    const qsizetype cyclesAt = options.indexOf("--cycles") + 1;
    const int cycles = cyclesAt > 0 ? options[cyclesAt].toInt() : 1;
    QCOMPARE(summary.value("cycles").toInt(), cycles);
    int totalResends = 0;
    QList<double> times;
    for (qsizetype i = 0; i < answeredSlots.size(); ++i) {
        const QJsonObject& line = lines[i];
        times.append(line.value("rtt_ms").toDouble());
        QCOMPARE(line.value("slot").toInt(), answeredSlots[i]);
        QCOMPARE(line.value("cycle").toInt(), 1 + int(i * cycles / answeredSlots.size()));
        QCOMPARE(line.value("resends").toInt(), resends[i]);
        totalResends += resends[i];
        const QByteArray command = line.value("command").toString().toUtf8();
        QCOMPARE(line.value("reply").toString().toUtf8(), ReplyTo(command));
        QVERIFY(!line.value("label").toString().isEmpty());
        QVERIFY(line.value("rtt_ms").toDouble() > 0);
        QVERIFY(QDateTime::fromString(line.value("time").toString(), Qt::ISODateWithMs).isValid());
    }
    QCOMPARE(summary.value("replies").toInt(), answeredSlots.size());
    QCOMPARE(summary.value("resends").toInt(), totalResends);
    const QJsonObject rtt = summary.value("rtt_ms").toObject();
    QVERIFY(rtt.value("min").toDouble() <= rtt.value("median").toDouble());
    QVERIFY(rtt.value("median").toDouble() <= rtt.value("p99").toDouble());
    QVERIFY(rtt.value("p99").toDouble() <= rtt.value("max").toDouble());
    // Nearest rank: the smallest time with 99 % of all at or below it.
    std::sort(times.begin(), times.end());
    QCOMPARE(rtt.value("p99").toDouble(), times[qCeil(0.99 * times.size()) - 1]);
}

void TestRunner::failures_data() {
    QTest::addColumn<QStringList>("simOptions"); // empty: no controller at all
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // a line of standard error

    const QStringList none;
    const QStringList immediate{"--quiet"};
    QTest::newRow("silent controller")
        << QStringList{"--silent"} << QStringList{"--timeout", "1"} << 3
        << "No complete reply for 1 s: gave up waiting on slot 1 (Read Firmware)";
    QTest::newRow("refused port") << none << QStringList{} << 1 << "Asynchronous socket error 111.";
    QTest::newRow("closed by the controller")
        << QStringList{"--close-after", "2"} << QStringList{} << 1 << "Disconnected from 127.0.0.1";
    QTest::newRow("reset by the controller") << QStringList{"--reset-after", "2"} << QStringList{}
                                             << 1 << "Asynchronous socket error 104.";
    QTest::newRow("missing file") << immediate << QStringList{"missing.tst"} << 2
                                  << "Cannot open file missing.tst.";
    QTest::newRow("nothing to send")
        << immediate << QStringList{"blank.tst"} << 2 << "No commands in blank.tst.";
    QTest::newRow("port not a number") << immediate << QStringList{"--port", "3O01"} << 2
                                       << "'3O01' is not a valid integer value.";
    QTest::newRow("port out of range") << immediate << QStringList{"--port", "65536"} << 2
                                       << "'65536' is not a valid port number.";
    QTest::newRow("host name") << immediate << QStringList{"--address", "localhost"} << 2
                               << "'localhost' is not a valid IPv4 address.";
    QTest::newRow("unknown option")
        << immediate << QStringList{"--cycle", "2"} << 2 << "zyl-test-run: Unknown option 'cycle'.";
    QTest::newRow("timeout not seconds") << immediate << QStringList{"--timeout", "0"} << 2
                                         << "zyl-test-run: --timeout wants seconds from 0.001 "
                                            "to 2000000, not \"0\"";
}

void TestRunner::failures() {
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    SimProcess sim;
    const quint16 port =
        simOptions.isEmpty() ? RefusedPort() : sim.Start(QStringList{"--quiet"} + simOptions);
    Write(m_folder, Definition(port, kThreeItems));
    Write(m_folder, Definition(port, "Blank=\r\n\r\n"), "blank.tst");

    const Outcome outcome = RunRunner(m_folder.path(), options);
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(outcome.err).split('\n').contains(error), outcome.err.constData());
    // Once the run was under way, the summary follows whatever ended it; a
    // run refused at the start has nothing to sum up or close.
    if (exitCode != 2) {
        QVERIFY(outcome.out.contains(" completed\n"));
    } else {
        QVERIFY(outcome.out.isEmpty());
        QVERIFY(!outcome.err.contains("Disconnected"));
    }
}

// A case per item: passed with its reply, failed where the run gave up,
// skipped where it never got to or had nothing to send.
void TestRunner::junitReport() {
    SimProcess sim;
    const quint16 port = sim.Start({"--quiet"});
    QVERIFY(port != 0);
    // The controller answers nothing that lacks its closing "]".
    Write(m_folder,
          Definition(port,
                     "Read Firmware=[0A!?v]\r\nEmpty=\r\nUnfinished=[0A!?rt\r\nPoll=[0A!p]\r\n"),
          "bench.tst");
    const Outcome outcome =
        RunRunner(m_folder.path(), {"bench.tst", "--timeout", "1", "--junit", "report.xml"});
    QCOMPARE(outcome.exitCode, 3);

    QFile file(m_folder.filePath("report.xml"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList cases; // "name:outcome[:output]"
    QString current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"testcase")
            cases.append(current);
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"testsuite") {
            QCOMPARE(xml.attributes().value("name"), u"bench");
            QCOMPARE(xml.attributes().value("tests"), u"4");
            QCOMPARE(xml.attributes().value("failures"), u"1");
            QCOMPARE(xml.attributes().value("skipped"), u"2");
        } else if (xml.name() == u"testcase") {
            current = xml.attributes().value("name").toString();
        } else if (xml.name() == u"failure" || xml.name() == u"skipped") {
            current +=
                ':' + xml.name().toString() + ':' + xml.attributes().value("message").toString();
        } else if (xml.name() == u"system-out") {
            current += ":out:" + xml.readElementText();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(cases, QStringList({
                        "1 Read Firmware:out:[0A!v=1.00.11]",
                        "2 Empty:skipped:empty command",
                        "3 Unfinished:failure:No complete reply for 1 s: gave up waiting on slot 3 "
                        "(Unfinished)",
                        "4 Poll:skipped:not reached",
                    }));
}

// One aligned line per reply under a header; bytes that are not UTF-8 and
// line breaks shown escaped.
void TestRunner::textOutput() {
    LoopbackPeer peer;
    peer.answer = [](const QByteArray&) {
        return std::optional<QByteArray>("[0A!v=\xff\r\n\xc3\xa9]");
    };
    Write(m_folder, Definition(peer.Port(), "Firmware=[0A!?v]\r\n"));
    const Outcome outcome = RunRunner(m_folder.path(), {"--cycles", "2"});
    QVERIFY2(outcome.exitCode == 0, outcome.err.constData());

    const QStringList lines = QString::fromUtf8(outcome.out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    const QString& header = lines[0];
    const QRegularExpression row(QStringLiteral(
        R"(^\d\d:\d\d:\d\d\.\d{3} +1  Firmware  (\[0A!v=\\xff\\r\\n\x{e9}\]) +(\d+\.\d{3})  +0$)"));
    for (const QString& line : {lines[1], lines[2]}) {
        const QRegularExpressionMatch match = row.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.capturedStart(1), header.indexOf("reply"));
        QCOMPARE(match.capturedEnd(2), header.indexOf("rtt ms") + 6);
        QCOMPARE(line.size(), header.size());
    }
    QCOMPARE(lines[3], "2 replies, 0 resends, 2 cycles completed");
    QVERIFY(lines[4].startsWith("round trip ms: min "));
}

// An urgent byte is data in its place, not a stall.
void TestRunner::urgentByte() {
    LoopbackPeer peer;
    peer.answer = [&peer](const QByteArray&) {
        ::send(peer.Descriptor(), "[0A!v=", 6, MSG_NOSIGNAL);
        ::send(peer.Descriptor(), "U", 1, MSG_OOB | MSG_NOSIGNAL);
        ::send(peer.Descriptor(), "1]", 2, MSG_NOSIGNAL);
        return std::optional<QByteArray>();
    };
    Write(m_folder, Definition(peer.Port(), "Firmware=[0A!?v]\r\n"));
    const Outcome outcome = RunRunner(m_folder.path(), {"--json", "--timeout", "2"});
    QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
    QCOMPARE(JsonLines(outcome.out).constFirst().value("reply").toString(), "[0A!v=U1]");
}

void TestRunner::interrupted_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

// Stops mid-run on a signal: closes and still sums up what it got.
void TestRunner::interrupted() {
    QFETCH(int, signal);
    SimProcess sim;
    const quint16 port = sim.Start({"--quiet"});
    QVERIFY(port != 0);
    Write(m_folder, Definition(port, kThreeItems));
    const Outcome outcome =
        RunRunner(m_folder.path(), {"--json", "--cycles", "0"}, [signal](QProcess& runner) {
            if (runner.waitForReadyRead(kWaitMs))
                ::kill(pid_t(runner.processId()), signal);
        });
    QCOMPARE(outcome.exitCode, 130);
    const QList<QJsonObject> lines = JsonLines(outcome.out);
    QVERIFY(lines.size() >= 2);
    const QJsonObject summary = lines.constLast().value("summary").toObject();
    QCOMPARE(summary.value("replies").toInt(), lines.size() - 1);
    QCOMPARE(summary.value("exit_status").toInt(), 130);
}

void TestRunner::helpAndVersion() {
    Outcome outcome = RunRunner(m_folder.path(), {"--version"});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("zyl-test-run " ZYL_VERSION "\n"));
    outcome = RunRunner(m_folder.path(), {"--help"});
    QCOMPARE(outcome.exitCode, 0);
    for (const char* option :
         {"--address", "--port", "--cycles", "--duration", "--timeout", "--json", "--junit"})
        QVERIFY2(outcome.out.contains(option), option);
}

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
