// zyl-test-run end to end: the executable against controller-sim or a peer
// played by the test, its output parsed back.
#include "connection/client_socket.h"
#include "loopback_peer.h"
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
#include <unistd.h>

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
    // A leading "|" pipes the output into a reader that leaves after a byte.
    if (arguments.value(0) == "|")
        runner.start("bash", QStringList{"-c", R"("$0" "$@" | head -c 1; exit ${PIPESTATUS[0]})",
                                         ZYL_TEST_RUN_PATH} +
                                 arguments.mid(1));
    else
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
    WriteFile(folder.filePath(name), content);
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

// Takes the outage lines out of lines: each outage reported as it began and
// as it ended, counted in the summary, and failing the JUnit report's
// "connection" case.
void CheckOutages(QList<QJsonObject>& lines, int outages, const QString& junitFile) {
    const auto isOutage = [](const QJsonObject& line) {
        return line.contains("outage") || line.contains("reconnected");
    };
    QList<QJsonObject> reported;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(reported), isOutage);
    lines.erase(std::remove_if(lines.begin(), lines.end(), isOutage), lines.end());
    QCOMPARE(reported.size(), 2 * outages);
    for (qsizetype i = 0; i < reported.size(); i += 2) {
        QVERIFY(!reported[i].value("outage").toString().isEmpty());
        QVERIFY(reported[i + 1].value("reconnected").toBool());
        QVERIFY(reported[i + 1].value("down_ms").toInt() >= 800);
        QVERIFY(reported[i + 1].value("attempts").toInt() >= 1);
    }
    const QJsonObject summary = lines.constLast().value("summary").toObject();
    QCOMPARE(summary.value("outages").toInt(), outages);
    QCOMPARE(summary.value("last_outages").toArray().size(), outages);
    QFile junit(junitFile);
    QVERIFY(junit.open(QIODevice::ReadOnly));
    const QByteArray xml = junit.readAll();
    QCOMPARE(xml.contains("name=\"connection\""), outages > 0);
    QCOMPARE(xml.count("<failure"), outages > 0 ? 1 : 0);
}

} // namespace

class TestRunner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void passes_data();
    void passes();
    void failures_data();
    void failures();
    void reports_data();
    void reports();
    void fleet();
    void controllersDialled_data();
    void controllersDialled();
    void urgentByte();
    void nagios_data();
    void nagios();
    void helpAndVersion();

private:
    QTemporaryDir m_folder;
};

void TestRunner::initTestCase() {
    QVERIFY(m_folder.isValid());
}

void TestRunner::passes_data() {
    QTest::addColumn<QByteArray>("items");
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<int>>("answeredSlots");
    QTest::addColumn<QList<int>>("resends");
    // With --reconnect: the outages the run reports (then its status is 1).
    QTest::addColumn<int>("outages");

    // No resends but where given, the three items but where given.
    const auto add = [](QTestData& row, const QStringList& sim, const QStringList& options,
                        const QList<int>& answered, int outages, QList<int> resends = {},
                        const QByteArray& items = kThreeItems) {
        if (resends.isEmpty())
            resends = QList<int>(answered.size(), 0);
        row << items << sim << options << answered << resends << outages;
    };
    const QList<int> onePass{1, 2, 3}, twoPasses{1, 2, 3, 1, 2, 3};
    add(QTest::newRow("immediate, two passes"), {}, {"--cycles", "2"}, twoPasses, 0);
    add(QTest::newRow("split and delayed"), {"--split", "3", "--delay", "150"}, {}, onePass, 0);
    add(QTest::newRow("third reply dropped"), {"--drop-every", "3"}, {"--max-resends", "1"},
        onePass, 0, {0, 0, 1});
    // Every loss is dialled again and the cycle goes on at the item it was
    // on: the controller counts commands per connection, so each new one
    // closes or resets after two replies again.
    const QStringList reconnect{"--reconnect", "--cycles", "2"};
    add(QTest::newRow("reconnect after a close"), {"--close-after", "2"}, reconnect, twoPasses, 2);
    add(QTest::newRow("reconnect after a reset"), {"--reset-after", "2"}, reconnect, twoPasses, 2);
    // "late": nothing listens until a second and a half into the run; the
    // refused dials are one outage.
    add(QTest::newRow("reconnect after refusals"), {"late"}, {"--reconnect"}, onePass, 1);
    // The third command goes unanswered and is given up after a second; on
    // the next connection it is the first and answered.
    add(QTest::newRow("reconnect after a give-up"), {"--drop-every", "3"},
        {"--reconnect", "--timeout", "1", "--reply-timeout", "5000"}, onePass, 1);
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
    add(QTest::newRow("25 lines with blank ones"), {}, {"--timeout", "1"}, answered, 0, {}, lines);
}

// Every reply arrives in order as a JSON line with what was sent, the
// controller's answer and the resends; the summary adds them up.
void TestRunner::passes() {
    QFETCH(QByteArray, items);
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, options);
    QFETCH(QList<int>, answeredSlots);
    QFETCH(QList<int>, resends);
    QFETCH(int, outages);
    SimProcess sim;
    const bool late = simOptions == QStringList{"late"};
    const quint16 port = late ? RefusedPort() : sim.Start(QStringList{"--quiet"} + simOptions);
    QVERIFY(port != 0);
    Write(m_folder, Definition(port, items));

    const Outcome outcome = RunRunner(
        m_folder.path(), options + QStringList{"--json", "--junit", "passes.xml"}, [&](QProcess&) {
            if (late) {
                QTest::qWait(1500);
                sim.Start({"--quiet", "--port", QString::number(port)});
            }
        });
    QVERIFY2(outcome.exitCode == (outages > 0 ? 1 : 0), outcome.err.constData());
    QList<QJsonObject> lines = JsonLines(outcome.out);
    CheckOutages(lines, outages, m_folder.filePath("passes.xml"));
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
    // Nearest rank, the smallest time with 99 % of all at or below it, within
    // the histogram's 1 % (and the output's microsecond).
    std::sort(times.begin(), times.end());
    const double exact = times[qCeil(0.99 * times.size()) - 1];
    QVERIFY(qAbs(rtt.value("p99").toDouble() - exact) <= 0.01 * exact + 0.001);
}

void TestRunner::failures_data() {
    QTest::addColumn<QStringList>("simOptions"); // empty: no controller at all
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // a line of standard error

    const QStringList none;
    const QStringList immediate{"--quiet"};
    // Status 2 beside a controller that answers at once.
    const auto atStart = [&immediate](QTestData& row, const QStringList& options,
                                      const char* error) {
        row << immediate << options << 2 << QString(error);
    };
    QTest::newRow("silent controller")
        << QStringList{"--silent"} << QStringList{"--timeout", "1"} << 3
        << "No complete reply for 1 s: gave up waiting on slot 1 (Read Firmware)";
    QTest::newRow("refused port")
        << none << QStringList{} << 1
        << "Asynchronous socket error 111. (127.0.0.1:%1: Connection refused)";
    QTest::newRow("closed by the controller")
        << QStringList{"--close-after", "2"} << QStringList{} << 1
        << "Disconnected from 127.0.0.1 (127.0.0.1:%1: closed by the peer)";
    QTest::newRow("reset by the controller")
        << QStringList{"--reset-after", "2"} << QStringList{} << 1
        << "Asynchronous socket error 104. (127.0.0.1:%1: Connection reset by peer)";
    atStart(QTest::newRow("missing file"), {"missing.tst"},
            "Cannot open file missing.tst. (No such file or directory)");
    atStart(QTest::newRow("NUL byte in a line"), {"nul.tst"},
            "nul.tst:4: a NUL byte in the line (the window stops reading there)");
    atStart(QTest::newRow("port line"), {"port.tst"},
            "port.tst:2: '45843 ' is not a valid integer value.");
    atStart(QTest::newRow("bad hosts line"), {"--hosts", "hosts.txt"},
            "hosts.txt:3: '10.0.0.300' is not a valid IPv4 address.");
    atStart(QTest::newRow("IPv6 in the hosts file"), {"--hosts", "ipv6.txt"},
            "ipv6.txt:2: IPv6 is not supported: '[::1]:4401' (one IPv4 address a line, with an "
            "optional :port)");
    atStart(QTest::newRow("host name in the hosts file"), {"--hosts", "names.txt"},
            "names.txt:1: host names are not supported: 'display4.local:4401' (one IPv4 address a "
            "line, with an optional :port)");
    atStart(QTest::newRow("a control byte quoted"), {"--hosts", "control.txt"},
            "control.txt:1: '10.0.0.\\x01' is not a valid IPv4 address.");
    atStart(QTest::newRow("unknown key in the checks"), {"--checks", "bad.toml"},
            "bad.toml:2:1: unknown key \"matc\" (known: equals, match, min, max, max_rtt_ms)");
    atStart(QTest::newRow("report over the definition"), {"--junit", "default1.tst"},
            "The report would overwrite the definition default1.tst.");
    atStart(QTest::newRow("report over the definition by a hard link"), {"--junit", "hard.xml"},
            "The report would overwrite the definition default1.tst.");
    atStart(QTest::newRow("report over the hosts file"),
            {"--hosts", "hosts.txt", "--junit", "./hosts.txt"},
            "The report would overwrite the hosts file hosts.txt.");
    atStart(QTest::newRow("report over the checks file by a symbolic link"),
            {"--checks", "bad.toml", "--junit", "link.xml"},
            "The report would overwrite the checks file bad.toml.");
    // After the run: a report that cannot be written whole fails it.
    atStart(QTest::newRow("report on a full device"), {"--junit", "/dev/full"},
            "Cannot write file /dev/full. (No space left on device)");
    atStart(QTest::newRow("nothing to send"), {"blank.tst"}, "No commands in blank.tst.");
    atStart(QTest::newRow("port not a number"), {"--port", "3O01"},
            "'3O01' is not a valid integer value.");
    atStart(QTest::newRow("port out of range"), {"--port", "65536"},
            "'65536' is not a valid port number.");
    atStart(QTest::newRow("host name"), {"--address", "localhost"},
            "'localhost' is not a valid IPv4 address.");
    atStart(QTest::newRow("unknown option"), {"--cycle", "2"},
            "zyl-test-run: Unknown option 'cycle'.");
    atStart(QTest::newRow("metrics port not a number"), {"--metrics", "127.0.0.1:x"},
            "zyl-test-run: --metrics: 'x' is not a valid integer value");
    atStart(QTest::newRow("metrics address taken"), {"--metrics", "%1"},
            "Cannot serve HTTP on 127.0.0.1:%1 (Address already in use)");
    atStart(QTest::newRow("timeout not seconds"), {"--timeout", "0"},
            "zyl-test-run: --timeout wants seconds from 0.001 to 2000000, not \"0\"");
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
    Write(m_folder, Definition(port, "A=[0A!?v]\r\nB" + QByteArray(1, '\0') + "=[0A!?rt]\r\n"),
          "nul.tst");
    Write(m_folder, "IP=127.0.0.1\r\nPort=45843 \r\nA=[0A!?v]\r\n", "port.tst");
    // Editors may start a file with a byte-order mark.
    Write(m_folder, "\xEF\xBB\xBF# bench\n127.0.0.1:3001\n10.0.0.300\n", "hosts.txt");
    Write(m_folder, "# bench\n[::1]:4401\n", "ipv6.txt");
    Write(m_folder, "display4.local:4401\n", "names.txt");
    Write(m_folder, "10.0.0.\x01\n", "control.txt");
    Write(m_folder, "[\"Read Temp\"]\nmatc = \"x\"\n", "bad.toml");
    QFile::link("bad.toml", m_folder.filePath("link.xml"));
    ::link(QFile::encodeName(m_folder.filePath("default1.tst")).constData(),
           QFile::encodeName(m_folder.filePath("hard.xml")).constData());

    // The controller's own port is one the runner cannot listen on.
    const Outcome outcome =
        RunRunner(m_folder.path(), options.replaceInStrings("%1", QString::number(port)));
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(outcome.err)
                 .split('\n')
                 .contains(QString(error).replace("%1", QString::number(port))),
             outcome.err.constData());
    for (const char* input : {"default1.tst", "hosts.txt", "bad.toml"}) {
        QFile file(m_folder.filePath(input));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains("<?xml"), input);
    }
    // Once the run was under way, the summary follows whatever ended it; a
    // run refused at the start has nothing to sum up or close.
    if (exitCode != 2 || error.startsWith("Cannot write file")) {
        QVERIFY(outcome.out.contains(" completed\n"));
    } else {
        QVERIFY(outcome.out.isEmpty());
        QVERIFY(!outcome.err.contains("Disconnected"));
    }
}

void TestRunner::reports_data() {
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QByteArray>("items");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("unsolicited"); // JSON lines of unsolicited data; -1 unread
    QTest::addColumn<bool>("ownReplies"); // each reply answers its own item's command
    QTest::addColumn<QString>("junit");   // the report's tests/failures/errors[/skipped]
    // Keys of the JSON summary and their values, "key=value;..." (an array's
    // strings joined by "|").
    QTest::addColumn<QString>("summaryKeys");
    QTest::addColumn<QString>("errLine");   // a line of standard error, if any
    QTest::addColumn<QByteArray>("checks"); // the definition's checks file, if any
    QTest::addColumn<int>("signal");        // sent while it runs, 0 none
    const auto add = [](QTestData& row, const QStringList& sim, const QByteArray& items,
                        const QStringList& options, int exitCode, int unsolicited, bool own,
                        const char* junit, const QString& summaryKeys = {},
                        const QString& errLine = {}, const QByteArray& checks = {},
                        int signal = 0) {
        row << sim << items << options << exitCode << unsolicited << own << QString(junit)
            << summaryKeys << errLine << checks << signal;
    };

    const QByteArray one = "Read Firmware=[0A!?v]\r\n";
    const QByteArray two = one + "Read Temp=[0A!?rt]\r\n";
    QByteArray nineteen;
    for (int item = 1; item <= 19; ++item)
        nineteen += "I" + QByteArray::number(item) + "=[0A!?v]\r\n";
    const QStringList none, slow{"--delay", "1500"}, pipelined{"--delay", "1500", "--pipelined"};
    // A reply slower than the watchdog completes after a resend: never green
    // by default, right on every item with a longer reply timeout.
    add(QTest::newRow("slow controller"), slow, one, none, 5, 0, false, "1/1/0");
    add(QTest::newRow("slow controller, longer reply timeout"), slow, two,
        {"--reply-timeout", "2000"}, 0, 0, true, "2/0/0");
    // One answering a command at a time: the answer to the resend is awaited
    // before the next command, which would take it for its own.
    add(QTest::newRow("slow controller, resends accepted"), slow, two, {"--max-resends", "3"}, 0, 0,
        true, "2/0/0", "late=2;out_of_step=0");
    // One answering every sending: each answer on its own item, however many
    // resends a reply needs to pass.
    add(QTest::newRow("slow controller answering every sending"), pipelined, two, none, 5, 0, true,
        "2/2/0", "late=2;out_of_step=0");
    add(QTest::newRow("slow controller answering every sending, resends accepted"), pipelined, two,
        {"--max-resends", "3"}, 0, 0, true, "2/0/0", "late=2;out_of_step=0");
    // A reply nobody awaited: out of step, every item answered fails, the
    // next one errs. The copy of the first answer is taken for the second's,
    // which comes with it; a greeting taken for the first shifts them all,
    // and the last one left over comes while the run waits for quiet.
    const QByteArray three = two + "Poll=[0A!p]\r\n";
    add(QTest::newRow("a copy of each answer"), {"--repeat-after", "300"}, three, none, 6, 1, false,
        "3/2/1", "out_of_step=1");
    add(QTest::newRow("greeting after the first command"),
        {"--greet", "[HELLO v1]", "--greet-after", "300", "--delay", "400"}, three, none, 6, 1,
        false, "3/3/0", "out_of_step=1");
    add(QTest::newRow("chatter allowed"), {"--repeat-after", "300"}, three, {"--allow-unsolicited"},
        0, 3, false, "3/0/0", "out_of_step=3");
    add(QTest::newRow("a reply ending in ]\\r\\n"), {"--suffix", "\\r\\n"}, one,
        {"--timeout", "2.5"}, 3, 0, true, "1/1/0",
        "unanswered=sent in cycle 1, resent 2 times, and not answered when the run ended|48 "
        "bytes gathered, ending in ']\\r\\n': a reply ends in ']'|gathered: "
        "[0A!v=1.00.11]\\r\\n[0A!v=1.00.11]\\r\\n[0A!v=1.00.11]\\r\\n");
    // The second sending goes unanswered and is resent once the default
    // reply timeout and the send delay are over.
    add(QTest::newRow("resent after the default reply timeout"), {"--drop-every", "2"}, one,
        {"--cycles", "2"}, 5, 0, true, "1/1/0", "resends=1");
    // The controller answers nothing that lacks its closing "]": a case each,
    // the empty command and the one never reached skipped.
    add(QTest::newRow("given up, passed over and not reached"), {},
        one + "Empty=\r\nUnfinished=[0A!?rt\r\nPoll=[0A!p]\r\n", {"--timeout", "1"}, 3, 0, true,
        "4/1/0/2", "failing_slot=3",
        "No complete reply for 1 s: gave up waiting on slot 3 (Unfinished)");
    add(QTest::newRow("silent controller"), {"--silent"}, one, {"--timeout", "2.5"}, 3, 0, true,
        "1/1/0",
        "resends=2;unanswered=sent in cycle 1, resent 2 times, and not answered when the run "
        "ended|nothing gathered");
    // What dripped in before the resend stays part of the reply.
    add(QTest::newRow("dripping controller"), {"--drip", "150"}, one, none, 5, 0, true, "1/1/0");
    add(QTest::newRow("dripping controller, resends accepted"), {"--drip", "150"}, one,
        {"--max-resends", "2"}, 0, 0, true, "1/0/0");
    add(QTest::newRow("greeting before the first command"), {"--greet", "[HELLO v1]"}, two, none, 0,
        1, true, "2/0/0");
    // Shown as its first 1024 bytes, with its whole size.
    add(QTest::newRow("a long greeting"), {"--greet", '[' + QString(1500, 'g') + ']'}, one, none, 0,
        1, true, "1/0/0");
    add(QTest::newRow("items past the slots"), {}, nineteen, none, 0, 0, true, "18/0/0", {},
        "default1.tst:21: warning: only 18 items are run; this line and those after it are not");
    // The command goes out with the spaces the window keeps of the line.
    add(QTest::newRow("a line cut as the window cuts it"), {},
        one + "Read Temp=[0A!?rt]" + QByteArray(5000, ' ') + "\r\n", none, 0, 0, false, "2/0/0", {},
        "default1.tst:4: warning: only the first 4096 bytes of this line are read, as the "
        "window reads them");
    // Stopped mid-run on a signal: it closes and still sums up what it got.
    add(QTest::newRow("SIGINT while answered"), {}, three, {"--cycles", "0"}, 130, 0, true, "3/0/1",
        "exit_status=130", {}, {}, SIGINT);
    add(QTest::newRow("SIGTERM while answered"), {}, three, {"--cycles", "0"}, 130, 0, true,
        "3/0/1", "exit_status=130", {}, {}, SIGTERM);
    // However the run ends, the report is written, and the item left
    // unanswered is an error.
    add(QTest::newRow("hung up while unanswered"), {"--silent"}, two, none, 130, 0, true, "2/0/1",
        {}, {}, {}, SIGHUP);
    // Killed, it leaves the report of the run before whole, as it was while
    // it ran.
    add(QTest::newRow("killed while unanswered"), {"--silent"}, two, none, -1, -1, true, "7/0/0",
        {}, {}, {}, SIGKILL);
    // Checks beside the definition judge every reply; one reading out of
    // range fails its item and the run.
    const QByteArray temperature = "[\"Read Temp\"]\nmatch = '\\[0A!rt=(\\d+(?:\\.\\d+)?)\\]'\n"
                                   "min = 10\nmax = 60\n";
    add(QTest::newRow("checked replies pass"), {}, two, none, 0, 0, true, "2/0/0", {}, {},
        temperature);
    add(QTest::newRow("a reading out of range"), {"--wrong-reading"}, two, none, 4, 0, false,
        "2/1/0", {}, {}, temperature);
    add(QTest::newRow("standard output closed"), {}, two, {"|", "--cycles", "0"}, 141, -1, true,
        "2/0/1", {}, "Standard output closed: the run stopped");
}

void TestRunner::reports() {
    QFETCH(QStringList, simOptions);
    QFETCH(QByteArray, items);
    QFETCH(QStringList, options);
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QFETCH(int, unsolicited);
    QFETCH(bool, ownReplies);
    QFETCH(QString, junit);
    QFETCH(QString, errLine);
    QFETCH(QByteArray, checks);
    QFETCH(QString, summaryKeys);
    SimProcess sim;
    const quint16 port = sim.Start(QStringList{"--quiet"} + simOptions);
    QVERIFY(port != 0);
    QFile::remove(m_folder.filePath("default1.checks.toml"));
    if (!checks.isEmpty())
        Write(m_folder, checks, "default1.checks.toml");
    Write(m_folder, Definition(port, items));
    const QByteArray earlier = "<testsuites><testsuite name=\"earlier\" tests=\"7\" failures=\"0\" "
                               "errors=\"0\"></testsuite></testsuites>\n";
    Write(m_folder, earlier, "r.xml");

    QByteArray underWay = earlier;
    const Outcome outcome =
        RunRunner(m_folder.path(), options + QStringList{"--json", "--junit", "r.xml"},
                  [&](QProcess& runner) {
                      if (signal == 0 || runner.waitForFinished(500))
                          return;
                      QFile report(m_folder.filePath("r.xml"));
                      underWay = report.open(QIODevice::ReadOnly) ? report.readAll() : "";
                      ::kill(pid_t(runner.processId()), signal);
                  });
    QVERIFY2(outcome.exitCode == exitCode, outcome.err.constData());
    // The earlier report stays whole until the run's own takes its place.
    QCOMPARE(underWay, earlier);
    if (!errLine.isEmpty())
        QVERIFY2(QString::fromUtf8(outcome.err).split('\n').contains(errLine),
                 outcome.err.constData());
    const qsizetype replyTimeoutAt = options.indexOf("--reply-timeout") + 1;
    const int resendMs = (replyTimeoutAt > 0 ? options[replyTimeoutAt].toInt() : 1000) + 100;
    // What a controller greets with before the first command is its
    // unsolicited data.
    const qsizetype greetAt = simOptions.indexOf("--greet") + 1;
    const QString greeting =
        greetAt > 0 && !simOptions.contains("--greet-after") ? simOptions[greetAt] : QString();
    if (unsolicited >= 0) {
        int seen = 0, replies = 0;
        QJsonObject last;
        for (const QJsonObject& line : JsonLines(outcome.out)) {
            const QJsonObject summary = last = line.value("summary").toObject();
            QCOMPARE((summary.isEmpty() ? line : summary).value("controller").toString(),
                     "127.0.0.1:" + QString::number(port));
            seen += line.contains("unsolicited") ? 1 : 0;
            if (!greeting.isEmpty() && line.contains("unsolicited")) {
                QCOMPARE(line.value("unsolicited").toString(), greeting.left(1024));
                QCOMPARE(line.value("bytes").toInt(), greeting.size());
            }
            if (!line.contains("reply"))
                continue;
            replies += line.contains("late") ? 0 : 1;
            QCOMPARE(line.value("after_resend").toBool(), line.value("resends").toInt() > 0);
            // Timed from the first sending: each resend waited a reply timeout
            // (by default 1000 ms) and the send delay.
            QVERIFY2(line.value("rtt_ms").toDouble() >= line.value("resends").toInt() * resendMs,
                     qPrintable(QString::number(line.value("rtt_ms").toDouble())));
            // A reply of a checked item carries its verdict, a failure its reason.
            const bool checked = !checks.isEmpty() && line.value("slot").toInt() == 2;
            QCOMPARE(line.contains("check"), checked);
            QCOMPARE(line.value("check").toString() == "fail", line.contains("why"));
            if (ownReplies)
                QCOMPARE(line.value("reply").toString().toUtf8(),
                         ReplyTo(line.value("command").toString().toUtf8()));
        }
        QCOMPARE(seen, unsolicited);
        // The summary counts the replies reported, at least one before a signal.
        QCOMPARE(last.value("replies").toInt(), replies);
        QVERIFY(signal == 0 || replies >= 1 || simOptions.contains("--silent"));
        for (const QString& pair : summaryKeys.split(';', Qt::SkipEmptyParts)) {
            const QJsonValue value = last.value(pair.section('=', 0, 0));
            QStringList texts;
            for (const QJsonValue& text : value.toArray())
                texts.append(text.toString());
            QCOMPARE(value.isArray() ? texts.join('|') : value.toVariant().toString(),
                     pair.section('=', 1));
        }
    }
    QFile report(m_folder.filePath("r.xml"));
    QVERIFY(report.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&report);
    while (!xml.atEnd() &&
           !(xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"testsuite")) {
    }
    const QXmlStreamAttributes counts = xml.attributes();
    QStringList read{counts.value("tests").toString(), counts.value("failures").toString(),
                     counts.value("errors").toString()};
    if (junit.count('/') == 3)
        read.append(counts.value("skipped").toString());
    QCOMPARE(read.join('/'), junit);
    // No case passes whose item showed another command's reply, unless the
    // operator allowed a chattering controller.
    report.seek(0);
    static const QRegularExpression passing(
        R"(<testcase [^>]*name="(\d+) [^>]*>\s*<system-out>([^<]*)</system-out>)");
    const QList<QByteArray> lines = items.split('\n');
    const QByteArray xmlText = options.contains("--allow-unsolicited") ? "" : report.readAll();
    for (const QRegularExpressionMatch& match : passing.globalMatch(xmlText)) {
        const QByteArray& line = lines[match.captured(1).toInt() - 1];
        QCOMPARE(match.captured(2).toUtf8(), ReplyTo(line.mid(line.indexOf('=') + 1).trimmed()));
    }
}

// Controllers from a hosts file run side by side: every line names its
// controller, the healthy one cycles at full rate beside a silent and a
// flooding one, the report has a suite each, and the status is the most
// severe.
void TestRunner::fleet() {
    SimProcess sims[3];
    const quint16 healthy = sims[0].Start({"--quiet"}),
                  silent = sims[1].Start({"--quiet", "--silent"}),
                  flooding = sims[2].Start({"--quiet", "--flood"});
    QVERIFY(healthy && silent && flooding);
    const auto controller = [](quint16 port) { return "127.0.0.1:" + QString::number(port); };
    Write(m_folder, Definition(healthy, "Firmware=[0A!?v]\r\n"));
    Write(m_folder,
          ("# station 4\n" + controller(healthy) + "\n\n" + controller(silent) + "\n" +
           controller(flooding) + " # floods\n")
              .toUtf8(),
          "hosts.txt");
    QFile::remove(m_folder.filePath("f.xml"));
    Outcome outcome = RunRunner(m_folder.path(), {"--hosts", "hosts.txt", "--json", "--duration",
                                                  "2", "--timeout", "1.5", "--junit", "f.xml"});
    QVERIFY2(outcome.exitCode == 3, qPrintable(QString::number(outcome.exitCode) + outcome.err));
    QMap<QString, int> replies;
    QJsonObject totals;
    for (const QJsonObject& line : JsonLines(outcome.out)) {
        if (line.contains("totals")) {
            totals = line.value("totals").toObject();
            continue;
        }
        const QJsonObject summary = line.value("summary").toObject();
        const QString name = (summary.isEmpty() ? line : summary).value("controller").toString();
        QVERIFY2(QStringList({controller(healthy), controller(silent), controller(flooding)})
                     .contains(name),
                 qPrintable(name));
        replies[name] += line.contains("reply") ? 1 : 0;
    }
    QCOMPARE(replies.value(controller(silent)) + replies.value(controller(flooding)), 0);
    // Full rate: the healthy one answers about as often as it does alone in
    // the same time (a reply every send delay, some 19 in 2 s).
    const Outcome alone = RunRunner(m_folder.path(), {"--json", "--duration", "2"});
    QCOMPARE(alone.exitCode, 0);
    const int aloneReplies = int(JsonLines(alone.out).size()) - 1;
    QVERIFY2(aloneReplies >= 10 && replies.value(controller(healthy)) >= aloneReplies - 2,
             qPrintable(QStringLiteral("%1 replies beside the others, %2 alone")
                            .arg(replies.value(controller(healthy)))
                            .arg(aloneReplies)));
    QCOMPARE(totals.value("failed").toArray().size(), 2);
    QFile report(m_folder.filePath("f.xml"));
    QVERIFY(report.open(QIODevice::ReadOnly));
    QCOMPARE(report.readAll().count("<testsuite "), 3);

    // In text, every line about one controller names it, its replies too.
    outcome =
        RunRunner(m_folder.path(), {"--hosts", "hosts.txt", "--cycles", "2", "--timeout", "1"});
    QCOMPARE(outcome.exitCode, 3);
    const QStringList lines = QString::fromUtf8(outcome.out).split('\n', Qt::SkipEmptyParts);
    // A late answer to a resend (the loop slowed by the flood on a busy
    // machine) is its own line; the two passes' replies are there once each.
    QVERIFY2(lines.filter("[0A!v=1.00.11]").size() - lines.filter(" LATE ").size() == 2,
             qPrintable(lines.join('\n')));
    QVERIFY(lines.filter(controller(silent) + ": nothing gathered").size() == 1);
    for (const QString& line : lines)
        QVERIFY2(line.startsWith("time ") || line.startsWith("3 controllers: ") ||
                     (line.contains("[0A!v=") ? line.contains(controller(healthy))
                                              : line.contains(QRegularExpression("127.0.0.1:\\d"))),
                 qPrintable(line));
}

void TestRunner::controllersDialled_data() {
    // The hosts file's lines: "healthy" (address and port), "bare" (the
    // address alone) or "never accepting"; none: no hosts file.
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("controllers");
    QTest::addColumn<int>("replies");
    QTest::addColumn<QString>("errLine"); // a line of standard error, %1 the healthy port
    QTest::newRow("a line without a port takes the definition's")
        << QStringList{"bare"} << QStringList{"--cycles", "2"} << 0 << 1 << 2 << QString();
    // Each held to --interval, whose pause between passes is no silence to
    // give up on.
    QTest::newRow("an address given twice")
        << QStringList()
        << QStringList{"--address", "127.0.0.1", "--address", "127.0.0.1",  "--interval",
                       "0.5",       "--timeout", "0.3",       "--duration", "1.35"}
        << 0 << 2 << 6 << QString();
    QTest::newRow("a controller listed again, each line a connection")
        << QStringList{"healthy", "healthy", "bare"} << QStringList{"--cycles", "2"} << 0 << 3 << 6
        << "dialled.txt:2: warning: 127.0.0.1:%1 is listed again (first at line 1); each line is "
           "watched on a connection of its own (2 lines repeat a controller)";
    QTest::newRow("one in flight, behind one that never accepts")
        << QStringList{"never accepting", "healthy"}
        << QStringList{"--max-connecting", "1", "--duration", "1", "--timeout", "5"} << 1 << 2 << 0
        << "127.0.0.1:%1: Could not connect to 127.0.0.1:%1 before the run ended.";
}

// Which controllers a run dials, and when: a summary each, then the totals
// of many.
void TestRunner::controllersDialled() {
    QFETCH(QStringList, hosts);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(int, controllers);
    QFETCH(int, replies);
    QFETCH(QString, errLine);
    SimProcess sim;
    const quint16 healthy = sim.Start({"--quiet"});
    QVERIFY(healthy != 0);
    const NeverAcceptingPort nowhere;
    const QString healthyName = "127.0.0.1:" + QString::number(healthy);
    const QMap<QString, QString> lineOf{
        {"healthy", healthyName},
        {"bare", "127.0.0.1"},
        {"never accepting", QStringLiteral("127.0.0.1:%1").arg(nowhere.port)}};
    QStringList lines;
    for (const QString& kind : hosts)
        lines.append(lineOf.value(kind));
    Write(m_folder, Definition(healthy, "Firmware=[0A!?v]\r\n"));
    Write(m_folder, (lines.join('\n') + '\n').toUtf8(), "dialled.txt");
    const Outcome outcome =
        RunRunner(m_folder.path(),
                  options + QStringList{"--json"} +
                      (hosts.isEmpty() ? QStringList() : QStringList{"--hosts", "dialled.txt"}));
    QVERIFY2(outcome.exitCode == exitCode, outcome.err.constData());
    if (!errLine.isEmpty())
        QVERIFY2(QString::fromUtf8(outcome.err).split('\n').contains(errLine.arg(healthy)),
                 outcome.err.constData());
    const QList<QJsonObject> json = JsonLines(outcome.out);
    int replied = 0, summaries = 0;
    for (const QJsonObject& line : json) {
        const QJsonObject summary = line.value("summary").toObject();
        const QString name = (summary.isEmpty() ? line : summary).value("controller").toString();
        QVERIFY2(line.contains("totals") || name == healthyName || lines.contains(name),
                 qPrintable(name));
        replied += line.contains("reply") ? 1 : 0;
        summaries += summary.isEmpty() ? 0 : 1;
    }
    QCOMPARE(replied, replies);
    QCOMPARE(summaries, controllers);
    const bool totals = controllers > 1;
    QCOMPARE(json.constLast().contains("totals"), totals);
    QCOMPARE(json.size(), replies + controllers + (totals ? 1 : 0));
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

void TestRunner::helpAndVersion() {
    Outcome outcome = RunRunner(m_folder.path(), {"--version"});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.out, QByteArray("zyl-test-run " ZYL_VERSION "\n"));
    outcome = RunRunner(m_folder.path(), {"--help"});
    QCOMPARE(outcome.exitCode, 0);
    for (const char* option : {"--address", "--port", "--cycles", "--duration", "--timeout",
                               "--json", "--junit", "--allow-unsolicited", "6 replies out of step",
                               "--metrics", "--nagios", "--warning", "--critical"})
        QVERIFY2(outcome.out.contains(option), option);
}

void TestRunner::nagios_data() {
    QTest::addColumn<QStringList>("simOptions"); // empty: no controller at all
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // the start of standard output

    const QString perf = "'Read Firmware'=0.";
    QTest::newRow("ok") << QStringList{} << QStringList{} << 0
                        << "ZYL OK - 1 controller, 3 replies | " + perf;
    QTest::newRow("within the thresholds")
        << QStringList{} << QStringList{"--warning", "500", "--critical", "900"} << 0
        << "ZYL OK - 1 controller, 3 replies | " + perf;
    QTest::newRow("over the warning")
        << QStringList{"--delay", "60"} << QStringList{"--warning", "20"} << 1
        << "ZYL WARNING - 1 controller, 3 replies, 1 not OK | " + perf;
    QTest::newRow("over the critical")
        << QStringList{"--delay", "60"} << QStringList{"--warning", "10", "--critical", "20"} << 2
        << "ZYL CRITICAL - 1 controller, 3 replies, 1 not OK | " + perf;
    QTest::newRow("no reply") << QStringList{"--silent"} << QStringList{"--timeout", "1"} << 2
                              << "ZYL CRITICAL - 1 controller, 0 replies, 1 not OK | "
                                 "'Read Firmware'=U;;;0; 'Read Temp'=U;;;0; 'Poll'=U;;;0;\n"
                                 "127.0.0.1:%1 CRITICAL - No complete reply for 1 s";
    QTest::newRow("refused") << QStringList() << QStringList{} << 2
                             << "ZYL CRITICAL - 1 controller, 0 replies, 1 not OK";
    QTest::newRow("usage error") << QStringList{} << QStringList{"--warning", "soon"} << 3
                                 << "ZYL UNKNOWN - --warning wants a whole number";
    QTest::newRow("definition error") << QStringList{} << QStringList{"--hosts", "missing.hosts"}
                                      << 3 << "ZYL UNKNOWN - Cannot open file missing.hosts.";
}

// The plugin's statuses, with its report alone on standard output.
void TestRunner::nagios() {
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    SimProcess sim;
    const quint16 port = simOptions.isEmpty() && exitCode == 2
                             ? RefusedPort()
                             : sim.Start(QStringList{"--quiet"} + simOptions);
    Write(m_folder, Definition(port, kThreeItems), "plugin.tst");
    const Outcome outcome =
        RunRunner(m_folder.path(), QStringList{"--nagios", "plugin.tst"} + options);
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2(outcome.out.startsWith(out.replace("%1", QString::number(port)).toUtf8()),
             outcome.out.constData());
    QCOMPARE(outcome.out.count('\n'), exitCode == 0 || exitCode == 3 ? 1 : 2);
}

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
