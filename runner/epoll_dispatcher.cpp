#include "runner/epoll_dispatcher.h"

#include <QCoreApplication>
#include <QThread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

namespace {

// Events taken from the kernel per wait; more wait for the next pass.
constexpr int kBatch = 512;
// A hang-up or an error is news for every notifier of a descriptor.
constexpr uint32_t kTrouble = EPOLLHUP | EPOLLERR;

timespec TimespecOf(qint64 ns) {
    return {time_t(ns / 1000000000), long(ns % 1000000000)};
}

} // namespace

TEpollDispatcher::TEpollDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent), m_epoll(epoll_create1(EPOLL_CLOEXEC)),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    epoll_event wake = EventOf(EPOLLIN, m_wakeFd);
    if (m_epoll < 0 || m_wakeFd < 0 || epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wakeFd, &wake) != 0)
        m_setupError = errno;
}

TEpollDispatcher::~TEpollDispatcher() {
    ::close(m_wakeFd);
    ::close(m_epoll);
}

bool TEpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    m_interrupted.store(false, std::memory_order_relaxed);
    emit awake();
    m_postedHere = false;
    QCoreApplication::sendPostedEvents();
    const bool notifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool timers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool mayWait = flags & QEventLoop::WaitForMoreEvents;
    if (mayWait && !Pending())
        emit aboutToBlock();
    if (m_interrupted.load(std::memory_order_relaxed))
        return false;
    // Asked again: a handler of aboutToBlock may have posted.
    qint64 timeoutNs = 0;
    if (mayWait && !Pending())
        timeoutNs = timers ? TimersWaitNs() : -1;
    epoll_event events[kBatch];
    const int count = Wait(events, kBatch, timeoutNs, notifiers);
    int handled = ActivateNotifiers(events, count);
    if (timers)
        handled += m_timers.Activate() + FireDeadline();
    return handled > 0;
}

qint64 TEpollDispatcher::TimersWaitNs() const {
    const qint64 nowNs = TDispatcherTimers::NowNs();
    const qint64 timerNs = m_timers.WaitNs(nowNs);
    if (m_deadlineNs < 0)
        return timerNs;
    const qint64 deadlineNs = std::max<qint64>(m_deadlineNs - nowNs, 0);
    return timerNs < 0 ? deadlineNs : std::min(timerNs, deadlineNs);
}

int TEpollDispatcher::FireDeadline() {
    if (m_deadlineNs < 0 || TDispatcherTimers::NowNs() < m_deadlineNs)
        return 0;
    m_deadlineNs = -1;
    m_deadlineDue();
    return 1;
}

bool TEpollDispatcher::ClaimDeadline(std::function<void()> due) {
    if (m_deadlineDue)
        return false;
    m_deadlineDue = std::move(due);
    m_deadlineNs = -1;
    return true;
}

void TEpollDispatcher::ReleaseDeadline() {
    m_deadlineDue = nullptr;
    m_deadlineNs = -1;
}

int TEpollDispatcher::Wait(epoll_event* events, int capacity, qint64 timeoutNs, bool notifiers) {
    const timespec timeout = TimespecOf(std::max<qint64>(timeoutNs, 0));
    const timespec* until = timeoutNs < 0 ? nullptr : &timeout;
    if (!notifiers) {
        // Notifiers left out: only a wake-up ends the wait early.
        pollfd wake{m_wakeFd, POLLIN, 0};
        if (ppoll(&wake, 1, until, nullptr) <= 0)
            return 0;
        events[0] = EventOf(EPOLLIN, m_wakeFd);
        return 1;
    }
    SyncWatches();
    const timespec now{0, 0};
    if (!m_alwaysReady.empty())
        until = &now;
    int count = -1;
    if (!m_noPwait2) {
        count = epoll_pwait2(m_epoll, events, capacity, until, nullptr);
        m_noPwait2 = count < 0 && errno == ENOSYS;
    }
    if (m_noPwait2) {
        // Whole ms, rounded up, so a timer never comes early.
        const qint64 ms =
            until ? (qint64(until->tv_sec) * 1000000000 + until->tv_nsec + 999999) / 1000000 : -1;
        count = epoll_wait(m_epoll, events, capacity, int(std::min<qint64>(ms, INT_MAX)));
    }
    // EINTR: a signal came; the loop comes round again.
    return AddAlwaysReady(events, std::max(count, 0), capacity);
}

int TEpollDispatcher::AddAlwaysReady(epoll_event* events, int count, int capacity) {
    auto kept = m_alwaysReady.begin();
    for (const int fd : m_alwaysReady) {
        const TWatch& watch = m_watches[size_t(fd)];
        if (!watch.alwaysReady)
            continue;
        *kept++ = fd;
        if (count < capacity)
            events[count++] = EventOf(watch.armedEvents, fd);
    }
    m_alwaysReady.erase(kept, m_alwaysReady.end());
    return count;
}

int TEpollDispatcher::ActivateNotifiers(const epoll_event* events, int count) {
    int handled = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = events[i].data.fd;
        if (fd == m_wakeFd) {
            DrainWakeUps();
            ++handled;
            continue;
        }
        for (int type = 0; type < kTypes; ++type) {
            if (!(events[i].events & (kEventsOf[type] | kTrouble)))
                continue;
            // Looked up afresh: an earlier activation may have disabled,
            // deleted or replaced it, or grown the table.
            const TWatch& watch = m_watches[size_t(fd)];
            QSocketNotifier* const notifier = watch.notifiers[type];
            if (!notifier || notifier != watch.armed[type])
                continue;
            ++handled;
            if (watch.directed[type] == notifier) {
                watch.handlers[type]->Ready(notifier);
                continue;
            }
            QEvent activation(QEvent::SockAct);
            QCoreApplication::sendEvent(notifier, &activation);
        }
    }
    return handled;
}

bool TEpollDispatcher::Pending() const {
    return m_postedHere || m_wakeUpPending.load(std::memory_order_acquire) ||
           m_interrupted.load(std::memory_order_relaxed);
}

void TEpollDispatcher::DrainWakeUps() {
    eventfd_t count = 0;
    eventfd_read(m_wakeFd, &count);
    // After the read: a wake-up that comes in between finds one pending and
    // writes nothing, and what it woke for was posted before, so the next
    // pass's sendPostedEvents delivers it.
    m_wakeUpPending.store(false, std::memory_order_release);
}

void TEpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                     QObject* object) {
    m_timers.Register(timerId, interval, timerType, object);
}

bool TEpollDispatcher::unregisterTimer(int timerId) {
    return m_timers.Unregister(timerId);
}

bool TEpollDispatcher::unregisterTimers(QObject* object) {
    return m_timers.UnregisterAll(object);
}

QList<QAbstractEventDispatcher::TimerInfo>
TEpollDispatcher::registeredTimers(QObject* object) const {
    return m_timers.Registered(object);
}

int TEpollDispatcher::remainingTime(int timerId) {
    return m_timers.RemainingMs(timerId);
}

void TEpollDispatcher::wakeUp() {
    // The dispatcher's own thread is not waiting when it posts.
    if (QThread::currentThread() == thread()) {
        m_postedHere = true;
        return;
    }
    if (!m_wakeUpPending.exchange(true, std::memory_order_acq_rel))
        eventfd_write(m_wakeFd, 1);
}

void TEpollDispatcher::interrupt() {
    m_interrupted.store(true, std::memory_order_relaxed);
    wakeUp();
}
