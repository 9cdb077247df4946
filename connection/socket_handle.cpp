#include "connection/socket_handle.h"

#include "base/guard.h"

#include <QPointer>
#include <QSocketNotifier>

#include <sys/socket.h>

TSocketHandle::TSocketHandle(int fd, TNotify notify, QObject* channel, TDelivery delivery)
    : QObject(channel), m_fd(fd), m_notify(std::move(notify)), m_delivery(delivery) {}

int TSocketHandle::Select(bool notify) {
    const int error = SetNonBlocking(m_fd, notify);
    if (!notify) {
        delete m_read;
        delete m_write;
        m_read = m_write = nullptr;
        return error;
    }
    if (!m_read) {
        m_read = Notifier(QSocketNotifier::Read, &TSocketHandle::ReadReady);
        m_write = Notifier(QSocketNotifier::Write, &TSocketHandle::WriteReady);
    }
    return error;
}

void TSocketHandle::ConnectStarted() {
    m_connecting = true;
    if (m_write)
        m_write->setEnabled(true);
}

TCallResult TSocketHandle::Send(const void* buffer, size_t count) {
    const TCallResult sent = SendOnce(m_fd, buffer, count);
    if (IsWouldBlock(sent.error) && m_write && !m_connecting)
        m_write->setEnabled(true);
    return sent;
}

TCallResult TSocketHandle::Receive(void* buffer, size_t count) {
    m_waiting = -1;
    // A blocking recv() for nothing would wait for data.
    const TCallResult received = count > 0 ? ReceiveOnce(m_fd, buffer, count) : TCallResult{};
    ArmRead();
    return received;
}

void TSocketHandle::ArmRead() {
    if (m_read && !m_connecting && !m_closeSeen)
        m_read->setEnabled(true);
}

int TSocketHandle::Close() {
    if (m_read) {
        m_read->setEnabled(false);
        m_write->setEnabled(false);
    }
    m_notify = nullptr;
    deleteLater();
    return CloseDescriptor(m_fd);
}

QSocketNotifier* TSocketHandle::Notifier(int type, void (TSocketHandle::*ready)()) {
    auto* notifier = new QSocketNotifier(m_fd, QSocketNotifier::Type(type), this);
    notifier->setEnabled(false);
    connect(notifier, &QSocketNotifier::activated, this,
            [this, ready] { Guarded([this, ready] { (this->*ready)(); }); });
    return notifier;
}

void TSocketHandle::ReadReady() {
    m_read->setEnabled(false); // one-shot until the application receives
    if (const int waiting = BytesWaiting(m_fd); waiting > 0)
        return void(Notify(kFdRead, 0, waiting));
    // Readable with nothing waiting: a close, or a spurious wake-up.
    char byte;
    const TCallResult peeked = ReceiveOnce(m_fd, &byte, 1, MSG_PEEK);
    if (peeked.value > 0) {
        Notify(kFdRead, 0);
    } else if (IsWouldBlock(peeked.error)) {
        m_read->setEnabled(true);
    } else {
        m_closeSeen = true;
        Notify(kFdClose, peeked.error);
    }
}

void TSocketHandle::WriteReady() {
    m_write->setEnabled(false);
    if (!m_connecting)
        return void(Notify(kFdWrite, 0));
    m_connecting = false;
    const int error = PendingError(m_fd);
    // Armed first, so that a nested loop in OnConnect serves the data too.
    if (error == 0)
        m_read->setEnabled(true);
    if (Notify(kFdConnect, error) && error == 0)
        Notify(kFdWrite, 0);
}

bool TSocketHandle::Notify(int eventBit, int error, int waiting) {
    if (m_delivery == TDelivery::InPass)
        return Deliver(eventBit, error, waiting);
    // Without the count: by the time it comes, the application may have
    // received.
    QMetaObject::invokeMethod(
        this, [this, eventBit, error] { Deliver(eventBit, error, -1); }, Qt::QueuedConnection);
    return true;
}

bool TSocketHandle::Deliver(int eventBit, int error, int waiting) {
    // A copy: the receiver may close or destroy this handle.
    const TNotify notify = m_notify;
    if (!notify)
        return false;
    const QPointer<TSocketHandle> alive(this);
    m_waiting = waiting;
    Guarded([&] { notify(m_fd, eventBit, error); });
    if (!alive)
        return false;
    m_waiting = -1;
    return bool(m_notify);
}
