#pragma once

#include "base/events.h"
#include "connection/resolver.h"
#include "connection/socket_handle.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>

// The socket object of the non-blocking TCP client component, on BSD sockets
// driven by the Qt event loop. Every notification and lookup completion is
// delivered through the loop, never inside the call that caused it, and every
// such delivery runs inside Guarded(), so an error raised there reaches the
// error display. Errors raised inside a call the application made propagate
// to that caller.

enum TClientType { ctNonBlocking = 0, ctBlocking = 1 };

// What the socket object reports to its owner.
enum TSocketEventKind { skLookup, skConnecting, skConnect, skDisconnect, skWrite, skRead };

// The kind of error passed to OnError, 0 to 6 as handlers have always seen
// them. A client never raises erAccept; it stays so that erLookup stays 6.
enum TErrorEvent { erGeneral, erSend, erReceive, erConnect, erDisconnect, erAccept, erLookup };

inline constexpr int kNonBlockingMask = kFdRead | kFdWrite | kFdConnect | kFdClose;

// The component's own error codes.
inline constexpr int kErrorNoAddress = 1110;
inline constexpr int kErrorBadAddress = 1111;
// Raised when a setting changes while connected.
inline constexpr char kCantChangeWhileActive[] = "Can't change value while socket is active";

class TCustomWinSocket;

using TSocketNotifyEvent = TEvent<QObject* /*Sender*/, TCustomWinSocket* /*Socket*/>;
using TSocketErrorEvent =
    TEvent<QObject* /*Sender*/, TCustomWinSocket* /*Socket*/, TErrorEvent, int& /*ErrorCode*/>;

// The socket object: owns the descriptor (through its handle object, which
// turns readiness into one-shot notifications), resolves the peer, and sends
// and receives. A handler it calls may raise or destroy the component: what
// must be closed is closed either way, and nothing is touched after the
// component is gone. Not copyable.
class TCustomWinSocket {
public:
    using TEventHook = std::function<void(TCustomWinSocket*, TSocketEventKind)>;
    using TErrorHook = std::function<void(TCustomWinSocket*, TErrorEvent, int&)>;

    TCustomWinSocket();
    // Closes the descriptor without any event and forgets a pending lookup.
    virtual ~TCustomWinSocket();
    TCustomWinSocket(const TCustomWinSocket&) = delete;
    TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

    int SocketHandle() const { return m_handle; }
    bool Connected() const { return m_connected; }
    const sockaddr_in& RemoteAddress() const { return m_remote; }

    // Sends the bytes as they are, by one SendBytes; -1 for a text longer
    // than an int counts.
    int SendString(const QByteArray& text);
    // Bytes accepted, 0 when not connected, -1 on would-block (a write
    // notification follows when room is free) or on a failure whose error the
    // handler cleared. A failure reports erSend, closes with OnDisconnect and
    // raises ESocketError unless cleared. A negative count: -1, nothing done.
    int SendBytes(const void* buffer, int count);
    // Everything waiting now, as one text of exactly that size; empty when
    // nothing waits (at once, also in blocking mode), when not connected or
    // on would-block.
    QByteArray ReceiveString();
    // count -1: the number of bytes waiting (with in-pass delivery, while
    // any are left, the bytes the notification received ahead: more may have
    // come since, and a notification follows for them). Otherwise bytes
    // received, 0 when not connected or for a count of 0, -1 as for SendBytes
    // (erReceive, "recv") and for any other negative count. Re-arms the read
    // notification.
    int ReceiveBytes(void* buffer, int count);

    // Starts an attempt on a new descriptor; a descriptor of an earlier
    // attempt is closed silently and a pending lookup forgotten. Raises
    // "Socket already open" while connected.
    void OpenConnection(const QByteArray& host, const QByteArray& address,
                        const QByteArray& service, quint16 port, bool blocking);
    // Closes the connection when handle is the current descriptor: OnDisconnect
    // (descriptor still open), then close. Cancels a pending lookup in any case.
    virtual void CloseConnection(int handle);

    // Called with every event and error of this socket object.
    TEventHook EventHook;
    TErrorHook ErrorHook;
    // Runs host and service lookups on a worker thread (and in blocking mode
    // at once); replaceable so tests need no name service.
    TResolver Resolver = SystemResolver;
    // How notifications reach the handlers: posted to a later pass (the
    // window's), or in the pass that found them (the runner's, whose loop is
    // made for it); taken when a connection attempt starts.
    TDelivery Delivery = TDelivery::Posted;

protected:
    virtual void NotifyConnect(int handle);
    virtual void NotifyRead(int handle);
    virtual void NotifyWrite(int handle);

    // Each calls its hook; false when the hook destroyed this object, which
    // then must not be touched again.
    bool Event(TSocketEventKind kind);
    bool Error(TErrorEvent kind, int& code);
    // The notification mask: kNonBlockingMask or 0 (blocking); applied at once
    // to an existing descriptor.
    void SetNotificationMask(int mask);

    bool m_connected = false;

private:
    enum TStage { StageIdle, StageAddress, StagePort };
    // Whether the object still exists (a handler may destroy the component).
    // No lock: every call runs on the GUI thread, and lookup workers only
    // post their results back to it.
    struct TLife {
        bool alive = true;
    };

    // Runs step; when it raises, closes the current connection (if this
    // object still exists) and raises again.
    template <class Step> void ClosingOnRaise(Step step);
    void ResolveStep(const QByteArray& host, const QByteArray& address, const QByteArray& service,
                     quint16 port);
    void RunStages(const QByteArray& host, const QByteArray& address, const QByteArray& service,
                   quint16 port);
    void ResolveNow(const QByteArray& host, const QByteArray& address, const QByteArray& service,
                    quint16 port);
    void ReportLookupFailure(int code, const QByteArray& message);
    void StartLookup(TLookupKind kind, const QByteArray& name);
    void LookupCompleted(quint64 id, TLookupResult result);
    void StartConnect();
    // Raises ESocketError when the descriptor's mode cannot be switched.
    void ApplyNotificationMask();
    void SocketNotification(int handle, int eventBit, int error);
    // Raises ESocketError for a platform call named api that failed with
    // error; would-block and in-progress are states and pass.
    static void CheckSocketCall(int error, const char* api);
    // Reports kind with code, then closes the current connection whatever the
    // handler does, also when it raises. Returns the code the handler left.
    int ReportAndClose(TErrorEvent kind, int code);
    // A failed send or receive: erSend/erReceive, close, raise unless cleared.
    int TransferFailed(TErrorEvent kind, int error, const char* api);
    // Closes the current descriptor without any event; 0 or close()'s errno.
    int DropHandle();
    void ResetRemote();

    int m_handle = -1;
    TSocketHandle* m_handleObject = nullptr;
    // Parent of the per-descriptor objects; deleting it discards whatever they
    // still had queued.
    std::unique_ptr<QObject> m_channel;
    sockaddr_in m_remote{};
    int m_mask = kNonBlockingMask;
    TStage m_stage = StageIdle;
    quint64 m_pendingLookup = 0; // 0: none
    quint64 m_lookupSerial = 0;
    QByteArray m_savedService;
    quint16 m_savedPort = 0;
    std::shared_ptr<TLife> m_life;
};

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

class TClientWinSocket : public TCustomWinSocket {
public:
    TClientType ClientType() const { return m_clientType; }
    // Equal value: nothing. Connected: raises "Can't change value while
    // socket is active". Sets the notification mask.
    void SetClientType(TClientType value);

protected:
    void NotifyConnect(int handle) override;

private:
    TClientType m_clientType = ctNonBlocking;
};
