// Which descriptors the dispatcher's epoll set watches, for which notifiers:
// the notifiers register and go, and the kernel is told what changed before
// the next wait.
#include "runner/epoll_dispatcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

void TEpollDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    const int type = notifier->type();
    if (fd < 0 || type >= kTypes)
        return;
    QSocketNotifier*& slot = WatchOf(fd).notifiers[type];
    if (slot && slot != notifier)
        qWarning(
            "TEpollDispatcher: a second notifier of type %d on descriptor %d replaces the first",
            type, fd);
    slot = notifier;
    MarkDirty(fd);
}

void TEpollDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    const int type = notifier->type();
    if (fd < 0 || type >= kTypes || size_t(fd) >= m_watches.size())
        return;
    QSocketNotifier*& slot = m_watches[size_t(fd)].notifiers[type];
    if (slot != notifier)
        return;
    slot = nullptr;
    MarkDirty(fd);
}

void TEpollDispatcher::SetReadinessHandler(QSocketNotifier* notifier, TReadinessHandler* handler) {
    const int fd = int(notifier->socket());
    const int type = notifier->type();
    if (fd < 0 || type >= kTypes)
        return;
    TWatch& watch = WatchOf(fd);
    if (!handler && watch.directed[type] != notifier)
        return;
    watch.directed[type] = handler ? notifier : nullptr;
    watch.handlers[type] = handler;
}

TEpollDispatcher::TWatch& TEpollDispatcher::WatchOf(int fd) {
    if (size_t(fd) >= m_watches.size())
        m_watches.resize(size_t(fd) + 1);
    return m_watches[size_t(fd)];
}

void TEpollDispatcher::MarkDirty(int fd) {
    TWatch& watch = m_watches[size_t(fd)];
    if (!std::exchange(watch.dirty, true))
        m_dirty.push_back(fd);
}

void TEpollDispatcher::SyncWatches() {
    for (const int fd : m_dirty)
        Sync(fd);
    m_dirty.clear();
}

void TEpollDispatcher::Sync(int fd) {
    TWatch& watch = m_watches[size_t(fd)];
    watch.dirty = false;
    uint32_t wanted = 0;
    for (int type = 0; type < kTypes; ++type)
        if (watch.notifiers[type])
            wanted |= kEventsOf[type];
    bool same = wanted == watch.armedEvents;
    for (int type = 0; type < kTypes; ++type) {
        if (watch.armed[type] == watch.notifiers[type])
            continue;
        same = false;
        watch.armed[type] = watch.notifiers[type];
    }
    if (same)
        return;
    // A new notifier may be for a new descriptor of an old number: epoll is asked again.
    const bool inKernel = watch.armedEvents != 0 && !watch.alwaysReady;
    watch.armedEvents = wanted;
    watch.alwaysReady = false;
    epoll_event event = EventOf(wanted, fd);
    if (wanted == 0) {
        // ENOENT or EBADF: closed already, and so gone from the set.
        if (inKernel)
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, &event);
        return;
    }
    if (epoll_ctl(m_epoll, inKernel ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) == 0)
        return;
    // The kernel drops a closed descriptor by itself, so the set may lack
    // one it had, or still hold one it was not told about.
    const int retry = errno == ENOENT ? EPOLL_CTL_ADD : errno == EEXIST ? EPOLL_CTL_MOD : -1;
    if (retry >= 0 && epoll_ctl(m_epoll, retry, fd, &event) == 0)
        return;
    if (errno != EPERM) {
        qWarning("TEpollDispatcher: descriptor %d cannot be watched: %s", fd, std::strerror(errno));
        return;
    }
    watch.alwaysReady = true;
    if (std::find(m_alwaysReady.begin(), m_alwaysReady.end(), fd) == m_alwaysReady.end())
        m_alwaysReady.push_back(fd);
}
