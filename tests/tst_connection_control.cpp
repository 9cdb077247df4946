#include "form_fixture.h"

#include <QTest>

class TestConnectionControl : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }
    void goodConnect();
    void refusedConnect();
    void emptyAddress();
    void portRejected_data();
    void portRejected();
    void disconnectWhileConnected();
    void disconnectBeforeAnyConnection();
    void peerCloses();
    void peerResets();
    void exitQuestion_data();
    void exitQuestion();
    void statusNamesTheFieldsCurrentAddress();
};

void TestConnectionControl::goodConnect() {
    FormFixture f;
    QCOMPARE(f.States(), QStringLiteral("EEEEE"));
    f.form.BitBtnConnect->click();
    // Lookup and connecting happen inside the press; connected comes later.
    QCOMPARE(f.statuses, (QList<QByteArray>{"Attempting to connect to 127.0.0.1",
                                            "Looking up 127.0.0.1", "Connecting to 127.0.0.1"}));
    QCOMPARE(f.States(), QStringLiteral("EEE--"));
    QTRY_COMPARE_WITH_TIMEOUT(f.statuses.size(), 4, 3000);
    QCOMPARE(f.statuses.last(), QByteArray("Connected to 127.0.0.1"));
    QCOMPARE(f.form.LabelStatus->Caption(), QByteArray("Connected to 127.0.0.1"));
    QCOMPARE(f.States(), QStringLiteral("-EE--"));
    QVERIFY(f.boxes.boxes.isEmpty());
}

void TestConnectionControl::refusedConnect() {
    FormFixture f;
    f.form.EditPort->SetText(QByteArray::number(RefusedPort()));
    f.form.BitBtnConnect->click();
    QTRY_COMPARE_WITH_TIMEOUT(f.boxes.boxes.size(), 1, 3000);
    QCOMPARE(f.statuses.last(), QByteArray("Error communicating with 127.0.0.1"));
    QCOMPARE(f.boxes.Texts(), QStringList{QStringLiteral("Asynchronous socket error 111.")});
    // No disconnect is reported: buttons as before, fields disabled.
    QCOMPARE(f.States(), QStringLiteral("EEE--"));
    QVERIFY(!f.statuses.contains("Disconnected from 127.0.0.1"));
    // The operator can try again.
    f.form.EditPort->SetText(f.peer.PortText());
    QVERIFY(f.Connect());
}

void TestConnectionControl::emptyAddress() {
    FormFixture f;
    f.form.EditAddress->SetText("");
    f.form.BitBtnConnect->click();
    QCOMPARE(f.statuses, (QList<QByteArray>{"Attempting to connect to ", "Looking up ",
                                            "Error communicating with ", "Disconnected from "}));
    QCOMPARE(f.boxes.Texts(), QStringList{QStringLiteral("No address specified.")});
    QCOMPARE(f.States(), QStringLiteral("E--EE"));
}

void TestConnectionControl::portRejected_data() {
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("'' is not a valid integer value.");
    QTest::newRow("text") << QByteArray("abc")
                          << QStringLiteral("'abc' is not a valid integer value.");
    QTest::newRow("zero") << QByteArray("0") << QStringLiteral("'0' is not a valid port number.");
    QTest::newRow("above range") << QByteArray("70000")
                                 << QStringLiteral("'70000' is not a valid port number.");
    QTest::newRow("negative") << QByteArray("-1")
                              << QStringLiteral("'-1' is not a valid port number.");
    QTest::newRow("hex pattern") << QByteArray("$FFFFFFFF")
                                 << QStringLiteral("'$FFFFFFFF' is not a valid port number.");
}

void TestConnectionControl::portRejected() {
    QFETCH(QByteArray, port);
    QFETCH(QString, message);
    FormFixture f;
    f.form.EditPort->SetText(port);
    f.form.BitBtnConnect->click();
    QCOMPARE(f.statuses, QList<QByteArray>{"Attempting to connect to 127.0.0.1"});
    QCOMPARE(f.boxes.Texts(), QStringList{message});
    QCOMPARE(f.States(), QStringLiteral("EEEEE"));
    QCOMPARE(f.peer.connections, 0);
}

void TestConnectionControl::disconnectWhileConnected() {
    FormFixture f;
    QVERIFY(f.Connect());
    f.statuses.clear();
    f.form.BitBtnDisconnect->click();
    QCOMPARE(f.statuses,
             (QList<QByteArray>{"Disconnected from 127.0.0.1", "Disconnecting from 127.0.0.1"}));
    QCOMPARE(f.States(), QStringLiteral("E--EE"));
    QVERIFY(!f.form.ClientSocket1->Active());
    QTRY_VERIFY_WITH_TIMEOUT(!f.peer.Connected(), 3000);
    QVERIFY(f.boxes.boxes.isEmpty());
}

void TestConnectionControl::disconnectBeforeAnyConnection() {
    FormFixture f;
    f.form.BitBtnDisconnect->click();
    QCOMPARE(f.statuses, QList<QByteArray>{"Disconnecting from 127.0.0.1"});
    QCOMPARE(f.States(), QStringLiteral("EEEEE"));
}

void TestConnectionControl::peerCloses() {
    FormFixture f;
    QVERIFY(f.Connect());
    f.peer.Close();
    QTRY_COMPARE_WITH_TIMEOUT(f.statuses.last(), QByteArray("Disconnected from 127.0.0.1"), 3000);
    QCOMPARE(f.States(), QStringLiteral("E----"));
    QVERIFY(f.boxes.boxes.isEmpty());
    // Connect again to the same address and port.
    QVERIFY(f.Connect());
    QCOMPARE(f.peer.connections, 2);
}

void TestConnectionControl::peerResets() {
    FormFixture f;
    QVERIFY(f.Connect());
    f.peer.Reset();
    QTRY_COMPARE_WITH_TIMEOUT(f.boxes.boxes.size(), 1, 3000);
    QCOMPARE(f.statuses.last(), QByteArray("Error communicating with 127.0.0.1"));
    QCOMPARE(f.boxes.Texts(), QStringList{QStringLiteral("Asynchronous socket error 104.")});
    // Still counted as connected until the next send fails or Disconnect.
    QCOMPARE(f.States(), QStringLiteral("-EE--"));
    f.form.BitBtnDisconnect->click();
    QCOMPARE(f.States(), QStringLiteral("E--EE"));
}

void TestConnectionControl::exitQuestion_data() {
    QTest::addColumn<TMsgAnswer>("answer");
    QTest::addColumn<bool>("peerClosedFirst");
    QTest::addColumn<QByteArray>("lastStatus");
    QTest::addColumn<QString>("states");
    QTest::newRow("no leaves the connection alone")
        << TMsgAnswer::No << false << QByteArray("Connected to 127.0.0.1")
        << QStringLiteral("-EE--");
    QTest::newRow("yes while connected disconnects")
        << TMsgAnswer::Yes << false << QByteArray("Disconnecting from 127.0.0.1")
        << QStringLiteral("E--EE");
    // Disconnect is disabled then, so it does not run.
    QTest::newRow("yes after the peer closed")
        << TMsgAnswer::Yes << true << QByteArray("Disconnected from 127.0.0.1")
        << QStringLiteral("E----");
}

void TestConnectionControl::exitQuestion() {
    QFETCH(TMsgAnswer, answer);
    QFETCH(bool, peerClosedFirst);
    QFETCH(QByteArray, lastStatus);
    QFETCH(QString, states);
    FormFixture f;
    QVERIFY(f.Connect());
    if (peerClosedFirst) {
        f.peer.Close();
        QTRY_COMPARE_WITH_TIMEOUT(f.statuses.last(), QByteArray("Disconnected from 127.0.0.1"),
                                  3000);
    }
    f.form.ShowCentred();
    f.boxes.answers.push_back(answer);
    f.form.BitBtnExit->click();
    QCOMPARE(f.boxes.boxes.size(), 1);
    QCOMPARE(f.form.isVisible(), answer == TMsgAnswer::No);
    QCOMPARE(f.statuses.last(), lastStatus);
    QCOMPARE(f.States(), states);
    const bool connected = answer == TMsgAnswer::No;
    QCOMPARE(f.form.ClientSocket1->Active(), connected);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer.Connected(), connected, 3000);
}

void TestConnectionControl::statusNamesTheFieldsCurrentAddress() {
    FormFixture f;
    QVERIFY(f.Connect());
    // A definition with another address, loaded while connected.
    const QString other = f.folder.Write(QStringLiteral("other.tst"), "IP=10.0.0.9\r\nPort=1\r\n");
    AnswerOpenDialog(other);
    f.form.Open1Click(nullptr);
    f.peer.Close();
    QTRY_COMPARE_WITH_TIMEOUT(f.statuses.last(), QByteArray("Disconnected from 10.0.0.9"), 3000);
}

QTEST_MAIN(TestConnectionControl)
#include "tst_connection_control.moc"
