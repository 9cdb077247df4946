#pragma once

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <optional>
#include <sys/socket.h>

// A controller played by the test on 127.0.0.1: takes one connection at a
// time, splits what it receives into commands at "]", notes when each came,
// and answers each as `answer` says (no answer when it returns nothing).
class LoopbackPeer : public QObject {
public:
    LoopbackPeer() {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* next = m_server.nextPendingConnection()) {
                delete m_connection;
                m_connection = next;
                ++connections;
                QObject::connect(next, &QTcpSocket::readyRead, this, [this] { Take(); });
            }
        });
        m_clock.start();
    }
    ~LoopbackPeer() override { delete m_connection; }

    quint16 Port() const { return m_server.serverPort(); }
    QByteArray PortText() const { return QByteArray::number(Port()); }
    bool Connected() const {
        return m_connection && m_connection->state() == QAbstractSocket::ConnectedState;
    }

    void Send(const QByteArray& bytes) {
        m_connection->write(bytes);
        m_connection->flush();
    }
    // The connection's native descriptor, for what QTcpSocket cannot send.
    int Descriptor() const { return int(m_connection->socketDescriptor()); }
    // Ends the connection in order.
    void Close() { m_connection->disconnectFromHost(); }
    // Aborts the connection with a reset.
    void Reset() {
        const struct linger abortive { 1, 0 };
        ::setsockopt(int(m_connection->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                     sizeof abortive);
        m_connection->abort();
    }

    std::function<std::optional<QByteArray>(const QByteArray&)> answer =
        [](const QByteArray& command) { return std::optional<QByteArray>("<" + command + ">]"); };
    QList<QByteArray> commands;
    QList<qint64> sentAt; // ms since the peer started, per command
    QByteArray received;
    int connections = 0;

private:
    void Take() {
        const QByteArray bytes = m_connection->readAll();
        received += bytes;
        m_pending += bytes;
        qsizetype end;
        while ((end = m_pending.indexOf(']')) >= 0) {
            const QByteArray command = m_pending.left(end + 1);
            m_pending.remove(0, end + 1);
            commands.append(command);
            sentAt.append(m_clock.elapsed());
            if (const std::optional<QByteArray> reply = answer(command))
                Send(*reply);
        }
    }

    QTcpServer m_server;
    QTcpSocket* m_connection = nullptr;
    QByteArray m_pending;
    QElapsedTimer m_clock;
};
