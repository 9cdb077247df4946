#include "runner/http_service.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/guard.h"
#include "base/text.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>

struct THttpService::TClient {
    int fd = -1;
    qint64 deadlineMs = 0; // on the monotonic clock; -1: dropped, awaiting its close
};

namespace {

qint64 NowMs() {
    return QDeadlineTimer::current().deadline();
}

// Both families' addresses in one, as the library takes either.
union TSocketAddress {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};

// The socket address; throws EConvertError when host is no address of
// either family.
TSocketAddress SocketAddressOf(const TListenAddress& address) {
    TSocketAddress out;
    std::memset(&out, 0, sizeof out);
    if (::inet_pton(AF_INET, address.host.constData(), &out.v4.sin_addr) == 1) {
        out.v4.sin_family = AF_INET;
        out.v4.sin_port = htons(address.port);
    } else if (::inet_pton(AF_INET6, address.host.constData(), &out.v6.sin6_addr) == 1) {
        out.v6.sin6_family = AF_INET6;
        out.v6.sin6_port = htons(address.port);
    } else {
        throw EConvertError(FormatMessage("'%s' is not an IPv4 or IPv6 address", address.host));
    }
    return out;
}

// What the request line and the header lines took on the wire, near enough
// to hold a request to its limit.
size_t HeadBytes(MHD_Connection* connection, const char* url, const char* method,
                 const char* version) {
    size_t bytes = std::strlen(method) + std::strlen(url) + std::strlen(version) + 4;
    MHD_get_connection_values(
        connection, MHD_ValueKind(MHD_HEADER_KIND | MHD_GET_ARGUMENT_KIND),
        [](void* sum, MHD_ValueKind, const char* key, const char* value) {
            *static_cast<size_t*>(sum) += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;
            return MHD_YES;
        },
        &bytes);
    return bytes + 2;
}

// The size of the body the request announces.
size_t BodyBytes(MHD_Connection* connection) {
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return length ? size_t(std::strtoull(length, nullptr, 10)) : 0;
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, QByteArray body,
                 const QByteArray& contentType) {
    auto* kept = new QByteArray(std::move(body));
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        size_t(kept->size()), kept->data(),
        [](void* bytes) { delete static_cast<QByteArray*>(bytes); }, kept);
    if (!response) {
        delete kept;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType.constData());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result QueueText(MHD_Connection* connection, unsigned status, const char* text) {
    return Queue(connection, status, QByteArray(text) + '\n', "text/plain; charset=utf-8");
}

} // namespace

TListenAddress ParseListenAddress(const QByteArray& text) {
    TListenAddress address;
    QByteArray port = text;
    const qsizetype colon = text.lastIndexOf(':');
    if (colon >= 0) {
        address.host = text.left(colon);
        port = text.mid(colon + 1);
        if (address.host.startsWith('[') && address.host.endsWith(']'))
            address.host = address.host.mid(1, address.host.size() - 2);
        else if (address.host.contains(':'))
            throw EConvertError(FormatMessage("'%s': an IPv6 address goes in brackets", text));
    }
    address.port = quint16(StrToPort(port));
    SocketAddressOf(address);
    return address;
}

struct THttpService::TCallbacks {
    static TClient& ClientOf(MHD_Connection* connection) {
        return *static_cast<TClient*>(
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)
                ->socket_context);
    }

    static void Connection(void* self, MHD_Connection* connection, void** context,
                           MHD_ConnectionNotificationCode what) {
        auto& service = *static_cast<THttpService*>(self);
        if (what == MHD_CONNECTION_NOTIFY_STARTED) {
            const int fd =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
            service.m_clients.push_back({fd, NowMs() + service.m_limits.requestMs});
            *context = &service.m_clients.back();
            return;
        }
        service.m_clients.remove_if(
            [context](const TClient& client) { return &client == *context; });
        ++service.m_closed;
    }

    static void Completed(void* self, MHD_Connection* connection, void**,
                          MHD_RequestTerminationCode) {
        // A kept-alive connection has its time for the next request.
        TClient& client = ClientOf(connection);
        if (client.deadlineMs >= 0)
            client.deadlineMs = NowMs() + static_cast<THttpService*>(self)->m_limits.requestMs;
    }

    // The refusal of a request the service does not serve, queued; nothing
    // when it serves it. A refused request's body is never read, so its
    // connection closes after the refusal.
    static std::optional<MHD_Result> Refusal(THttpService& service, MHD_Connection* connection,
                                             const char* url, const char* method,
                                             const char* version) {
        if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 &&
            std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
            return QueueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD");
        const size_t limit = service.m_limits.requestBytes;
        const size_t head = HeadBytes(connection, url, method, version);
        if (head > limit)
            return QueueText(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE,
                             "Request too large");
        if (BodyBytes(connection) > limit - head)
            return QueueText(connection, MHD_HTTP_CONTENT_TOO_LARGE, "Request too large");
        if (service.m_pages.count(url) == 0)
            return QueueText(connection, MHD_HTTP_NOT_FOUND, "Not found");
        return std::nullopt;
    }

    // Called once the head of a request is whole, then for each piece of
    // its body, then once more when all of it came: the page is rendered
    // then, so the connection may be kept alive.
    static MHD_Result Answer(void* self, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char*,
                             size_t* bodyBytes, void** request) {
        static int headSeen;
        auto& service = *static_cast<THttpService*>(self);
        try {
            if (*request == nullptr) {
                *request = &headSeen;
                TClient& client = ClientOf(connection);
                if (client.deadlineMs >= 0)
                    client.deadlineMs = NowMs() + service.m_limits.answerMs;
                return Refusal(service, connection, url, method, version).value_or(MHD_YES);
            }
            if (*bodyBytes > 0) {
                *bodyBytes = 0; // a body within the limit is of no use to a GET
                return MHD_YES;
            }
            const TPage& page = service.m_pages.at(url);
            return Queue(connection, MHD_HTTP_OK, page.render(), page.contentType);
        } catch (...) {
            // Nothing may unwind through the library's frames.
            return QueueText(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "Internal error");
        }
    }
};

THttpService::THttpService(const TListenAddress& address, std::map<QByteArray, TPage> pages,
                           TLimits limits)
    : m_pages(std::move(pages)), m_limits(limits) {
    TSocketAddress socketAddress = SocketAddressOf(address);
    const bool v6 = socketAddress.any.sa_family == AF_INET6;
    // Room for the largest request allowed and the answer's header lines.
    const size_t memory = 4 * m_limits.requestBytes;
    errno = 0;
    m_daemon = MHD_start_daemon(
        MHD_USE_EPOLL | (v6 ? MHD_USE_IPv6 : 0), address.port, nullptr, nullptr,
        &TCallbacks::Answer, this, MHD_OPTION_SOCK_ADDR, &socketAddress.any,
        MHD_OPTION_CONNECTION_LIMIT, m_limits.clients, MHD_OPTION_CONNECTION_MEMORY_LIMIT, memory,
        MHD_OPTION_NOTIFY_CONNECTION, &TCallbacks::Connection, this, MHD_OPTION_NOTIFY_COMPLETED,
        &TCallbacks::Completed, this, MHD_OPTION_END);
    if (!m_daemon) {
        const int error = errno;
        throw Exception("Cannot serve HTTP on " + address.host + ':' +
                        QByteArray::number(address.port) + " (" +
                        (error ? QByteArray(std::strerror(error)) : "refused") + ')');
    }
    const int epoll = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    m_ready = std::make_unique<QSocketNotifier>(epoll, QSocketNotifier::Read);
    connect(m_ready.get(), &QSocketNotifier::activated, this,
            [this] { Guarded([this] { Serve(); }); });
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, [this] { Guarded([this] { Serve(); }); });
}

THttpService::~THttpService() {
    m_ready.reset();
    MHD_stop_daemon(m_daemon);
}

quint16 THttpService::Port() const {
    return MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
}

void THttpService::Serve() {
    const quint64 closedBefore = m_closed;
    MHD_run(m_daemon);
    DropLate();
    // At the most clients the library stops listening, and it listens again
    // only on the run after one left, which no socket would wake.
    if (m_closed != closedBefore) {
        m_due.start(0);
        return;
    }
    qint64 nextMs = -1;
    MHD_UNSIGNED_LONG_LONG libraryMs = 0;
    if (MHD_get_timeout(m_daemon, &libraryMs) == MHD_YES)
        nextMs = qint64(std::min<MHD_UNSIGNED_LONG_LONG>(libraryMs, INT32_MAX));
    const qint64 now = NowMs();
    for (const TClient& client : m_clients)
        if (client.deadlineMs >= 0 && (nextMs < 0 || client.deadlineMs - now < nextMs))
            nextMs = std::max<qint64>(0, client.deadlineMs - now);
    if (nextMs >= 0)
        m_due.start(int(nextMs));
    else
        m_due.stop();
}

void THttpService::DropLate() {
    const qint64 now = NowMs();
    bool dropped = false;
    for (TClient& client : m_clients)
        if (client.deadlineMs >= 0 && client.deadlineMs <= now) {
            // The library owns the descriptor: shutting it down makes the
            // library see the end and close it as its own.
            ::shutdown(client.fd, SHUT_RDWR);
            client.deadlineMs = -1;
            dropped = true;
        }
    if (dropped)
        MHD_run(m_daemon);
}
