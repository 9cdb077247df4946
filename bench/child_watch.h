#pragma once

// A benchmark's child process: started with its output in files, watched
// while it runs, and measured when it ends.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <cstdint>
#include <functional>

struct TChildUse {
    double wallS = 0, cpuS = 0; // its whole life, CPU from wait4
    // The most it held resident (VmHWM), polled while it ran. wait4's
    // ru_maxrss will not do: exec keeps the spawning process's peak there.
    long peakRssKiB = 0;
    QByteArray exit; // "0", "1", ..., or "signal 9"
};

class TChildWatch {
public:
    // Starts program; its standard output and error go to outputBase.out and
    // outputBase.err.
    TChildWatch(const QString& program, const QStringList& arguments, const QString& outputBase);
    // Kills it when Wait has not seen it end.
    ~TChildWatch();
    TChildWatch(const TChildWatch&) = delete;
    TChildWatch& operator=(const TChildWatch&) = delete;

    bool Started() const { return m_pid > 0; }
    // NowNs() just before the start.
    int64_t StartNs() const { return m_startNs; }
    // CPU ns it has run so far, all its threads (schedstat: ns, where the
    // tick-counted times of /proc/PID/stat are 10 ms coarse).
    int64_t CpuNs() const;
    // Waits for its end, calling tick about every 5 ms meanwhile; kills it at
    // deadlineNs (NowNs()).
    TChildUse Wait(int64_t deadlineNs, const std::function<void()>& tick);

    // What it holds resident now; 0 once it has ended.
    long RssKiB() const { return StatusKiB("VmRSS: %ld"); }

private:
    // A figure of /proc/PID/status, read with format ("VmRSS: %ld").
    long StatusKiB(const char* format) const;

    pid_t m_pid = -1;
    int64_t m_startNs = 0;
};
