#include "connection/socket_handle.h"

#include "base/guard.h"

#include <QSocketNotifier>

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace {

// The most one read notification receives ahead; more waits for the next.
constexpr size_t kAheadBytes = 65536;

} // namespace

TSocketHandle::TSocketHandle(int fd, TNotify notify, QObject* channel, TDelivery delivery)
    : QObject(channel), m_fd(fd), m_notify(std::move(notify)), m_delivery(delivery) {}

TSocketHandle::~TSocketHandle() {
    DeleteNotifiers();
}

int TSocketHandle::Select(bool notify) {
    const int error = SetNonBlocking(m_fd, notify);
    if (!notify) {
        DeleteNotifiers();
        return error;
    }
    if (!m_read) {
        m_direct = QAbstractEventDispatcher::instance(thread());
        if (!Direct())
            m_direct = nullptr;
        m_read = Notifier(QSocketNotifier::Read, &TSocketHandle::ReadReady);
        m_write = Notifier(QSocketNotifier::Write, &TSocketHandle::WriteReady);
    }
    return error;
}

TDirectReadiness* TSocketHandle::Direct() const {
    return dynamic_cast<TDirectReadiness*>(m_direct.data());
}

void TSocketHandle::DeleteNotifiers() {
    // The dispatcher forgets them before they go.
    if (TDirectReadiness* const direct = Direct())
        for (QSocketNotifier* notifier : {m_read, m_write})
            if (notifier)
                direct->SetReadinessHandler(notifier, nullptr);
    delete m_read;
    delete m_write;
    m_read = m_write = nullptr;
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
    TCallResult received;
    if (count > 0 && !m_received.isEmpty()) {
        const size_t taken = std::min(count, size_t(m_received.size()));
        std::memcpy(buffer, m_received.constData(), taken);
        m_received.remove(0, qsizetype(taken));
        received.value = ssize_t(taken);
    } else if (count > 0) {
        // A blocking recv() for nothing would wait for data.
        received = ReceiveOnce(m_fd, buffer, count);
    }
    ArmRead();
    return received;
}

QByteArray TSocketHandle::TakeReceived() {
    QByteArray taken = std::exchange(m_received, QByteArray());
    if (!taken.isEmpty())
        ArmRead();
    return taken;
}

void TSocketHandle::ArmRead() {
    if (!m_read || m_connecting || m_closeSeen)
        return;
    if (m_received.isEmpty())
        return m_read->setEnabled(true);
    // What is left of the bytes received ahead is news of its own, as the
    // descriptor's readiness would have been: once per pass at most.
    if (std::exchange(m_heldQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_heldQueued = false;
            if (!m_received.isEmpty())
                Deliver(kFdRead, 0);
        },
        Qt::QueuedConnection);
}

int TSocketHandle::Close() {
    if (m_read) {
        m_read->setEnabled(false);
        m_write->setEnabled(false);
    }
    m_notify = nullptr;
    m_received.clear();
    deleteLater();
    return CloseDescriptor(m_fd);
}

QSocketNotifier* TSocketHandle::Notifier(int type, void (TSocketHandle::*ready)()) {
    auto* notifier = new QSocketNotifier(m_fd, QSocketNotifier::Type(type), this);
    notifier->setEnabled(false);
    if (TDirectReadiness* const direct = Direct())
        direct->SetReadinessHandler(notifier, this);
    else
        connect(notifier, &QSocketNotifier::activated, this,
                [this, ready] { Guarded([this, ready] { (this->*ready)(); }); });
    return notifier;
}

void TSocketHandle::Ready(QSocketNotifier* notifier) {
    Guarded([this, notifier] { notifier == m_read ? ReadReady() : WriteReady(); });
}

void TSocketHandle::ReadReady() {
    m_read->setEnabled(false); // one-shot until the application receives
    if (m_delivery == TDelivery::InPass)
        return ReceiveAhead();
    if (BytesWaiting(m_fd) > 0)
        return void(Notify(kFdRead, 0));
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

void TSocketHandle::ReceiveAhead() {
    // Every socket runs on one thread, and the bytes leave this buffer before
    // any handler runs.
    static char buffer[kAheadBytes];
    const TCallResult received = ReceiveOnce(m_fd, buffer, sizeof buffer);
    if (received.value > 0) {
        m_received.append(buffer, qsizetype(received.value));
        Notify(kFdRead, 0);
    } else if (IsWouldBlock(received.error)) {
        m_read->setEnabled(true); // a spurious wake-up
    } else {
        m_closeSeen = true;
        Notify(kFdClose, received.error);
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

bool TSocketHandle::Notify(int eventBit, int error) {
    if (m_delivery == TDelivery::InPass)
        return Deliver(eventBit, error);
    QMetaObject::invokeMethod(
        this, [this, eventBit, error] { Deliver(eventBit, error); }, Qt::QueuedConnection);
    return true;
}

bool TSocketHandle::Deliver(int eventBit, int error) {
    // A copy: the receiver may close or destroy this handle.
    const TNotify notify = m_notify;
    if (!notify)
        return false;
    const QPointer<TSocketHandle> alive(this);
    Guarded([&] { notify(m_fd, eventBit, error); });
    return alive && bool(m_notify);
}
