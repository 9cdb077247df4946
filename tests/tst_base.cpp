#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/json_line.h"
#include "base/text.h"
#include "base/time_text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <ctime>

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
    void jsonLineAsQJsonDocument_data();
    void jsonLineAsQJsonDocument();
    void timeTextAsQt_data();
    void timeTextAsQt();
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

void TestBase::jsonLineAsQJsonDocument_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");
    QString controls;
    for (char16_t c = 0; c <= 0x20; ++c)
        controls += QChar(c);
    QTest::newRow("quote, backslash, slash, DEL") << QString("a\"b\\c/d\x7f") << 0.0;
    QTest::newRow("every control") << controls << 0.001;
    QTest::newRow("non-ASCII, a pair, half pairs")
        << QStringLiteral(u"\u00e9\u2028\U0001F600") + QChar(0xD800) + 'x' + QChar(0xDC00)
        << 0.123457;
    QTest::newRow("an escaped line's \\xNN") << QString("[\\xff\\\\]") << 12.5;
    QTest::newRow("whole below 2^53, negative") << QString() << -1e15;
    QTest::newRow("whole above 2^53") << QString() << 9.1e15;
    QTest::newRow("large") << QString() << 1.5e300;
    QTest::newRow("minus zero") << QString() << -0.0;
    QTest::newRow("not finite") << QString() << qInf();
}

void TestBase::jsonLineAsQJsonDocument() {
    QFETCH(QString, text);
    QFETCH(double, number);
    const QJsonObject object{{"number", number}, {"text", text}};
    QCOMPARE(TJsonLine()
                 .Number(QLatin1String("number"), number)
                 .Text(QLatin1String("text"), text)
                 .Line(),
             QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void TestBase::timeTextAsQt_data() {
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("utc");
    QTest::addColumn<QString>("local");
    // Each row a second of its own: the texts are kept per second.
    const auto row = [](const char* name, const char* zone, const char* utc, const char* local) {
        QTest::newRow(name) << QByteArray(zone) << QString(utc) << QString(local);
    };
    row("UTC", "UTC", "2026-12-10T13:55:32.007Z", "2026-12-10 13:55:32.007 +00:00");
    row("before 1970", "UTC", "1969-12-31T23:59:59.999Z", "1969-12-31 23:59:59.999 +00:00");
    row("last of winter time", "Europe/Berlin", "2026-03-29T00:59:59.999Z",
        "2026-03-29 01:59:59.999 +01:00");
    row("first of summer time", "Europe/Berlin", "2026-03-29T01:00:00.000Z",
        "2026-03-29 03:00:00.000 +02:00");
    row("back to winter time", "Europe/Berlin", "2026-10-25T01:00:00.500Z",
        "2026-10-25 02:00:00.500 +01:00");
    row("half hours west", "America/St_Johns", "2026-01-05T12:00:00.250Z",
        "2026-01-05 08:30:00.250 -03:30");
}

void TestBase::timeTextAsQt() {
    QFETCH(QByteArray, zone);
    QFETCH(QString, utc);
    QFETCH(QString, local);
    qputenv("TZ", zone);
    tzset();
    const QDateTime time = QDateTime::fromString(utc, Qt::ISODateWithMs);
    QCOMPARE(IsoTimeText(time), utc);
    QCOMPARE(LocalTimeText(time), local);
}

QTEST_MAIN(TestBase)
#include "tst_base.moc"
