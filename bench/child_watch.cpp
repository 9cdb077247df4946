#include "bench/child_watch.h"

#include "bench/monotonic_clock.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

double Seconds(const timeval& time) {
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

} // namespace

TChildWatch::TChildWatch(const QString& program, const QStringList& arguments,
                         const QString& outputBase) {
    std::vector<QByteArray> bytes{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray out = QFile::encodeName(outputBase + ".out");
    const QByteArray err = QFile::encodeName(outputBase + ".err");
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&files, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    m_startNs = NowNs();
    if (posix_spawn(&m_pid, argv[0], &files, nullptr, argv.data(), environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&files);
}

TChildWatch::~TChildWatch() {
    if (Started()) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

int64_t TChildWatch::CpuNs() const {
    const std::string tasks = "/proc/" + std::to_string(m_pid) + "/task";
    DIR* folder = ::opendir(tasks.c_str());
    if (folder == nullptr)
        return 0;
    int64_t total = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        FILE* stat = std::fopen((tasks + '/' + entry->d_name + "/schedstat").c_str(), "r");
        long long ns = 0;
        if (stat != nullptr && std::fscanf(stat, "%lld", &ns) == 1)
            total += ns;
        if (stat != nullptr)
            std::fclose(stat);
    }
    ::closedir(folder);
    return total;
}

long TChildWatch::StatusKiB(const char* format) const {
    FILE* status = std::fopen(("/proc/" + std::to_string(m_pid) + "/status").c_str(), "r");
    if (status == nullptr)
        return 0;
    char line[256];
    long kiB = 0;
    while (std::fgets(line, sizeof line, status) != nullptr &&
           std::sscanf(line, format, &kiB) != 1) {
    }
    std::fclose(status);
    return kiB;
}

TChildUse TChildWatch::Wait(int64_t deadlineNs, const std::function<void()>& tick) {
    TChildUse use;
    if (!Started()) {
        use.exit = "not started";
        return use;
    }
    int status = 0;
    rusage usage{};
    // Polled, not blocked on, so a child that hangs is killed in bounded
    // time; 5 ms is well within the figures' precision.
    while (::wait4(m_pid, &status, WNOHANG, &usage) == 0) {
        use.peakRssKiB = std::max(use.peakRssKiB, StatusKiB("VmHWM: %ld"));
        if (NowNs() > deadlineNs) {
            ::kill(m_pid, SIGKILL);
            ::wait4(m_pid, &status, 0, &usage);
            break;
        }
        tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    use.wallS = double(NowNs() - m_startNs) / 1e9;
    use.cpuS = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    use.exit = WIFEXITED(status) ? QByteArray::number(WEXITSTATUS(status))
                                 : "signal " + QByteArray::number(WTERMSIG(status));
    m_pid = -1;
    return use;
}
