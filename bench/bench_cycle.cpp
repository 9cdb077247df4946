// Measures the tool against the simulated controller on 127.0.0.1:
//  - reply latency: from the controller writing a reply's last byte to the
//    reply standing in its result field (both on CLOCK_MONOTONIC);
//  - the period from one send to the next with an immediate reply;
//  - CPU use while idle and connected, and while cycling;
//  - resident memory at item 300 and at the last item;
//  - a flood of bytes without "]": resident memory and event-loop lateness.
// Usage: bench_cycle [items] [flood MiB]   (defaults 3000 and 1024)
#include "app/application.h"
#include "app/main_window.h"
#include "bench/bench_support.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/timer.h"
#include "sequencing/receive_buffer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ResidentMiB() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Watches the cycle from outside: wraps the read and send handlers.
class Probe {
public:
    explicit Probe(TForm1& form) : m_form(form) {
        form.ClientSocket1->OnRead = TSocketNotifyEvent(this, &Probe::Read);
        form.Timer1->OnTimer = TNotifyEvent(this, &Probe::Send);
    }

    std::vector<qint64> shownNs; // when each complete reply stood in its field
    std::vector<qint64> sentNs;
    qint64 lastReadNs = 0;

private:
    void Read(QObject* sender, TCustomWinSocket* socket) {
        lastReadNs = NowNs();
        const int step = m_form.TestStep;
        m_form.ClientSocket1Read(sender, socket);
        if (m_form.TestStep != step)
            shownNs.push_back(NowNs());
    }
    void Send(QObject* sender) {
        m_form.Timer1Timer(sender);
        sentNs.push_back(NowNs());
    }
    TForm1& m_form;
};

bool Connect(TForm1& form, quint16 port) {
    form.EditPort->SetText(QByteArray::number(port));
    form.BitBtnConnect->click();
    return RunUntil([&] { return form.ClientSocket1->Active(); }, 5000, kBenchPollMs);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TQtApplication app(argc, argv);
    const int items = argc > 1 ? std::max(400, atoi(argv[1])) : 3000;
    const qint64 floodBytes = (argc > 2 ? atoll(argv[2]) : 1024) * 1024 * 1024;

    int errors = 0;
    Application().messageBox = [&](const TMessageBoxRequest& box) {
        std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
        ++errors;
        return TMsgAnswer::Yes;
    };

    Sim sim({QStringLiteral("--stamp")});
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    QFile definition(QStringLiteral("default1.tst"));
    definition.open(QIODevice::WriteOnly);
    definition.write("IP=127.0.0.1\r\nPort=" + QByteArray::number(sim.port) +
                     "\r\nRead Firmware=[0A!?v]\r\nRead Temp=[0A!?rt]\r\n"
                     "Read Light Sensor Level=[0A!?psl]\r\nRead Brightness=[0A!?b]\r\n"
                     "Read Backlight Status=[0A!?bl]\r\nRead PSU Values=[0A!?rv]\r\n"
                     "Read Fault Status=[0A!?s]\r\nPoll Controller=[0A!p]\r\n");
    definition.close();

    TForm1 form;
    form.Create();
    form.ShowCentred();
    Probe probe(form);
    if (!Connect(form, sim.port)) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }

    // Idle and connected; then the same without the text cursor blinking in
    // the focused field, to tell the tool's own share.
    const auto idleCpu = [] {
        const double cpu0 = CpuSeconds();
        QElapsedTimer idle;
        idle.start();
        Idle(10000);
        return (CpuSeconds() - cpu0) / (double(idle.elapsed()) / 1000.0);
    };
    const double idleBlinking = idleCpu();
    const int flashTime = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);
    const double idleSteady = idleCpu();
    QApplication::setCursorFlashTime(flashTime);

    // Cycling.
    form.BitBtnStartTest->click();
    std::fprintf(stderr, "cycling %d items\n", items);
    double rss300 = 0, cpu300 = 0;
    qint64 at300 = 0;
    RunUntil(
        [&] {
            if (probe.shownNs.size() >= 300 && rss300 == 0) {
                rss300 = ResidentMiB();
                cpu300 = CpuSeconds();
                at300 = NowNs();
            }
            return probe.shownNs.size() >= size_t(items);
        },
        items * 200, kBenchPollMs);
    const double rssEnd = ResidentMiB();
    const double cycleCpu = (CpuSeconds() - cpu300) / (double(NowNs() - at300) / 1e9);
    form.BitBtnStartTest->click();
    Idle(300);

    std::vector<double> latencyMs;
    const size_t pairs = std::min(probe.shownNs.size(), sim.replyNs.size());
    for (size_t i = 0; i < pairs; ++i)
        latencyMs.push_back(double(probe.shownNs[i] - sim.replyNs[i]) / 1e6);
    std::vector<double> periodMs;
    for (size_t i = 1; i < probe.sentNs.size() && i <= size_t(items); ++i)
        periodMs.push_back(double(probe.sentNs[i] - probe.sentNs[i - 1]) / 1e6);

    // Flood without "]" while a test runs.
    form.BitBtnDisconnect->click();
    std::fprintf(stderr, "flood\n");
    Sim flood({QStringLiteral("--flood-bytes"), QString::number(floodBytes)});
    const size_t cycled = probe.shownNs.size();
    double floodRss = 0, worstLateMs = 0, floodSeconds = 0;
    qsizetype bufferMax = 0;
    {
        QElapsedTimer tick;
        QTimer sampler;
        sampler.setTimerType(Qt::PreciseTimer);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            worstLateMs = std::max(worstLateMs, double(tick.nsecsElapsed()) / 1e6 - 20.0);
            floodRss = std::max(floodRss, ResidentMiB());
            bufferMax = std::max(bufferMax, form.ReceiveBuffer.StoredSize());
            tick.restart();
        });
        // Connected but not testing: nothing is sent, so no reply ever ends
        // the flood with "]".
        Connect(form, flood.port);
        tick.start();
        sampler.start(20);
        // The controller stops after floodBytes: done once reads have ceased.
        const qint64 start = NowNs();
        probe.lastReadNs = start;
        RunUntil([&] { return NowNs() - probe.lastReadNs > 500000000LL; }, 300000, kBenchPollMs);
        floodSeconds = double(probe.lastReadNs - start) / 1e9;
        sampler.stop();
    }

    std::printf("items cycled                      %zu\n", cycled);
    std::printf("reply latency median / p99        %.3f / %.3f ms\n", Percentile(latencyMs, 0.5),
                Percentile(latencyMs, 0.99));
    std::printf("send period median / p99          %.3f / %.3f ms\n", Percentile(periodMs, 0.5),
                Percentile(periodMs, 0.99));
    std::printf(
        "CPU idle connected                %.3f %% of a core (%.3f %% without cursor blink)\n",
        idleBlinking * 100, idleSteady * 100);
    std::printf("CPU cycling                       %.3f %% of a core\n", cycleCpu * 100);
    std::printf("resident at item 300 / %d       %.2f / %.2f MiB (growth %.2f MiB)\n", items,
                rss300, rssEnd, rssEnd - rss300);
    std::printf("flood of %lld MiB without ]        %.1f s, resident max %.1f MiB, receive buffer "
                "max %.2f MiB, worst loop lateness %.1f ms\n",
                (long long)(floodBytes >> 20), floodSeconds, floodRss,
                double(bufferMax) / (1024.0 * 1024.0), worstLateMs);
    std::printf("error boxes                       %d\n", errors);
    return 0;
}
