#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"

#include <QTest>

class TestBase : public QObject {
    Q_OBJECT

private slots:
    void strToIntAccepts_data();
    void strToIntAccepts();
    void strToIntRejects_data();
    void strToIntRejects();
    void splitLines_data();
    void splitLines();
    void splitLinesCutsLongLines();
    void displayTextKeepsEveryByte();
    void errorDisplayText_data();
    void errorDisplayText();
    void guardedRunsTheHandlerItself();
};

void TestBase::strToIntAccepts_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << QByteArray("3001") << 3001;
    QTest::newRow("leading spaces") << QByteArray("   42") << 42;
    QTest::newRow("plus") << QByteArray("+7") << 7;
    QTest::newRow("minus") << QByteArray("-1") << -1;
    QTest::newRow("leading zero is decimal") << QByteArray("010") << 10;
    QTest::newRow("max") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("min") << QByteArray("-2147483648") << int(-2147483648LL);
    QTest::newRow("dollar") << QByteArray("$1F") << 31;
    QTest::newRow("x") << QByteArray("x10") << 16;
    QTest::newRow("X") << QByteArray("Xff") << 255;
    QTest::newRow("0x") << QByteArray("0x7fffffff") << 2147483647;
    QTest::newRow("0X") << QByteArray("0XBB9") << 3001;
    QTest::newRow("hex pattern is signed") << QByteArray("$FFFFFFFF") << -1;
    QTest::newRow("leading zeros do not count") << QByteArray("$000000000001") << 1;
    QTest::newRow("spaces before hex") << QByteArray(" $10") << 16;
}

void TestBase::strToIntAccepts() {
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QCOMPARE(StrToInt(text), value);
}

void TestBase::strToIntRejects_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("blank") << QByteArray(" ");
    QTest::newRow("tab") << QByteArray("\t1");
    QTest::newRow("trailing space") << QByteArray("1 ");
    QTest::newRow("sign only") << QByteArray("-");
    QTest::newRow("double sign") << QByteArray("+-1");
    QTest::newRow("above max") << QByteArray("2147483648");
    QTest::newRow("below min") << QByteArray("-2147483649");
    QTest::newRow("huge") << QByteArray("99999999999999999999999");
    QTest::newRow("prefix only") << QByteArray("$");
    QTest::newRow("0x only") << QByteArray("0x");
    QTest::newRow("nine hex digits") << QByteArray("$100000000");
    QTest::newRow("signed hex") << QByteArray("-$10");
    QTest::newRow("bad hex") << QByteArray("$1G");
    QTest::newRow("letters") << QByteArray("abc");
    QTest::newRow("space inside") << QByteArray("1 2");
    QTest::newRow("nul inside") << QByteArray("1\0"
                                              "2",
                                              3);
}

void TestBase::strToIntRejects() {
    QFETCH(QByteArray, text);
    try {
        StrToInt(text);
        QFAIL("accepted");
    } catch (const EConvertError& error) {
        QCOMPARE(error.Message(), "'" + text + "' is not a valid integer value");
    }
}

void TestBase::splitLines_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("lines");
    using L = QList<QByteArray>;
    QTest::newRow("empty") << QByteArray() << L{};
    QTest::newRow("one line no break") << QByteArray("a") << L{"a"};
    QTest::newRow("final break adds no line") << QByteArray("a\r\n") << L{"a"};
    QTest::newRow("crlf cr lf") << QByteArray("a\r\nb\rc\nd") << L{"a", "b", "c", "d"};
    QTest::newRow("lf cr is two breaks") << QByteArray("a\n\rb") << L{"a", "", "b"};
    QTest::newRow("blank line before end counts") << QByteArray("a\n\n") << L{"a", ""};
    QTest::newRow("only a break") << QByteArray("\n") << L{""};
    QTest::newRow("cr at end") << QByteArray("a\r") << L{"a"};
}

void TestBase::splitLines() {
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, lines);
    QCOMPARE(SplitLines(text, kMaxLineLength), lines);
}

void TestBase::splitLinesCutsLongLines() {
    const QByteArray longLine(4 * 1024 * 1024, 'x');
    QList<qsizetype> cut;
    const QList<QByteArray> lines = SplitLines(
        longLine + "\nshort\r\n" + QByteArray(kMaxLineLength, 'y'), kMaxLineLength, &cut);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0].size(), kMaxLineLength);
    QCOMPARE(lines[1], QByteArray("short"));
    // A line of the longest length is whole.
    QCOMPARE(cut, QList<qsizetype>{0});
}

void TestBase::displayTextKeepsEveryByte() {
    QCOMPARE(DisplayText("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    const QByteArray latin("caf\xe9");
    QCOMPARE(DisplayText(latin), QStringLiteral("caf\u00e9"));
    QByteArray all;
    for (int c = 1; c < 256; ++c)
        all.append(char(c));
    QCOMPARE(DisplayText(all).size(), 255);
    QCOMPARE(UpToNul(QByteArray("ab\0cd", 5)), QByteArray("ab"));
}

void TestBase::errorDisplayText_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("letter") << QByteArray("Cannot open file default1.tst")
                            << QByteArray("Cannot open file default1.tst.");
    QTest::newRow("digit") << QByteArray("Asynchronous socket error 111")
                           << QByteArray("Asynchronous socket error 111.");
    QTest::newRow("quote") << QByteArray("on API 'connect'") << QByteArray("on API 'connect'");
    QTest::newRow("paren") << QByteArray("x)") << QByteArray("x)");
    QTest::newRow("full stop") << QByteArray("x.") << QByteArray("x.");
    QTest::newRow("blank") << QByteArray("x ") << QByteArray("x ");
    QTest::newRow("slash is above") << QByteArray("x/") << QByteArray("x/.");
    QTest::newRow("high byte is unsigned") << QByteArray("x\xe9") << QByteArray("x\xe9.");
}

void TestBase::errorDisplayText() {
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, shown);
    QCOMPARE(ErrorDisplayText(message), shown);
}

void TestBase::guardedRunsTheHandlerItself() {
    QByteArrayList sunk;
    SetErrorSink([&sunk](const QByteArray& message) { sunk << message; });
    int calls = 0;
    auto counting = [&calls, own = 0]() mutable { calls = ++own; };
    Guarded(counting);
    Guarded(counting); // the same object, not a copy: its own count goes on
    Guarded([] { throw EConvertError("bad number"); });
    SetErrorSink(nullptr);
    QCOMPARE(calls, 2);
    QCOMPARE(sunk, QByteArrayList{"bad number"});
}

QTEST_MAIN(TestBase)
#include "tst_base.moc"
