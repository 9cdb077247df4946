#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <list>
#include <map>
#include <memory>

struct MHD_Connection;
struct MHD_Daemon;

// Where the service listens: an IPv4 or IPv6 address and a TCP port.
struct TListenAddress {
    QByteArray host = "127.0.0.1";
    quint16 port = 0; // 0: any free port
};

// Reads "[ADDRESS:]PORT" (an IPv6 address in brackets); 127.0.0.1 when no
// address is given. Throws EConvertError naming what is wrong.
TListenAddress ParseListenAddress(const QByteArray& text);

// A few read-only pages over HTTP, served on the event loop of this thread
// by GNU libmicrohttpd in its external-epoll mode: its epoll descriptor on a
// QSocketNotifier and its next deadline on a QTimer, so any event dispatcher
// drives it and no thread of its own ever runs. Each call into the library
// does what the sockets have ready and returns; a page is rendered when
// asked for and sent as fast as its client reads it, so no client, slow or
// hostile, holds the loop.
//
// Only GET and HEAD are answered (others: 405); a request larger than the
// limit is refused (413 or 431); past the most clients at once a new one is
// closed at once; a client that has not sent a whole request in time, or
// has not read its answer in time, is dropped.
class THttpService : public QObject {
public:
    struct TPage {
        QByteArray contentType;
        std::function<QByteArray()> render;
    };
    struct TLimits {
        unsigned clients = 64;
        size_t requestBytes = 8192;
        int requestMs = 5000; // from the connection, or the last answer
        int answerMs = 10000; // from the whole request to the last byte read
    };

    // Listens at once; throws Exception with the system's reason when it
    // cannot. pages maps a path ("/metrics") to what it serves.
    THttpService(const TListenAddress& address, std::map<QByteArray, TPage> pages, TLimits limits);
    ~THttpService() override;

    // The port it listens on (the one the system chose for port 0).
    quint16 Port() const;

private:
    struct TClient;
    // The library's callbacks, with the library's own types.
    struct TCallbacks;
    // Lets the library do what its sockets have ready, drops the clients
    // past their time, and sets the timer for the next thing due.
    void Serve();
    void DropLate();

    const std::map<QByteArray, TPage> m_pages;
    const TLimits m_limits;
    MHD_Daemon* m_daemon = nullptr;
    std::unique_ptr<QSocketNotifier> m_ready;
    QTimer m_due;
    std::list<TClient> m_clients;
    quint64 m_closed = 0; // clients the library has closed so far
};
