#include "testsupport/sim_process.h"
#include "tools/controller-sim/controller_sim.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SimBehaviour)

namespace {

// A loopback client on a raw socket. QTcpSocket reports a reset peer like an
// orderly close; this one keeps recv()'s 0 apart from ECONNRESET.
class RawClient {
public:
    ~RawClient() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // A blocking connect succeeds before the in-process server accepts: the
    // kernel completes the handshake into the listen backlog.
    bool Connect(quint16 port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return false;
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Read(); });
        return true;
    }

    bool Send(const QByteArray& bytes) {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }

    // Waits, without reading the stream, for an urgent byte and takes it;
    // -1 when none comes in time. A read past the urgent byte would drop it.
    int TakeUrgentByte(int timeoutMs) {
        m_notifier->setEnabled(false);
        pollfd urgent{m_fd, POLLPRI, 0};
        char byte = 0;
        const bool came = QTest::qWaitFor([&] { return ::poll(&urgent, 1, 0) == 1; }, timeoutMs);
        const bool taken = came && ::recv(m_fd, &byte, 1, MSG_OOB) == 1;
        m_notifier->setEnabled(true);
        return taken ? uchar(byte) : -1;
    }

    QByteArray received;
    QList<QByteArray> chunks; // what each read notification brought
    bool ended = false;
    int endError = 0; // 0: orderly close

private:
    void Read() {
        QByteArray chunk;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            const int error = errno;
            if (n > 0) {
                chunk.append(buffer, n);
            } else if (n < 0 && error == EINTR) {
                continue;
            } else {
                if (n == 0 || error != EAGAIN) {
                    ended = true;
                    endError = n == 0 ? 0 : error;
                    m_notifier->setEnabled(false);
                }
                break;
            }
        }
        if (!chunk.isEmpty()) {
            chunks.append(chunk);
            received += chunk;
        }
    }

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// Starts the simulator on a free loopback port and connects the client to it.
bool ListenAndConnect(ControllerSim& sim, RawClient& client) {
    return sim.Listen(QHostAddress::LocalHost, 0) && client.Connect(sim.ServerPort());
}

template <typename SetUp> SimBehaviour Behaviour(SetUp setUp) {
    SimBehaviour behaviour;
    setUp(behaviour);
    return behaviour;
}

constexpr int kWaitMs = 5000;

} // namespace

class TestControllerSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void framerCutsCommands_data();
    void framerCutsCommands();
    void framerDiscardsOverlongCommand();
    void unescapesText_data();
    void unescapesText();
    void replies_data();
    void replies();
    void answersEveryCommand_data();
    void answersEveryCommand();
    void delaysAndSplitsReplies();
    void endsConnection_data();
    void endsConnection();
    void connectionsAreIndependent();
    void floodStopsAtLimit();
    void floodWithoutEndFollowsReader();
    void shapesReplies_data();
    void shapesReplies();
    void urgentByteInTheMiddle();
    void halfCloseGoesOnReading();
    void treatsAcceptedConnection_data();
    void treatsAcceptedConnection();
    void executableServesAndQuits();
    void executableRejectsBadOptions_data();
    void executableRejectsBadOptions();
};

void TestControllerSim::initTestCase() {
    QLoggingCategory::setFilterRules("controller-sim.info=false");
}

void TestControllerSim::framerCutsCommands_data() {
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::newRow("one") << QByteArrayList{"[0A!?v]"} << QByteArrayList{"[0A!?v]"};
    QTest::newRow("split across reads")
        << QByteArrayList{"[0A", "!?", "v]"} << QByteArrayList{"", "", "[0A!?v]"};
    QTest::newRow("several in one read")
        << QByteArrayList{"[0A!?v][0A!p]"} << QByteArrayList{"[0A!?v]\x1f[0A!p]"};
    QTest::newRow("designed line breaks") << QByteArrayList{"[0A!?\r\npsl]\r\n", "[0A!?v]\r\n"}
                                          << QByteArrayList{"[0A!?psl]", "[0A!?v]"};
    QTest::newRow("stray breaks between") << QByteArrayList{"\r\n\n\r[0A!?b]\r", "\n\r\n[0A!?s]"}
                                          << QByteArrayList{"[0A!?b]", "[0A!?s]"};
    QTest::newRow("bare terminator") << QByteArrayList{"]"} << QByteArrayList{"]"};
    QTest::newRow("no terminator yet") << QByteArrayList{"[0A!?v"} << QByteArrayList{""};
    QTest::newRow("NUL kept") << QByteArrayList{QByteArray("[\0]", 3)}
                              << QByteArrayList{QByteArray("[\0]", 3)};
}

// Each entry of "commands" lists what one Feed returns, joined by 0x1f.
void TestControllerSim::framerCutsCommands() {
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArrayList, commands);
    CommandFramer framer;
    for (qsizetype i = 0; i < pieces.size(); ++i)
        QCOMPARE(framer.Feed(pieces[i]).join('\x1f'), commands[i]);
}

void TestControllerSim::framerDiscardsOverlongCommand() {
    CommandFramer framer;
    QVERIFY(framer.Feed(QByteArray(CommandFramer::kMaxCommand + 10, 'x')).isEmpty());
    QCOMPARE(framer.Feed("[0A!p]"), QByteArrayList{"xxxxxxxxxx[0A!p]"});
    // Line breaks do not count towards the limit.
    QVERIFY(framer.Feed(QByteArray(CommandFramer::kMaxCommand, '\n')).isEmpty());
    QCOMPARE(framer.Feed("[0A!p]"), QByteArrayList{"[0A!p]"});
}

void TestControllerSim::replies_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("firmware") << QByteArray("[0A!?v]") << QByteArray("[0A!v=1.00.11]");
    QTest::newRow("light sensor") << QByteArray("[0A!?psl]") << QByteArray("[0A!psl=412]");
    QTest::newRow("poll") << QByteArray("[0A!p]") << QByteArray("[0A!p=ACK]");
    QTest::newRow("other unit") << QByteArray("[1F!?b]") << QByteArray("[1F!b=80]");
    QTest::newRow("unknown request") << QByteArray("[0A!cf]") << QByteArray("[0A!cf=OK]");
    QTest::newRow("known request not after !") << QByteArray("[0A?v]") << QByteArray("[0A?v=OK]");
    QTest::newRow("no bracket") << QByteArray("0A!?rt]") << QByteArray("[0A!rt=38.5]");
    QTest::newRow("bare terminator") << QByteArray("]") << QByteArray("[=OK]");
    QTest::newRow("second ! is the request's") << QByteArray("[0A!!p]") << QByteArray("[0A!!p=OK]");
}

void TestControllerSim::unescapesText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // "?" alone: refused
    QTest::newRow("plain") << "[HELLO v1]" << QByteArray("[HELLO v1]");
    QTest::newRow("line end, tab, backslash") << "\\r\\n\\t\\\\" << QByteArray("\r\n\t\\");
    QTest::newRow("hex, both cases") << "\\xff\\x00\\xAb" << QByteArray("\xff\0\xab", 3);
    QTest::newRow("unknown escape") << "\\q" << QByteArray("?");
    QTest::newRow("one hex digit") << "\\x4" << QByteArray("?");
    QTest::newRow("backslash last") << "ab\\" << QByteArray("?");
}

void TestControllerSim::unescapesText() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(UnescapedText(text).value_or("?"), bytes);
}

void TestControllerSim::replies() {
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QCOMPARE(ReplyTo(command), reply);
    // The wrong reading changes the temperature and nothing else.
    QCOMPARE(ReplyTo(command, true), QByteArray(reply).replace("rt=38.5", kWrongTemperature));
}

void TestControllerSim::answersEveryCommand_data() {
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("one command") << QByteArrayList{"[0A!?v]"} << QByteArray("[0A!v=1.00.11]");
    QTest::newRow("designed text with line breaks")
        << QByteArrayList{"[0A!?\r\npsl]\r\n"} << QByteArray("[0A!psl=412]");
    QTest::newRow("pieces across writes")
        << QByteArrayList{"[0A", "!?b", "]\r", "\n"} << QByteArray("[0A!b=80]");
    QTest::newRow("several in one write") << QByteArrayList{"[0A!?v][0A!?rt]\r\n[0A!p]"}
                                          << QByteArray("[0A!v=1.00.11][0A!rt=38.5][0A!p=ACK]");
}

void TestControllerSim::answersEveryCommand() {
    QFETCH(QByteArrayList, writes);
    QFETCH(QByteArray, expected);
    ControllerSim sim({});
    RawClient client;
    QVERIFY(ListenAndConnect(sim, client));
    for (const QByteArray& bytes : writes) {
        QVERIFY(client.Send(bytes));
        // Lets the simulator read each write on its own.
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(client.received, expected, kWaitMs);
    QVERIFY(!client.ended);
}

void TestControllerSim::delaysAndSplitsReplies() {
    const int delayMs = 100;
    const int gapMs = 50;
    ControllerSim sim(Behaviour([](SimBehaviour& b) {
        b.delayMs = delayMs;
        b.split = 3;
        b.splitGapMs = gapMs;
    }));
    RawClient client;
    QVERIFY(ListenAndConnect(sim, client));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(client.Send("[0A!?v]"));
    QTRY_COMPARE_WITH_TIMEOUT(client.received, QByteArray("[0A!v=1.00.11]"), kWaitMs);
    QVERIFY(clock.elapsed() >= delayMs + 2 * gapMs);
    QCOMPARE(client.chunks, (QByteArrayList{"[0A!", "v=1.0", "0.11]"}));
}

void TestControllerSim::endsConnection_data() {
    QTest::addColumn<SimBehaviour>("behaviour");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("endError");
    QTest::newRow("close after 2") << Behaviour([](SimBehaviour& b) { b.closeAfter = 2; })
                                   << QByteArray("[0A!v=1.00.11][0A!rt=38.5]") << 0;
    QTest::newRow("reset after 2") << Behaviour([](SimBehaviour& b) { b.resetAfter = 2; })
                                   << QByteArray("[0A!v=1.00.11][0A!rt=38.5]") << ECONNRESET;
    QTest::newRow("reset before close") << Behaviour([](SimBehaviour& b) {
        b.resetAfter = 1;
        b.closeAfter = 1;
    }) << QByteArray("[0A!v=1.00.11]") << ECONNRESET;
    QTest::newRow("close waits for delayed split reply") << Behaviour([](SimBehaviour& b) {
        b.closeAfter = 1;
        b.delayMs = 30;
        b.split = 2;
    }) << QByteArray("[0A!v=1.00.11]") << 0;
    QTest::newRow("reset waits for delayed split reply") << Behaviour([](SimBehaviour& b) {
        b.resetAfter = 1;
        b.delayMs = 30;
        b.split = 2;
    }) << QByteArray("[0A!v=1.00.11]") << ECONNRESET;
    QTest::newRow("drop every 2") << Behaviour([](SimBehaviour& b) {
        b.dropEvery = 2;
        b.closeAfter = 4;
    }) << QByteArray("[0A!v=1.00.11][0A!b=80]")
                                  << 0;
    QTest::newRow("silent") << Behaviour([](SimBehaviour& b) {
        b.silent = true;
        b.closeAfter = 4;
    }) << QByteArray() << 0;
}

// Four commands go out in one write, then one more; the connection ends by
// the behaviour's close or reset, so "no reply" needs no waiting for silence.
void TestControllerSim::endsConnection() {
    QFETCH(SimBehaviour, behaviour);
    QFETCH(QByteArray, expected);
    QFETCH(int, endError);
    ControllerSim sim(behaviour);
    RawClient client;
    QVERIFY(ListenAndConnect(sim, client));
    QVERIFY(client.Send("[0A!?v]\r\n[0A!?rt]\r\n[0A!?b]\r\n[0A!?s]\r\n[0A!p]"));
    QTRY_VERIFY_WITH_TIMEOUT(client.ended, kWaitMs);
    QCOMPARE(client.received, expected);
    QCOMPARE(client.endError, endError);
    QTRY_COMPARE_WITH_TIMEOUT(sim.ConnectionCount(), 0, kWaitMs);
}

// Counters are per connection: with every second command dropped, each
// client's first command is answered.
void TestControllerSim::connectionsAreIndependent() {
    ControllerSim sim(Behaviour([](SimBehaviour& b) { b.dropEvery = 2; }));
    QVERIFY(sim.Listen(QHostAddress::LocalHost, 0));
    {
        RawClient first;
        RawClient second;
        QVERIFY(first.Connect(sim.ServerPort()));
        QVERIFY(second.Connect(sim.ServerPort()));
        QVERIFY(first.Send("[0A!?v]"));
        QTRY_COMPARE_WITH_TIMEOUT(first.received, QByteArray("[0A!v=1.00.11]"), kWaitMs);
        QVERIFY(second.Send("[0A!p]"));
        QTRY_COMPARE_WITH_TIMEOUT(second.received, QByteArray("[0A!p=ACK]"), kWaitMs);
        QCOMPARE(sim.ConnectionCount(), 2);
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim.ConnectionCount(), 0, kWaitMs);
}

// The flood ends at its limit: a command sent after it is answered right
// after the last flood byte.
void TestControllerSim::floodStopsAtLimit() {
    const qsizetype limit = 100 * 1000;
    ControllerSim sim(Behaviour([limit](SimBehaviour& b) {
        b.flood = true;
        b.floodBytes = limit;
    }));
    RawClient client;
    QVERIFY(ListenAndConnect(sim, client));
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), limit, kWaitMs);
    QVERIFY(!client.received.contains(']'));
    QVERIFY(client.Send("[0A!p]"));
    QTRY_VERIFY_WITH_TIMEOUT(client.received.endsWith(']'), kWaitMs);
    QCOMPARE(client.received.mid(limit), QByteArray("[0A!p=ACK]"));
}

// An endless flood keeps coming while the client reads, answers commands in
// between, and is cleaned up when the client goes away mid-flood.
void TestControllerSim::floodWithoutEndFollowsReader() {
    ControllerSim sim(Behaviour([](SimBehaviour& b) { b.flood = true; }));
    QVERIFY(sim.Listen(QHostAddress::LocalHost, 0));
    {
        RawClient client;
        QVERIFY(client.Connect(sim.ServerPort()));
        QVERIFY(client.Send("[0A!?rt]"));
        QTRY_VERIFY_WITH_TIMEOUT(client.received.contains("[0A!rt=38.5]"), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(client.received.size() > 1024 * 1024, kWaitMs);
        QCOMPARE(client.received.count(']'), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim.ConnectionCount(), 0, kWaitMs);
}

void TestControllerSim::shapesReplies_data() {
    QTest::addColumn<SimBehaviour>("behaviour");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("lastChunk");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs"); // 0: no bound
    const QByteArrayList poll{"[0A!p]"};
    const QByteArray reply = "[0A!p=ACK]";
    QTest::newRow("drip") << Behaviour([](SimBehaviour& b) { b.dripMs = 20; }) << poll << reply
                          << QByteArray("]") << 10 * 20 << 0;
    const QByteArray burst = reply + QByteArray(1000, ']');
    QTest::newRow("bracket burst in one write")
        << Behaviour([](SimBehaviour& b) { b.bracketBurst = 1000; }) << poll << burst << burst << 0
        << 0;
    QTest::newRow("long reply, then its end")
        << Behaviour([](SimBehaviour& b) { b.longReply = 100 * 1000; }) << poll
        << "[" + QByteArray("\xe2\x82\xac").repeated(100 * 1000) + "0A!p=ACK]" << QByteArray("]")
        << 10 << 0;
    const auto crlf = [](SimBehaviour& b) { b.suffix = "\r\n"; };
    QTest::newRow("suffix") << Behaviour(crlf) << poll << reply + "\r\n"
                            << reply + "\r\n"
                            << 0 << 0;
    QTest::newRow("suffix with the last piece") << Behaviour([&](SimBehaviour& b) {
        crlf(b);
        b.longReply = 10;
    }) << poll << "[" + QByteArray("\xe2\x82\xac").repeated(10) + "0A!p=ACK]\r\n"
                                                << QByteArray("]\r\n") << 10 << 0;
    QTest::newRow("repeated") << Behaviour([](SimBehaviour& b) { b.repeatAfterMs = 120; }) << poll
                              << reply + reply << reply << 120 << 0;
    QTest::newRow("greeting after the first reply") << Behaviour([](SimBehaviour& b) {
        b.greeting = "[HELLO]";
        b.greetAfterMs = 150;
    }) << poll << reply + "[HELLO]" << QByteArray("[HELLO]")
                                                    << 150 << 0;
    // Two commands 100 ms apart: in turn, the second reply waits for the
    // first; pipelined, each comes its delay after its own command.
    const QByteArrayList two{"[0A!p]", "[0A!?b]"};
    const auto slow = [](SimBehaviour& b) { b.delayMs = 500; };
    QTest::newRow("in turn") << Behaviour(slow) << two << reply + "[0A!b=80]"
                             << QByteArray("[0A!b=80]") << 2 * 500 << 0;
    QTest::newRow("pipelined") << Behaviour([&](SimBehaviour& b) {
        slow(b);
        b.pipelined = true;
    }) << two << reply + "[0A!b=80]"
                               << QByteArray("[0A!b=80]") << 100 + 500 << 2 * 500;
}

// Each command goes 100 ms after the one before; the times count from the
// first.
void TestControllerSim::shapesReplies() {
    QFETCH(SimBehaviour, behaviour);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, lastChunk);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    ControllerSim sim(behaviour);
    RawClient client;
    QVERIFY(ListenAndConnect(sim, client));
    QElapsedTimer clock;
    clock.start();
    for (qsizetype i = 0; i < commands.size(); ++i) {
        if (i > 0)
            QTest::qWait(100);
        QVERIFY(client.Send(commands[i]));
    }
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), expected.size(), kWaitMs);
    QVERIFY(clock.elapsed() >= minMs);
    if (maxMs > 0)
        QVERIFY2(clock.elapsed() < maxMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(client.received, expected);
    QCOMPARE(client.chunks.last(), lastChunk);
}

// Without SO_OOBINLINE the urgent byte leaves the stream: the reply arrives
// without it, and the byte waits apart.
void TestControllerSim::urgentByteInTheMiddle() {
    ControllerSim sim(Behaviour([](SimBehaviour& b) {
        b.urgent = true;
        b.splitGapMs = 200; // time to stop reading before the urgent byte comes
    }));
    RawClient client;
    QVERIFY(ListenAndConnect(sim, client));
    QVERIFY(client.Send("[0A!p]"));
    QTRY_COMPARE_WITH_TIMEOUT(client.received, QByteArray("[0A!p"), kWaitMs);
    QCOMPARE(client.TakeUrgentByte(kWaitMs), 0);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, QByteArray("[0A!p=ACK]"), kWaitMs);
}

void TestControllerSim::halfCloseGoesOnReading() {
    ControllerSim sim(Behaviour([](SimBehaviour& b) { b.halfCloseInReply = 2; }));
    QVERIFY(sim.Listen(QHostAddress::LocalHost, 0));
    {
        RawClient client;
        QVERIFY(client.Connect(sim.ServerPort()));
        QVERIFY(client.Send("[0A!?v][0A!?rt][0A!p]"));
        QTRY_VERIFY_WITH_TIMEOUT(client.ended, kWaitMs);
        QCOMPARE(client.received, QByteArray("[0A!v=1.00.11][0A!rt"));
        QCOMPARE(client.endError, 0);
        // The simulator's side stays open for commands until the client closes.
        QVERIFY(client.Send("[0A!p]"));
        QCoreApplication::processEvents();
        QCOMPARE(sim.ConnectionCount(), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim.ConnectionCount(), 0, kWaitMs);
}

void TestControllerSim::treatsAcceptedConnection_data() {
    QTest::addColumn<SimBehaviour>("behaviour");
    QTest::addColumn<bool>("ended");
    QTest::newRow("close on accept")
        << Behaviour([](SimBehaviour& b) { b.closeOnAccept = true; }) << true;
    QTest::newRow("hang on accept")
        << Behaviour([](SimBehaviour& b) { b.hangOnAccept = true; }) << false;
}

// Nothing is sent before the connection's fate shows, so a close on accept is
// a FIN and not a reset for unread data. A hanging connection stays open and
// answers nothing, which only a wait can show.
void TestControllerSim::treatsAcceptedConnection() {
    QFETCH(SimBehaviour, behaviour);
    QFETCH(bool, ended);
    ControllerSim sim(behaviour);
    RawClient client;
    QVERIFY(ListenAndConnect(sim, client));
    if (ended) {
        QTRY_VERIFY_WITH_TIMEOUT(client.ended, kWaitMs);
        QCOMPARE(client.endError, 0);
        QTRY_COMPARE_WITH_TIMEOUT(sim.ConnectionCount(), 0, kWaitMs);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(sim.ConnectionCount(), 1, kWaitMs);
        QVERIFY(client.Send("[0A!?v]"));
        QTest::qWait(300);
        QVERIFY(!client.ended);
        QCOMPARE(sim.ConnectionCount(), 1);
    }
    QVERIFY(client.received.isEmpty());
}

void TestControllerSim::executableServesAndQuits() {
    SimProcess sim;
    const quint16 port = sim.Start({"--quiet", "--suffix", "\\r\\n"});
    QVERIFY2(port != 0, qPrintable(sim.firstLine));

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(kWaitMs));
    socket.write("[0A!?\r\nrv]\r\n");
    QByteArray reply;
    while (!reply.endsWith("]\r\n") && socket.waitForReadyRead(kWaitMs))
        reply += socket.readAll();
    QCOMPARE(reply, QByteArray("[0A!rv=12.1,5.0,3.3]\r\n"));

    sim.process.terminate();
    QVERIFY(sim.process.waitForFinished(kWaitMs));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
}

void TestControllerSim::executableRejectsBadOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("split 0") << QStringList{"--split", "0"};
    QTest::newRow("port too high") << QStringList{"--port", "65536"};
    QTest::newRow("negative delay") << QStringList{"--delay", "-1"};
    QTest::newRow("not a number") << QStringList{"--drop-every", "two"};
    QTest::newRow("negative drip") << QStringList{"--drip", "-5"};
    QTest::newRow("long reply too long") << QStringList{"--long-reply", "1000000000"};
    QTest::newRow("host name") << QStringList{"--listen", "localhost"};
    QTest::newRow("unknown escape") << QStringList{"--suffix", "\\q"};
    QTest::newRow("late greeting without a text") << QStringList{"--greet-after", "100"};
    QTest::newRow("unknown option") << QStringList{"--loud"};
    QTest::newRow("stray argument") << QStringList{"3001"};
}

void TestControllerSim::executableRejectsBadOptions() {
    QFETCH(QStringList, arguments);
    QProcess sim;
    // A valid port first: a bad value later in the row wins over it.
    sim.start(SimProcess::Program(), QStringList{"--port", "0"} + arguments);
    QVERIFY(sim.waitForFinished(kWaitMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 1);
    QVERIFY(sim.readAllStandardOutput().isEmpty());
    QVERIFY(!sim.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(TestControllerSim)
#include "tst_controller_sim.moc"
