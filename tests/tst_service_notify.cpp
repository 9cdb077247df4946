// What the service manager hears: READY=1, WATCHDOG=1 at half the
// watchdog's period, the status with each, and nothing without its socket.
#include "runner/service_notify.h"
#include "testsupport/run_until.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestServiceNotify : public QObject {
    Q_OBJECT

private slots:
    void messages_data();
    void messages();
};

void TestServiceNotify::messages_data() {
    QTest::addColumn<bool>("socket");          // NOTIFY_SOCKET names the test's socket
    QTest::addColumn<QByteArray>("watchdog");  // WATCHDOG_USEC, empty: unset
    QTest::addColumn<QByteArrayList>("heard"); // the first ones from Ready on, then Stopping
    QTest::newRow("watchdog") << true << QByteArray("200000")
                              << QByteArrayList{
                                     "READY=1\nSTATUS=2 up\n", "WATCHDOG=1\nSTATUS=2 up\n",
                                     "WATCHDOG=1\nSTATUS=2 up\n", "STOPPING=1\nSTATUS=2 up\n"};
    QTest::newRow("no watchdog") << true << QByteArray()
                                 << QByteArrayList{"READY=1\nSTATUS=2 up\n",
                                                   "STOPPING=1\nSTATUS=2 up\n"};
    QTest::newRow("no service manager") << false << QByteArray("200000") << QByteArrayList{};
}

void TestServiceNotify::messages() {
    QFETCH(bool, socket);
    QFETCH(QByteArray, watchdog);
    QFETCH(QByteArrayList, heard);
    QTemporaryDir dir;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(dir.filePath("notify"));
    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    qputenv("NOTIFY_SOCKET", socket ? path : QByteArray());
    if (watchdog.isEmpty())
        qunsetenv("WATCHDOG_USEC");
    else
        qputenv("WATCHDOG_USEC", watchdog);
    QByteArrayList messages;
    const auto receive = [&] {
        char buffer[4096];
        for (ssize_t got; (got = ::recv(listener, buffer, sizeof buffer, 0)) > 0;)
            messages.append(QByteArray(buffer, got));
    };
    const qsizetype before = std::max<qsizetype>(0, heard.size() - 1);
    QElapsedTimer clock;
    {
        TServiceNotify notify([] { return QByteArray("2\nup"); });
        QCOMPARE(notify.Active(), socket);
        clock.start();
        notify.Ready();
        // Beats at 100 ms: two by 200 ms; none where nothing listens or
        // without a watchdog.
        RunUntil(
            [&] {
                receive();
                return messages.size() >= before && clock.elapsed() >= 250;
            },
            2000);
        QVERIFY2(clock.elapsed() < 380, QByteArray::number(clock.elapsed()));
        notify.Stopping();
    }
    receive();
    ::close(listener);
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
    QCOMPARE(messages.mid(0, before), heard.mid(0, before));
    QCOMPARE(messages.isEmpty() ? QByteArray() : messages.last(),
             heard.isEmpty() ? QByteArray() : heard.last());
}

QTEST_GUILESS_MAIN(TestServiceNotify)
#include "tst_service_notify.moc"
