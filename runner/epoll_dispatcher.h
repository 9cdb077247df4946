#pragma once

#include "connection/direct_readiness.h"
#include "runner/dispatcher_timers.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QSocketNotifier>

#include <sys/epoll.h>

#include <atomic>
#include <functional>
#include <vector>

// The runner's event dispatcher: one epoll set holds every watched
// descriptor, so a wait costs nothing per idle connection, where Qt's Unix
// dispatcher hands the kernel every descriptor at every wake-up. It serves
// any QSocketNotifier (read, write, exception), Qt's timers, posted events,
// wake-ups from other threads (an eventfd) and interrupt(). Installed with
// QCoreApplication::setEventDispatcher before the application object is
// made; it serves the thread it was made on.
//
// Enabling and disabling a notifier costs no system call at once: what the
// kernel watches is brought up to date just before the next wait, and only
// where it changed, so the read latch that disables a notifier at its
// activation and enables it again when the application receives, in the
// same pass, leaves the set as it was. A notifier only ever hears of
// readiness found by a wait made while it was enabled; after a nested loop
// it may be activated for readiness that loop already consumed (spurious, as
// a notifier's activation may always be). The kernel forgets a closed
// descriptor without telling, so a new notifier is always registered anew,
// even at the address of one deleted in the same pass; but one notifier must
// not be re-enabled for a new descriptor that took its old one's number in
// the pass that closed the old one.
// A descriptor epoll refuses (a regular file) counts as always ready, as
// poll() would have it.
//
// A notifier given a readiness handler has its activations go to the handler
// instead of through its event and signal (what a handler leaves for deletion
// Qt then places as for any handler that runs outside an event).
class TEpollDispatcher : public QAbstractEventDispatcher, public TDirectReadiness {
public:
    explicit TEpollDispatcher(QObject* parent = nullptr);
    ~TEpollDispatcher() override;

    // 0, or the errno that kept the epoll set or its eventfd from being made:
    // then the dispatcher cannot serve.
    int SetupError() const { return m_setupError; }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;
    // Thread-safe, as Qt requires.
    void wakeUp() override;
    void interrupt() override;
    void SetReadinessHandler(QSocketNotifier* notifier, TReadinessHandler* handler) override;

    // One deadline of the dispatcher's own beside Qt's timers, for one client
    // that keeps many deadlines of its own (the runner's timer queue): moving
    // it costs no timer id and no event. due is called once the monotonic
    // clock reaches it, after the pass's notifiers and timers. false: another
    // client has it.
    bool ClaimDeadline(std::function<void()> due);
    void ReleaseDeadline();
    // CLOCK_MONOTONIC ns (TDispatcherTimers::NowNs); -1: none.
    void SetDeadline(qint64 dueNs) { m_deadlineNs = dueNs; }

private:
    static constexpr int kTypes = 3; // QSocketNotifier::Read, Write, Exception
    // By QSocketNotifier::Type.
    static constexpr uint32_t kEventsOf[kTypes] = {EPOLLIN, EPOLLOUT, EPOLLPRI};
    static epoll_event EventOf(uint32_t events, int fd) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        return event;
    }

    // What is watched on one descriptor: the enabled notifiers, and what the
    // kernel was last told (the events, and which notifiers they were for;
    // null once deleted).
    struct TWatch {
        QSocketNotifier* notifiers[kTypes] = {};
        QPointer<QSocketNotifier> armed[kTypes];
        // The notifiers with a readiness handler, and their handlers.
        QSocketNotifier* directed[kTypes] = {};
        TReadinessHandler* handlers[kTypes] = {};
        uint32_t armedEvents = 0;
        bool dirty = false;       // queued in m_dirty
        bool alwaysReady = false; // epoll refused it
    };

    TWatch& WatchOf(int fd);
    void MarkDirty(int fd);
    // Tells the kernel what changed since the last wait.
    void SyncWatches();
    void Sync(int fd);
    // Waits up to timeoutNs (-1: for ever) for descriptors and the wake-up.
    int Wait(epoll_event* events, int capacity, qint64 timeoutNs, bool notifiers);
    // Appends the always-ready descriptors to a wait's events.
    int AddAlwaysReady(epoll_event* events, int count, int capacity);
    int ActivateNotifiers(const epoll_event* events, int count);
    // ns until the first timer or the deadline is due, 0 when one is; -1: none.
    qint64 TimersWaitNs() const;
    int FireDeadline();
    void DrainWakeUps();
    // Something the coming pass must see: a post, a wake-up or interrupt().
    bool Pending() const;

    const int m_epoll;
    const int m_wakeFd; // an eventfd, also in the epoll set
    int m_setupError = 0;
    std::vector<TWatch> m_watches; // by descriptor
    std::vector<int> m_dirty;
    std::vector<int> m_alwaysReady;
    TDispatcherTimers m_timers;
    std::function<void()> m_deadlineDue; // empty: unclaimed
    qint64 m_deadlineNs = -1;
    // A wake-up is written to the eventfd only when none is pending, so a
    // burst of posts costs one write and one read.
    std::atomic<bool> m_wakeUpPending{false};
    // Posts from this thread while it runs need no write: the next wait
    // just does not block.
    bool m_postedHere = false;
    std::atomic<bool> m_interrupted{false};
    bool m_noPwait2 = false; // the kernel predates epoll_pwait2: ms waits
};
