// The runner's event dispatcher, installed as the runner installs it:
// notifiers, timers, posted events, wake-ups from other threads and
// interrupt(); and the client socket on it, delivering its notifications in
// the pass that found them.
#include "base/exceptions.h"
#include "base/guard.h"
#include "connection/resolver.h"
#include "connection/win_socket.h"
#include "runner/epoll_dispatcher.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <functional>
#include <memory>
#include <thread>

namespace {

int g_pass = 0; // counted at every awake(): one pass of the loop each

// The receives on one descriptor and the pass of the last, and the queries
// of the bytes waiting: the socket's recv() and ioctl(FIONREAD) come here
// before the C library's.
int g_countedFd = -1;
int g_receives = 0;
int g_receivePass = -1;
int g_fionreads = 0;

// "<name>" per event, with "|" where a later pass begins.
struct TPassLog {
    QString text;
    int lastPass = -1;
    void Note(QChar name) {
        if (lastPass >= 0 && lastPass != g_pass)
            text += '|';
        lastPass = g_pass;
        text += name;
    }
};

void RunLoop(int ms) {
    RunUntil([] { return false; }, ms);
}

// Rows of a table whose two columns are texts: name, first, second.
void TextRows(std::initializer_list<std::array<const char*, 3>> rows) {
    for (const auto& [name, first, second] : rows)
        QTest::newRow(name) << QString(first) << QString(second);
}

void Post(QObject* context, const std::function<void()>& call) {
    QMetaObject::invokeMethod(context, call, Qt::QueuedConnection);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* const argument = va_arg(arguments, void*);
    va_end(arguments);
    static const auto next =
        reinterpret_cast<int (*)(int, unsigned long, void*)>(dlsym(RTLD_NEXT, "ioctl"));
    g_fionreads += request == FIONREAD && fd == g_countedFd;
    return next(fd, request, argument);
}

extern "C" ssize_t recv(int fd, void* buffer, size_t count, int flags) {
    static const auto next =
        reinterpret_cast<ssize_t (*)(int, void*, size_t, int)>(dlsym(RTLD_NEXT, "recv"));
    if (fd == g_countedFd) {
        ++g_receives;
        g_receivePass = g_pass;
    }
    return next(fd, buffer, count, flags);
}

class TestEpollDispatcher : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, this,
                [] { ++g_pass; });
    }
    // First: no timer of an earlier test may wake the loop meanwhile.
    void wakeUps_data();
    void wakeUps();
    void notifierChangedDuringDispatch_data();
    void notifierChangedDuringDispatch();
    void regularFileIsAlwaysReady();
    void timersDueTogether_data();
    void timersDueTogether();
    void timerKinds_data();
    void timerKinds();
    void socketInPass_data();
    void socketInPass();
};

void TestEpollDispatcher::wakeUps_data() {
    QTest::addColumn<QString>("source");
    QTest::newRow("post from the loop's own thread") << "own";
    QTest::newRow("result of a lookup thread") << "lookup";
    QTest::newRow("interrupt from another thread") << "interrupt";
}

void TestEpollDispatcher::wakeUps() {
    // Nothing else wakes the loop but a guard timer, long after the bound.
    QFETCH(QString, source);
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    const auto quit = [&loop] { loop.quit(); };
    QCoreApplication::processEvents(); // nothing left over to end the wait early
    const int passes = g_pass;
    QElapsedTimer clock;
    clock.start();
    if (source == "own") {
        // Posted while posted events are delivered: the next pass must not block.
        QTimer::singleShot(20, &loop, [&] { Post(&loop, [&] { Post(&loop, quit); }); });
        loop.exec();
    } else if (source == "lookup") {
        const TResolver slow = [](TLookupKind, const QByteArray&) {
            QThread::msleep(30);
            return TLookupResult{};
        };
        LookUpInBackground(slow, TLookupKind::Host, "x", [&](TLookupResult) { quit(); });
        loop.exec();
        LookupThreads().waitForDone(); // with its descriptors, before a leak check counts them
    } else {
        QAbstractEventDispatcher* const dispatcher = QAbstractEventDispatcher::instance();
        std::atomic<bool> interrupted{false};
        std::thread other([&] {
            QThread::msleep(30);
            interrupted = true;
            dispatcher->interrupt();
        });
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
        other.join();
        QVERIFY(interrupted);
    }
    QVERIFY2(clock.elapsed() < 1500, QByteArray::number(clock.elapsed()));
    // It slept: a loop that cannot block spins through thousands.
    QVERIFY2(g_pass - passes < 20, QByteArray::number(g_pass - passes));
}

void TestEpollDispatcher::notifierChangedDuringDispatch_data() {
    // Two descriptors readable in one wait; the first notifier activated
    // does this to the other.
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fired"); // "11": both in one pass, "1|1": the other later
    TextRows({{"left alone", "nothing", "11"},
              {"disabled", "disable", "1"},
              {"deleted", "delete", "1"},
              {"enabled (was off)", "enable", "1|1"},
              {"replaced by a new notifier", "replace", "1|1"},
              {"descriptor closed, number reused", "reuse", "1|1"}});
}

// Hands readiness to a function, as the socket handle does to itself.
struct TCallingHandler : TReadinessHandler {
    std::function<void()> call;
    void Ready(QSocketNotifier*) override { call(); }
};

void TestEpollDispatcher::notifierChangedDuringDispatch() {
    QFETCH(QString, action);
    QFETCH(QString, fired);
    // By the notifiers' signal, then by readiness handlers.
    for (const bool direct : {false, true}) {
        auto* const dispatcher =
            static_cast<TEpollDispatcher*>(QAbstractEventDispatcher::instance());
        int pairs[2][2];
        std::unique_ptr<QSocketNotifier> notifiers[2];
        TCallingHandler handlers[2];
        TPassLog log;
        const auto open = [&](int i) {
            QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pairs[i]), 0);
            QCOMPARE(::write(pairs[i][1], "x", 1), 1);
        };
        const auto forget = [&](int i) {
            if (direct && notifiers[i])
                dispatcher->SetReadinessHandler(notifiers[i].get(), nullptr);
            notifiers[i].reset();
        };
        std::function<void(int)> watch = [&](int i) {
            notifiers[i] = std::make_unique<QSocketNotifier>(pairs[i][0], QSocketNotifier::Read);
            handlers[i].call = [&, i] {
                char byte;
                QCOMPARE(::read(pairs[i][0], &byte, 1), 1);
                log.Note('1');
                const int other = 1 - i;
                if (log.text.size() > 1 || action == "nothing")
                    return;
                if (action == "disable" || action == "enable")
                    return notifiers[other]->setEnabled(action == "enable");
                forget(other);
                if (action == "reuse") {
                    ::close(pairs[other][0]);
                    ::close(pairs[other][1]);
                    open(other);
                }
                if (action != "delete")
                    watch(other);
            };
            if (direct)
                dispatcher->SetReadinessHandler(notifiers[i].get(), &handlers[i]);
            else
                connect(notifiers[i].get(), &QSocketNotifier::activated, this,
                        [&, i] { handlers[i].call(); });
        };
        for (int i = 0; i < 2; ++i) {
            open(i);
            watch(i);
        }
        if (action == "enable")
            notifiers[1]->setEnabled(false); // the first to fire is then the one enabled
        RunLoop(100);
        QCOMPARE(log.text, fired);
        for (int i = 0; i < 2; ++i)
            forget(i);
        for (const int fd : {pairs[0][0], pairs[0][1], pairs[1][0], pairs[1][1]})
            ::close(fd);
    }
}

void TestEpollDispatcher::regularFileIsAlwaysReady() {
    QTemporaryFile file;
    QVERIFY(file.open());
    QSocketNotifier notifier(file.handle(), QSocketNotifier::Read);
    int activations = 0;
    connect(&notifier, &QSocketNotifier::activated, this, [&] { ++activations; });
    QVERIFY(RunUntil([&] { return activations >= 3; }, 1000));
}

void TestEpollDispatcher::timersDueTogether_data() {
    // Timers a, b, c: "<name><ms>" started at once; "a>b-" a kills b, "a>c0"
    // a starts c at 0 ms, "a~" a runs a 50 ms nested loop. Each timer kills
    // itself after its first event.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("fired"); // in order, "|" where a later pass begins
    TextRows({{"due together: one pass, in start order", "a30 b30 c30", "abc"},
              {"killed by one before it in the pass", "a30 b30 a>b-", "a"},
              {"started in the pass: the next one", "a30 a>c0", "a|c"},
              {"nested loop: no second event, others go on", "a0 b20 a~", "a|b"}});
}

void TestEpollDispatcher::timersDueTogether() {
    QFETCH(QString, steps);
    QFETCH(QString, fired);
    struct TTimers : QObject {
        std::function<void(int)> onTimer;
        void timerEvent(QTimerEvent* event) override { onTimer(event->timerId()); }
    } timers;
    int ids[3] = {};
    const auto start = [&](QChar name, const QString& ms) {
        ids[name.unicode() - 'a'] = timers.startTimer(ms.toInt(), Qt::PreciseTimer);
    };
    TPassLog log;
    timers.onTimer = [&](int id) {
        const QChar name('a' + int(std::find(ids, ids + 3, id) - ids));
        log.Note(name);
        for (const QString& step : steps.split(' ')) {
            if (step[0] != name || step[1].isDigit())
                continue;
            if (step[1] == '~')
                RunLoop(50);
            else if (step[3] == '-')
                timers.killTimer(ids[step[2].unicode() - 'a']);
            else
                start(step[2], step.mid(3));
        }
        timers.killTimer(id);
    };
    for (const QString& step : steps.split(' '))
        if (step[1].isDigit())
            start(step[0], step.mid(1));
    QThread::msleep(40); // every timer started is overdue by the first pass
    RunLoop(150);
    QCOMPARE(log.text, fired);
}

void TestEpollDispatcher::timerKinds_data() {
    QTest::addColumn<Qt::TimerType>("type");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("lowMs"); // bounds of the time left right after a start
    QTest::addColumn<int>("highMs");
    QTest::newRow("precise, never early") << Qt::PreciseTimer << 30 << 29 << 30;
    QTest::newRow("coarse, within 5 %") << Qt::CoarseTimer << 200 << 190 << 210;
    QTest::newRow("very coarse, whole seconds") << Qt::VeryCoarseTimer << 1200 << 700 << 1700;
}

void TestEpollDispatcher::timerKinds() {
    QFETCH(Qt::TimerType, type);
    QFETCH(int, intervalMs);
    QFETCH(int, lowMs);
    QFETCH(int, highMs);
    QTimer timer;
    timer.setTimerType(type);
    for (int i = 0; i < 30; ++i) { // started at many points of the coarse grids
        timer.start(intervalMs);
        QVERIFY(timer.remainingTime() >= lowMs && timer.remainingTime() <= highMs);
        QThread::usleep(7000);
    }
    const auto infos = QAbstractEventDispatcher::instance()->registeredTimers(&timer);
    QVERIFY(infos.size() == 1 && infos[0].interval == intervalMs && infos[0].timerType == type);
}

void TestEpollDispatcher::socketInPass_data() {
    QTest::addColumn<int>("event"); // where the handler acts
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("log");
    const auto row = [](const char* name, int event, const char* action, const char* log) {
        QTest::newRow(name) << event << QString(action) << QString(log);
    };
    row("receives", skRead, "receive", "CWRR");
    row("nested loop before receiving", skRead, "nest", "CWRR");
    row("closes", skRead, "close", "CWRD");
    row("destroys", skRead, "destroy", "CWR");
    row("OnConnect raises", skConnect, "raise", "CWRR");
    row("OnConnect destroys", skConnect, "destroy", "C");
    // 4 bytes at a time: what was received ahead and is left is news again.
    row("receives in parts", skRead, "part", "CWRRRR");
}

void TestEpollDispatcher::socketInPass() {
    QFETCH(int, event);
    QFETCH(QString, action);
    QFETCH(QString, log);
    const qsizetype descriptors = OpenDescriptorCount();
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    auto* socket = new TClientWinSocket;
    socket->Delivery = TDelivery::InPass;
    QString events;
    QByteArray received, shown;
    int depth = 0, deepest = 0, samePass = 0;
    socket->EventHook = [&](TCustomWinSocket* self, TSocketEventKind kind) {
        if (kind == skLookup || kind == skConnecting)
            return;
        events += kind == skConnect      ? 'C'
                  : kind == skDisconnect ? 'D'
                  : kind == skWrite      ? 'W'
                                         : 'R';
        deepest = qMax(deepest, ++depth);
        samePass += kind == skRead && g_receivePass == g_pass;
        const int receives = g_receives;
        if (kind == event && action == "nest")
            RunLoop(50);
        if (kind == skRead && action == "part") {
            char part[4];
            received.append(part, qMax(self->ReceiveBytes(part, sizeof part), 0));
        } else if (kind == skRead) {
            received += self->ReceiveString();
        }
        QCOMPARE(g_receives, receives); // a reply costs the one receive its notification made
        --depth;
        if (kind != event || events.count(events.back()) > 1 || action == "receive" ||
            action == "nest" || action == "part")
            return;
        if (action == "raise")
            throw ESocketError("raised in the handler");
        if (action == "close")
            self->CloseConnection(self->SocketHandle());
        else
            delete std::exchange(socket, nullptr);
        g_countedFd = -1; // closed: its number may come back for the peer
    };
    SetErrorSink([&](const QByteArray& message) { shown = message; });
    socket->OpenConnection({}, "127.0.0.1", {}, server.serverPort(), false);
    g_countedFd = socket->SocketHandle();
    g_receives = g_fionreads = 0;
    QVERIFY(RunUntil([&] { return server.hasPendingConnections(); }));
    QTcpSocket* const peer = server.nextPendingConnection();
    QVERIFY(RunUntil([&] { return events.size() >= 2 || !socket; }));
    for (const char* piece : {"[first]", "[second]"}) {
        peer->write(piece);
        QVERIFY(RunUntil([&] { return peer->bytesToWrite() == 0; }));
        RunLoop(70);
    }
    SetErrorSink(nullptr);
    QCOMPARE(events, log);
    QCOMPARE(deepest, 1);
    // One receive for each piece, in the pass that delivers it.
    const int receives = action == "part" ? 2 : log.count('R');
    QCOMPARE(samePass, receives);
    QCOMPARE(g_receives, receives);
    QCOMPARE(g_fionreads, 0);
    QCOMPARE(shown, action == "raise" ? QByteArray("raised in the handler") : QByteArray());
    if (action == "receive" || action == "nest" || action == "part")
        QCOMPARE(received, QByteArray("[first][second]"));
    delete socket;
    delete peer;
    server.close();
    QVERIFY(RunUntil([&] { return OpenDescriptorCount() == descriptors; }));
}

int main(int argc, char** argv) {
    QCoreApplication::setEventDispatcher(new TEpollDispatcher);
    QCoreApplication app(argc, argv);
    TestEpollDispatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_epoll_dispatcher.moc"
