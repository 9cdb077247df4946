// The run's output, its JUnit report and the file the report goes to, in
// process: the lines as a stream takes them, the XML as a reader reads it.
#include "base/exceptions.h"
#include "runner/item_tally.h"
#include "runner/junit_report.h"
#include "runner/report_file.h"
#include "runner/report_lines.h"
#include "runner/run_report.h"
#include "test_support.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

// What out wrote in text, a line each, through a stream that is no terminal.
QStringList TextLines(const std::function<void(TRunOutput&)>& write) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), &std::fclose);
    TRunOutput out(file.get(), false, false, 11, false);
    write(out);
    out.Flush();
    std::rewind(file.get());
    QFile text;
    if (!text.open(file.get(), QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(text.readAll()).split('\n', Qt::SkipEmptyParts);
}

TReplyRecord Reply(int pass, const QByteArray& reply) {
    TReplyRecord record;
    record.time = QDateTime::currentDateTimeUtc();
    record.pass = pass;
    record.slot = 1;
    record.label = "Firmware";
    record.command = "[0A!?v]";
    record.reply = reply;
    record.rttMs = 12.5;
    return record;
}

} // namespace

class TestRunReport : public QObject {
    Q_OBJECT

private slots:
    void sameTextInEveryOutput_data();
    void sameTextInEveryOutput();
    void replyJsonAsQJsonDocument_data();
    void replyJsonAsQJsonDocument();
    void rowColumns();
    void textOutput();
    void summaryRoundTrips_data();
    void summaryRoundTrips();
    void junitCases_data();
    void junitCases();
    void reportFile_data();
    void reportFile();
};

void TestRunReport::sameTextInEveryOutput_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("backslash, 0xFF, a control, U+2028")
        << QByteArray("\\[0A!rt=\xff\x01\xe2\x80\xa8]") << "\\\\[0A!rt=\\xff\\x01\\xe2\\x80\\xa8]";
}

void TestRunReport::sameTextInEveryOutput() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    TReplyRecord record = Reply(1, bytes);
    record.verdict = {TVerdict::TOutcome::Fail, "does not match " + bytes};
    const QString failure = "cycle 1: " + shown + ": does not match " + shown;

    const QStringList lines = TextLines([&](TRunOutput& out) { out.Reply("c", record); });
    QCOMPARE(lines.value(1).mid(lines.value(0).indexOf("reply")), shown);

    const QJsonObject json = QJsonDocument::fromJson(ReplyJson("c", record)).object();
    QCOMPARE(json.value("reply").toString(), shown);
    QCOMPARE("cycle 1: " + shown + ": " + json.value("why").toString(), failure);

    TItemTally tally;
    tally.item = {1, "Firmware", "[0A!?v]"};
    tally.AddReply(record, 0);
    QXmlStreamReader xml(JUnitXml({{"s", record.time, 0, {CaseOf(tally, {})}}}));
    QStringList read;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            (xml.name() == u"failure" || xml.name() == u"system-out"))
            read.append(xml.readElementText());
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(read, QStringList({failure + '\n', shown}));
}

void TestRunReport::replyJsonAsQJsonDocument_data() {
    QTest::addColumn<QByteArray>("controller");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<double>("rttMs");
    QTest::addColumn<bool>("late");
    QTest::addColumn<TVerdict::TOutcome>("outcome");
    QTest::newRow("plain, unchecked") << QByteArray("127.0.0.1:3001") << QByteArray("[0A!v=1]")
                                      << 0.0 << false << TVerdict::TOutcome::Unchecked;
    QTest::newRow("escapes, passed")
        << QByteArray("\x01\"\xe9") << QByteArray("\"\\\x01\xff\xc3\xa9\r") << 0.1234567 << false
        << TVerdict::TOutcome::Pass;
    QTest::newRow("late, failed") << QByteArray("c") << QByteArray() << 12345678.9 << true
                                  << TVerdict::TOutcome::Fail;
}

// Read and written again by QJsonDocument, the line stays the same bytes.
void TestRunReport::replyJsonAsQJsonDocument() {
    QFETCH(QByteArray, controller);
    QFETCH(QByteArray, reply);
    QFETCH(double, rttMs);
    QFETCH(bool, late);
    QFETCH(TVerdict::TOutcome, outcome);
    TReplyRecord record = Reply(3, reply);
    record.rttMs = rttMs;
    record.resends = late ? 2 : 0;
    record.late = late;
    record.verdict = {outcome, "\"" + reply + "\" is not [0A!v=1]"};
    const QByteArray line = ReplyJson(controller, record);
    QCOMPARE(QJsonDocument::fromJson(line).toJson(QJsonDocument::Compact), line);
}

// Each column padded to its width, numbers to the right, the label cut.
void TestRunReport::rowColumns() {
    const TReportRow row{"t", "127.0.0.1:3001", "1",   "2", "Firmware", "12.500",
                         "0", "PASS",           "[0A]"};
    const auto gap = [](int spaces) { return QByteArray(spaces, ' '); };
    QCOMPARE(RowText(row, 6, true), "t" + gap(31) + "127.0.0.1:3001" + gap(13) + "1" + gap(5) +
                                        "2" + gap(2) + "Firmw\u2026" + gap(6) + "12.500" + gap(8) +
                                        "0  PASS   [0A]");
}

// One line per reply in fixed columns under a header, the reply last; bytes
// that are not UTF-8 and line breaks shown escaped.
void TestRunReport::textOutput() {
    const QByteArray reply = "[0A!v=\xff\r\n\xc3\xa9]";
    TRunSummary summary;
    summary.passes = 2;
    TItemTally tally;
    tally.item = {1, "Firmware", "[0A!?v]"};
    const QStringList lines = TextLines([&](TRunOutput& out) {
        for (const int pass : {1, 2}) {
            out.Reply("127.0.0.1:1", Reply(pass, reply));
            tally.AddReply(Reply(pass, reply), 0);
        }
        summary.items = {tally};
        out.Summary(summary);
    });
    QCOMPARE(lines.size(), 7);
    const QString& header = lines[0];
    const QRegularExpression row(QStringLiteral(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d\d:\d\d +(\d) {5}1  Firmware {5} +)"
        R"((\d+\.\d{3})  +0 {9}(\[0A!v=\\xff\\r\\n\x{e9}\])$)"));
    for (const int pass : {1, 2}) {
        const QString& line = lines[pass];
        const QRegularExpressionMatch match = row.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(1).toInt(), pass);
        QCOMPARE(match.capturedEnd(1), header.indexOf("cycle") + 5);
        QCOMPARE(match.capturedEnd(2), header.indexOf("rtt ms") + 6);
        QCOMPARE(match.capturedStart(3), header.indexOf("reply"));
    }
    QCOMPARE(lines[3], "2 replies, 0 resends, 2 cycles completed");
    QVERIFY(lines[4].startsWith("round trip ms: min "));
    QVERIFY(lines[6].startsWith("   1  Firmware           2        0       0       0  min "));
}

void TestRunReport::summaryRoundTrips_data() {
    QTest::addColumn<QList<double>>("rttsMs");
    QTest::addColumn<double>("p99Ms"); // by nearest rank
    // Over 100 round trips: the p99 is the second slowest, not the slowest.
    QList<double> slowestFirst{200.25};
    for (int ms = 101; ms >= 1; --ms)
        slowestFirst.append(ms + 0.25);
    QTest::newRow("102 round trips") << slowestFirst << 101.25;
    QTest::newRow("one round trip") << QList<double>{12.5} << 12.5;
}

// The round trips a summary gives, within the histogram's 1 % (and the
// output's microsecond), in order.
void TestRunReport::summaryRoundTrips() {
    QFETCH(QList<double>, rttsMs);
    QFETCH(double, p99Ms);
    TItemTally tally;
    tally.item = {1, "Firmware", "[0A!?v]"};
    for (const double ms : rttsMs) {
        TReplyRecord record = Reply(1, "[0A!v=1]");
        record.rttMs = ms;
        tally.AddReply(record, 0);
    }
    TRunSummary summary;
    summary.items = {tally};
    const QJsonObject json =
        QJsonDocument::fromJson(SummaryJson(summary)).object().value("summary").toObject();
    QCOMPARE(json.value("replies").toInt(), rttsMs.size());
    const QJsonObject rtt = json.value("rtt_ms").toObject();
    QVERIFY(rtt.value("min").toDouble() <= rtt.value("median").toDouble());
    QVERIFY(rtt.value("median").toDouble() <= rtt.value("p99").toDouble());
    QVERIFY(rtt.value("p99").toDouble() <= rtt.value("max").toDouble());
    QVERIFY2(qAbs(rtt.value("p99").toDouble() - p99Ms) <= 0.01 * p99Ms + 0.001,
             qPrintable(QString::number(rtt.value("p99").toDouble())));
}

void TestRunReport::junitCases_data() {
    QTest::addColumn<QByteArray>("command"); // of the item in slot 1
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("gaveUp");      // the run gave up waiting on it
    QTest::addColumn<QString>("testCase"); // "name:outcome[:message or output]"
    QTest::newRow("passed with its reply")
        << QByteArray("[0A!?v]") << true << false << "1 Item:out:[0A!v=1.00.11]";
    QTest::newRow("empty command")
        << QByteArray() << false << false << "1 Item:skipped:empty command";
    QTest::newRow("given up")
        << QByteArray("[0A!?rt") << false << true
        << "1 Item:failure:No complete reply for 1 s: gave up waiting on slot 1 (Item)";
    QTest::newRow("not reached") << QByteArray("[0A!p]") << false << false
                                 << "1 Item:skipped:not reached";
}

// A case per item: passed with its reply, failed where the run gave up,
// skipped where it never got to or had nothing to send; the suite counts
// each kind.
void TestRunReport::junitCases() {
    QFETCH(QByteArray, command);
    QFETCH(bool, answered);
    QFETCH(bool, gaveUp);
    QFETCH(QString, testCase);
    TItemTally tally;
    tally.item = {1, "Item", command};
    if (answered)
        tally.AddReply(Reply(1, "[0A!v=1.00.11]"), 0);
    TRunEnd end;
    if (gaveUp)
        end = {1, true, "No complete reply for 1 s: gave up waiting on slot 1 (Item)", {}};
    QXmlStreamReader xml(
        JUnitXml({{"bench", QDateTime::currentDateTimeUtc(), 1, {CaseOf(tally, end)}}}));
    QString read;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == u"testsuite") {
            QCOMPARE(attributes.value("name"), u"bench");
            QCOMPARE(attributes.value("tests"), u"1");
            QCOMPARE(attributes.value("failures").toInt(), gaveUp ? 1 : 0);
            QCOMPARE(attributes.value("skipped").toInt(), testCase.contains(":skipped:") ? 1 : 0);
        } else if (xml.name() == u"testcase") {
            read = attributes.value("name").toString();
        } else if (xml.name() == u"failure" || xml.name() == u"skipped") {
            read += ':' + xml.name().toString() + ':' + attributes.value("message").toString();
        } else if (xml.name() == u"system-out") {
            read += ":out:" + xml.readElementText();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(read, testCase);
}

void TestRunReport::reportFile_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason"); // empty: written
    QTest::newRow("written whole") << ""
                                   << "";
    // As a full disk does, the kernel takes the first bytes and refuses the
    // rest.
    QTest::newRow("file size limit") << "size limit"
                                     << "Cannot write file r.xml (File too large)";
    QTest::newRow("rename refused") << "directory"
                                    << "Cannot write file r.xml (";
}

// A report takes its place whole or not at all: the last one stays, and no
// temporary file is left.
void TestRunReport::reportFile() {
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    const QString name = folder.filePath("r.xml");
    QVERIFY(WriteFile(name, "<last/>"));
    const QByteArray report(64 * 1024, 'x');
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    QString thrown;
    try {
        TReportFile file(name);
        if (fault == "directory")
            QVERIFY(QFile::remove(name) && QDir().mkdir(name));
        const rlimit limit{4096, unlimited.rlim_max};
        // The signal would end the process rather than fail the write.
        const auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
        if (fault == "size limit")
            ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto restore = qScopeGuard([&] {
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
            std::signal(SIGXFSZ, xfsz);
        });
        file.Commit(report);
    } catch (const EFOpenError& error) {
        thrown = QString::fromUtf8(error.Message() + " (" + error.Reason() + ")");
    }
    QVERIFY2(reason.isEmpty() ? thrown.isEmpty()
                              : thrown.startsWith(QString(reason).replace("r.xml", name)),
             qPrintable(thrown));
    QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"r.xml"});
    QFile written(name);
    if (fault != "directory") {
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), fault.isEmpty() ? report : QByteArray("<last/>"));
    }
}

QTEST_GUILESS_MAIN(TestRunReport)
#include "tst_run_report.moc"
