#pragma once

#include "connection/socket_calls.h"

#include <QObject>

#include <functional>

class QSocketNotifier;

// Notification bits, with the values the notification mask has always had
// (8 is a server's accept, which a client never sees).
enum : int { kFdRead = 1, kFdWrite = 2, kFdConnect = 16, kFdClose = 32 };

// One descriptor with its two notifiers, turning readiness into one-shot
// notifications: connect once per attempt, write after a good connect and
// after a send that would block, read when data arrives and again only after
// the application received, close once. Each notification is posted with this
// object as context, so deleting it discards whatever it still had queued;
// once closed it delivers nothing more.
class TSocketHandle : public QObject {
public:
    // Receives each notification: descriptor, event bit, 0 or an errno.
    using TNotify = std::function<void(int fd, int eventBit, int error)>;

    TSocketHandle(int fd, TNotify notify, QObject* channel);

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
    int Waiting() const { return BytesWaiting(m_fd); }
    // Disables the notifiers before the descriptor goes, then leaves for
    // deletion by the loop (this may run inside one of our own
    // notifications). Returns 0 or the errno of close().
    int Close();

private:
    QSocketNotifier* Notifier(int type, void (TSocketHandle::*ready)());
    void ArmRead();
    void ReadReady();
    void WriteReady();
    void Post(int eventBit, int error);

    const int m_fd;
    TNotify m_notify; // empty once closed
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    bool m_connecting = false;
    bool m_closeSeen = false; // the close notification is posted once
};
