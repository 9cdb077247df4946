#pragma once

#include <QByteArray>

#include <netinet/in.h>

#include <functional>

class QThreadPool;

// Strict dotted-quad IPv4 text (four decimal parts 0-255, no short forms, no
// leading zeros) to an address in network byte order; false when it is not one.
bool ParseIPv4(const QByteArray& text, in_addr_t* address);

// A name lookup: a host name gives an IPv4 address, a service name its TCP
// port; both in network byte order. error is 0 or an errno value.
enum class TLookupKind { Host, Service };
struct TLookupResult {
    int error = 0;
    quint32 value = 0;
};
using TResolver = std::function<TLookupResult(TLookupKind, const QByteArray& name)>;

// getaddrinfo (AF_INET) for hosts, getservbyname_r (service, "tcp") for
// services. Name-not-found gives ENXIO, a temporary failure ETIMEDOUT.
TLookupResult SystemResolver(TLookupKind kind, const QByteArray& name);

// Runs resolver on a lookup worker and hands its result to deliver on the
// application's thread, through the event loop.
void LookUpInBackground(TResolver resolver, TLookupKind kind, const QByteArray& name,
                        std::function<void(TLookupResult)> deliver);

// The lookup workers: created at the first lookup, and a worker ends soon
// after its lookup, so an idle tool keeps no extra thread.
QThreadPool& LookupThreads();
