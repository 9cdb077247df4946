#include "connection/client_socket.h"

#include "base/exceptions.h"

namespace {

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

} // namespace

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
        throw ESocketError(kCantChangeWhileActive);
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
    case skWrite:
        return OnWrite(this, socket);
    case skRead:
        return OnRead(this, socket);
    }
}

void TCustomSocket::FireError(TCustomWinSocket* socket, TErrorEvent kind, int& code) {
    OnError(this, socket, kind, code);
}

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
