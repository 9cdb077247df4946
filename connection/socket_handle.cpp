#include "connection/socket_handle.h"

#include "base/guard.h"

#include <QSocketNotifier>

#include <sys/socket.h>

TSocketHandle::TSocketHandle(int fd, TNotify notify, QObject* channel)
    : QObject(channel), m_fd(fd), m_notify(std::move(notify)) {}

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
    if (Waiting() > 0)
        return Post(kFdRead, 0);
    // Readable with nothing waiting: a close, or a spurious wake-up.
    char byte;
    const TCallResult peeked = ReceiveOnce(m_fd, &byte, 1, MSG_PEEK);
    if (peeked.value > 0) {
        Post(kFdRead, 0);
    } else if (IsWouldBlock(peeked.error)) {
        m_read->setEnabled(true);
    } else {
        m_closeSeen = true;
        Post(kFdClose, peeked.error);
    }
}

void TSocketHandle::WriteReady() {
    m_write->setEnabled(false);
    if (!m_connecting)
        return Post(kFdWrite, 0);
    m_connecting = false;
    const int error = PendingError(m_fd);
    Post(kFdConnect, error);
    if (error == 0) {
        Post(kFdWrite, 0);
        m_read->setEnabled(true);
    }
}

void TSocketHandle::Post(int eventBit, int error) {
    QMetaObject::invokeMethod(
        this,
        [this, eventBit, error] {
            // A copy: the receiver may close or destroy this handle.
            if (const TNotify notify = m_notify)
                Guarded([&] { notify(m_fd, eventBit, error); });
        },
        Qt::QueuedConnection);
}
