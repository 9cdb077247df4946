#include "connection/client_socket.h"

#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThreadPool>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const char kCantChange[] = "Can't change value while socket is active";

bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}

// Letter case of a to z only: other bytes must match exactly.
bool SameTextAZ(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (qsizetype i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

QByteArray BadAddressMessage(const QByteArray& address) {
    return FormatMessage("'%s' is not a valid IPv4 address", address);
}

// The result of a platform call that failed with error, named api in the
// message. Would-block and in-progress are states and pass.
void CheckSocketCall(int error, const char* api) {
    if (error != 0 && !IsWouldBlock(error))
        throw ESocketError(SocketErrorMessage(error, api));
}

int LookupErrno(int gaiError) {
    switch (gaiError) {
    case EAI_SYSTEM:
        return errno != 0 ? errno : EIO;
    case EAI_AGAIN:
        return ETIMEDOUT;
    case EAI_MEMORY:
        return ENOMEM;
    default: // not found in any form
        return ENXIO;
    }
}

} // namespace

QByteArray SocketErrorMessage(int code, const char* api) {
    // strerrordesc_np: untranslated, thread-safe, and null for an unknown number.
    const char* description = strerrordesc_np(code);
    QByteArray text(description ? description : "");
    while (!text.isEmpty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.chop(1);
    return "Windows socket error: " + text + " (" + QByteArray::number(code) + "), on API '" + api +
           "'";
}

TErrorEvent ErrorKindOf(int eventBit) {
    switch (eventBit) {
    case kFdRead:
        return erReceive;
    case kFdWrite:
        return erSend;
    case kFdAccept:
        return erAccept;
    case kFdConnect:
        return erConnect;
    case kFdClose:
        return erDisconnect;
    default:
        return erGeneral;
    }
}

bool ParseIPv4(const QByteArray& text, in_addr_t* address) {
    // inet_pton takes exactly four decimal parts, unlike inet_aton's "127.1"
    // or "0x7f.1" short forms, which an operator would not mean as addresses.
    in_addr parsed{};
    if (text.contains('\0') || inet_pton(AF_INET, text.constData(), &parsed) != 1)
        return false;
    *address = parsed.s_addr;
    return true;
}

TLookupResult SystemResolver(TLookupKind kind, const QByteArray& name) {
    if (kind == TLookupKind::Host) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        errno = 0;
        if (const int error = getaddrinfo(name.constData(), nullptr, &hints, &found))
            return {LookupErrno(error), 0};
        const quint32 address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
        return {0, address};
    }
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    const int error =
        getservbyname_r(name.constData(), "tcp", &entry, buffer, sizeof buffer, &found);
    if (!found)
        return {error != 0 ? error : ENXIO, 0};
    return {0, static_cast<quint16>(entry.s_port)};
}

// One descriptor with its two notifiers, turning readiness into the one-shot
// notifications the socket object expects. Each notification is posted with
// this object as context, so deleting it discards whatever it still had
// queued; once detached it delivers nothing more.
class TSocketHandle : public QObject {
public:
    TSocketHandle(int fd, TCustomWinSocket* owner, QObject* channel)
        : QObject(channel), m_fd(fd), m_owner(owner) {}

    // Registers for notifications in non-blocking mode, or cancels them and
    // makes the descriptor blocking.
    void Select(bool notify) {
        const int flags = fcntl(m_fd, F_GETFL);
        fcntl(m_fd, F_SETFL, notify ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
        if (!notify) {
            delete m_read;
            delete m_write;
            m_read = m_write = nullptr;
            return;
        }
        if (!m_read) {
            m_read = Notifier(QSocketNotifier::Read, &TSocketHandle::ReadReady);
            m_write = Notifier(QSocketNotifier::Write, &TSocketHandle::WriteReady);
        }
    }

    // connect() was called: its completion shows as write readiness.
    void ConnectStarted() {
        m_connecting = true;
        if (m_write)
            m_write->setEnabled(true);
    }

    // The application received: another read notification may follow.
    void ArmRead() {
        if (m_read && !m_connecting && !m_closeSeen)
            m_read->setEnabled(true);
    }

    // A send would block: one write notification follows when room is free.
    void ArmWrite() {
        if (m_write && !m_connecting)
            m_write->setEnabled(true);
    }

    // Disables the notifiers before the descriptor goes, then leaves for
    // deletion by the loop (this may run inside one of our own
    // notifications). Returns 0 or the errno of close().
    int Close() {
        if (m_read) {
            m_read->setEnabled(false);
            m_write->setEnabled(false);
        }
        m_owner = nullptr;
        deleteLater();
        // Linux releases the descriptor even when close() reports EINTR.
        return ::close(m_fd) == 0 || errno == EINTR ? 0 : errno;
    }

private:
    QSocketNotifier* Notifier(QSocketNotifier::Type type, void (TSocketHandle::*ready)()) {
        auto* notifier = new QSocketNotifier(m_fd, type, this);
        notifier->setEnabled(false);
        connect(notifier, &QSocketNotifier::activated, this,
                [this, ready] { Guarded([this, ready] { (this->*ready)(); }); });
        return notifier;
    }

    void ReadReady() {
        m_read->setEnabled(false); // one-shot until the application receives
        int waiting = 0;
        if (ioctl(m_fd, FIONREAD, &waiting) == 0 && waiting > 0) {
            Post(kFdRead, 0);
            return;
        }
        // Readable with nothing waiting: a close, or a spurious wake-up.
        char byte;
        ssize_t peeked;
        do
            peeked = recv(m_fd, &byte, 1, MSG_PEEK);
        while (peeked < 0 && errno == EINTR);
        if (peeked > 0) {
            Post(kFdRead, 0);
        } else if (peeked < 0 && IsWouldBlock(errno)) {
            m_read->setEnabled(true);
        } else {
            m_closeSeen = true;
            Post(kFdClose, peeked == 0 ? 0 : errno);
        }
    }

    void WriteReady() {
        m_write->setEnabled(false);
        if (!m_connecting) {
            Post(kFdWrite, 0);
            return;
        }
        m_connecting = false;
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
        Post(kFdConnect, error);
        if (error == 0) {
            Post(kFdWrite, 0);
            m_read->setEnabled(true);
        }
    }

    void Post(int eventBit, int error) {
        QMetaObject::invokeMethod(
            this,
            [this, eventBit, error] {
                if (m_owner)
                    Guarded([&] { m_owner->SocketNotification(m_fd, eventBit, error); });
            },
            Qt::QueuedConnection);
    }

    const int m_fd;
    TCustomWinSocket* m_owner; // null once detached
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    bool m_connecting = false;
    bool m_closeSeen = false; // the close notification is posted once
};

// ---------------------------------------------------------------------------

TCustomWinSocket::TCustomWinSocket()
    : m_channel(std::make_unique<QObject>()), m_self(this, [](TCustomWinSocket*) {}) {
    ResetRemote();
}

TCustomWinSocket::~TCustomWinSocket() {
    EventHook = nullptr;
    ErrorHook = nullptr;
    m_pendingLookup = 0;
    DropHandle();
}

void TCustomWinSocket::ResetRemote() {
    m_remote = sockaddr_in{};
    m_remote.sin_family = AF_INET;
}

void TCustomWinSocket::Event(TSocketEventKind kind) {
    if (EventHook)
        EventHook(this, kind);
}

void TCustomWinSocket::Error(TErrorEvent kind, int& code) {
    if (ErrorHook)
        ErrorHook(this, kind, code);
}

int TCustomWinSocket::DropHandle() {
    if (!m_handleObject)
        return 0;
    const int error = m_handleObject->Close();
    m_handleObject = nullptr;
    m_handle = -1;
    m_connected = false;
    ResetRemote();
    return error;
}

void TCustomWinSocket::OpenConnection(const QByteArray& host, const QByteArray& address,
                                      const QByteArray& service, quint16 port, bool blocking) {
    if (m_connected)
        throw ESocketError("Socket already open");
    // A new attempt starts over: the earlier descriptor and lookup are dropped.
    m_pendingLookup = 0;
    m_stage = StageIdle;
    DropHandle();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw ESocketError("Can't create new socket");
    m_handle = fd;
    m_handleObject = new TSocketHandle(fd, this, m_channel.get());
    try {
        Event(skLookup);
        if (blocking) {
            ResolveNow(host, address, service, port);
            StartConnect();
        } else {
            ResolveStep(host, address, service, port);
        }
    } catch (...) {
        CloseConnection(m_handle);
        throw;
    }
}

void TCustomWinSocket::ResolveStep(const QByteArray& host, const QByteArray& address,
                                   const QByteArray& service, quint16 port) {
    try {
        for (;;) {
            switch (m_stage) {
            case StageIdle:
                if (!host.isEmpty()) {
                    StartLookup(TLookupKind::Host, host);
                    m_savedService = service;
                    m_savedPort = port;
                    m_stage = StageAddress;
                    return;
                }
                if (address.isEmpty())
                    return ReportLookupFailure(kErrorNoAddress, "No address specified");
                if (!ParseIPv4(address, &m_remote.sin_addr.s_addr))
                    return ReportLookupFailure(kErrorBadAddress, BadAddressMessage(address));
                m_stage = StageAddress;
                break;
            case StageAddress:
                if (!service.isEmpty()) {
                    StartLookup(TLookupKind::Service, service);
                    m_stage = StagePort;
                    return;
                }
                m_remote.sin_port = htons(port);
                m_stage = StagePort;
                break;
            case StagePort:
                m_stage = StageIdle;
                StartConnect();
                return;
            }
        }
    } catch (...) {
        CloseConnection(m_handle);
        throw;
    }
}

void TCustomWinSocket::ReportLookupFailure(int code, const QByteArray& message) {
    int reported = code;
    Error(erLookup, reported);
    CloseConnection(m_handle);
    if (reported != 0)
        throw ESocketError(message);
}

void TCustomWinSocket::StartLookup(TLookupKind kind, const QByteArray& name) {
    const quint64 id = ++m_lookupSerial;
    m_pendingLookup = id;
    // The result goes back through the application object, which outlives
    // every worker of the global pool; the weak pointer finds out whether this
    // socket object still exists once the result is on the GUI thread.
    std::weak_ptr<TCustomWinSocket> self = m_self;
    QThreadPool::globalInstance()->start([self, id, kind, name, resolver = Resolver] {
        const TLookupResult result = resolver(kind, name);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, id, result] {
                if (const auto socket = self.lock())
                    Guarded([&] { socket->LookupCompleted(id, result); });
            },
            Qt::QueuedConnection);
    });
}

void TCustomWinSocket::LookupCompleted(quint64 id, TLookupResult result) {
    if (id != m_pendingLookup)
        return; // cancelled, or an earlier attempt's
    m_pendingLookup = 0;
    if (result.error != 0)
        return ReportLookupFailure(result.error, SocketErrorMessage(result.error, "ASync Lookup"));
    switch (m_stage) {
    case StageAddress: {
        m_remote.sin_addr.s_addr = result.value;
        const QByteArray service = m_savedService;
        ResolveStep({}, {}, service, m_savedPort);
        break;
    }
    case StagePort:
        m_remote.sin_port = static_cast<quint16>(result.value);
        m_savedService.clear();
        m_savedPort = 0;
        ResolveStep({}, {}, {}, 0);
        break;
    case StageIdle:
        break;
    }
}

void TCustomWinSocket::ResolveNow(const QByteArray& host, const QByteArray& address,
                                  const QByteArray& service, quint16 port) {
    if (!host.isEmpty()) {
        const TLookupResult found = Resolver(TLookupKind::Host, host);
        m_remote.sin_addr.s_addr = found.error != 0 ? 0 : found.value;
    } else if (address.isEmpty()) {
        throw ESocketError("No address specified");
    } else if (!ParseIPv4(address, &m_remote.sin_addr.s_addr)) {
        throw ESocketError(BadAddressMessage(address));
    }
    if (!service.isEmpty()) {
        const TLookupResult found = Resolver(TLookupKind::Service, service);
        m_remote.sin_port = found.error != 0 ? 0 : static_cast<quint16>(found.value);
    } else {
        m_remote.sin_port = htons(port);
    }
}

void TCustomWinSocket::StartConnect() {
    ApplyNotificationMask();
    Event(skConnecting);
    int error = 0;
    if (::connect(m_handle, reinterpret_cast<const sockaddr*>(&m_remote), sizeof m_remote) != 0)
        error = errno;
    // An interrupted connect goes on in the background, like one in progress.
    CheckSocketCall(error == EINTR ? EINPROGRESS : error, "connect");
    m_stage = StageIdle;
    if (m_mask & kFdConnect) {
        // Also a connect that completed at once is reported through the loop.
        m_handleObject->ConnectStarted();
        return;
    }
    m_connected = m_handle != -1;
    Event(skConnect);
}

void TCustomWinSocket::SetNotificationMask(int mask) {
    m_mask = mask;
    ApplyNotificationMask();
}

void TCustomWinSocket::ApplyNotificationMask() {
    if (m_handleObject)
        m_handleObject->Select(m_mask != 0);
}

void TCustomWinSocket::SocketNotification(int handle, int eventBit, int error) {
    if (error != 0) {
        // A failed attempt's descriptor is not used again: close it now.
        if (eventBit == kFdConnect && handle == m_handle)
            DropHandle();
        int code = error;
        Error(ErrorKindOf(eventBit), code);
        if (code != 0)
            throw ESocketError("Asynchronous socket error " + QByteArray::number(code));
        return;
    }
    switch (eventBit) {
    case kFdConnect:
        return NotifyConnect(handle);
    case kFdClose:
        return CloseConnection(handle);
    case kFdRead:
        return NotifyRead(handle);
    case kFdWrite:
        return NotifyWrite(handle);
    }
}

void TCustomWinSocket::NotifyConnect(int) {}

void TCustomWinSocket::NotifyRead(int handle) {
    if (handle != -1 && handle == m_handle)
        Event(skRead);
}

void TCustomWinSocket::NotifyWrite(int handle) {
    if (handle != -1 && handle == m_handle)
        Event(skWrite);
}

void TCustomWinSocket::CloseConnection(int handle) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_pendingLookup = 0; // a worker may still finish; its result is dropped
    if (handle == -1 || handle != m_handle)
        return;
    Event(skDisconnect);
    // close() releases the descriptor even when it reports an error, so the
    // fields are reset before the error is raised.
    CheckSocketCall(DropHandle(), "closesocket");
}

int TCustomWinSocket::SendString(const QByteArray& text) {
    return SendBytes(text.constData(), int(text.size()));
}

int TCustomWinSocket::SendBytes(const void* buffer, int count) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_connected)
        return 0;
    ssize_t sent;
    do
        sent = ::send(m_handle, buffer, size_t(count), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent >= 0)
        return int(sent);
    const int error = errno;
    if (IsWouldBlock(error)) {
        m_handleObject->ArmWrite();
        return -1;
    }
    return TransferFailed(erSend, error, "send");
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_connected)
        return 0;
    if (count == -1) {
        int waiting = 0;
        ioctl(m_handle, FIONREAD, &waiting);
        return waiting;
    }
    ssize_t received;
    do
        received = ::recv(m_handle, buffer, size_t(count), 0);
    while (received < 0 && errno == EINTR);
    const int error = errno;
    m_handleObject->ArmRead();
    if (received >= 0)
        return int(received);
    if (IsWouldBlock(error))
        return -1;
    return TransferFailed(erReceive, error, "recv");
}

int TCustomWinSocket::TransferFailed(TErrorEvent kind, int error, const char* api) {
    int code = error;
    Error(kind, code);
    CloseConnection(m_handle); // whatever the handler did with the code
    if (code != 0)
        throw ESocketError(SocketErrorMessage(code, api));
    return -1;
}

QByteArray TCustomWinSocket::ReceiveString() {
    const int waiting = ReceiveBytes(nullptr, -1);
    QByteArray text(qMax(waiting, 0), Qt::Uninitialized);
    const int received = ReceiveBytes(text.data(), int(text.size()));
    text.resize(qMax(received, 0));
    return text;
}

// ---------------------------------------------------------------------------

void TClientWinSocket::SetClientType(TClientType value) {
    if (value == m_clientType)
        return;
    if (m_connected)
        throw ESocketError(kCantChange);
    m_clientType = value;
    SetNotificationMask(value == ctBlocking ? 0 : kNonBlockingMask);
}

void TClientWinSocket::NotifyConnect(int) {
    // A superseded attempt's descriptor delivers nothing, so this is the
    // current one.
    m_connected = true;
    Event(skConnect);
}

// ---------------------------------------------------------------------------

void TAbstractSocket::SetActive(bool value) {
    if (value == m_active)
        return;
    if (m_loading) {
        m_active = value;
        return;
    }
    ApplyActive(value);
}

void TAbstractSocket::Loaded() {
    m_loading = false;
    if (m_active) {
        // Active reads true only from OnConnect on, as after any activation.
        m_active = false;
        ApplyActive(true);
    }
}

void TAbstractSocket::CheckInactive() const {
    if (m_active && !m_loading)
        throw ESocketError(kCantChange);
}

void TAbstractSocket::SetText(QByteArray& field, const QByteArray& value) {
    if (SameTextAZ(field, value))
        return;
    CheckInactive();
    field = value;
}

void TAbstractSocket::SetAddress(const QByteArray& value) {
    SetText(m_address, value);
}

void TAbstractSocket::SetHost(const QByteArray& value) {
    SetText(m_host, value);
}

void TAbstractSocket::SetService(const QByteArray& value) {
    SetText(m_service, value);
}

void TAbstractSocket::SetPort(int value) {
    if (value == m_port)
        return;
    CheckInactive();
    m_port = value;
}

// ---------------------------------------------------------------------------

void TCustomSocket::FireEvent(TCustomWinSocket* socket, TSocketEventKind kind) {
    switch (kind) {
    case skLookup:
        return OnLookup(this, socket);
    case skConnecting:
        return OnConnecting(this, socket);
    case skConnect:
        m_active = true;
        return OnConnect(this, socket);
    case skDisconnect:
        m_active = false;
        return OnDisconnect(this, socket);
    case skListen:
        m_active = true;
        return;
    case skAccept:
        return;
    case skWrite:
        return OnWrite(this, socket);
    case skRead:
        return OnRead(this, socket);
    }
}

void TCustomSocket::FireError(TCustomWinSocket* socket, TErrorEvent kind, int& code) {
    OnError(this, socket, kind, code);
}

// ---------------------------------------------------------------------------

TClientSocket::TClientSocket(QObject* owner)
    : TCustomSocket(owner), m_socket(std::make_unique<TClientWinSocket>()) {
    m_socket->EventHook = [this](TCustomWinSocket* socket, TSocketEventKind kind) {
        FireEvent(socket, kind);
    };
    m_socket->ErrorHook = [this](TCustomWinSocket* socket, TErrorEvent kind, int& code) {
        FireError(socket, kind, code);
    };
}

TClientSocket::~TClientSocket() = default;

void TClientSocket::ApplyActive(bool value) {
    if (value == m_socket->Connected())
        return;
    if (m_socket->Connected())
        return m_socket->CloseConnection(m_socket->SocketHandle());
    m_socket->OpenConnection(m_host, m_address, m_service, static_cast<quint16>(m_port),
                             ClientType() == ctBlocking);
}
