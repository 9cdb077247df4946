#include "base/text.h"
#include "sequencing/reply_matcher.h"

#include <QTest>

namespace {

using TKind = TReplyMatcher::TKind;

// What a matcher makes of events, a word or two each, joined by "|". The
// events are separated by spaces: ">" is a send tick, "!" a new start
// (Abandon), "_" an empty piece, anything else a piece received. Three items, "[c1]" to "[c3]".
QString Transcript(TReplyMatcher& matcher, const QByteArray& events) {
    matcher.Cycle.CommandOf = [](int slot) { return "[c" + QByteArray::number(slot) + "]"; };
    matcher.Cycle.ItemCount = [] { return qsizetype(3); };
    QStringList words;
    for (const QByteArray& event : events.split(' ')) {
        if (event == "!") {
            matcher.Abandon();
        } else if (event == ">") {
            const TReplyMatcher::TSend send = matcher.Send();
            words << (send.resend ? "resend " : "send ") + QString::number(send.slot);
        } else {
            const QList<TReplyMatcher::TReceived> answers =
                matcher.Received(event == "_" ? "" : event);
            if (answers.isEmpty())
                words << "-";
            for (const TReplyMatcher::TReceived& got : answers) {
                const TReplyRecord& record = got.record;
                const char* const kinds[] = {"reply ", "late ", "unsolicited"};
                QString word = got.outOfStep
                                   ? "out of step after " + QString::number(got.displaces)
                                   : kinds[int(got.kind) - 1] +
                                         (record.slot ? QString::number(record.slot) : "");
                if (record.pass > 1)
                    word += " cycle " + QString::number(record.pass);
                if (record.resends > 0)
                    word += " resends " + QString::number(record.resends);
                words << word + ": " + EscapedLine(record.reply);
            }
        }
    }
    return words.join('|');
}

} // namespace

class TestReplyMatcher : public QObject {
    Q_OBJECT

private slots:
    void policies_data();
    void policies();
};

void TestReplyMatcher::policies_data() {
    QTest::addColumn<QByteArray>("events");
    QTest::addColumn<QString>("byArrival");
    QTest::addColumn<QString>("strict"); // "=": as by arrival
    // Strict: what it says of the command still awaited when the events end.
    QTest::addColumn<QByteArray>("unanswered");
    QTest::newRow("in step") << QByteArray("> r1] > r2]")
                             << "send 1|reply 1: r1]|send 2|reply 2: r2]"
                             << "=" << QByteArray();
    QTest::newRow("wraps to the next pass")
        << QByteArray("> a] > b] > c] > d]")
        << "send 1|reply 1: a]|send 2|reply 2: b]|send 3|reply 3: c]|send 1|reply 1 cycle 2: d]"
        << "=" << QByteArray();
    QTest::newRow("greeting before the first command")
        << QByteArray("[hi] > r1]") << "reply 1: [hi]|send 2|reply 2: r1]"
        << "unsolicited: [hi]|send 1|reply 1: r1]" << QByteArray();
    QTest::newRow("greeting after the first command")
        << QByteArray("> [hi] r1] > r2]")
        << "send 1|reply 1: [hi]|reply 2: [hi]r1]|send 3|reply 3: r2]"
        << "send 1|reply 1: [hi]|out of step after 1: r1]|send 2|reply 2: r2]" << QByteArray();
    QTest::newRow("a copy of each answer")
        << QByteArray("> r1] r1] > r2]")
        << "send 1|reply 1: r1]|reply 2: r1]r1]|send 3|reply 3: r2]"
        << "send 1|reply 1: r1]|out of step after 1: r1]|send 2|reply 2: r2]" << QByteArray();
    // Every "]" ends a reply, however the bytes came in.
    QTest::newRow("a copy in one piece with the next reply")
        << QByteArray("> r1] > r1]r2] x]y") << "send 1|reply 1: r1]|send 2|reply 2: r1]r2]|-"
        << "send 1|reply 1: r1]|send 2|reply 2: r1]|out of step after 2: r2]|"
           "out of step after 2: x]y"
        << QByteArray();
    QTest::newRow("a late answer in one piece with the reply")
        << QByteArray("> > r1]r1] > r2]")
        << "send 1|resend 1|reply 1 resends 1: r1]r1]|send 2|reply 2: r2]"
        << "send 1|resend 1|reply 1 resends 1: r1]|late 1 resends 1: r1]|send 2|reply 2: r2]"
        << QByteArray();
    QTest::newRow("slow, answering every sending")
        << QByteArray("> > r1] r 1] > r2]")
        << "send 1|resend 1|reply 1 resends 1: r1]|-|reply 2: r1]r1]|send 3|reply 3: r2]"
        << "send 1|resend 1|reply 1 resends 1: r1]|-|late 1 resends 1: r1]|send 2|reply 2: r2]"
        << QByteArray();
    QTest::newRow("an answer beyond the resends")
        << QByteArray("> > r1] r1] r1]")
        << "send 1|resend 1|reply 1 resends 1: r1]|reply 2: r1]r1]|reply 3: r1]r1]r1]"
        << "send 1|resend 1|reply 1 resends 1: r1]|late 1 resends 1: r1]|"
           "out of step after 1: r1]"
        << QByteArray();
    // The wait for late answers is over once the next command goes out.
    QTest::newRow("late answer after the next command")
        << QByteArray("> > r1] > r1] r2]")
        << "send 1|resend 1|reply 1 resends 1: r1]|send 2|reply 2: r1]|reply 3: r1]r2]"
        << "send 1|resend 1|reply 1 resends 1: r1]|send 2|reply 2: r1]|out of step after 2: r2]"
        << QByteArray();
    QTest::newRow("a resend keeps what was gathered")
        << QByteArray("> r > 1]") << "send 1|-|resend 1|reply 1 resends 1: 1]"
        << "send 1|-|resend 1|reply 1 resends 1: r1]" << QByteArray();
    QTest::newRow("chatter without a closing bracket")
        << QByteArray("> r1] \r\n > r2]") << "send 1|reply 1: r1]|-|send 2|reply 2: r2]"
        << "send 1|reply 1: r1]|unsolicited: \\r\\n|send 2|reply 2: r2]" << QByteArray();
    // Start Test again after Stop: the command is sent afresh, not resent.
    QTest::newRow("started again") << QByteArray("> ! > r1]") << "send 1|send 1|reply 1: r1]"
                                   << "=" << QByteArray();
    QTest::newRow("a reply ending in ]\\r\\n never completes")
        << QByteArray("> r1]\r\n > r1]\r\n") << "send 1|-|resend 1|-"
        << "="
        << QByteArray("sent in cycle 1, resent 1 time, and not answered when the run ended|"
                      "10 bytes gathered, ending in ']\r\n': a reply ends in ']'|"
                      "gathered: r1]\r\nr1]\r\n");
    QTest::newRow("more gathered than shown")
        << "> " + QByteArray(300, 'x') << "send 1|-"
        << "="
        << "sent in cycle 1 and not answered when the run ended|300 bytes gathered, ending in "
           "'xxxxxxxx': a reply ends in ']'|the last 256 of them: " +
               QByteArray(256, 'x');
}

// Both policies through the same events: by arrival whatever completes is
// the current slot's reply; strictly one reply answers each sending.
void TestReplyMatcher::policies() {
    QFETCH(QByteArray, events);
    QFETCH(QString, byArrival);
    QFETCH(QString, strict);
    QFETCH(QByteArray, unanswered);
    TReplyMatcher window(TReplyMatcher::TPolicy::ByArrival);
    QCOMPARE(Transcript(window, events), byArrival);
    TReplyMatcher runner(TReplyMatcher::TPolicy::Strict);
    QCOMPARE(Transcript(runner, events), strict == "=" ? byArrival : strict);
    QCOMPARE(runner.Awaiting() ? runner.Unanswered().join('|') : QByteArray(), unanswered);
}

QTEST_GUILESS_MAIN(TestReplyMatcher)
#include "tst_reply_matcher.moc"
