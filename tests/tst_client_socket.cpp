#include "app/application.h"
#include "base/exceptions.h"
#include "connection/client_socket.h"
#include "connection/socket_calls.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <pthread.h>

namespace {

QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i * 7 % 251);
    return bytes;
}

// Writes down every event of a component as "<event> <Active flag>" and, for
// OnError, "Error <kind> <code>".
class TRecorder : public QObject {
public:
    explicit TRecorder(TClientSocket* component) : m_component(component) {
        component->OnLookup = TSocketNotifyEvent(this, &TRecorder::Lookup);
        component->OnConnecting = TSocketNotifyEvent(this, &TRecorder::Connecting);
        component->OnConnect = TSocketNotifyEvent(this, &TRecorder::Connect);
        component->OnDisconnect = TSocketNotifyEvent(this, &TRecorder::Disconnect);
        component->OnRead = TSocketNotifyEvent(this, &TRecorder::Read);
        component->OnWrite = TSocketNotifyEvent(this, &TRecorder::Write);
        component->OnError = TSocketErrorEvent(this, &TRecorder::Error);
    }

    QStringList log;
    // The code OnError leaves, when set.
    std::optional<int> handlerCode;
    // When set, OnRead takes the waiting bytes into received.
    bool receiving = false;
    QByteArray received;
    // Runs after an event (or "Error") is written down, with its name.
    std::function<void(const QString&, TCustomWinSocket*)> action;

    qsizetype Count(const QString& entry) const { return log.count(entry); }

private:
    void Lookup(QObject* s, TCustomWinSocket* w) { Note("Lookup", s, w); }
    void Connecting(QObject* s, TCustomWinSocket* w) { Note("Connecting", s, w); }
    void Connect(QObject* s, TCustomWinSocket* w) { Note("Connect", s, w); }
    void Disconnect(QObject* s, TCustomWinSocket* w) { Note("Disconnect", s, w); }
    void Read(QObject* s, TCustomWinSocket* w) { Note("Read", s, w); }
    void Write(QObject* s, TCustomWinSocket* w) { Note("Write", s, w); }
    void Error(QObject*, TCustomWinSocket* socket, TErrorEvent kind, int& code) {
        log << QStringLiteral("Error %1 %2").arg(kind).arg(code);
        if (handlerCode)
            code = *handlerCode;
        if (action)
            action(QStringLiteral("Error"), socket);
    }
    void Note(const char* name, QObject* sender, TCustomWinSocket* socket) {
        const bool right = sender == m_component && socket == m_component->WinSocket();
        log << QStringLiteral("%1 %2").arg(QLatin1String(name), m_component->Active() ? "1" : "0") +
                   (right ? "" : " wrong sender");
        if (receiving && QLatin1String(name) == "Read")
            received += socket->ReceiveString();
        if (action)
            action(QLatin1String(name), socket);
    }

    TClientSocket* m_component;
};

// Counts the activations of the socket notifiers that watch one descriptor
// and keeps its read notifier.
class TNotifierWatch : public QObject {
public:
    explicit TNotifierWatch(int fd) : m_fd(fd) {
        QCoreApplication::instance()->installEventFilter(this);
    }

    int activations = 0;
    QPointer<QSocketNotifier> read;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* notifier = qobject_cast<QSocketNotifier*>(watched);
        if (event->type() == QEvent::SockAct && notifier && notifier->socket() == m_fd) {
            ++activations;
            if (notifier->type() == QSocketNotifier::Read)
                read = notifier;
        }
        return false;
    }

private:
    const int m_fd;
};

qsizetype ThreadCount() {
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

} // namespace

class TestClientSocket : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void errorMessage_data();
    void errorMessage();
    void parseIPv4_data();
    void parseIPv4();

    void connectsToListeningPeer();
    void refusedPortFailsTheAttemptOnly();
    void missingOrInvalidAddress_data();
    void missingOrInvalidAddress();
    void socketCreationFails();
    void handlerErrorReachesErrorDisplay();
    void receivesEveryByteOnce_data();
    void receivesEveryByteOnce();
    void writeNotificationAfterWouldBlock();
    void urgentByteIsOrdinaryData();
    void spuriousWakeUpIsNotAClose();
    void peerClosesInOrder();
    void everyByteBeforeOrderlyClose();
    void peerResetsConnection();
    void failedTransferReportsThenCloses_data();
    void failedTransferReportsThenCloses();
    void invalidCountsDoNothing_data();
    void invalidCountsDoNothing();
    void handlerRaisingOrDestroying_data();
    void handlerRaisingOrDestroying();
    void transfersWhileIdle();
    void deactivateWhileConnected();
    void deactivateWhileAttemptPending();
    void portUsesLow16Bits_data();
    void portUsesLow16Bits();
    void propertiesWhileActive_data();
    void propertiesWhileActive();
    void textPropertiesIgnoreLetterCase();
    void loadingStoresWithoutOpening();
    void blockingMode();
    void hostLookupThroughHostsFile();
    void lookupFailure();
    void serviceLookupGivesPort();
    void newActivationCancelsPendingLookup();
    void destructionCancelsPendingLookup();
    void secondActivationReplacesAttempt();
    void descriptorsDoNotLeak_data();
    void descriptorsDoNotLeak();
    void traceIsSilentUnlessEnabled_data();
    void traceIsSilentUnlessEnabled();

private:
    // Activates towards the server and waits for the write notification.
    bool Connect();
    // Takes the server's side of the attempt and waits for the write
    // notification that follows OnConnect.
    bool FinishConnect();
    QTcpSocket* AcceptPeer();
    // Resets the connection from the peer's side; the reset has reached our
    // descriptor, but no notification of it has been handled.
    bool ResetPeerUnseen();
    // Brings about what a handler test needs: "activate", "deactivate",
    // "send" (to a reset peer), "peer close" or "lookup" (that fails). The
    // raised message, or empty.
    QByteArray Provoke(const QString& trigger);
    // Sets Port and Address and activates; the raised message, or empty.
    QByteArray Activate(const QByteArray& address, int port);
    // Activates with Host set and a resolver that answers the address once
    // the returned gate opens.
    std::shared_ptr<QSemaphore> StartSlowLookup(quint32 hostOrderAddress);
    // Opens the gate and lets the late result reach the loop.
    void FinishSlowLookup(const std::shared_ptr<QSemaphore>& gate);

    std::unique_ptr<QObject> m_form;
    TClientSocket* m_socket = nullptr;
    std::unique_ptr<TRecorder> m_rec;
    std::unique_ptr<QTcpServer> m_server;
    QTcpSocket* m_peer = nullptr;
    QStringList m_shown;
    qsizetype m_fds = 0;
};

void TestClientSocket::initTestCase() {
    // Qt Network ignores SIGPIPE for the whole process; at its default, a
    // send without MSG_NOSIGNAL to a dead peer ends the test, in every case
    // even when run alone.
    std::signal(SIGPIPE, SIG_DFL);
}

void TestClientSocket::init() {
    m_shown.clear();
    Application().messageBox = [this](const TMessageBoxRequest& request) {
        m_shown << request.text;
        return TMsgAnswer::Ok;
    };
    m_fds = OpenDescriptorCount();
    m_form = std::make_unique<QObject>();
    m_socket = new TClientSocket(m_form.get());
    m_rec = std::make_unique<TRecorder>(m_socket);
    m_server = std::make_unique<QTcpServer>();
    QVERIFY(m_server->listen(QHostAddress::LocalHost));
    m_peer = nullptr;
}

void TestClientSocket::cleanup() {
    m_form.reset();
    m_rec.reset();
    m_server.reset(); // with the peers it accepted
    QVERIFY(RunUntil([&] { return OpenDescriptorCount() == m_fds; }));
}

QTcpSocket* TestClientSocket::AcceptPeer() {
    if (!RunUntil([&] { return m_server->hasPendingConnections(); }))
        return nullptr;
    return m_server->nextPendingConnection();
}

QByteArray TestClientSocket::Activate(const QByteArray& address, int port) {
    m_socket->SetPort(port);
    m_socket->SetAddress(address);
    try {
        m_socket->SetActive(true);
    } catch (const ESocketError& error) {
        return error.Message();
    }
    return {};
}

bool TestClientSocket::Connect() {
    return Activate("127.0.0.1", m_server->serverPort()).isEmpty() && FinishConnect();
}

bool TestClientSocket::FinishConnect() {
    m_peer = AcceptPeer();
    return m_peer && RunUntil([&] { return m_rec->Count("Write 1") == 1; });
}

bool TestClientSocket::ResetPeerUnseen() {
    const linger hard{1, 0};
    setsockopt(int(m_peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    m_peer->abort();
    pollfd ours{m_socket->WinSocket()->SocketHandle(), POLLIN, 0};
    return poll(&ours, 1, 5000) == 1;
}

QByteArray TestClientSocket::Provoke(const QString& trigger) {
    if (trigger == "lookup") {
        m_socket->WinSocket()->Resolver = [](TLookupKind, const QByteArray&) {
            return TLookupResult{ENXIO, 0};
        };
        m_socket->SetHost("no.such.host");
    }
    if (trigger == "activate" || trigger == "lookup")
        return Activate("127.0.0.1", m_server->serverPort());
    if (trigger == "peer close") {
        m_peer->disconnectFromHost();
        return {};
    }
    try {
        if (trigger == "deactivate")
            m_socket->SetActive(false);
        else if (ResetPeerUnseen())
            m_socket->WinSocket()->SendString("x");
    } catch (const ESocketError& error) {
        return error.Message();
    }
    return {};
}

void TestClientSocket::errorMessage_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("refused") << int(ECONNREFUSED)
                             << QByteArray("Windows socket error: Connection refused (111), on API "
                                           "'connect'");
    QTest::newRow("broken pipe") << int(EPIPE)
                                 << QByteArray(
                                        "Windows socket error: Broken pipe (32), on API 'connect'");
    QTest::newRow("no text for an unknown number")
        << 4242 << QByteArray("Windows socket error:  (4242), on API 'connect'");
}

void TestClientSocket::errorMessage() {
    QFETCH(int, code);
    QFETCH(QByteArray, message);
    QCOMPARE(SocketErrorMessage(code, "connect"), message);
}

void TestClientSocket::parseIPv4_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("hostOrder");
    QTest::newRow("loopback") << QByteArray("127.0.0.1") << true << 0x7f000001u;
    QTest::newRow("broadcast") << QByteArray("255.255.255.255") << true << 0xffffffffu;
    QTest::newRow("zero") << QByteArray("0.0.0.0") << true << 0u;
    QTest::newRow("name") << QByteArray("localhost") << false << 0u;
    QTest::newRow("short form") << QByteArray("127.1") << false << 0u;
    QTest::newRow("hex part") << QByteArray("0x7f.0.0.1") << false << 0u;
    QTest::newRow("part above 255") << QByteArray("256.0.0.1") << false << 0u;
    QTest::newRow("five parts") << QByteArray("1.2.3.4.5") << false << 0u;
    QTest::newRow("trailing space") << QByteArray("1.2.3.4 ") << false << 0u;
    QTest::newRow("nul inside") << QByteArray("1.2.3.4\0x", 9) << false << 0u;
    QTest::newRow("empty") << QByteArray() << false << 0u;
}

void TestClientSocket::parseIPv4() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(quint32, hostOrder);
    in_addr_t address = 0;
    QCOMPARE(ParseIPv4(text, &address), valid);
    QCOMPARE(ntohl(address), hostOrder);
}

void TestClientSocket::connectsToListeningPeer() {
    m_rec->action = [&](const QString& event, TCustomWinSocket*) {
        // Active reads false while the setting is still running.
        if (event == "Connecting")
            QVERIFY(!m_socket->Active());
    };
    QCOMPARE(Activate("127.0.0.1", m_server->serverPort()), QByteArray());
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0"}));
    QVERIFY(!m_socket->Active());
    QVERIFY(FinishConnect());
    QVERIFY(m_socket->Active());
    QVERIFY(m_socket->WinSocket()->Connected());

    // One write notification only: a byte from the peer is the next event.
    m_peer->write("x");
    QVERIFY(RunUntil([&] { return m_rec->log.size() == 5; }));
    QCOMPARE(m_rec->log,
             QStringList({"Lookup 0", "Connecting 0", "Connect 1", "Write 1", "Read 1"}));
    QCOMPARE(m_socket->WinSocket()->ReceiveString(), QByteArray("x"));

    QCOMPARE(m_socket->WinSocket()->SendString("ping"), 4);
    QVERIFY(RunUntil([&] { return m_peer->bytesAvailable() == 4; }));
    QCOMPARE(m_peer->readAll(), QByteArray("ping"));
    try {
        m_socket->WinSocket()->OpenConnection({}, "127.0.0.1", {}, 1, false);
        QFAIL("opened twice");
    } catch (const ESocketError& error) {
        QCOMPARE(error.Message(), QByteArray("Socket already open"));
    }
    QVERIFY(m_shown.isEmpty());
}

void TestClientSocket::refusedPortFailsTheAttemptOnly() {
    QCOMPARE(Activate("127.0.0.1", RefusedPort()), QByteArray());
    QVERIFY(RunUntil([&] { return !m_shown.isEmpty(); }));
    QCOMPARE(m_rec->log,
             QStringList({"Lookup 0", "Connecting 0",
                          QStringLiteral("Error %1 %2").arg(erConnect).arg(ECONNREFUSED)}));
    QCOMPARE(m_shown,
             QStringList({QStringLiteral("Asynchronous socket error %1.").arg(ECONNREFUSED)}));
    QVERIFY(!m_socket->Active());
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1); // not kept open

    m_socket->SetActive(false);
    QCOMPARE(m_rec->log.size(), 3);
    m_rec->log.clear();
    QVERIFY(Connect());
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0", "Connect 1", "Write 1"}));
}

void TestClientSocket::missingOrInvalidAddress_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<bool>("clear");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("raised");
    QTest::newRow("missing") << QByteArray() << false << 1110 << QByteArray("No address specified");
    QTest::newRow("missing, cleared") << QByteArray() << true << 1110 << QByteArray();
    QTest::newRow("host name") << QByteArray("localhost") << false << 1111
                               << QByteArray("'localhost' is not a valid IPv4 address");
    QTest::newRow("short form") << QByteArray("127.1") << false << 1111
                                << QByteArray("'127.1' is not a valid IPv4 address");
    QTest::newRow("invalid, cleared") << QByteArray("1.2.3") << true << 1111 << QByteArray();
}

void TestClientSocket::missingOrInvalidAddress() {
    QFETCH(QByteArray, address);
    QFETCH(bool, clear);
    QFETCH(int, code);
    QFETCH(QByteArray, raised);
    if (clear)
        m_rec->handlerCode = 0;
    QCOMPARE(Activate(address, m_server->serverPort()), raised);
    QCOMPARE(m_rec->log,
             QStringList({"Lookup 0", QStringLiteral("Error %1 %2").arg(erLookup).arg(code),
                          "Disconnect 0"}));
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1);
    QVERIFY(!m_socket->Active());
    // No attempt went anywhere, and nothing arrives later.
    QVERIFY(!RunUntil([&] { return m_server->hasPendingConnections(); }, 100));
    QCOMPARE(m_rec->log.size(), 3);
    QVERIFY(m_shown.isEmpty());
}

void TestClientSocket::socketCreationFails() {
    rlimit limit{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit none{0, limit.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &none), 0);
    const QByteArray raised = Activate("127.0.0.1", m_server->serverPort());
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);
    QCOMPARE(raised, QByteArray("Can't create new socket"));
    QVERIFY(m_rec->log.isEmpty());
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1);
}

void TestClientSocket::handlerErrorReachesErrorDisplay() {
    m_rec->action = [](const QString& event, TCustomWinSocket*) {
        if (event == "Connect")
            throw ESocketError("raised in OnConnect");
    };
    QVERIFY(Connect());
    QCOMPARE(m_shown, QStringList({"raised in OnConnect."}));
    // The loop went on: the write notification still came.
    QCOMPARE(m_rec->log.last(), QStringLiteral("Write 1"));
}

void TestClientSocket::receivesEveryByteOnce_data() {
    QTest::addColumn<int>("pieces");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<bool>("interrupted"); // a blocking receive, hit by a signal
    QTest::newRow("many small pieces") << 400 << 13 << false;
    QTest::newRow("one large burst") << 1 << 6 * 1024 * 1024 << false;
    QTest::newRow("blocking receive interrupted") << 1 << 64 << true;
}

void TestClientSocket::receivesEveryByteOnce() {
    QFETCH(int, pieces);
    QFETCH(int, pieceSize);
    QFETCH(bool, interrupted);
    if (interrupted) {
        // The handler is installed without SA_RESTART, so the signal makes
        // recv() fail with EINTR; the call must go on and return the data.
        struct sigaction wake {
        }, previous{};
        wake.sa_handler = [](int) {};
        QCOMPARE(sigaction(SIGUSR1, &wake, &previous), 0);
        m_socket->SetClientType(ctBlocking);
        QCOMPARE(Activate("127.0.0.1", m_server->serverPort()), QByteArray());
        QVERIFY((m_peer = AcceptPeer()));
        const timeval patience{5, 0};
        setsockopt(m_socket->WinSocket()->SocketHandle(), SOL_SOCKET, SO_RCVTIMEO, &patience,
                   sizeof patience);
        const QByteArray sent = Pattern(pieceSize);
        QByteArray received(sent.size(), '\0');
        const auto late = std::async(std::launch::async, [&, receiver = pthread_self()] {
            usleep(100000);
            pthread_kill(receiver, SIGUSR1);
            usleep(100000);
            ::send(int(m_peer->socketDescriptor()), sent.constData(), size_t(sent.size()), 0);
        });
        try {
            QCOMPARE(m_socket->WinSocket()->ReceiveBytes(received.data(), int(received.size())),
                     int(sent.size()));
        } catch (const ESocketError& error) {
            QFAIL(error.Message().constData());
        }
        sigaction(SIGUSR1, &previous, nullptr);
        QVERIFY(received == sent);
        return;
    }
    QByteArray received;
    int depth = 0, deepest = 0, empty = 0;
    m_rec->action = [&](const QString& event, TCustomWinSocket* socket) {
        if (event != "Read")
            return;
        ++depth;
        deepest = qMax(deepest, depth);
        if (m_rec->Count("Read 1") == 1) {
            // As under an error box: a nested loop while the data waits.
            QEventLoop box;
            QTimer::singleShot(50, &box, &QEventLoop::quit);
            box.exec();
        }
        const QByteArray piece = socket->ReceiveString();
        empty += piece.isEmpty();
        received += piece;
        --depth;
    };
    QVERIFY(Connect());
    const QByteArray sent = Pattern(qsizetype(pieces) * pieceSize);
    for (int i = 0; i < pieces; ++i) {
        m_peer->write(sent.mid(qsizetype(i) * pieceSize, pieceSize));
        m_peer->flush();
    }
    QVERIFY(RunUntil([&] { return received.size() >= sent.size(); }, 10000));
    QCOMPARE(received.size(), sent.size());
    QVERIFY(received == sent);
    QCOMPARE(deepest, 1);
    QCOMPARE(empty, 0);
    QVERIFY(m_shown.isEmpty());
}

void TestClientSocket::writeNotificationAfterWouldBlock() {
    QVERIFY(Connect());
    const QByteArray chunk = Pattern(1024 * 1024);
    int sent = 0;
    int result = 0;
    for (int i = 0; i < 256 && result >= 0; ++i) {
        result = m_socket->WinSocket()->SendString(chunk);
        sent += qMax(result, 0);
    }
    QCOMPARE(result, -1);
    QCOMPARE(m_rec->Count("Write 1"), 1);
    QVERIFY(RunUntil([&] { return m_rec->Count("Write 1") == 2; }));
    QVERIFY(RunUntil([&] { return m_peer->bytesAvailable() == sent; }));
    QCOMPARE(m_rec->Count("Write 1"), 2);
    QVERIFY(m_shown.isEmpty());
}

void TestClientSocket::urgentByteIsOrdinaryData() {
    m_rec->receiving = true;
    const QByteArray& received = m_rec->received;
    QVERIFY(Connect());
    const int peer = int(m_peer->socketDescriptor());
    QCOMPARE(send(peer, "ab", 2, 0), 2);
    QCOMPARE(send(peer, "X", 1, MSG_OOB), 1);
    QCOMPARE(send(peer, "cd]", 3, 0), 3);
    RunUntil([&] { return received.endsWith(']'); }, 1000);
    // Nothing is left to read: the read notification stays quiet.
    TNotifierWatch watch(m_socket->WinSocket()->SocketHandle());
    RunUntil([] { return false; }, 200);
    qInfo("read notifications in 200 ms after the reply: %d", watch.activations);
    QCOMPARE(received, QByteArray("abXcd]"));
    QVERIFY(watch.activations <= 2);
}

void TestClientSocket::spuriousWakeUpIsNotAClose() {
    m_rec->receiving = true;
    const QByteArray& received = m_rec->received;
    QVERIFY(Connect());
    TNotifierWatch watch(m_socket->WinSocket()->SocketHandle());
    m_peer->write("a");
    QVERIFY(RunUntil([&] { return received == "a"; }));
    QVERIFY(watch.read);
    // Readable by the notifier's word, yet nothing waits and the peek would
    // block.
    QEvent wake(QEvent::SockAct);
    QCoreApplication::sendEvent(watch.read, &wake);
    QVERIFY(!RunUntil([&] { return m_rec->log.last() != "Read 1"; }, 100));
    QVERIFY(m_socket->WinSocket()->Connected());
    m_peer->write("b");
    QVERIFY(RunUntil([&] { return received == "ab"; }));
}

void TestClientSocket::peerClosesInOrder() {
    QVERIFY(Connect());
    m_peer->disconnectFromHost();
    QVERIFY(RunUntil([&] { return m_rec->log.last() == "Disconnect 0"; }));
    QVERIFY(!m_socket->Active());
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1);
    QCOMPARE(m_rec->log.size(), 5);
    QVERIFY(m_shown.isEmpty());
}

void TestClientSocket::everyByteBeforeOrderlyClose() {
    m_rec->receiving = true;
    qsizetype receivedAtClose = -1;
    m_rec->action = [&](const QString& event, TCustomWinSocket*) {
        if (event == "Disconnect")
            receivedAtClose = m_rec->received.size();
    };
    QVERIFY(Connect());
    const QByteArray sent = Pattern(512 * 1024);
    m_peer->write(sent);
    m_peer->disconnectFromHost();
    QVERIFY(RunUntil([&] { return receivedAtClose >= 0; }));
    QCOMPARE(receivedAtClose, sent.size());
    QVERIFY(m_rec->received == sent);
}

void TestClientSocket::peerResetsConnection() {
    QVERIFY(Connect());
    const linger hard{1, 0};
    setsockopt(int(m_peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    m_peer->abort();
    QVERIFY(RunUntil([&] { return !m_shown.isEmpty(); }));
    QCOMPARE(m_rec->log.last(), QStringLiteral("Error %1 %2").arg(erDisconnect).arg(ECONNRESET));
    QCOMPARE(m_shown,
             QStringList({QStringLiteral("Asynchronous socket error %1.").arg(ECONNRESET)}));
    QVERIFY(m_socket->Active());
    QVERIFY(m_socket->WinSocket()->Connected());

    m_rec->log.clear();
    try {
        m_socket->WinSocket()->SendString("after reset");
        QFAIL("send succeeded");
    } catch (const ESocketError& error) {
        QCOMPARE(error.Message(),
                 QByteArray("Windows socket error: Broken pipe (32), on API 'send'"));
    }
    QCOMPARE(m_rec->log,
             QStringList({QStringLiteral("Error %1 %2").arg(erSend).arg(EPIPE), "Disconnect 0"}));
    QCOMPARE(m_socket->WinSocket()->SendString("again"), 0);
}

void TestClientSocket::failedTransferReportsThenCloses_data() {
    QTest::addColumn<QString>("call"); // empty: no call, the loop notices the reset
    QTest::addColumn<std::optional<int>>("handlerCode");
    QTest::addColumn<QByteArray>("raised");
    const QByteArray reset = "Windows socket error: Connection reset by peer (104), on API ";
    QTest::newRow("send") << "send" << std::optional<int>() << reset + "'send'";
    QTest::newRow("send, code cleared") << "send" << std::optional<int>(0) << QByteArray();
    QTest::newRow("send, code changed")
        << "send" << std::optional<int>(ETIMEDOUT)
        << QByteArray("Windows socket error: Connection timed out (110), on API 'send'");
    QTest::newRow("receive") << "recv" << std::optional<int>() << reset + "'recv'";
    QTest::newRow("noticed by the loop, code changed")
        << QString() << std::optional<int>(ETIMEDOUT)
        << QByteArray("Asynchronous socket error 110.");
}

void TestClientSocket::failedTransferReportsThenCloses() {
    QFETCH(QString, call);
    QFETCH(std::optional<int>, handlerCode);
    QFETCH(QByteArray, raised);
    const bool send = call == "send";
    QVERIFY(Connect());
    QVERIFY(ResetPeerUnseen());
    m_rec->log.clear();
    m_rec->handlerCode = handlerCode;
    if (call.isEmpty()) {
        // Raised from the notification, so it reaches the error display; the
        // connection stays until a send fails.
        QVERIFY(RunUntil([&] { return !m_shown.isEmpty(); }));
        QCOMPARE(m_shown, QStringList{QString::fromLatin1(raised)});
        QCOMPARE(m_rec->log,
                 QStringList{QStringLiteral("Error %1 %2").arg(erDisconnect).arg(ECONNRESET)});
        return;
    }
    char buffer[16];
    QByteArray message;
    try {
        const int result = send ? m_socket->WinSocket()->SendString("x")
                                : m_socket->WinSocket()->ReceiveBytes(buffer, sizeof buffer);
        QCOMPARE(result, -1);
    } catch (const ESocketError& error) {
        message = error.Message();
    }
    QCOMPARE(message, raised);
    QCOMPARE(
        m_rec->log,
        QStringList({QStringLiteral("Error %1 %2").arg(send ? erSend : erReceive).arg(ECONNRESET),
                     "Disconnect 0"}));
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1);
}

void TestClientSocket::invalidCountsDoNothing_data() {
    QTest::addColumn<bool>("send");
    QTest::addColumn<qint64>("count");
    QTest::newRow("send -1") << true << qint64(-1);
    QTest::newRow("send INT_MIN") << true << qint64(INT_MIN);
    QTest::newRow("receive -2") << false << qint64(-2);
    QTest::newRow("receive INT_MIN") << false << qint64(INT_MIN);
    QTest::newRow("text longer than INT_MAX") << true << qint64(INT_MAX) + 1;
}

void TestClientSocket::invalidCountsDoNothing() {
    QFETCH(bool, send);
    QFETCH(qint64, count);
    QVERIFY(Connect());
    m_peer->write("0123456789abcdef");
    QVERIFY(RunUntil([&] { return m_rec->Count("Read 1") == 1; }));
    const QStringList events = m_rec->log;
    TCustomWinSocket* socket = m_socket->WinSocket();
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    const auto call = [&] {
        if (count > INT_MAX)
            return socket->SendString(QByteArray(count, Qt::Uninitialized));
        return send ? socket->SendBytes(buffer, int(count))
                    : socket->ReceiveBytes(buffer, int(count));
    };
    int result = 0;
    QVERIFY_THROWS_NO_EXCEPTION(result = call());
    QCOMPARE(result, -1);
    QCOMPARE(QByteArray(buffer, sizeof buffer), QByteArray(sizeof buffer, '#'));
    QVERIFY(!RunUntil([&] { return m_peer->bytesAvailable() > 0; }, 50));
    QCOMPARE(m_rec->log, events);
    QCOMPARE(socket->ReceiveString(), QByteArray("0123456789abcdef"));
}

void TestClientSocket::handlerRaisingOrDestroying_data() {
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("destroy");
    const auto row = [](const char* name, const char* event, const char* trigger, bool destroy) {
        QTest::newRow(name) << QString(event) << QString(trigger) << destroy;
    };
    row("OnDisconnect raises, deactivating", "Disconnect", "deactivate", false);
    row("OnError raises, failed send", "Error", "send", false);
    row("OnDisconnect raises, failed send", "Disconnect", "send", false);
    row("OnError raises, failed lookup", "Error", "lookup", false);
    row("OnLookup destroys", "Lookup", "activate", true);
    row("OnConnecting destroys", "Connecting", "activate", true);
    row("OnDisconnect destroys, deactivating", "Disconnect", "deactivate", true);
    row("OnDisconnect destroys, peer closes", "Disconnect", "peer close", true);
    row("OnError destroys, failed send", "Error", "send", true);
    row("OnError destroys, failed lookup", "Error", "lookup", true);
}

void TestClientSocket::handlerRaisingOrDestroying() {
    QFETCH(QString, event);
    QFETCH(QString, trigger);
    QFETCH(bool, destroy);
    if (trigger != "activate" && trigger != "lookup")
        QVERIFY(Connect());
    QPointer<TClientSocket> component(m_socket);
    m_rec->action = [&](const QString& name, TCustomWinSocket*) {
        if (name == event && destroy)
            m_form.reset();
        else if (name == event)
            throw ESocketError("raised in the handler");
    };
    const QByteArray raised = Provoke(trigger);
    if (destroy) {
        // What matters is that nothing touched the freed component.
        QVERIFY(RunUntil([&] { return component.isNull(); }));
        return;
    }
    if (trigger == "lookup")
        QVERIFY(RunUntil([&] { return m_shown == QStringList({"raised in the handler."}); }));
    else
        QCOMPARE(raised, QByteArray("raised in the handler"));
    QVERIFY(!m_socket->Active());
    QVERIFY(!m_socket->WinSocket()->Connected());
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1);

    m_rec->action = nullptr;
    m_rec->log.clear();
    m_socket->SetHost({});
    QVERIFY(Connect());
}

void TestClientSocket::transfersWhileIdle() {
    TCustomWinSocket* socket = m_socket->WinSocket();
    QCOMPARE(socket->SendString("nobody"), 0);
    QCOMPARE(socket->ReceiveString(), QByteArray());
    char byte;
    QCOMPARE(socket->ReceiveBytes(&byte, 1), 0);
    QVERIFY(Connect());
    m_rec->log.clear();
    QCOMPARE(socket->ReceiveBytes(nullptr, -1), 0);
    QCOMPARE(socket->ReceiveString(), QByteArray());
    QCOMPARE(socket->ReceiveBytes(&byte, 1), -1); // would block
    QVERIFY(!RunUntil([&] { return !m_rec->log.isEmpty(); }, 100));
    QVERIFY(m_shown.isEmpty());
}

void TestClientSocket::deactivateWhileConnected() {
    QVERIFY(Connect());
    bool handleOpen = false;
    m_rec->action = [&](const QString& event, TCustomWinSocket* socket) {
        if (event == "Disconnect")
            handleOpen = fcntl(socket->SocketHandle(), F_GETFD) != -1;
    };
    m_socket->SetActive(false);
    QCOMPARE(m_rec->log.last(), QStringLiteral("Disconnect 0"));
    QVERIFY(handleOpen);
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1);
    QVERIFY(RunUntil([&] { return m_peer->state() == QAbstractSocket::UnconnectedState; }));
    QCOMPARE(m_rec->log.size(), 5);
}

void TestClientSocket::deactivateWhileAttemptPending() {
    QCOMPARE(Activate("127.0.0.1", m_server->serverPort()), QByteArray());
    m_socket->SetActive(false);
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0"}));
    QVERIFY(RunUntil([&] { return m_rec->Count("Write 1") == 1; }));
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0", "Connect 1", "Write 1"}));
}

void TestClientSocket::portUsesLow16Bits_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("wire");
    QTest::newRow("70000") << 70000 << 4464;
    QTest::newRow("-1") << -1 << 65535;
}

void TestClientSocket::portUsesLow16Bits() {
    QFETCH(int, port);
    QFETCH(int, wire);
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(wire)))
        QSKIP("the port is taken on this machine");
    QCOMPARE(Activate("127.0.0.1", port), QByteArray());
    QCOMPARE(m_socket->Port(), port);
    QVERIFY(RunUntil([&] { return server.hasPendingConnections(); }));
    QVERIFY(RunUntil([&] { return m_socket->Active(); }));
}

void TestClientSocket::propertiesWhileActive_data() {
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("refused");
    QTest::newRow("same address") << QByteArray("Address") << QByteArray("127.0.0.1") << false;
    QTest::newRow("other address") << QByteArray("Address") << QByteArray("127.0.0.2") << true;
    QTest::newRow("same port") << QByteArray("Port") << QByteArray() << false;
    QTest::newRow("other port") << QByteArray("Port") << QByteArray("1") << true;
    QTest::newRow("host") << QByteArray("Host") << QByteArray("localhost") << true;
    QTest::newRow("service") << QByteArray("Service") << QByteArray("echo") << true;
    QTest::newRow("client type") << QByteArray("ClientType") << QByteArray() << true;
}

void TestClientSocket::propertiesWhileActive() {
    QFETCH(QByteArray, property);
    QFETCH(QByteArray, value);
    QFETCH(bool, refused);
    QVERIFY(Connect());
    const int port = m_socket->Port();
    QByteArray raised;
    try {
        if (property == "Address")
            m_socket->SetAddress(value);
        else if (property == "Port")
            m_socket->SetPort(value.isEmpty() ? port : value.toInt());
        else if (property == "Host")
            m_socket->SetHost(value);
        else if (property == "Service")
            m_socket->SetService(value);
        else
            m_socket->SetClientType(ctBlocking);
    } catch (const ESocketError& error) {
        raised = error.Message();
    }
    QCOMPARE(raised,
             refused ? QByteArray("Can't change value while socket is active") : QByteArray());
    QCOMPARE(m_socket->Address(), QByteArray("127.0.0.1"));
    QCOMPARE(m_socket->Port(), port);
    QCOMPARE(m_socket->Host(), QByteArray());
    QCOMPARE(m_socket->Service(), QByteArray());
    QCOMPARE(m_socket->ClientType(), ctNonBlocking);
    QVERIFY(m_socket->Active());
}

void TestClientSocket::textPropertiesIgnoreLetterCase() {
    m_socket->SetHost("Controller");
    m_socket->SetHost("CONTROLLER");
    QCOMPARE(m_socket->Host(), QByteArray("Controller"));
    // Only a to z fold: other bytes are compared as they are.
    m_socket->SetService("\xe4");
    m_socket->SetService("\xc4");
    QCOMPARE(m_socket->Service(), QByteArray("\xc4"));
}

void TestClientSocket::loadingStoresWithoutOpening() {
    m_socket->BeginLoading();
    m_socket->SetPort(m_server->serverPort());
    m_socket->SetAddress("127.0.0.1");
    m_socket->SetActive(true);
    m_socket->SetPort(m_server->serverPort()); // no active check while loading
    QVERIFY(m_rec->log.isEmpty());
    m_socket->Loaded();
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0"}));
    QVERIFY(!m_socket->Active());
    QVERIFY(RunUntil([&] { return m_socket->Active(); }));
}

void TestClientSocket::blockingMode() {
    m_socket->SetClientType(ctBlocking);
    QCOMPARE(Activate("127.0.0.1", RefusedPort()),
             QByteArray("Windows socket error: Connection refused (111), on API 'connect'"));
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0", "Disconnect 0"}));
    m_rec->log.clear();
    QCOMPARE(Activate("127.0.0.1", m_server->serverPort()), QByteArray());
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0", "Connect 1"}));
    m_peer = AcceptPeer();
    QVERIFY(m_peer);
    QCOMPARE(m_socket->WinSocket()->SendString("blocking"), 8);
    QVERIFY(RunUntil([&] { return m_peer->bytesAvailable() == 8; }));
    // Nothing waits: the answer is an empty text at once, not a wait for data.
    const timeval patience{2, 0};
    setsockopt(m_socket->WinSocket()->SocketHandle(), SOL_SOCKET, SO_RCVTIMEO, &patience,
               sizeof patience);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_socket->WinSocket()->ReceiveString(), QByteArray());
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(!RunUntil([&] { return m_rec->log.size() > 3; }, 100));
}

void TestClientSocket::hostLookupThroughHostsFile() {
    const qsizetype threads = ThreadCount();
    m_socket->SetHost("localhost");
    QCOMPARE(Activate({}, m_server->serverPort()), QByteArray());
    QCOMPARE(m_rec->log, QStringList({"Lookup 0"})); // the lookup runs in the background
    QVERIFY(RunUntil([&] { return m_rec->Count("Write 1") == 1; }));
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0", "Connect 1", "Write 1"}));
    // The lookup's worker does not stay once the lookup is done.
    QVERIFY(RunUntil([&] { return ThreadCount() == threads; }, 2000));
}

void TestClientSocket::lookupFailure() {
    m_socket->WinSocket()->Resolver = [](TLookupKind, const QByteArray&) {
        return TLookupResult{ENXIO, 0};
    };
    m_socket->SetHost("no.such.host");
    QCOMPARE(Activate({}, m_server->serverPort()), QByteArray());
    QVERIFY(RunUntil([&] { return !m_shown.isEmpty(); }));
    QCOMPARE(m_rec->log,
             QStringList({"Lookup 0", QStringLiteral("Error %1 %2").arg(erLookup).arg(ENXIO),
                          "Disconnect 0"}));
    QCOMPARE(m_shown, QStringList({"Windows socket error: No such device or address (6), on API "
                                   "'ASync Lookup'"}));
    QCOMPARE(m_socket->WinSocket()->SocketHandle(), -1);
}

void TestClientSocket::serviceLookupGivesPort() {
    const quint16 port = m_server->serverPort();
    QByteArray asked;
    m_socket->WinSocket()->Resolver = [port, &asked](TLookupKind kind, const QByteArray& name) {
        asked += (kind == TLookupKind::Service ? "service " : "host ") + name;
        return TLookupResult{0, htons(port)};
    };
    m_socket->SetService("controller");
    QCOMPARE(Activate("127.0.0.1", 1), QByteArray());
    QVERIFY(RunUntil([&] { return m_socket->Active(); }));
    QCOMPARE(asked, QByteArray("service controller"));
    QCOMPARE(ntohs(m_socket->WinSocket()->RemoteAddress().sin_port), port);
}

std::shared_ptr<QSemaphore> TestClientSocket::StartSlowLookup(quint32 hostOrderAddress) {
    auto gate = std::make_shared<QSemaphore>();
    m_socket->WinSocket()->Resolver = [gate, hostOrderAddress](TLookupKind, const QByteArray&) {
        gate->tryAcquire(1, 5000);
        return TLookupResult{0, htonl(hostOrderAddress)};
    };
    m_socket->SetHost("slow");
    m_socket->SetPort(m_server->serverPort());
    m_socket->SetActive(true);
    return gate;
}

void TestClientSocket::FinishSlowLookup(const std::shared_ptr<QSemaphore>& gate) {
    gate->release();
    QVERIFY(LookupThreads().waitForDone(5000));
    QCoreApplication::processEvents(); // the late result, if it were taken
}

void TestClientSocket::newActivationCancelsPendingLookup() {
    // The first answer comes while the second lookup is pending; taken, it
    // would send the attempt to an address where nobody listens.
    const auto first = StartSlowLookup(0x7f000002);
    const auto second = StartSlowLookup(INADDR_LOOPBACK);
    first->release();
    QVERIFY(RunUntil([] { return LookupThreads().activeThreadCount() == 1; }));
    QCoreApplication::processEvents();
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Lookup 0"}));
    FinishSlowLookup(second);
    QVERIFY(RunUntil([&] { return m_rec->Count("Write 1") == 1; }));
    QCOMPARE(m_rec->log,
             QStringList({"Lookup 0", "Lookup 0", "Connecting 0", "Connect 1", "Write 1"}));
}

void TestClientSocket::destructionCancelsPendingLookup() {
    const auto gate = StartSlowLookup(INADDR_LOOPBACK);
    m_form.reset();
    FinishSlowLookup(gate);
    QCOMPARE(m_rec->log, QStringList({"Lookup 0"}));
    QVERIFY(!m_server->hasPendingConnections());
}

void TestClientSocket::secondActivationReplacesAttempt() {
    QCOMPARE(Activate("127.0.0.1", m_server->serverPort()), QByteArray());
    // Once the kernel has the connection, one pass of the loop notices the
    // completion and queues its connect notification; the replacement comes
    // before that is delivered.
    pollfd listener{int(m_server->socketDescriptor()), POLLIN, 0};
    QCOMPARE(poll(&listener, 1, 5000), 1);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    m_socket->SetActive(true);
    QVERIFY(RunUntil([&] { return m_rec->Count("Write 1") == 1; }));
    // The first descriptor is closed at once: its peer ends, the second one
    // gets what the component sends, and the first attempt reports nothing.
    QTcpSocket* first = AcceptPeer();
    QTcpSocket* second = AcceptPeer();
    QVERIFY(first && second);
    QCOMPARE(m_socket->WinSocket()->SendString("x"), 1);
    QVERIFY(RunUntil([&] {
        return first->state() == QAbstractSocket::UnconnectedState && second->bytesAvailable() == 1;
    }));
    QCOMPARE(m_rec->log, QStringList({"Lookup 0", "Connecting 0", "Lookup 0", "Connecting 0",
                                      "Connect 1", "Write 1"}));
}

void TestClientSocket::descriptorsDoNotLeak_data() {
    QTest::addColumn<bool>("refused");
    QTest::newRow("connect and close") << false;
    QTest::newRow("refused attempts") << true;
}

void TestClientSocket::descriptorsDoNotLeak() {
    QFETCH(bool, refused);
    const qsizetype before = OpenDescriptorCount();
    m_rec->handlerCode = 0;
    connect(m_server.get(), &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* peer = m_server->nextPendingConnection())
            peer->deleteLater();
    });
    m_socket->SetAddress("127.0.0.1");
    m_socket->SetPort(refused ? RefusedPort() : m_server->serverPort());
    for (int i = 0; i < 1000; ++i) {
        m_socket->SetActive(true);
        if (refused) {
            QVERIFY(RunUntil([&] { return m_rec->log.size() == 3 * (i + 1); }));
        } else {
            QVERIFY(RunUntil([&] { return m_socket->Active(); }));
            m_socket->SetActive(false);
        }
    }
    QCOMPARE(m_rec->Count(refused ? QStringLiteral("Error %1 %2").arg(erConnect).arg(ECONNREFUSED)
                                  : QStringLiteral("Disconnect 0")),
             1000);
    QVERIFY(RunUntil([&] { return OpenDescriptorCount() == before; }));
    QVERIFY(m_shown.isEmpty());
}

void TestClientSocket::traceIsSilentUnlessEnabled_data() {
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QStringList>("trace"); // %1 the refused port, %2 the listening one
    QTest::newRow("by default") << QString() << QStringList();
    QTest::newRow("enabled") << "zyl.connection.debug=true"
                             << QStringList{"connecting to 127.0.0.1:%1",
                                            QStringLiteral("connect error %1").arg(ECONNREFUSED),
                                            "closed",
                                            "connecting to 127.0.0.1:%2",
                                            "connected",
                                            "closed"};
}

// An attempt refused, then one that connects and is closed: a line each for
// the attempts, the error, the connection and the closes, once enabled.
void TestClientSocket::traceIsSilentUnlessEnabled() {
    QFETCH(QString, rules);
    QFETCH(QStringList, trace);
    static QStringList lines;
    lines.clear();
    QLoggingCategory::setFilterRules(rules);
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& text) {
            if (QByteArray(context.category) == "zyl.connection")
                lines.append(QString(text).remove(QRegularExpression("^descriptor \\d+: ")));
        });
    const quint16 refused = RefusedPort();
    m_socket->SetAddress("127.0.0.1");
    m_socket->SetPort(refused);
    m_socket->SetActive(true);
    const bool failed = RunUntil([&] { return !m_shown.isEmpty(); });
    m_socket->SetActive(false);
    const bool connected = Connect();
    m_socket->SetActive(false);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(failed && connected);
    QCOMPARE(lines, trace.replaceInStrings("%1", QString::number(refused))
                        .replaceInStrings("%2", QString::number(m_server->serverPort())));
}

QTEST_MAIN(TestClientSocket)
#include "tst_client_socket.moc"
