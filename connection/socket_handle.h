#pragma once

#include "connection/socket_calls.h"

#include <QObject>

#include <functional>

class QSocketNotifier;

// When a notification reaches the receiver. Posted: queued with the handle
// as context (deleting it discards what it still had queued) and delivered
// in a later pass of the loop. InPass: from the activation of the notifier
// that saw the readiness, in the pass whose wait found it, and a reply costs
// one query of the bytes waiting instead of two.
enum class TDelivery { Posted, InPass };

// Notification bits, with the values the notification mask has always had
// (8 is a server's accept, which a client never sees).
enum : int { kFdRead = 1, kFdWrite = 2, kFdConnect = 16, kFdClose = 32 };

// One descriptor with its two notifiers, turning readiness into one-shot
// notifications: connect once per attempt, write after a good connect and
// after a send that would block, read when data arrives and again only after
// the application received, close once. Notifications come through the
// event loop, never inside a call of the application, by the handle's
// delivery (TDelivery). The read notifier stays disabled until the
// application receives, so a read handler, or a nested loop it runs, never
// sees the same readiness again. Once closed it delivers nothing more.
class TSocketHandle : public QObject {
public:
    // Receives each notification: descriptor, event bit, 0 or an errno.
    using TNotify = std::function<void(int fd, int eventBit, int error)>;

    TSocketHandle(int fd, TNotify notify, QObject* channel, TDelivery delivery);

    // Registers for notifications in non-blocking mode, or cancels them and
    // makes the descriptor blocking. 0 or the errno of switching the mode.
    int Select(bool notify);
    // 0, EINPROGRESS or the errno of connect().
    int Connect(const sockaddr_in& remote) const { return ConnectTo(m_fd, remote); }
    // connect() was called: its completion shows as write readiness.
    void ConnectStarted();
    // One send; would-block arms the one write notification.
    TCallResult Send(const void* buffer, size_t count);
    // One receive (none for a count of 0); another read notification may
    // follow.
    TCallResult Receive(void* buffer, size_t count);
    // The bytes waiting. Inside a read notification delivered in the pass,
    // until the first receive, the count the notification was raised with:
    // bytes leave only by a receive, so at least that many wait.
    int Waiting() const { return m_waiting >= 0 ? m_waiting : BytesWaiting(m_fd); }
    // Disables the notifiers before the descriptor goes, then leaves for
    // deletion by the loop (this may run inside one of our own
    // notifications). Returns 0 or the errno of close().
    int Close();

private:
    QSocketNotifier* Notifier(int type, void (TSocketHandle::*ready)());
    void ArmRead();
    void ReadReady();
    void WriteReady();
    // Delivers or posts one notification, waiting being the bytes found for a
    // read; false when the receiver closed or destroyed this handle meanwhile.
    bool Notify(int eventBit, int error, int waiting = -1);
    // Hands it to the receiver, inside the guard.
    bool Deliver(int eventBit, int error, int waiting);

    const int m_fd;
    TNotify m_notify; // empty once closed
    const TDelivery m_delivery;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    bool m_connecting = false;
    bool m_closeSeen = false; // the close notification is delivered once
    int m_waiting = -1;       // the count of the read notification being delivered
};
