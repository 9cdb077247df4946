#include "controls/memo.h"
#include "form_fixture.h"
#include "sequencing/receive_buffer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

namespace {
QList<QByteArray> Commands(std::initializer_list<int> items) {
    QList<QByteArray> commands;
    for (int i : items)
        commands.append("[c" + QByteArray::number(i) + "]");
    return commands;
}

// Checks the time between the peer's receipt of command i - 1 and of command
// i, for i in [first, last], against [min, max] ms.
bool GapsWithin(const LoopbackPeer& peer, qsizetype first, qsizetype last, qint64 min, qint64 max) {
    for (qsizetype i = first; i <= last; ++i) {
        const qint64 gap = peer.sentAt[i] - peer.sentAt[i - 1];
        if (gap < min || gap > max) {
            qWarning("gap %lld before command %lld", gap, qlonglong(i));
            return false;
        }
    }
    return true;
}
} // namespace

class TestWindowCycle : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }
    void commandsCycleAndWrap();
    void noItemsSendsOnlySlotOne();
    void silentControllerGetsResends();
    void stopSendsNothingMore();
    void disconnectKeepsTestRunningAndResumes_data();
    void disconnectKeepsTestRunningAndResumes();
    void peerClosesOrResetsDuringTest();
    void shorterDefinitionWhileRunning();
    void wrapsAfterTheLastSlot();
    void floodWithoutTerminator();
    void readWithNothingNewDoesNothing();
    void emptyCommandIsPassedOver();
    void replyRepaintsOnlyTheFieldsItChanges();
    void checkedRepliesShowTheirVerdict_data();
    void checkedRepliesShowTheirVerdict();
    void repliesAreLogged_data();
    void repliesAreLogged();
};

void TestWindowCycle::commandsCycleAndWrap() {
    FormFixture f(5);
    QVERIFY(f.StartTest(7));
    QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Stop Test"));
    QCOMPARE(f.peer.commands.mid(0, 7), Commands({1, 2, 3, 4, 5, 1, 2}));
    // Each answered at once: the next command follows 100 ms after the reply.
    QVERIFY(GapsWithin(f.peer, 1, 6, 98, 125));
    // Slot 1 shows the reply as it came, like every other slot.
    QCOMPARE(f.form.Slot(1).Result->Text(), QByteArray("<[c1]>]"));
    QCOMPARE(f.form.Slot(5).Result->Text(), QByteArray("<[c5]>]"));
    f.form.BitBtnStartTest->click();
    const int shaded = f.form.TestStep == 1 ? 5 : f.form.TestStep - 1;
    for (int s = 1; s <= kSlotCount; ++s)
        QCOMPARE(f.form.Slot(s).Result->Color(), s == shaded ? TColor::clMenu : TColor::clWindow);
}

void TestWindowCycle::noItemsSendsOnlySlotOne() {
    FormFixture f(0);
    QVERIFY(f.Connect());
    f.form.BitBtnStartTest->click();
    QTRY_VERIFY_WITH_TIMEOUT(f.peer.received.size() >= 3 * 9, 3000);
    // The designed command of slot 1, with its line break.
    QVERIFY(f.peer.received.startsWith("[0A!?v]\r\n[0A!?v]\r\n[0A!?v]\r\n"));
    QCOMPARE(f.form.TestStep, 1);
    f.form.BitBtnStartTest->click();
}

void TestWindowCycle::silentControllerGetsResends() {
    FormFixture f(3);
    f.Silence();
    QVERIFY(f.StartTest(3));
    QCOMPARE(f.peer.commands.mid(0, 3), Commands({1, 1, 1}));
    // The watchdog's second from the send, then the send delay.
    QVERIFY(GapsWithin(f.peer, 1, 2, 1098, 1150));
    QCOMPARE(f.form.TestStep, 1);
    f.form.BitBtnStartTest->click();
}

void TestWindowCycle::stopSendsNothingMore() {
    FormFixture f(3);
    f.Silence();
    f.ShortenWatchdog(300);
    QVERIFY(f.StartTest());
    f.form.BitBtnStartTest->click();
    QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Start Test"));
    QVERIFY(!f.form.Timer1->Enabled());
    QVERIFY(!f.form.TimerWatchDog->Enabled());
    // A reply after Stop is shown and moves the step on, but sends nothing.
    f.peer.Send("late]");
    QTRY_COMPARE_WITH_TIMEOUT(f.form.TestStep, 2, 3000);
    QCOMPARE(f.form.Slot(1).Result->Text(), QByteArray("late]"));
    QVERIFY(!f.form.Timer1->Enabled());
    QTest::qWait(500); // past the watchdog's interval and the send delay
    QCOMPARE(f.peer.commands.size(), 1);
}

void TestWindowCycle::disconnectKeepsTestRunningAndResumes_data() {
    QTest::addColumn<int>("answered");
    QTest::newRow("at step 1") << 0;
    QTest::newRow("at the step reached") << 1;
}

void TestWindowCycle::disconnectKeepsTestRunningAndResumes() {
    QFETCH(int, answered);
    FormFixture f(3);
    f.peer.answer = [&f, answered](const QByteArray& command) -> std::optional<QByteArray> {
        if (f.peer.commands.size() > answered)
            return std::nullopt;
        return command + "]";
    };
    f.ShortenWatchdog(300);
    QVERIFY(f.StartTest(answered + 1));
    f.form.BitBtnDisconnect->click();
    QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Stop Test"));
    QVERIFY(!f.form.BitBtnStartTest->isEnabled());
    QVERIFY(!f.form.Timer1->Enabled());
    QVERIFY(f.form.TimerWatchDog->Enabled());
    // Reconnect: the cycle goes on by itself at the same step.
    QVERIFY(f.Connect());
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), answered + 2, 3000);
    QCOMPARE(f.peer.commands.last(), Commands({answered + 1}).constFirst());
    QVERIFY(f.boxes.boxes.isEmpty());
    f.form.BitBtnStartTest->click();
}

void TestWindowCycle::peerClosesOrResetsDuringTest() {
    FormFixture f(3);
    QVERIFY(f.StartTest(2));
    f.Silence();
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

void TestWindowCycle::shorterDefinitionWhileRunning() {
    FormFixture f(5);
    f.Silence();
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

void TestWindowCycle::wrapsAfterTheLastSlot() {
    FormFixture f(18, 5); // 25 lines: 23 items, 18 slots
    QVERIFY(f.Connect());
    f.form.TestStep = 18;
    f.form.BitBtnStartTest->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.commands.size(), 2, 3000);
    QCOMPARE(f.peer.commands, (QList<QByteArray>{"[c18]", "[c1]"}));
    QVERIFY(f.boxes.boxes.isEmpty());
    f.form.BitBtnStartTest->click();
}

void TestWindowCycle::floodWithoutTerminator() {
    FormFixture f(2);
    f.Silence();
    QVERIFY(f.StartTest());
    const QByteArray chunk(256 * 1024, 'f');
    for (int i = 0; i < 16; ++i)
        f.peer.Send(chunk);
    f.peer.Send("]");
    QTRY_VERIFY_WITH_TIMEOUT(!f.form.Slot(1).Result->Text().isEmpty(), 5000);
    QCOMPARE(f.form.Slot(1).Result->Text(), QByteArray(4096, 'f'));
    QVERIFY(f.form.ReceiveBuffer.StoredSize() <= 2 * TReceiveBuffer::kMaxKept);
    f.form.BitBtnStartTest->click();
}

void TestWindowCycle::readWithNothingNewDoesNothing() {
    FormFixture f(3);
    f.Silence();
    QVERIFY(f.StartTest());
    f.peer.Send("one]");
    QTRY_COMPARE_WITH_TIMEOUT(f.form.TestStep, 2, 3000);
    // A read notification with nothing waiting must not complete "one]" again.
    f.form.ClientSocket1Read(f.form.ClientSocket1, f.form.ClientSocket1->WinSocket());
    QCOMPARE(f.form.TestStep, 2);
    QVERIFY(f.form.Slot(2).Result->Text().isEmpty());
    f.form.BitBtnStartTest->click();
}

void TestWindowCycle::emptyCommandIsPassedOver() {
    FormFixture f;
    const QString blank =
        f.folder.Write(QStringLiteral("blank.tst"), "IP=127.0.0.1\r\nPort=" + f.peer.PortText() +
                                                        "\r\nOne=[c1]\r\n\r\nThree=[c3]\r\n");
    AnswerOpenDialog(blank);
    f.form.Open1Click(nullptr);
    f.form.Slot(2).Result->SetText("kept");
    f.peer.answer = [](const QByteArray& command) -> std::optional<QByteArray> {
        if (command != "[c1]")
            return std::nullopt;
        return QByteArray("one]");
    };
    QVERIFY(f.StartTest(2));
    QCOMPARE(f.peer.commands, Commands({1, 3}));
    // The send delay after the reply, then again after the empty slot.
    QVERIFY(GapsWithin(f.peer, 1, 1, 198, 240));
    QCOMPARE(f.form.TestStep, 3);
    QCOMPARE(f.form.Slot(1).Result->Text(), QByteArray("one]"));
    QCOMPARE(f.form.Slot(1).Result->Color(), TColor::clMenu);
    QCOMPARE(f.form.Slot(2).Result->Text(), QByteArray("kept"));
    QCOMPARE(f.form.Slot(2).Result->Color(), TColor::clWindow);
    QVERIFY(f.boxes.boxes.isEmpty());
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
void TestWindowCycle::replyRepaintsOnlyTheFieldsItChanges() {
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

void TestWindowCycle::checkedRepliesShowTheirVerdict_data() {
    QTest::addColumn<QByteArray>("checks"); // empty: no checks file
    QTest::addColumn<QByteArray>("why");    // the end of slot 2's reason; empty: passes
    QTest::addColumn<QString>("box");       // the end of the error box's text; empty: none
    // What the peer answers slot 2's first command with; empty: as every
    // other. The second is then awaited too.
    QTest::addColumn<QByteArray>("firstAnswer2");
    QTest::newRow("one fails") << QByteArray("['Item 1']\nequals = '<[c1]>]'\n['Item 2']\n"
                                             "match = '<\\[c(\\d)\\]>\\]'\nmax = 1")
                               << QByteArray("2 above max 1") << QString() << QByteArray();
    QTest::newRow("too slow") << QByteArray("['Item 2']\nmax_rtt_ms = 0")
                              << QByteArray(" ms above 0 ms") << QString() << QByteArray();
    QTest::newRow("refused") << QByteArray("['Item 2']\n['Item 9']") << QByteArray()
                             << QStringLiteral(
                                    ":2:2: no item of the definition is labelled \"Item 9\"")
                             << QByteArray();
    QTest::newRow("none") << QByteArray() << QByteArray() << QString() << QByteArray();
    // Failed in the first pass, passed in the second: plain again.
    QTest::newRow("failed, then passed") << QByteArray("['Item 2']\nequals = '<[c2]>]'")
                                         << QByteArray() << QString() << QByteArray("<[c2]?>]");
}

void TestWindowCycle::checkedRepliesShowTheirVerdict() {
    QFETCH(QByteArray, checks);
    QFETCH(QByteArray, why);
    QFETCH(QString, box);
    QFETCH(QByteArray, firstAnswer2);
    FormFixture f(3);
    if (!firstAnswer2.isEmpty())
        f.peer.answer = [&f, firstAnswer2](const QByteArray& command) {
            return std::optional<QByteArray>(command == "[c2]" && f.peer.commands.size() == 2
                                                 ? firstAnswer2
                                                 : "<" + command + ">]");
        };
    if (!checks.isEmpty())
        f.folder.Write(QStringLiteral("default1.checks.toml"), checks);
    AnswerOpenDialog(f.folder.Path(QStringLiteral("default1.tst")));
    f.form.BitBtnOpen->click();
    QCOMPARE(f.boxes.Texts().size(), box.isEmpty() ? 0 : 1);
    QVERIFY2(box.isEmpty() || f.boxes.Texts().constFirst().endsWith(box),
             qPrintable(f.boxes.Texts().join('|')));
    // The next command goes out once the reply before it is shown.
    QVERIFY(f.StartTest(firstAnswer2.isEmpty() ? 4 : 6));
    f.form.BitBtnStartTest->click();
    for (int s = 1; s <= 3; ++s) {
        const TEdit* field = f.form.Slot(s).Result;
        const bool red = s == 2 && !why.isEmpty();
        QCOMPARE(field->FontColor(), red ? TColor::clRed : TColor::clWindowText);
        QCOMPARE(field->palette().color(QPalette::Text) == QColor(Qt::red), red);
        QVERIFY2(red ? field->Hint().endsWith(why) : field->Hint().isEmpty(), field->Hint());
    }
}

void TestWindowCycle::repliesAreLogged_data() {
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("box"); // the error box; empty: none
    QTest::newRow("one line per reply") << QStringLiteral("replies.jsonl") << QString();
    QTest::newRow("cannot open") << QStringLiteral("/nonexistent/log")
                                 << QStringLiteral("Cannot open log file /nonexistent/log: No "
                                                   "such file or directory.");
    QTest::newRow("write fails") << QStringLiteral("/dev/full")
                                 << QStringLiteral("Cannot write log file /dev/full: No space "
                                                   "left on device; logging stopped.");
}

void TestWindowCycle::repliesAreLogged() {
    QFETCH(QString, log);
    QFETCH(QString, box);
    FormFixture f(2);
    f.folder.Write(QStringLiteral("default1.checks.toml"), "['Item 2']\nequals = 'no'");
    AnswerOpenDialog(f.folder.Path(QStringLiteral("default1.tst")));
    f.form.BitBtnOpen->click();
    f.form.StartReplyLog(log);
    // The box comes through the loop, the next send already armed.
    bool armedAtBox = true;
    Application().messageBox =
        [&f, &armedAtBox, record = Application().messageBox](const TMessageBoxRequest& request) {
            armedAtBox = f.form.Timer1->Enabled();
            return record(request);
        };
    // The first [c2] goes unanswered, so the watchdog sends it again.
    f.peer.answer = [&f](const QByteArray& c) {
        return f.peer.commands.size() == 2 ? std::nullopt : std::optional("<" + c + ">]");
    };
    f.ShortenWatchdog(200);
    QVERIFY(f.StartTest(6));
    f.form.BitBtnStartTest->click();
    QCOMPARE(f.boxes.Texts(), box.isEmpty() ? QStringList() : QStringList{box});
    QVERIFY(armedAtBox);
    if (!box.isEmpty())
        return;
    QFile read(log);
    QVERIFY(read.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = read.readAll().split('\n');
    QVERIFY(lines.size() >= 4);
    const QByteArray expected[] = {
        R"({"command":"[c1]","cycle":1,"label":"Item 1","reply":"<[c1]>]","resends":0,"slot":1})",
        R"({"check":"fail","command":"[c2]","cycle":1,"label":"Item 2","reply":"<[c2]>]",)"
        R"("resends":1,"slot":2,"why":"does not equal no"})",
        R"({"command":"[c1]","cycle":2,"label":"Item 1","reply":"<[c1]>]","resends":0,"slot":1})"};
    for (int i = 0; i < 3; ++i) {
        QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        QCOMPARE(o.take("controller").toString(), "127.0.0.1:" + f.peer.PortText());
        // From the first sending, as the runner times it: the resent [c2]
        // waited the shortened watchdog period.
        const double leastMs = o.value("resends").toInt() > 0 ? 200 : 0;
        const double rttMs = o.take("rtt_ms").toDouble();
        QVERIFY2(rttMs > leastMs && rttMs < leastMs + 300 && o.take("after_resend").isBool(),
                 qPrintable(lines[i]));
        QVERIFY(o.take("time").toString().endsWith('Z'));
        QCOMPARE(QJsonDocument(o).toJson(QJsonDocument::Compact), expected[i]);
    }
}

QTEST_MAIN(TestWindowCycle)
#include "tst_window_cycle.moc"
