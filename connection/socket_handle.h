#pragma once

#include "connection/direct_readiness.h"
#include "connection/socket_calls.h"

#include <QAbstractEventDispatcher>
#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>

class QSocketNotifier;

// When a notification reaches the receiver. Posted: queued with the handle
// as context (deleting it discards what it still had queued) and delivered
// in a later pass of the loop. InPass: from the activation of the notifier
// that saw the readiness, in the pass whose wait found it, with the bytes
// already received: a reply costs one receive and no query of the bytes
// waiting.
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
// sees the same readiness again. Once closed it delivers nothing more. Where
// the event dispatcher offers it (TDirectReadiness), readiness comes to the
// handle directly rather than through the notifiers' signals.
class TSocketHandle : public QObject, private TReadinessHandler {
public:
    // Receives each notification: descriptor, event bit, 0 or an errno.
    using TNotify = std::function<void(int fd, int eventBit, int error)>;

    TSocketHandle(int fd, TNotify notify, QObject* channel, TDelivery delivery);
    ~TSocketHandle() override;

    // Registers for notifications in non-blocking mode, or cancels them and
    // makes the descriptor blocking. 0 or the errno of switching the mode.
    int Select(bool notify);
    // 0, EINPROGRESS or the errno of connect().
    int Connect(const sockaddr_in& remote) const { return ConnectTo(m_fd, remote); }
    // connect() was called: its completion shows as write readiness.
    void ConnectStarted();
    // One send; would-block arms the one write notification.
    TCallResult Send(const void* buffer, size_t count);
    // One receive (none for a count of 0), from the bytes a read notification
    // received ahead while any are left; another read notification may
    // follow.
    TCallResult Receive(void* buffer, size_t count);
    // The bytes a read notification received ahead and not yet taken, all of
    // them, as a receive takes them; empty when there are none.
    QByteArray TakeReceived();
    // The bytes waiting: those received ahead while any are left (more may
    // have come since, and a notification follows for them), otherwise the
    // descriptor's.
    int Waiting() const {
        return m_received.isEmpty() ? BytesWaiting(m_fd) : int(m_received.size());
    }
    // Disables the notifiers before the descriptor goes, then leaves for
    // deletion by the loop (this may run inside one of our own
    // notifications). Returns 0 or the errno of close().
    int Close();

private:
    QSocketNotifier* Notifier(int type, void (TSocketHandle::*ready)());
    void Ready(QSocketNotifier* notifier) override;
    // The dispatcher that hands readiness to this handle directly, if any.
    TDirectReadiness* Direct() const;
    void DeleteNotifiers();
    void ArmRead();
    void ReadReady();
    // In-pass delivery: one receive of what waits, then the notification.
    void ReceiveAhead();
    void WriteReady();
    // Delivers or posts one notification; false when the receiver closed or
    // destroyed this handle meanwhile.
    bool Notify(int eventBit, int error);
    // Hands it to the receiver, inside the guard.
    bool Deliver(int eventBit, int error);

    const int m_fd;
    TNotify m_notify; // empty once closed
    const TDelivery m_delivery;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    bool m_connecting = false;
    bool m_closeSeen = false;  // the close notification is delivered once
    bool m_heldQueued = false; // a notification for bytes received ahead is queued
    QByteArray m_received;     // received ahead by a read notification, not yet taken
    QPointer<QAbstractEventDispatcher> m_direct; // when readiness comes directly
};
