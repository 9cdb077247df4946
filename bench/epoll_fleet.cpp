// The fleet benchmark's bare epoll client: the runner's cycle with nothing
// but the system calls it needs, as a careful C program would make them. N
// connections in one epoll set on one thread: send a fixed command, read
// until "]", send again 100 ms later (or once INTERVAL has passed since the
// last send, whichever ends later); the coming sends sit on one heap of
// deadlines, waited for by epoll_pwait2 itself. No Qt, no parsing, no output
// per reply. At the end it prints "replies R connected C of N lost L".
// Usage: epoll_fleet ADDRESS PORT[-LAST] N SECONDS [INTERVAL [MAX_CONNECTING]]
// (bench/fleet_client.h).
#include "bench/file_limit.h"
#include "bench/fleet_client.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kSendDelayNs =
    std::chrono::duration_cast<std::chrono::nanoseconds>(kFleetSendDelay).count();
constexpr int kBatch = 512;

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

struct TController {
    int fd = -1;
    bool connecting = false;
    int64_t passStartNs = 0;
};

struct TSend {
    int64_t dueNs;
    uint32_t index;
    bool operator>(const TSend& other) const { return dueNs > other.dueNs; }
};

class TEpollFleet {
public:
    explicit TEpollFleet(const TFleetOptions& options)
        : m_options(options), m_intervalNs(int64_t(options.interval.count()) * 1'000'000),
          m_controllers(size_t(options.controllers)), m_epoll(epoll_create1(EPOLL_CLOEXEC)) {}
    ~TEpollFleet() {
        for (const TController& controller : m_controllers)
            if (controller.fd >= 0)
                ::close(controller.fd);
        ::close(m_epoll);
    }
    TEpollFleet(const TEpollFleet&) = delete;
    TEpollFleet& operator=(const TEpollFleet&) = delete;

    void Run() {
        const int64_t endNs = NowNs() + int64_t(m_options.duration.count()) * 1'000'000;
        DialMore();
        epoll_event events[kBatch];
        for (int64_t nowNs = NowNs(); nowNs < endNs; nowNs = NowNs()) {
            const int64_t wakeNs = m_sends.empty() ? endNs : std::min(endNs, m_sends.top().dueNs);
            const int64_t waitNs = std::max<int64_t>(wakeNs - nowNs, 0);
            const timespec timeout{time_t(waitNs / 1'000'000'000), long(waitNs % 1'000'000'000)};
            const int ready = epoll_pwait2(m_epoll, events, kBatch, &timeout, nullptr);
            for (int i = 0; i < ready; ++i)
                Ready(events[i].data.u32);
            SendDue(NowNs());
        }
        PrintFleetReport(m_replies, m_connected, m_options.controllers, m_lost);
    }

private:
    void DialMore() {
        while (m_inFlight < m_options.maxConnecting && m_nextToDial < m_controllers.size())
            Dial(uint32_t(m_nextToDial++));
    }

    void Dial(uint32_t index) {
        TController& controller = m_controllers[index];
        controller.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = m_options.PortOf(int(index));
        peer.sin_addr = m_options.address;
        // Done at once or later, the connection shows as writable.
        if (::connect(controller.fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
            errno != EINPROGRESS)
            return Drop(index);
        ++m_inFlight;
        controller.connecting = true;
        Watch(index, EPOLL_CTL_ADD, EPOLLOUT);
    }

    void Watch(uint32_t index, int operation, uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.u32 = index;
        ::epoll_ctl(m_epoll, operation, m_controllers[index].fd, &event);
    }

    void Ready(uint32_t index) {
        TController& controller = m_controllers[index];
        if (controller.fd < 0)
            return;
        if (!controller.connecting)
            return Read(index);
        controller.connecting = false;
        --m_inFlight;
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(controller.fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) {
            Drop(index);
        } else {
            ++m_connected;
            Watch(index, EPOLL_CTL_MOD, EPOLLIN);
            Send(index);
        }
        DialMore();
    }

    void Send(uint32_t index) {
        TController& controller = m_controllers[index];
        controller.passStartNs = NowNs();
        if (!SendCommand(controller.fd))
            Drop(index);
    }

    void Read(uint32_t index) {
        const TReceived received = ReceiveReply(m_controllers[index].fd);
        if (received == TReceived::Lost)
            return Drop(index);
        if (received != TReceived::Reply)
            return;
        ++m_replies;
        const int64_t earliestNs = m_controllers[index].passStartNs + m_intervalNs;
        m_sends.push({std::max(NowNs() + kSendDelayNs, earliestNs), index});
    }

    void SendDue(int64_t nowNs) {
        while (!m_sends.empty() && m_sends.top().dueNs <= nowNs) {
            const uint32_t index = m_sends.top().index;
            m_sends.pop();
            if (m_controllers[index].fd >= 0)
                Send(index);
        }
    }

    // Closing takes the descriptor out of the epoll set.
    void Drop(uint32_t index) {
        TController& controller = m_controllers[index];
        ++m_lost;
        if (std::exchange(controller.connecting, false))
            --m_inFlight;
        ::close(controller.fd);
        controller.fd = -1;
    }

    const TFleetOptions m_options;
    const int64_t m_intervalNs;
    std::vector<TController> m_controllers;
    const int m_epoll;
    std::priority_queue<TSend, std::vector<TSend>, std::greater<TSend>> m_sends;
    size_t m_nextToDial = 0;
    int m_inFlight = 0, m_connected = 0, m_lost = 0;
    long long m_replies = 0;
};

} // namespace

int main(int argc, char** argv) {
    TFleetOptions options;
    if (!ParseFleetOptions(argc, argv, options))
        return 2;
    RaiseOpenFileLimit();
    TEpollFleet(options).Run();
    return 0;
}
