#include "sequencing/cycle_rules.h"
#include "sequencing/receive_buffer.h"
#include "sequencing/reply_record.h"

#include <QTest>

namespace {

// The cycle's rules over a definition held here: `commands` for the first
// slots, "[s<slot>]" for the rest, and `items` as the item count.
struct Rules {
    explicit Rules(qsizetype items, QList<QByteArray> commands = {})
        : items(items), commands(std::move(commands)) {
        cycle.CommandOf = [this](int slot) {
            return slot <= this->commands.size() ? this->commands[slot - 1]
                                                 : "[s" + QByteArray::number(slot) + "]";
        };
        cycle.ItemCount = [this] { return this->items; };
    }
    Rules(const Rules&) = delete;
    Rules& operator=(const Rules&) = delete;

    // One send tick followed, when something was sent, by a complete reply.
    // The slot sent, negative for a slot passed over, 0 for nothing at all.
    int Turn() {
        const TCycleRules::TSend send = cycle.SendTick();
        if (send.action == TCycleRules::TSendAction::Skip)
            return -send.slot;
        if (send.action == TCycleRules::TSendAction::None)
            return 0;
        const TCycleRules::TReply reply = cycle.Received("ok]");
        return reply.complete && reply.slot == send.slot ? send.slot : 100 + send.slot;
    }

    qsizetype items;
    QList<QByteArray> commands;
    TCycleRules cycle;
};

QByteArray Euros(int count) {
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "\xe2\x82\xac";
    return text;
}

// Invalid sequences would come back as replacement characters.
bool IsValidUtf8(const QByteArray& text) {
    return QString::fromUtf8(text).toUtf8() == text;
}

} // namespace

class TestCycleRules : public QObject {
    Q_OBJECT

private slots:
    void stepsAndWrap_data();
    void stepsAndWrap();
    void emptyCommandsArePassedOver_data();
    void emptyCommandsArePassedOver();
    void replyCompletion_data();
    void replyCompletion();
    void sendTickStartsANewReply();
    void stepOutsideTheSlots();
    void receiveBufferIsBounded();
    void cutReplyStartsOnACharacterBoundary_data();
    void cutReplyStartsOnACharacterBoundary();
    void escapedText_data();
    void escapedText();
};

void TestCycleRules::stepsAndWrap_data() {
    QTest::addColumn<qsizetype>("items");
    QTest::addColumn<int>("firstStep");
    QTest::addColumn<QList<int>>("sent");
    QTest::newRow("five items") << qsizetype(5) << 1 << QList<int>{1, 2, 3, 4, 5, 1, 2};
    QTest::newRow("no items") << qsizetype(0) << 1 << QList<int>{1, 1, 1};
    QTest::newRow("one line only") << qsizetype(-1) << 1 << QList<int>{1, 1};
    QTest::newRow("18 items") << qsizetype(18) << 17 << QList<int>{17, 18, 1};
    QTest::newRow("25 lines wrap after slot 18") << qsizetype(23) << 17 << QList<int>{17, 18, 1, 2};
    QTest::newRow("beyond a shorter definition") << qsizetype(2) << 5 << QList<int>{5, 1, 2, 1};
}

void TestCycleRules::stepsAndWrap() {
    QFETCH(qsizetype, items);
    QFETCH(int, firstStep);
    QFETCH(QList<int>, sent);
    Rules rules(items);
    rules.cycle.TestStep = firstStep;
    QList<int> turns;
    for (qsizetype i = 0; i < sent.size(); ++i)
        turns.append(rules.Turn());
    QCOMPARE(turns, sent);
}

void TestCycleRules::emptyCommandsArePassedOver_data() {
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<QList<int>>("turns");
    QTest::newRow("one empty") << QList<QByteArray>{"[a]", "", "[c]"} << QList<int>{1, -2, 3, 1};
    QTest::newRow("empty last") << QList<QByteArray>{"[a]", "[b]", ""} << QList<int>{1, 2, -3, 1};
    QTest::newRow("all empty") << QList<QByteArray>{"", "", ""} << QList<int>{-1, -2, -3, -1};
}

void TestCycleRules::emptyCommandsArePassedOver() {
    QFETCH(QList<QByteArray>, commands);
    QFETCH(QList<int>, turns);
    Rules rules(commands.size(), commands);
    for (int expected : turns) {
        if (expected > 0) {
            const TCycleRules::TSend send = rules.cycle.SendTick();
            QCOMPARE(send.action, TCycleRules::TSendAction::Send);
            QCOMPARE(send.command, commands[expected - 1]);
            QVERIFY(rules.cycle.Received("ok]").complete);
        } else {
            QCOMPARE(rules.Turn(), expected);
        }
    }
}

void TestCycleRules::replyCompletion_data() {
    QTest::addColumn<QList<QByteArray>>("pieces");
    // Per piece: the reply it completes, or nothing.
    QTest::addColumn<QList<QByteArray>>("replies");
    using L = QList<QByteArray>;
    QTest::newRow("one piece") << L{"<ok>]"} << L{"<ok>]"};
    QTest::newRow("in pieces") << L{"<par", "tial", "]"} << L{"", "", "<partial]"};
    QTest::newRow("bare terminator") << L{"]"} << L{"]"};
    QTest::newRow("terminator inside a piece") << L{"a]b"} << L{""};
    QTest::newRow("empty piece completes nothing") << L{"one]", ""} << L{"one]", ""};
    QTest::newRow("empty piece first") << L{""} << L{""};
    // Replies are attributed by arrival: a second one before the next send
    // completes the whole buffer again, for the next step.
    QTest::newRow("second reply before the next send") << L{"r1]", "r2]"} << L{"r1]", "r1]r2]"};
}

void TestCycleRules::replyCompletion() {
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<QByteArray>, replies);
    Rules rules(5);
    QCOMPARE(rules.cycle.SendTick().slot, 1);
    int step = 1;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const TCycleRules::TReply reply = rules.cycle.Received(pieces[i]);
        QCOMPARE(reply.complete, !replies[i].isEmpty());
        QCOMPARE(reply.text, replies[i]);
        if (reply.complete)
            QCOMPARE(reply.slot, step++);
        QCOMPARE(rules.cycle.TestStep, step);
    }
    QCOMPARE(rules.cycle.SendTick().slot, step);
}

void TestCycleRules::sendTickStartsANewReply() {
    Rules rules(5);
    rules.cycle.SendTick();
    QVERIFY(!rules.cycle.Received("half a repl").complete);
    rules.cycle.SendTick();
    QCOMPARE(rules.cycle.ReceiveBuffer.StoredSize(), 0);
    QCOMPARE(rules.cycle.Received("y]").text, QByteArray("y]"));
}

void TestCycleRules::stepOutsideTheSlots() {
    Rules rules(23);
    for (int step : {0, -1, kSlotCount + 1}) {
        rules.cycle.TestStep = step;
        QCOMPARE(rules.cycle.SendTick().action, TCycleRules::TSendAction::None);
        // Data ending in "]" still completes a reply, shown nowhere.
        const TCycleRules::TReply reply = rules.cycle.Received("x]");
        QVERIFY(reply.complete);
        QCOMPARE(reply.slot, 0);
    }
    QCOMPARE(rules.cycle.TestStep, 1);
}

void TestCycleRules::receiveBufferIsBounded() {
    TReceiveBuffer buffer;
    buffer.Append(QByteArray(TReceiveBuffer::kMaxKept - 1, 'a'));
    buffer.Append("bc");
    QCOMPARE(buffer.Text().size(), TReceiveBuffer::kMaxKept);
    QVERIFY(buffer.Text().endsWith("abc"));
    QVERIFY(buffer.Text().startsWith("aa"));
    // A flood of small pieces: the store stays within twice the reply bound.
    for (int i = 0; i < 3000; ++i) {
        buffer.Append(QByteArray(1000, char('0' + i % 10)));
        QVERIFY(buffer.StoredSize() <= 2 * TReceiveBuffer::kMaxKept);
    }
    QCOMPARE(buffer.Text().size(), TReceiveBuffer::kMaxKept);
    QVERIFY(buffer.Text().endsWith(QByteArray(1000, '9')));
    buffer.Append(QByteArray(3 * TReceiveBuffer::kMaxKept, 'z') + "]");
    QCOMPARE(buffer.Text().size(), TReceiveBuffer::kMaxKept);
    QVERIFY(buffer.IsComplete());
    buffer.Clear();
    QVERIFY(!buffer.IsComplete());

    QCOMPARE(FieldText(QByteArray(5000, 'x')).size(), 4096);
    // A two-byte character across the cut is left out whole.
    const QByteArray utf8 = QByteArray(4095, 'x') + "\xc3\xa9" + "]";
    QCOMPARE(FieldText(utf8), QByteArray(4095, 'x'));
}

void TestCycleRules::cutReplyStartsOnACharacterBoundary_data() {
    QTest::addColumn<qsizetype>("pieceSize");
    QTest::newRow("one piece") << qsizetype(0);
    // Pieces that cut characters apart.
    QTest::newRow("4096-byte pieces") << qsizetype(4096);
}

void TestCycleRules::cutReplyStartsOnACharacterBoundary() {
    QFETCH(qsizetype, pieceSize);
    // Three bytes per character: 4 bytes beyond the kept 1 MiB.
    const int count = 349'526;
    const QByteArray sent = Euros(count) + "!]";
    Rules rules(1);
    rules.cycle.SendTick();
    TCycleRules::TReply reply;
    const qsizetype step = pieceSize > 0 ? pieceSize : sent.size();
    for (qsizetype at = 0; at < sent.size(); at += step)
        reply = rules.cycle.Received(sent.mid(at, step));
    QVERIFY(reply.complete);
    // The first character and the two bytes left of the second are gone.
    QCOMPARE(reply.text.size(), sent.size() - 6);
    QVERIFY(reply.text == Euros(count - 2) + "!]");
    QVERIFY(IsValidUtf8(reply.text));
    QVERIFY(IsValidUtf8(FieldText(reply.text)));
}

void TestCycleRules::escapedText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");
    QTest::newRow("ascii") << QByteArray("[0A!v=1]") << "[0A!v=1]";
    QTest::newRow("utf-8") << QByteArray("t=\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80")
                           << QString::fromUtf8("t=\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    QTest::newRow("latin-1") << QByteArray("\xe9]") << "\\xe9]";
    QTest::newRow("overlong") << QByteArray("\xc0\x80") << "\\xc0\\x80";
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << "\\xed\\xa0\\x80";
    QTest::newRow("cut short") << QByteArray("\xe2\x82]") << "\\xe2\\x82]";
    QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << "\\xf4\\x90\\x80\\x80";
    QTest::newRow("backslash") << QByteArray("a\\xe9") << "a\\\\xe9";
    QTest::newRow("controls") << QByteArray("a\r\n\tb\x01\x7f", 7) << "a\\r\\n\\tb\\x01\\x7f";
    QTest::newRow("nul") << QByteArray("a\0b", 3) << "a\\x00b";
    // What would break a line, or cannot stand in XML 1.0.
    QTest::newRow("C1, separators, noncharacters")
        << QByteArray("\xc2\x85\xc2\xa0\xe2\x80\xa8\xe2\x80\xa9\xef\xbf\xbe\xef\xbf\xbf")
        << QString::fromUtf8(
               "\\xc2\\x85\xc2\xa0\\xe2\\x80\\xa8\\xe2\\x80\\xa9\\xef\\xbf\\xbe\\xef\\xbf\\xbf");
}

// A reply or a label shown, the same in every output.
void TestCycleRules::escapedText() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    QCOMPARE(EscapedLine(bytes), line);
}

QTEST_GUILESS_MAIN(TestCycleRules)
#include "tst_cycle_rules.moc"
