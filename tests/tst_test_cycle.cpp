#include "controls/memo.h"
#include "controls/timer.h"
#include "form_fixture.h"
#include "sequencing/receive_buffer.h"

#include <QSet>
#include <QTest>

namespace {
QList<QByteArray> Commands(std::initializer_list<int> items) {
    QList<QByteArray> commands;
    for (int i : items)
        commands.append("[c" + QByteArray::number(i) + "]");
    return commands;
}
} // namespace

class TestTestCycle : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }
    void receiveBufferIsBounded();
    void commandsCycleAndWrap();
    void noItemsSendsOnlySlotOne();
    void replyInPiecesAndBareTerminator();
    void silentControllerGetsResends();
    void repliesAreAttributedByArrival();
    void stopSendsNothingMore();
    void disconnectKeepsTestRunningAndResumes();
    void peerClosesOrResetsDuringTest();
    void shorterDefinitionWhileRunning();
    void wrapsAfterTheLastSlot();
    void floodWithoutTerminator();
    void readWithNothingNewDoesNothing();
    void replyRepaintsOnlyTheFieldsItChanges();
};

void TestTestCycle::receiveBufferIsBounded() {
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

void TestTestCycle::commandsCycleAndWrap() {
    FormFixture f(5);
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Stop Test"));
    QTRY_VERIFY_WITH_TIMEOUT(f.peer.commands.size() >= 7, 5000);
    QCOMPARE(f.peer.commands.mid(0, 7), Commands({1, 2, 3, 4, 5, 1, 2}));
    // Slot 1 shows the reply as it came, like every other slot.
    QCOMPARE(f.form.Slot(1).Result->Text(), QByteArray("<[c1]>]"));
    QCOMPARE(f.form.Slot(5).Result->Text(), QByteArray("<[c5]>]"));
    f.form.BitBtnStartTest->click();
    const int shaded = f.form.TestStep == 1 ? 5 : f.form.TestStep - 1;
    for (int s = 1; s <= kSlotCount; ++s)
        QCOMPARE(f.form.Slot(s).Result->Color(), s == shaded ? TColor::clMenu : TColor::clWindow);
}

void TestTestCycle::noItemsSendsOnlySlotOne() {
    FormFixture f(0);
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_VERIFY_WITH_TIMEOUT(f.peer.received.size() >= 3 * 9, 3000);
    // The designed command of slot 1, with its line break.
    QVERIFY(f.peer.received.startsWith("[0A!?v]\r\n[0A!?v]\r\n[0A!?v]\r\n"));
    QCOMPARE(f.form.TestStep, 1);
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::replyInPiecesAndBareTerminator() {
    FormFixture f(3);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 1, 3000);
    f.peer.Send("<par");
    QTest::qWait(30);
    f.peer.Send("tial");
    QTest::qWait(30);
    QCOMPARE(f.form.TestStep, 1);
    QVERIFY(f.form.Slot(1).Result->Text().isEmpty());
    f.peer.Send("]");
    QTRY_COMPARE_WITH_TIMEOUT(f.form.Slot(1).Result->Text(), QByteArray("<partial]"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 2, 3000);
    f.peer.Send("]");
    QTRY_COMPARE_WITH_TIMEOUT(f.form.Slot(2).Result->Text(), QByteArray("]"), 3000);
    QCOMPARE(f.form.TestStep, 3);
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::silentControllerGetsResends() {
    FormFixture f(3);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_VERIFY_WITH_TIMEOUT(f.peer.commands.size() >= 3, 4000);
    QCOMPARE(f.peer.commands.mid(0, 3), Commands({1, 1, 1}));
    for (int i = 1; i < 3; ++i) {
        const qint64 period = f.peer.sentAt[i] - f.peer.sentAt[i - 1];
        QVERIFY2(period >= 1080 && period < 1300, qPrintable(QString::number(period)));
    }
    QCOMPARE(f.form.TestStep, 1);
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::repliesAreAttributedByArrival() {
    FormFixture f(5);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 2, 3000); // the send and its resend
    f.peer.Send("r1]");
    QTRY_COMPARE_WITH_TIMEOUT(f.form.TestStep, 2, 3000);
    f.peer.Send("r2]");
    // Before the next send empties the buffer, the second answer completes it
    // again: shown whole in the next slot, and the step moves on once more.
    QTRY_COMPARE_WITH_TIMEOUT(f.form.TestStep, 3, 3000);
    QCOMPARE(f.form.Slot(1).Result->Text(), QByteArray("r1]"));
    QCOMPARE(f.form.Slot(2).Result->Text(), QByteArray("r1]r2]"));
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 3, 3000);
    QCOMPARE(f.peer.commands.last(), QByteArray("[c3]"));
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::stopSendsNothingMore() {
    FormFixture f(3);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 1, 3000);
    f.form.BitBtnStartTest->click();
    QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Start Test"));
    QVERIFY(!f.form.Timer1->Enabled());
    QVERIFY(!f.form.TimerWatchDog->Enabled());
    QTest::qWait(1300); // past the watchdog's second
    QCOMPARE(f.peer.commands.size(), 1);
}

void TestTestCycle::disconnectKeepsTestRunningAndResumes() {
    FormFixture f(3);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 1, 3000);
    f.form.BitBtnDisconnect->click();
    QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Stop Test"));
    QVERIFY(!f.form.BitBtnStartTest->isEnabled());
    QVERIFY(!f.form.Timer1->Enabled());
    QVERIFY(f.form.TimerWatchDog->Enabled());
    // Reconnect: the cycle goes on by itself at the same step.
    QVERIFY(f.Connect());
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 2, 3000);
    QCOMPARE(f.peer.commands.last(), QByteArray("[c1]"));
    QVERIFY(f.boxes.boxes.isEmpty());
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::peerClosesOrResetsDuringTest() {
    FormFixture f(3);
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_VERIFY_WITH_TIMEOUT(f.peer.commands.size() >= 2, 3000);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    f.peer.Reset();
    // The reset is reported; the next send fails and closes the connection.
    QTRY_VERIFY_WITH_TIMEOUT(f.boxes.boxes.size() >= 2, 4000);
    QCOMPARE(f.boxes.boxes[0].text, QStringLiteral("Asynchronous socket error 104."));
    QVERIFY2(f.boxes.boxes[1].text.endsWith(QStringLiteral("on API 'send'")),
             qPrintable(f.boxes.boxes[1].text));
    QVERIFY(f.statuses.contains("Disconnected from 127.0.0.1"));
    QCOMPARE(f.States(), QStringLiteral("E----"));
    QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Stop Test"));

    // Back on line, then an orderly close: no error box for it.
    QVERIFY(f.Connect());
    f.boxes.boxes.clear();
    f.peer.Close();
    QTRY_COMPARE_WITH_TIMEOUT(f.statuses.last(), QByteArray("Disconnected from 127.0.0.1"), 3000);
    QVERIFY(f.boxes.boxes.isEmpty());
    f.form.BitBtnDisconnect->click();
}

void TestTestCycle::shorterDefinitionWhileRunning() {
    FormFixture f(5);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.TestStep = 5;
    const QString shorter = f.folder.Write(
        QStringLiteral("short.tst"), "IP=127.0.0.1\r\nPort=1\r\nNew 1=[n1]\r\nNew 2=[n2]\r\n");
    AnswerOpenDialog(shorter);
    f.form.Open1Click(nullptr);
    f.form.BitBtnStartTest->click();
    // Slot 5 keeps its old command; the wrap comes after its reply.
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 1, 3000);
    QCOMPARE(f.peer.commands.last(), QByteArray("[c5]"));
    f.peer.Send("five]");
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 2, 3000);
    QCOMPARE(f.peer.commands.last(), QByteArray("[n1]"));
    QCOMPARE(f.form.Slot(5).Result->Text(), QByteArray("five]"));
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::wrapsAfterTheLastSlot() {
    FormFixture f(18, 5); // 25 lines: 23 items, 18 slots
    QVERIFY(f.Connect());
    f.form.TestStep = 18;
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 2, 3000);
    QCOMPARE(f.peer.commands, (QList<QByteArray>{"[c18]", "[c1]"}));
    QVERIFY(f.boxes.boxes.isEmpty());
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::floodWithoutTerminator() {
    FormFixture f(2);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 1, 3000);
    const QByteArray chunk(256 * 1024, 'f');
    for (int i = 0; i < 16; ++i)
        f.peer.Send(chunk);
    f.peer.Send("]");
    QTRY_VERIFY_WITH_TIMEOUT(!f.form.Slot(1).Result->Text().isEmpty(), 5000);
    QCOMPARE(f.form.Slot(1).Result->Text(), QByteArray(4096, 'f'));
    QVERIFY(f.form.ReceiveBuffer.StoredSize() <= 2 * TReceiveBuffer::kMaxKept);
    f.form.BitBtnStartTest->click();
}

void TestTestCycle::readWithNothingNewDoesNothing() {
    FormFixture f(3);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 1, 3000);
    f.peer.Send("one]");
    QTRY_COMPARE_WITH_TIMEOUT(f.form.TestStep, 2, 3000);
    // A read notification with nothing waiting must not complete "one]" again.
    f.form.ClientSocket1Read(f.form.ClientSocket1, f.form.ClientSocket1->WinSocket());
    QCOMPARE(f.form.TestStep, 2);
    QVERIFY(f.form.Slot(2).Result->Text().isEmpty());
    f.form.BitBtnStartTest->click();
}

namespace {
// Writes down which of the watched widgets paint.
struct PaintLog : QObject {
    QSet<QObject*> painted;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted.insert(watched);
        return false;
    }
};
} // namespace

// A reply redraws the field it lands in and the one it takes the shade from;
// the other fields are told to keep their colour and must not redraw.
void TestTestCycle::replyRepaintsOnlyTheFieldsItChanges() {
    FormFixture f(4);
    f.peer.answer = [](const QByteArray&) { return std::nullopt; };
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    PaintLog log;
    for (int s = 1; s <= 4; ++s)
        f.form.Slot(s).Result->installEventFilter(&log);
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 1, 3000);
    f.peer.Send("one]");
    QTRY_VERIFY_WITH_TIMEOUT(log.painted.contains(f.form.Slot(1).Result), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 2, 3000);
    log.painted.clear();
    f.peer.Send("two]");
    QTRY_VERIFY_WITH_TIMEOUT(log.painted.contains(f.form.Slot(2).Result), 3000);
    QCOMPARE(log.painted, (QSet<QObject*>{f.form.Slot(1).Result, f.form.Slot(2).Result}));
    f.form.BitBtnStartTest->click();
}

QTEST_MAIN(TestTestCycle)
#include "tst_test_cycle.moc"
