#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Where one controller listens.
struct TEndpoint {
    QByteArray address; // dotted IPv4, as the window takes it
    QByteArray port;
};

// Reads a list of controllers: one "address" or "address:port" a line, the
// port defaulting to defaultPort; "#" starts a comment, blank lines and a
// UTF-8 byte-order mark at the start are skipped. Every address and port is
// checked by the window's rules before anything connects: a bad line, an
// IPv6 address or a host name throws EConvertError "<file>:<line>: ...", a
// file that cannot be read EFOpenError. A controller listed more than once
// is watched on a connection per line (a load test's way of opening many to
// one peer); the first repeat, and how many there are, go to repeatWarning.
QList<TEndpoint> ReadHostsFile(const QString& fileName, const QByteArray& defaultPort,
                               QByteArray* repeatWarning);

// Checks an address and port by the window's rules; throws EConvertError
// with the window's message.
void CheckEndpoint(const TEndpoint& endpoint);
