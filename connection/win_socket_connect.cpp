#include "connection/win_socket.h"

#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"
#include "connection/connection_logging.h"

#include <arpa/inet.h>

// Opening a connection: the address and port from names (looked up in the
// background when non-blocking), then connect.

namespace {

QByteArray BadAddressMessage(const QByteArray& address) {
    return FormatMessage("'%s' is not a valid IPv4 address", address);
}

} // namespace

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
        m_channel.get(), Delivery);
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
    qCDebug(lcConnection, "descriptor %d: connecting to %s", m_handle,
            EndpointText(m_remote).constData());
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
        CheckSocketCall(m_handleObject->Select(m_mask != 0), "fcntl");
}
