#include "base/text.h"
#include "form_fixture.h"
#include "testsupport/sim_process.h"

#include <QAbstractEventDispatcher>
#include <QRegularExpression>
#include <QTest>

namespace {

const QByteArray kConnected = "Connected to 127.0.0.1";
const QByteArray kDisconnected = "Disconnected from 127.0.0.1";

// Counts the passes of the event loop while it lives: each time the loop has
// handled what came and turns to wait for more.
class TLoopPasses : public QObject {
public:
    TLoopPasses() {
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { ++passes; });
    }

    int passes = 0;
};

// Whether each text matches its pattern, and there are as many of both.
bool AllMatch(const QStringList& texts, const QStringList& patterns) {
    if (texts.size() != patterns.size())
        return false;
    for (qsizetype i = 0; i < texts.size(); ++i)
        if (!texts[i].contains(QRegularExpression(patterns[i])))
            return false;
    return true;
}

} // namespace

class TestHostileController : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }
    void misbehaviour_data();
    void misbehaviour();
};

void TestHostileController::misbehaviour_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("firstReply"); // what slot 1 shows first; empty: nothing
    QTest::addColumn<QStringList>("boxes");  // the texts of the boxes, in order
    QTest::addColumn<QByteArray>("status");  // the status line once it has happened
    QTest::addColumn<bool>("advances");      // the cycle goes on while connected
    QTest::addColumn<bool>("resumes");       // Connect again goes on from step 2

    const QString whole = QStringLiteral("^\\[c1=OK\\]$");
    // The urgent byte stays in its place: it is a NUL, and a NUL ends the
    // shown text.
    QTest::newRow("urgent byte") << QStringList{"--urgent"} << "^\\[c1$" << QStringList()
                                 << kConnected << true << false;
    QTest::newRow("drip within a second")
        << QStringList{"--drip", "20"} << whole << QStringList() << kConnected << true << false;
    // Replies are attributed by arrival: the resend after 1.1 s empties what
    // dripped in so far, and the rest, ending in "]", completes the step.
    QTest::newRow("drip over a second")
        << QStringList{"--drip", "250"} << "^(c1=OK|1=OK|=OK|OK|K)?\\]$" << QStringList()
        << kConnected << true << false;
    // A reset is reported at once, but the connection stays until the next
    // send fails.
    QTest::newRow("reset in a reply")
        << QStringList{"--reset-in-reply", "2"} << whole
        << QStringList{"^Asynchronous socket error 104\\.$", "on API 'send'$"} << kDisconnected
        << false << true;
    QTest::newRow("half-close in a reply") << QStringList{"--half-close-in-reply", "2"} << whole
                                           << QStringList() << kDisconnected << false << true;
    QTest::newRow("close on accept") << QStringList{"--close-on-accept"} << QString()
                                     << QStringList() << kDisconnected << false << false;
    QTest::newRow("silence after accept") << QStringList{"--hang-on-accept"} << QString()
                                          << QStringList() << kConnected << false << false;
    QTest::newRow("burst of ]") << QStringList{"--bracket-burst", "1000"} << "^\\[c1=OK\\]{1001}$"
                                << QStringList() << kConnected << true << false;
    // More than the kept 1 MiB; the tail after the filler is six bytes, so
    // the cut falls inside a character. The field shows whole euro signs.
    QTest::newRow("long reply") << QStringList{"--long-reply", "349526"} << "^\u20ac{1365}$"
                                << QStringList() << kConnected << true << false;
}

void TestHostileController::misbehaviour() {
    QFETCH(QStringList, options);
    QFETCH(QString, firstReply);
    QFETCH(QStringList, boxes);
    QFETCH(QByteArray, status);
    QFETCH(bool, advances);
    QFETCH(bool, resumes);
    SimProcess sim;
    const quint16 port = sim.Start(options << "--quiet");
    QVERIFY2(port != 0, qPrintable(sim.firstLine));
    // Three items, "[c1]" to "[c3]", for the misbehaving controller.
    FormFixture f(FormFixture::ItemsAt(port, 3));
    const qsizetype descriptors = OpenDescriptorCount();

    QVERIFY(f.Connect());
    // A controller that closes at once may have disabled Start Test already.
    if (f.form.BitBtnStartTest->isEnabled())
        f.form.BitBtnStartTest->click();
    if (!firstReply.isEmpty()) {
        const QRegularExpression shown(firstReply);
        QTRY_VERIFY2_WITH_TIMEOUT(shown.match(DisplayText(f.Shown(1))).hasMatch(),
                                  qPrintable(DisplayText(f.Shown(1).left(80))), 3000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.boxes.boxes.size(), boxes.size(), 3000);
    QVERIFY2(AllMatch(f.boxes.Texts(), boxes), qPrintable(f.boxes.Texts().join(" | ")));
    if (!boxes.isEmpty())
        QCOMPARE(f.connectedAtBox, (QList<bool>{true, false}));
    QTRY_COMPARE_WITH_TIMEOUT(f.form.LabelStatus->Caption(), status, 3000);
    QCOMPARE(f.form.StatusBar1->SimpleText(), status);

    // No spinning: two seconds of whatever the controller does next.
    const int32_t step = f.form.TestStep;
    {
        const TLoopPasses loop;
        RunUntil([] { return false; }, 2000, 2000);
        // The honest work is a pass or two per tick of the window's timers
        // and per piece that arrives, a few hundred at most; a spinning
        // notifier or timer makes hundreds of thousands, on any machine.
        QVERIFY2(loop.passes < 10000, qPrintable(QString::number(loop.passes)));
    }
    if (advances)
        QTRY_VERIFY_WITH_TIMEOUT(f.form.TestStep != step, 3000);
    else
        QCOMPARE(f.form.TestStep, step);

    if (resumes) {
        // The running test picks up at the step it had reached.
        QCOMPARE(f.form.BitBtnStartTest->Caption(), QByteArray("Stop Test"));
        QVERIFY(f.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(f.Shown(2), QByteArray("[c2=OK]"), 3000);
    }
    f.StopAndDisconnect();
    QTRY_COMPARE_WITH_TIMEOUT(OpenDescriptorCount(), descriptors, 3000);
}

QTEST_MAIN(TestHostileController)
#include "tst_hostile_controller.moc"
