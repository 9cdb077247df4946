#pragma once

#include "connection/win_socket.h"

#include <QByteArray>
#include <QObject>

#include <memory>

// The non-blocking TCP client component over its socket object
// (connection/win_socket.h).

// The settings and the Active flag. Active reads true only from OnConnect to
// OnDisconnect.
class TAbstractSocket : public QObject {
public:
    explicit TAbstractSocket(QObject* owner) : QObject(owner) {}

    bool Active() const { return m_active; }
    // Equal to Active(): nothing. Loading: stored only. true: OnLookup and,
    // with an address, OnConnecting before it returns (with Host, OnConnecting
    // follows the lookup); OnConnect, then OnWrite, come later through the
    // loop. false while connected: OnDisconnect before it returns. false
    // while an attempt is pending: nothing. The flag itself changes only with
    // the connect and disconnect events.
    void SetActive(bool value);
    QByteArray Address() const { return m_address; }
    void SetAddress(const QByteArray& value);
    QByteArray Host() const { return m_host; }
    void SetHost(const QByteArray& value);
    QByteArray Service() const { return m_service; }
    void SetService(const QByteArray& value);
    int Port() const { return m_port; }
    void SetPort(int value);

    // The owner sets designed values between BeginLoading and Loaded without
    // the active check and without opening anything; Loaded opens the
    // connection when a designed Active of true was stored.
    void BeginLoading() { m_loading = true; }
    void Loaded();

    virtual void FireEvent(TCustomWinSocket* socket, TSocketEventKind kind) = 0;
    virtual void FireError(TCustomWinSocket* socket, TErrorEvent kind, int& code) = 0;

protected:
    virtual void ApplyActive(bool value) = 0;
    void SetText(QByteArray& field, const QByteArray& value);
    void CheckInactive() const;

    bool m_active = false;
    bool m_loading = false;
    int m_port = 0;
    QByteArray m_address;
    QByteArray m_host;
    QByteArray m_service;
};

// The event properties; Sender is the component, Socket its socket object.
class TCustomSocket : public TAbstractSocket {
public:
    using TAbstractSocket::TAbstractSocket;

    void FireEvent(TCustomWinSocket* socket, TSocketEventKind kind) override;
    void FireError(TCustomWinSocket* socket, TErrorEvent kind, int& code) override;

    TSocketNotifyEvent OnLookup;
    TSocketNotifyEvent OnConnecting;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;
    TSocketErrorEvent OnError;
};

// The client component the main window holds; owned by its owner through the
// QObject tree, it owns one socket object.
class TClientSocket : public TCustomSocket {
public:
    explicit TClientSocket(QObject* owner);
    // Closes the descriptor without OnDisconnect.
    ~TClientSocket() override;

    TClientWinSocket* WinSocket() const { return m_socket.get(); }
    TClientType ClientType() const { return m_socket->ClientType(); }
    void SetClientType(TClientType value) { m_socket->SetClientType(value); }

protected:
    void ApplyActive(bool value) override;

private:
    std::unique_ptr<TClientWinSocket> m_socket;
};
