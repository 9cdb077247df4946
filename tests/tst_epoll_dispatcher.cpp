// The runner's event dispatcher, installed as the runner installs it:
// notifiers, timers, posted events, wake-ups from other threads and
// interrupt(); and the client socket component on it, delivering its
// notifications in the pass that found them.
#include "base/exceptions.h"
#include "base/guard.h"
#include "connection/client_socket.h"
#include "connection/resolver.h"
#include "runner/epoll_dispatcher.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
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

#include <atomic>
#include <cstdarg>
#include <functional>
#include <memory>
#include <thread>

namespace {

int g_pass = 0; // counted at every awake(): one pass of the loop each

// Counts the queries of the bytes waiting on one descriptor, which the read
// notification makes, and the pass of the last: the component's
// ioctl(FIONREAD) comes here before the C library's.
int g_countedFd = -1;
int g_fionreads = 0;
int g_fionreadPass = -1;

// Records "<name>" per event, with "|" where a later pass begins.
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

// Hands every notification of a component to one function, by name.
struct TEvents : QObject {
    std::function<void(const char* name, TCustomWinSocket*)> on;
    void Connect(QObject*, TCustomWinSocket* socket) { on("Connect", socket); }
    void Write(QObject*, TCustomWinSocket* socket) { on("Write", socket); }
    void Read(QObject*, TCustomWinSocket* socket) { on("Read", socket); }
    void Disconnect(QObject*, TCustomWinSocket* socket) { on("Disconnect", socket); }
    void Attach(TClientSocket* component) {
        component->OnConnect = TSocketNotifyEvent(this, &TEvents::Connect);
        component->OnWrite = TSocketNotifyEvent(this, &TEvents::Write);
        component->OnRead = TSocketNotifyEvent(this, &TEvents::Read);
        component->OnDisconnect = TSocketNotifyEvent(this, &TEvents::Disconnect);
    }
};

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* const argument = va_arg(arguments, void*);
    va_end(arguments);
    using TIoctl = int (*)(int, unsigned long, void*);
    static const auto next = reinterpret_cast<TIoctl>(dlsym(RTLD_NEXT, "ioctl"));
    if (request == FIONREAD && fd == g_countedFd) {
        ++g_fionreads;
        g_fionreadPass = g_pass;
    }
    return next(fd, request, argument);
}

class TestEpollDispatcher : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
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
    void componentInPass_data();
    void componentInPass();
};

void TestEpollDispatcher::initTestCase() {
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, this,
            [] { ++g_pass; });
}

void TestEpollDispatcher::notifierChangedDuringDispatch_data() {
    // Two descriptors readable in one wait; the first notifier activated
    // does this to the other.
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fired"); // "11": both in one pass, "1|1": the other later
    const auto row = [](const char* name, const char* action, const char* fired) {
        QTest::newRow(name) << QString(action) << QString(fired);
    };
    row("left alone", "nothing", "11");
    row("disabled", "disable", "1");
    row("deleted", "delete", "1");
    row("enabled (was off)", "enable", "1|1");
    row("replaced by a new notifier", "replace", "1|1");
    row("descriptor closed, number reused", "reuse", "1|1");
}

void TestEpollDispatcher::notifierChangedDuringDispatch() {
    QFETCH(QString, action);
    QFETCH(QString, fired);
    int pairs[2][2];
    std::unique_ptr<QSocketNotifier> notifiers[2];
    TPassLog log;
    std::function<void(int)> watch = [&](int i) {
        notifiers[i] = std::make_unique<QSocketNotifier>(pairs[i][0], QSocketNotifier::Read);
        connect(notifiers[i].get(), &QSocketNotifier::activated, this, [&, i] {
            char byte;
            QCOMPARE(::read(pairs[i][0], &byte, 1), 1);
            log.Note('1');
            if (log.text.size() > 1)
                return;
            const int other = 1 - i;
            if (action == "disable")
                notifiers[other]->setEnabled(false);
            else if (action == "enable")
                notifiers[other]->setEnabled(true);
            else if (action != "nothing")
                notifiers[other].reset();
            if (action == "reuse") {
                ::close(pairs[other][0]);
                ::close(pairs[other][1]);
                QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pairs[other]), 0);
                QCOMPARE(::write(pairs[other][1], "x", 1), 1);
            }
            if (action == "replace" || action == "reuse")
                watch(other);
        });
    };
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pairs[i]), 0);
        QCOMPARE(::write(pairs[i][1], "x", 1), 1);
        watch(i);
    }
    if (action == "enable")
        notifiers[1]->setEnabled(false); // the first to fire is then the one enabled
    RunUntil([] { return false; }, 100);
    QCOMPARE(log.text, fired);
    for (auto& pair : pairs)
        for (const int fd : pair)
            ::close(fd);
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
    // Per timer a, b, c: "<name><ms>" started at once; "a>b-" a kills b,
    // "a>c0" a starts c at 0 ms, "a~" a runs a 50 ms nested loop. Each timer
    // kills itself after its first event.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("fired"); // in order, "|" where a later pass begins
    const auto row = [](const char* name, const char* steps, const char* fired) {
        QTest::newRow(name) << QString(steps) << QString(fired);
    };
    row("due together: one pass, in start order", "a30 b30 c30", "abc");
    row("killed by one before it in the pass", "a30 b30 a>b-", "a");
    row("started in the pass: the next one", "a30 a>c0", "a|c");
    row("nested loop: no second event, others go on", "a0 b20 a~", "a|b");
}

void TestEpollDispatcher::timersDueTogether() {
    QFETCH(QString, steps);
    QFETCH(QString, fired);
    struct TTimers : QObject {
        std::function<void(int)> onTimer;
        void timerEvent(QTimerEvent* event) override { onTimer(event->timerId()); }
    } timers;
    int ids[3] = {};
    TPassLog log;
    timers.onTimer = [&](int id) {
        const int i = int(std::find(ids, ids + 3, id) - ids);
        log.Note(QChar('a' + i));
        for (const QString& step : steps.split(' ')) {
            if (step[0] != QChar('a' + i) || step[1].isDigit())
                continue;
            if (step[1] == '~') {
                RunUntil([] { return false; }, 50);
                continue;
            }
            const int other = step[2].unicode() - 'a';
            if (step[3] == '-')
                timers.killTimer(ids[other]);
            else
                ids[other] = timers.startTimer(step.mid(3).toInt(), Qt::PreciseTimer);
        }
        timers.killTimer(id);
    };
    for (const QString& step : steps.split(' '))
        if (step[1].isDigit())
            ids[step[0].unicode() - 'a'] = timers.startTimer(step.mid(1).toInt(), Qt::PreciseTimer);
    // Every timer started is overdue by the first pass.
    QThread::msleep(40);
    RunUntil([] { return false; }, 150);
    QCOMPARE(log.text, fired);
}

void TestEpollDispatcher::timerKinds_data() {
    QTest::addColumn<Qt::TimerType>("type");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("lowMs"); // the time left right after a start, and the earliest event
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
    timer.setSingleShot(true);
    // Started at many points of the coarse grids.
    for (int i = 0; i < 30; ++i) {
        timer.start(intervalMs);
        const int left = timer.remainingTime();
        QVERIFY2(left >= lowMs && left <= highMs, QByteArray::number(left));
        QThread::usleep(7000);
    }
    const auto infos = QAbstractEventDispatcher::instance()->registeredTimers(&timer);
    QCOMPARE(infos.size(), 1);
    QCOMPARE(infos[0].interval, intervalMs);
    QCOMPARE(infos[0].timerType, type);
    QElapsedTimer clock;
    qint64 firedMs = -1;
    connect(&timer, &QTimer::timeout, this, [&] { firedMs = clock.elapsed(); });
    clock.start();
    timer.start(intervalMs);
    const int id = timer.timerId();
    QVERIFY(RunUntil([&] { return firedMs >= 0; }, highMs + 2000));
    QVERIFY2(firedMs >= (type == Qt::PreciseTimer ? intervalMs : lowMs),
             QByteArray::number(firedMs));
    QCOMPARE(QAbstractEventDispatcher::instance()->remainingTime(id), -1);
}

void TestEpollDispatcher::wakeUps_data() {
    QTest::addColumn<QString>("source");
    QTest::newRow("post from the loop's own thread") << "own";
    QTest::newRow("post from another thread") << "thread";
    QTest::newRow("result of a lookup thread") << "lookup";
    QTest::newRow("interrupt from another thread") << "interrupt";
}

void TestEpollDispatcher::wakeUps() {
    // Nothing else wakes the loop but a guard timer, long after the bound.
    QFETCH(QString, source);
    QAbstractEventDispatcher* const dispatcher = QAbstractEventDispatcher::instance();
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    const auto done = [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit); };
    std::thread other;
    std::atomic<bool> interrupted{false};
    QElapsedTimer clock;
    QCoreApplication::processEvents(); // nothing left over to end the wait early
    const int passes = g_pass;
    clock.start();
    if (source == "own") {
        // Posted while posted events are delivered: it waits for the next
        // pass, which must not block.
        QTimer::singleShot(20, &loop, [&] {
            QMetaObject::invokeMethod(
                &loop, [&] { QMetaObject::invokeMethod(&loop, done, Qt::QueuedConnection); },
                Qt::QueuedConnection);
        });
        loop.exec();
    } else if (source == "lookup") {
        const TResolver slow = [](TLookupKind, const QByteArray&) {
            QThread::msleep(30);
            return TLookupResult{};
        };
        LookUpInBackground(slow, TLookupKind::Host, "x", [&](TLookupResult) { loop.quit(); });
        loop.exec();
        LookupThreads().waitForDone(); // with its descriptors, before a leak check counts them
    } else {
        other = std::thread([&] {
            QThread::msleep(30);
            interrupted = true;
            source == "interrupt" ? dispatcher->interrupt() : done();
        });
        if (source == "interrupt")
            dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
        else
            loop.exec();
        other.join();
        QVERIFY(interrupted);
    }
    QVERIFY2(clock.elapsed() < 1500, QByteArray::number(clock.elapsed()));
    // It slept: a loop that cannot block spins through thousands.
    QVERIFY2(g_pass - passes < 20, QByteArray::number(g_pass - passes));
}

void TestEpollDispatcher::componentInPass_data() {
    QTest::addColumn<QString>("event");  // where the handler acts
    QTest::addColumn<QString>("action"); // "receive", "nest" (before receiving), "close",
                                         // "destroy", "raise"
    QTest::addColumn<QStringList>("log");
    const auto row = [](const char* name, const char* event, const char* action, QString log) {
        QTest::newRow(name) << QString(event) << QString(action) << log.split(' ');
    };
    row("receives", "Read", "receive", "Connect Write Read Read");
    row("nested loop", "Read", "nest", "Connect Write Read Read");
    row("closes", "Read", "close", "Connect Write Read Disconnect");
    row("destroys", "Read", "destroy", "Connect Write Read");
    row("OnConnect raises", "Connect", "raise", "Connect Write Read Read");
    row("OnConnect destroys", "Connect", "destroy", "Connect");
}

void TestEpollDispatcher::componentInPass() {
    QFETCH(QString, event);
    QFETCH(QString, action);
    QFETCH(QStringList, log);
    const qsizetype descriptors = OpenDescriptorCount();
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QPointer<TClientSocket> component = new TClientSocket(nullptr);
    component->WinSocket()->Delivery = TDelivery::InPass;
    QStringList events;
    QByteArray received;
    int depth = 0, deepest = 0, samePass = 0;
    TEvents recorder;
    recorder.Attach(component);
    recorder.on = [&](const char* name, TCustomWinSocket* socket) {
        events << name;
        ++depth;
        deepest = qMax(deepest, depth);
        const bool read = QByteArray(name) == "Read";
        samePass += read && g_fionreadPass == g_pass;
        const int fionreads = g_fionreads;
        if (name == event && action == "nest")
            RunUntil([] { return false; }, 50);
        if (read)
            received += socket->ReceiveString();
        // A reply costs the one query the notification made.
        QCOMPARE(g_fionreads, fionreads);
        --depth;
        if (name != event || events.count(name) > 1)
            return;
        if (action == "raise")
            throw ESocketError("raised in the handler");
        if (action == "close")
            component->SetActive(false);
        else if (action == "destroy")
            delete component;
        else
            return;
        g_countedFd = -1; // closed: its number may come back for the peer
    };
    QByteArray shown;
    SetErrorSink([&](const QByteArray& message) { shown = message; });
    component->SetPort(server.serverPort());
    component->SetAddress("127.0.0.1");
    component->SetActive(true);
    g_countedFd = component->WinSocket()->SocketHandle();
    g_fionreads = 0;
    QVERIFY(RunUntil([&] { return server.hasPendingConnections(); }));
    QTcpSocket* const peer = server.nextPendingConnection();
    QVERIFY(RunUntil([&] { return events.size() >= 2 || !component; }));
    for (const char* piece : {"[first]", "[second]"}) {
        peer->write(piece);
        QVERIFY(RunUntil([&] { return peer->bytesToWrite() == 0; }));
        RunUntil([] { return false; }, 70);
    }
    SetErrorSink(nullptr);
    QCOMPARE(events, log);
    QCOMPARE(deepest, 1);
    QCOMPARE(samePass, log.count("Read"));
    QCOMPARE(g_fionreads, log.count("Read"));
    QCOMPARE(shown, action == "raise" ? QByteArray("raised in the handler") : QByteArray());
    if (action == "receive" || action == "nest")
        QCOMPARE(received, QByteArray("[first][second]"));
    delete component;
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
