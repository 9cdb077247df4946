#include "bench/fleet_peer.h"

#include "bench/monotonic_clock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr char kReply[] = "[0A!v=1.00.11]";
constexpr uint32_t kListenerTag = UINT32_MAX;
constexpr int64_t kSendDelayNs = 100'000'000;
// How long the loop may sleep before it looks at the stop flag.
constexpr int kStopCheckMs = 100;

double Seconds(const timeval& time) {
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

} // namespace

TFleetPeer::TFleetPeer(int controllers, double intervalSeconds)
    : m_expected(controllers), m_intervalNs(int64_t(intervalSeconds * 1e9)) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0 || !Listen(0))
        return;
    m_connections.reserve(size_t(controllers));
    m_thread = std::thread([this] { Serve(); });
}

bool TFleetPeer::Listen(uint16_t port) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // After a reboot the port still has the dropped connections in TIME_WAIT.
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = kListenerTag;
    // The kernel caps the backlog at net.core.somaxconn (4096 here); the
    // dialers' bound on attempts in flight keeps them below it.
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(m_listener, 4096) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return false;
    }
    m_port = ntohs(address.sin_port);
    return true;
}

TFleetPeer::~TFleetPeer() {
    Stop();
    for (TConnection& connection : m_connections)
        Close(connection);
    ::close(m_epoll);
    ::close(m_listener);
}

TPeerFigures TFleetPeer::Stop() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    return m_figures;
}

void TFleetPeer::Serve() {
    epoll_event events[512];
    while (!m_stop) {
        // Away, it wakes in time to listen again.
        const int waitMs =
            m_backNs == 0
                ? kStopCheckMs
                : int(std::clamp<int64_t>((m_backNs - NowNs()) / 1000000 + 1, 0, kStopCheckMs));
        const int ready = ::epoll_wait(m_epoll, events, 512, waitMs);
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.u32 == kListenerTag)
                Accept(NowNs());
            else
                Answer(m_connections[events[i].data.u32]);
        }
        Reboots(NowNs());
    }
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    m_figures.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

void TFleetPeer::Reboots(int64_t nowNs) {
    if (const int64_t awayNs = m_rebootAwayNs.exchange(0, std::memory_order_relaxed)) {
        for (TConnection& connection : m_connections) {
            if (connection.fd < 0)
                continue;
            // Every other one reset: a linger of 0 s makes close send RST.
            const linger reset{1, 0};
            if (++m_figures.dropped % 2 == 0)
                ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            Close(connection);
        }
        ::close(m_listener); // leaves the epoll set with it; dials are refused
        m_listener = -1;
        m_backNs = nowNs + awayNs;
    }
    if (m_backNs != 0 && nowNs >= m_backNs && Listen(m_port)) {
        m_backNs = 0;
        m_listenedNs = nowNs;
    }
}

void TFleetPeer::Accept(int64_t nowNs) {
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN: all taken (the bench keeps sizes within its descriptors)
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = uint32_t(m_connections.size());
        m_connections.push_back({fd, 0, 0});
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        m_accepted.store(++m_figures.accepted, std::memory_order_relaxed);
        if (m_figures.accepted == m_expected)
            m_figures.allConnectedNs = nowNs;
    }
}

void TFleetPeer::Answer(TConnection& connection) {
    char bytes[4096];
    const ssize_t got = ::recv(connection.fd, bytes, sizeof bytes, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0)
        return Close(connection);
    const int64_t arrivedNs = NowNs();
    const int64_t steadyFrom = m_figures.allConnectedNs;
    const char* const end = bytes + got;
    for (const char* at = bytes; (at = std::find(at, end, ']')) != end; ++at) {
        if (steadyFrom != 0 && connection.replyNs >= steadyFrom) {
            const int64_t earliest =
                std::max(connection.replyNs + kSendDelayNs, connection.commandNs + m_intervalNs);
            m_figures.gapMs.push_back(float(arrivedNs - connection.replyNs) / 1e6F);
            m_figures.lateMs.push_back(float(arrivedNs - earliest) / 1e6F);
        }
        // A dialer that stops reading fills its buffer and loses its own
        // replies; it never holds up the others.
        if (::send(connection.fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL) < 0 && errno != EAGAIN)
            return Close(connection);
        const bool first = connection.replyNs == 0;
        connection.commandNs = arrivedNs;
        connection.replyNs = NowNs();
        if (first && m_listenedNs != 0)
            m_figures.backMs.push_back(float(connection.replyNs - m_listenedNs) / 1e6F);
        m_replies.store(++m_figures.replies, std::memory_order_relaxed);
    }
}

void TFleetPeer::Close(TConnection& connection) {
    if (connection.fd < 0)
        return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection.fd, nullptr);
    ::close(connection.fd);
    connection.fd = -1;
}
