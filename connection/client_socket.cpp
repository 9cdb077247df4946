#include "connection/client_socket.h"

#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"

#include <arpa/inet.h>

#include <climits>

namespace {

const char kCantChange[] = "Can't change value while socket is active";

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

// The error kind of a notification that carries an error, by its event bit.
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

} // namespace

// ---------------------------------------------------------------------------

TCustomWinSocket::TCustomWinSocket()
    : m_channel(std::make_unique<QObject>()), m_life(std::make_shared<TLife>()) {
    ResetRemote();
}

TCustomWinSocket::~TCustomWinSocket() {
    m_life->alive = false;
    EventHook = nullptr;
    ErrorHook = nullptr;
    m_pendingLookup = 0;
    DropHandle();
}

void TCustomWinSocket::ResetRemote() {
    m_remote = sockaddr_in{};
    m_remote.sin_family = AF_INET;
}

bool TCustomWinSocket::Event(TSocketEventKind kind) {
    const std::shared_ptr<TLife> life = m_life;
    // A copy: the hook lives in this object, which the handler may destroy.
    if (const TEventHook hook = EventHook)
        hook(this, kind);
    return life->alive;
}

bool TCustomWinSocket::Error(TErrorEvent kind, int& code) {
    const std::shared_ptr<TLife> life = m_life;
    if (const TErrorHook hook = ErrorHook)
        hook(this, kind, code);
    return life->alive;
}

template <class Step> void TCustomWinSocket::ClosingOnRaise(Step step) {
    const std::shared_ptr<TLife> life = m_life;
    try {
        step();
    } catch (...) {
        if (life->alive)
            CloseConnection(m_handle);
        throw;
    }
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
    const TCallResult created = NewStreamSocket();
    if (created.error != 0)
        throw ESocketError("Can't create new socket");
    m_handle = int(created.value);
    m_handleObject = new TSocketHandle(
        m_handle,
        [this](int fd, int eventBit, int error) { SocketNotification(fd, eventBit, error); },
        m_channel.get());
    ClosingOnRaise([&] {
        if (!Event(skLookup))
            return;
        if (!blocking)
            return ResolveStep(host, address, service, port);
        ResolveNow(host, address, service, port);
        StartConnect();
    });
}

void TCustomWinSocket::ResolveStep(const QByteArray& host, const QByteArray& address,
                                   const QByteArray& service, quint16 port) {
    ClosingOnRaise([&] { RunStages(host, address, service, port); });
}

void TCustomWinSocket::RunStages(const QByteArray& host, const QByteArray& address,
                                 const QByteArray& service, quint16 port) {
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
            return StartConnect();
        }
    }
}

int TCustomWinSocket::ReportAndClose(TErrorEvent kind, int code) {
    bool alive = true;
    ClosingOnRaise([&] { alive = Error(kind, code); });
    if (alive)
        CloseConnection(m_handle);
    return code;
}

void TCustomWinSocket::ReportLookupFailure(int code, const QByteArray& message) {
    if (ReportAndClose(erLookup, code) != 0)
        throw ESocketError(message);
}

void TCustomWinSocket::StartLookup(TLookupKind kind, const QByteArray& name) {
    const quint64 id = ++m_lookupSerial;
    m_pendingLookup = id;
    // The result reaches this object only if it still exists by then.
    const std::weak_ptr<TLife> life = m_life;
    LookUpInBackground(Resolver, kind, name, [this, life, id](TLookupResult result) {
        const std::shared_ptr<TLife> held = life.lock();
        if (held && held->alive)
            Guarded([&] { LookupCompleted(id, result); });
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
    if (!Event(skConnecting))
        return;
    CheckSocketCall(m_handleObject->Connect(m_remote), "connect");
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
    const std::shared_ptr<TLife> life = m_life;
    std::lock_guard<std::recursive_mutex> lock(life->lock);
    m_pendingLookup = 0; // a worker may still finish; its result is dropped
    if (handle == -1 || handle != m_handle)
        return;
    bool alive = true;
    try {
        alive = Event(skDisconnect);
    } catch (...) {
        if (life->alive)
            DropHandle();
        throw;
    }
    // close() releases the descriptor even when it reports an error, so the
    // fields are reset before the error is raised.
    if (alive)
        CheckSocketCall(DropHandle(), "closesocket");
}

int TCustomWinSocket::SendString(const QByteArray& text) {
    if (text.size() > INT_MAX)
        return -1;
    return SendBytes(text.constData(), int(text.size()));
}

int TCustomWinSocket::SendBytes(const void* buffer, int count) {
    const std::shared_ptr<TLife> life = m_life;
    std::lock_guard<std::recursive_mutex> lock(life->lock);
    if (count < 0)
        return -1;
    if (!m_connected)
        return 0;
    const TCallResult sent = m_handleObject->Send(buffer, size_t(count));
    if (sent.error == 0)
        return int(sent.value);
    if (IsWouldBlock(sent.error))
        return -1;
    return TransferFailed(erSend, sent.error, "send");
}

int TCustomWinSocket::ReceiveBytes(void* buffer, int count) {
    const std::shared_ptr<TLife> life = m_life;
    std::lock_guard<std::recursive_mutex> lock(life->lock);
    if (count < -1)
        return -1;
    if (!m_connected)
        return 0;
    if (count == -1)
        return m_handleObject->Waiting();
    const TCallResult received = m_handleObject->Receive(buffer, size_t(count));
    if (received.error == 0)
        return int(received.value);
    if (IsWouldBlock(received.error))
        return -1;
    return TransferFailed(erReceive, received.error, "recv");
}

int TCustomWinSocket::TransferFailed(TErrorEvent kind, int error, const char* api) {
    const int code = ReportAndClose(kind, error);
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
