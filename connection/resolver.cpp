#include "connection/resolver.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>

namespace {

// How long an idle lookup worker stays for a following lookup (the service
// after the host).
constexpr int kIdleWorkerMs = 200;

struct TLookupPool : QThreadPool {
    TLookupPool() { setExpiryTimeout(kIdleWorkerMs); }
};
Q_GLOBAL_STATIC(TLookupPool, lookupPool)

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

TLookupResult LookUpHost(const QByteArray& name) {
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

TLookupResult LookUpService(const QByteArray& name) {
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    const int error =
        getservbyname_r(name.constData(), "tcp", &entry, buffer, sizeof buffer, &found);
    if (!found)
        return {error != 0 ? error : ENXIO, 0};
    return {0, static_cast<quint16>(entry.s_port)};
}

} // namespace

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
    return kind == TLookupKind::Host ? LookUpHost(name) : LookUpService(name);
}

void LookUpInBackground(TResolver resolver, TLookupKind kind, const QByteArray& name,
                        std::function<void(TLookupResult)> deliver) {
    LookupThreads().start(
        [resolver = std::move(resolver), kind, name, deliver = std::move(deliver)] {
            const TLookupResult result = resolver(kind, name);
            // The application object outlives every lookup worker.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [deliver, result] { deliver(result); },
                Qt::QueuedConnection);
        });
}

QThreadPool& LookupThreads() {
    return *lookupPool();
}
