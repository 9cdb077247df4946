#include "sequencing/reply_checks.h"
#include "test_support.h"

#include <QTest>

namespace {
const QList<QByteArray> kLabels = {"T", "Other"};
const QString kFile = QStringLiteral("c.toml");
using O = TVerdict::TOutcome;
} // namespace
Q_DECLARE_METATYPE(TVerdict::TOutcome)

class TestReplyChecks : public QObject {
    Q_OBJECT

private slots:
    void judge_data();
    void judge();
    void refuses_data();
    void refuses();
    void readsTheFileBesideTheDefinition();
};

void TestReplyChecks::judge_data() {
    QTest::addColumn<QByteArray>("checks"); // the keys of table "T"
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<double>("rtt");
    QTest::addColumn<O>("outcome");
    QTest::addColumn<QByteArray>("why");
    const QByteArray temp = R"(match = '\[rt=(-?[\d.]+)\]')";
    QTest::newRow("equals differs") << QByteArray(R"(equals = "[v=1]")") << QByteArray("[v=1] ")
                                    << 1.0 << O::Fail << QByteArray("does not equal [v=1]");
    QTest::newRow("equals is UTF-8 bytes")
        << QByteArray(R"(equals = "[20°]")") << QByteArray("[20\xb0]") << 1.0 << O::Fail
        << QByteArray("does not equal [20\xc2\xb0]");
    QTest::newRow("match from the start")
        << QByteArray(R"(match = 'v=\d\]')") << QByteArray("[v=1]") << 1.0 << O::Fail
        << QByteArray(R"(does not match v=\d\])");
    QTest::newRow("match to the end") << QByteArray(R"(match = '\[v=\d')") << QByteArray("[v=12]")
                                      << 1.0 << O::Fail << QByteArray(R"(does not match \[v=\d)");
    QTest::newRow("match a longer alternative")
        << QByteArray("match = 'a|ab'") << QByteArray("ab") << 1.0 << O::Pass << QByteArray();
    QTest::newRow("in range") << temp + "\nmin = 10\nmax = 60" << QByteArray("[rt=38.5]") << 1.0
                              << O::Pass << QByteArray();
    QTest::newRow("above max") << temp + "\nmin = 10\nmax = 60" << QByteArray("[rt=72.5]") << 1.0
                               << O::Fail << QByteArray("72.5 above max 60");
    QTest::newRow("below min") << temp + "\nmin = 10.5" << QByteArray("[rt=-3]") << 1.0 << O::Fail
                               << QByteArray("-3 below min 10.5");
    QTest::newRow("bound on the edge")
        << temp + "\nmax = 0.1" << QByteArray("[rt=0.1]") << 1.0 << O::Pass << QByteArray();
    QTest::newRow("not a number") << QByteArray("match = '\\[rt=(.*)\\]'\nmax = 60")
                                  << QByteArray("[rt=1.2.3]") << 1.0 << O::Fail
                                  << QByteArray("not a number: 1.2.3");
    QTest::newRow("group left out")
        << QByteArray("match = '\\[(x)?.*'\nmin = 0") << QByteArray("[y]") << 1.0 << O::Fail
        << QByteArray("not a number: (empty)");
    QTest::newRow("byte of invalid UTF-8")
        << QByteArray(R"(match = '\[\xB0\x00\]')") << QByteArray("[\xb0\0]", 4) << 1.0 << O::Pass
        << QByteArray();
    QTest::newRow("non-ASCII pattern matches its UTF-8")
        << QByteArray("match = '\\[°\\]'") << QByteArray("[\xc2\xb0]") << 1.0 << O::Pass
        << QByteArray();
    // Characters the TOML library would misread as blanks, where it asks.
    QTest::newRow("misread character")
        << QByteArray("# \xc2\xb0\nmatch = \"\"\"\\\\[\\\n \xc2\xb0\\\\]\"\"\"")
        << QByteArray("[\xc2\xb0]") << 1.0 << O::Pass << QByteArray();
    QTest::newRow("rtt within") << QByteArray("max_rtt_ms = 50") << QByteArray("]") << 50.0
                                << O::Pass << QByteArray();
    QTest::newRow("rtt above") << QByteArray("max_rtt_ms = 50") << QByteArray("]") << 83.0
                               << O::Fail << QByteArray("83 ms above 50 ms");
    QTest::newRow("rtt just above") << QByteArray("max_rtt_ms = 50") << QByteArray("]") << 50.01
                                    << O::Fail << QByteArray("50.1 ms above 50 ms");
    QTest::newRow("first reason wins")
        << QByteArray("max_rtt_ms = 1\nequals = 'x'") << QByteArray("]") << 83.0 << O::Fail
        << QByteArray("does not equal x");
    const QByteArray runaway = QByteArray(1024 * 1024, 'a') + "]";
    QTest::newRow("too costly") << QByteArray("match = '(a+)+$'") << runaway << 1.0 << O::Fail
                                << QByteArray("check too costly");
    QTest::newRow("whole scans per step") << QByteArray("match = '(?:(?=a+)a)+$'") << runaway << 1.0
                                          << O::Fail << QByteArray("check too costly");
    // Steps times reply bytes stay within one budget: a pattern that scans
    // ahead at every byte of 8 KiB passes under a fixed limit, but not here.
    QTest::newRow("limit shrinks as the reply grows")
        << QByteArray("match = '(?:(?=a+)a)+'") << QByteArray(8 * 1024, 'a') << 1.0 << O::Fail
        << QByteArray("check too costly");
    QTest::newRow("pattern cannot raise the limit")
        << QByteArray("match = '(*UTF)(*LIMIT_MATCH=100000000)(a+)+$'") << runaway << 1.0 << O::Fail
        << QByteArray("check too costly");
    QTest::newRow("other label") << QByteArray() << QByteArray("]") << 1.0 << O::Unchecked
                                 << QByteArray();
}

void TestReplyChecks::judge() {
    QFETCH(QByteArray, checks);
    QFETCH(QByteArray, reply);
    QFETCH(double, rtt);
    QFETCH(O, outcome);
    QFETCH(QByteArray, why);
    const QByteArray table = outcome == O::Unchecked ? "[Other]\n" : "[T]\n";
    const TReplyChecks rules = TReplyChecks::Parse(table + checks, kFile, kLabels);
    const TVerdict verdict = rules.Judge("T", reply, rtt);
    QCOMPARE(verdict.outcome, outcome);
    QCOMPARE(verdict.why, why);
}

void TestReplyChecks::refuses_data() {
    QTest::addColumn<QByteArray>("checks");
    QTest::addColumn<QByteArray>("message"); // its start
    QTest::newRow("syntax") << QByteArray("[T]\nmax = 6 0")
                            << QByteArray("c.toml:2:9: TOML syntax");
    QTest::newRow("unknown key") << QByteArray("[T]\n maximum = 5")
                                 << QByteArray("c.toml:2:2: unknown key \"maximum\" (known: ");
    QTest::newRow("number as text") << QByteArray("[T]\nmax = \"60\"")
                                    << QByteArray("c.toml:2:7: max must be a number, not text");
    QTest::newRow("pattern") << QByteArray("[T]\nmatch = 'a(b'")
                             << QByteArray("c.toml:2:9: match does not compile at character 4: ");
    QTest::newRow("anchoring") << QByteArray("[T]\nmatch = '(?x)a # note'")
                               << QByteArray("c.toml:2:9: match cannot be made to cover");
    QTest::newRow("min without group")
        << QByteArray("[T]\nmatch = 'x'\nmin = 1")
        << QByteArray("c.toml:3:7: min and max need a match with a group");
    QTest::newRow("min above max") << QByteArray("[T]\nmatch = '(.*)'\nmin = 2\nmax = 1.5")
                                   << QByteArray("c.toml:4:7: min 2 above max 1.5");
    QTest::newRow("negative time") << QByteArray("[T]\nmax_rtt_ms = -1")
                                   << QByteArray("c.toml:2:14: max_rtt_ms must not be negative");
    QTest::newRow("not an item") << QByteArray("[T]\n[\"T \"]")
                                 << QByteArray("c.toml:2:2: no item of the definition is "
                                               "labelled \"T \"");
    QTest::newRow("not a table") << QByteArray("T = 5")
                                 << QByteArray("c.toml:1:5: \"T\" must be a table of checks, not a "
                                               "number");
    QTest::newRow("private use") << QByteArray("[T]\nequals = '\xf3\xb0\x80\x80'")
                                 << QByteArray("c.toml:2:11: private-use characters");
    QTest::newRow("table given twice")
        << QByteArray("[T]\nmatch = 'x'\n\n[Other]\nequals = 'y'\n[ \"T\" ] # again\nmin = 1")
        << QByteArray("c.toml:6:1: \"T\" is given twice, at lines 1 and 6");
    QTest::newRow("table given by a key, then a header")
        << QByteArray("T.equals = 'x'\r\n['T']\r\n")
        << QByteArray("c.toml:2:1: \"T\" is given twice, at lines 1 and 2");
    QTest::newRow("a key given twice is syntax")
        << QByteArray("[T]\nequals = 'x'\nequals = 'y'") << QByteArray("c.toml:3:10: TOML syntax");
    // Editors may start a file with one; the columns are as they show them.
    QTest::newRow("byte-order mark")
        << QByteArray("\xEF\xBB\xBFT = 5") << QByteArray("c.toml:1:5: \"T\" must be a table");
    QTest::newRow("first in the file") << QByteArray("[T]\nzz = 1\n[Other]\naa = 1")
                                       << QByteArray("c.toml:2:1: unknown key \"zz\"");
}

void TestReplyChecks::refuses() {
    QFETCH(QByteArray, checks);
    QFETCH(QByteArray, message);
    try {
        TReplyChecks::Parse(checks, kFile, kLabels);
        QFAIL("accepted");
    } catch (const EChecksError& error) {
        QVERIFY2(error.Message().startsWith(message), error.Message().constData());
    }
}

void TestReplyChecks::readsTheFileBesideTheDefinition() {
    QCOMPARE(ChecksFileOf(QStringLiteral("/d/default1.tst")),
             QStringLiteral("/d/default1.checks.toml"));
    QCOMPARE(ChecksFileOf(QStringLiteral("A.TST")), QStringLiteral("A.checks.toml"));
    QCOMPARE(ChecksFileOf(QStringLiteral("a.tst.txt")), QStringLiteral("a.tst.txt.checks.toml"));
    WorkingFolder folder;
    QVERIFY_THROWS_EXCEPTION(EFOpenError, TReplyChecks::Read(QStringLiteral("none.toml"), kLabels));
    folder.Write(QStringLiteral("big.toml"), QByteArray(kMaxChecksBytes + 1, '#'));
    QVERIFY_THROWS_EXCEPTION(EChecksError, TReplyChecks::Read(QStringLiteral("big.toml"), kLabels));
    folder.Write(QStringLiteral("ok.toml"), "[T]\nequals = 'x'\n");
    QCOMPARE(TReplyChecks::Read(QStringLiteral("ok.toml"), kLabels).Judge("T", "y", 0).why,
             QByteArray("does not equal x"));
}

QTEST_MAIN(TestReplyChecks)
#include "tst_reply_checks.moc"
