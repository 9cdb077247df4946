// The HTTP service on the loop: what each request gets, the request size
// limit, the most clients at once, slow clients dropped, and slow clients
// delaying nothing else on the loop.
#include "runner/http_service.h"
#include "testsupport/run_until.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

// A client on the loop the service runs on: whatever comes, and whether the
// service closed the connection.
struct THttpClient {
    explicit THttpClient(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            if (reading)
                received += socket.readAll();
        });
        QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closed = true; });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool WaitConnected() {
        return RunUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    bool WaitClosed(int ms = 5000) {
        return RunUntil([this] { return closed; }, ms);
    }
    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
    bool reading = true;
};

QByteArray Get(const QByteArray& path, const QByteArray& more = {}) {
    return "GET " + path + " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n" + more + "\r\n";
}

// The bytes a request padded to `bytes` adds as one header line.
QByteArray Padding(int bytes) {
    return "X-Pad: " + QByteArray(bytes, 'p') + "\r\n";
}

// CPU time of this process so far, in ms.
double CpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

constexpr qsizetype kBigPage = 64 * 1024 * 1024;

} // namespace

class TestHttpService : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void clientLimit();
    void slowClientsDropped_data();
    void slowClientsDropped();
    void slowClientsDelayNothing();

private:
    static std::unique_ptr<THttpService> Service(THttpService::TLimits limits = {});
};

std::unique_ptr<THttpService> TestHttpService::Service(THttpService::TLimits limits) {
    std::map<QByteArray, THttpService::TPage> pages{
        {"/metrics", {"text/plain; version=0.0.4", [] { return QByteArray("zyl_up 1\n"); }}},
        {"/", {"text/html; charset=utf-8", [] { return QByteArray("<p>status</p>\n"); }}},
        {"/big", {"text/plain", [] { return QByteArray(kBigPage, 'b'); }}},
    };
    return std::make_unique<THttpService>(TListenAddress{"127.0.0.1", 0}, std::move(pages), limits);
}

void TestHttpService::answers_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("present"); // in the answer
    QTest::addColumn<QByteArray>("absent");
    const auto add = [](QTestData& row, const QByteArray& request, const char* status,
                        const char* present, const char* absent = "") {
        row << request << QByteArray(status) << QByteArray(present) << QByteArray(absent);
    };
    add(QTest::newRow("metrics"), Get("/metrics"), "200", "\r\n\r\nzyl_up 1\n");
    add(QTest::newRow("page"), Get("/"), "200", "Content-Type: text/html; charset=utf-8");
    add(QTest::newRow("HEAD"), "HEAD /metrics HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n",
        "200", "Content-Length: 9", "zyl_up");
    add(QTest::newRow("POST"),
        "POST /metrics HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc",
        "405", "Allow: GET, HEAD", "zyl_up");
    add(QTest::newRow("DELETE"), "DELETE / HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n", "405",
        "Allow: GET, HEAD", "status");
    add(QTest::newRow("unknown path"), Get("/other"), "404", "", "status");
    add(QTest::newRow("head within 8 KiB"), Get("/metrics", Padding(7900)), "200", "zyl_up");
    add(QTest::newRow("head over 8 KiB"), Get("/metrics", Padding(8200)), "431", "", "zyl_up");
    add(QTest::newRow("head far over"), Get("/metrics", Padding(200000)), "431", "", "zyl_up");
    add(QTest::newRow("body over 8 KiB"),
        Get("/metrics", "Content-Length: 9000\r\n") + QByteArray(9000, 'x'), "413", "", "zyl_up");
}

void TestHttpService::answers() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, present);
    QFETCH(QByteArray, absent);
    const auto service = Service();
    THttpClient client(service->Port());
    QVERIFY(client.WaitConnected());
    client.socket.write(request);
    QVERIFY(client.WaitClosed());
    QVERIFY2(client.received.startsWith("HTTP/1.1 " + status + ' '), client.received.left(200));
    QVERIFY2(client.received.contains(present), client.received.left(400));
    QVERIFY(absent.isEmpty() || !client.received.contains(absent));
}

void TestHttpService::clientLimit() {
    const auto service = Service();
    std::vector<std::unique_ptr<THttpClient>> held;
    for (int c = 0; c < 64; ++c) {
        held.push_back(std::make_unique<THttpClient>(service->Port()));
        QVERIFY(held.back()->WaitConnected());
    }
    THttpClient over(service->Port());
    over.socket.write(Get("/metrics"));
    // Not served while 64 are there: closed at once, or left waiting.
    RunUntil([&] { return over.closed; }, 1000);
    QVERIFY(!over.received.contains("zyl_up"));
    QVERIFY(std::none_of(held.begin(), held.end(), [](const auto& c) { return c->closed; }));
    held.front()->socket.abort();
    THttpClient next(service->Port());
    next.socket.write(Get("/metrics"));
    // Served well before the held ones' time runs out and wakes the service.
    QVERIFY(next.WaitClosed(2000));
    QVERIFY(next.received.contains("zyl_up 1"));
}

void TestHttpService::slowClientsDropped_data() {
    QTest::addColumn<QString>("client");
    QTest::newRow("head never finished") << "stalls";
    QTest::newRow("head trickling in") << "trickles";
    QTest::newRow("idle after an answer") << "idles";
    QTest::newRow("answer never read") << "never reads";
}

void TestHttpService::slowClientsDropped() {
    QFETCH(QString, client);
    constexpr int kRequestMs = 400, kAnswerMs = 800;
    const auto service = Service({64, 8192, kRequestMs, kAnswerMs});
    THttpClient slow(service->Port());
    QVERIFY(slow.WaitConnected());
    if (client == "never reads") {
        // Far more than the sockets' buffers hold: the answer backs up.
        slow.reading = false;
        slow.socket.setReadBufferSize(4096);
        slow.socket.write(Get("/big"));
        RunUntil([] { return false; }, kAnswerMs + 500);
        slow.reading = true;
        slow.socket.setReadBufferSize(0);
        slow.received += slow.socket.readAll();
        QVERIFY(slow.WaitClosed());
        QVERIFY2(slow.received.size() < kBigPage, QByteArray::number(slow.received.size()));
        return;
    }
    QElapsedTimer held;
    held.start();
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] { slow.socket.write("x"); });
    if (client == "idles") {
        slow.socket.write("GET / HTTP/1.1\r\nHost: t\r\n\r\n");
        QVERIFY(RunUntil([&] { return slow.received.contains("status"); }));
        held.restart();
    } else {
        slow.socket.write("GET / HTTP/1.1\r\nHost: t\r\nX-Slow: ");
        if (client == "trickles")
            trickle.start(50);
    }
    QVERIFY(slow.WaitClosed(4 * kRequestMs));
    QVERIFY2(held.elapsed() >= kRequestMs - 50, QByteArray::number(held.elapsed()));
    QVERIFY(!slow.received.contains("HTTP/1.1 200") || client == "idles");
}

void TestHttpService::slowClientsDelayNothing() {
    const auto service = Service();
    std::vector<std::unique_ptr<THttpClient>> slow;
    for (int c = 0; c < 40; ++c) {
        slow.push_back(std::make_unique<THttpClient>(service->Port()));
        QVERIFY(slow.back()->WaitConnected());
        slow.back()->socket.write("GET / HTTP/1.1\r\nHost: t\r\nX-Slow: ");
    }
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
        for (const auto& client : slow)
            client->socket.write("x");
    });
    trickle.start(50);
    // A controller's send timer beside them, and a scrape now and then.
    constexpr int kPeriodMs = 100, kLateMs = 20;
    QElapsedTimer sinceTick;
    int ticks = 0, late = 0;
    QTimer send;
    send.setTimerType(Qt::PreciseTimer);
    QObject::connect(&send, &QTimer::timeout, [&] {
        late += ticks++ > 0 && sinceTick.elapsed() > kPeriodMs + kLateMs;
        sinceTick.restart();
        if (ticks % 5 == 0)
            THttpClient(service->Port()).socket.write(Get("/metrics"));
    });
    const double cpuBefore = CpuMs();
    QElapsedTimer wall;
    wall.start();
    send.start(kPeriodMs);
    sinceTick.start();
    RunUntil([] { return false; }, 2000);
    QCOMPARE(late, 0);
    QVERIFY(ticks >= 18);
    QVERIFY(std::none_of(slow.begin(), slow.end(), [](const auto& c) { return c->closed; }));
    // No spinning: the loop sleeps between what the clients send.
    QVERIFY2(CpuMs() - cpuBefore < 0.25 * double(wall.elapsed()),
             QByteArray::number(CpuMs() - cpuBefore));
}

QTEST_GUILESS_MAIN(TestHttpService)
#include "tst_http_service.moc"
