#include "connection/win_socket.h"

#include "base/exceptions.h"
#include "connection/connection_logging.h"

#include <climits>

namespace {

// The error kind of a notification that carries an error, by its event bit.
TErrorEvent ErrorKindOf(int eventBit) {
    switch (eventBit) {
    case kFdRead:
        return erReceive;
    case kFdWrite:
        return erSend;
    case kFdConnect:
        return erConnect;
    case kFdClose:
        return erDisconnect;
    default:
        return erGeneral;
    }
}

} // namespace

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

int TCustomWinSocket::DropHandle() {
    if (!m_handleObject)
        return 0;
    qCDebug(lcConnection, "descriptor %d: closed", m_handle);
    const int error = m_handleObject->Close();
    m_handleObject = nullptr;
    m_handle = -1;
    m_connected = false;
    ResetRemote();
    return error;
}

int TCustomWinSocket::ReportAndClose(TErrorEvent kind, int code) {
    TraceError(m_handle, kind, code);
    bool alive = true;
    ClosingOnRaise([&] { alive = Error(kind, code); });
    if (alive)
        CloseConnection(m_handle);
    return code;
}

void TCustomWinSocket::SocketNotification(int handle, int eventBit, int error) {
    if (error != 0) {
        TraceError(handle, ErrorKindOf(eventBit), error);
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
    if (!m_connected)
        return {};
    // What the read notification received already is taken as it is.
    if (QByteArray received = m_handleObject->TakeReceived(); !received.isEmpty())
        return received;
    const int waiting = ReceiveBytes(nullptr, -1);
    QByteArray text(qMax(waiting, 0), Qt::Uninitialized);
    const int received = ReceiveBytes(text.data(), int(text.size()));
    text.resize(qMax(received, 0));
    return text;
}

void TCustomWinSocket::CheckSocketCall(int error, const char* api) {
    if (error != 0 && !IsWouldBlock(error))
        throw ESocketError(SocketErrorMessage(error, api));
}

void TClientWinSocket::SetClientType(TClientType value) {
    if (value == m_clientType)
        return;
    if (m_connected)
        throw ESocketError(kCantChangeWhileActive);
    m_clientType = value;
    SetNotificationMask(value == ctBlocking ? 0 : kNonBlockingMask);
}

void TClientWinSocket::NotifyConnect(int handle) {
    // A superseded attempt's descriptor delivers nothing, so this is the
    // current one.
    m_connected = true;
    qCDebug(lcConnection, "descriptor %d: connected", handle);
    Event(skConnect);
}
