#include "runner/hosts_file.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "connection/resolver.h"
#include "runner/run_definition.h"
#include "sequencing/definition_file.h"

#include <QHash>

#include <algorithm>

namespace {

// Editors may start a UTF-8 file with one.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

constexpr char kSupported[] = " (one IPv4 address a line, with an optional :port)";

// An entry of a kind the runner does not take, in words that say what it
// takes; nothing for an entry that is merely wrong.
QByteArray UnsupportedEntry(const QByteArray& entry, const QByteArray& address) {
    if (entry.startsWith('[') || entry.count(':') > 1)
        return "IPv6 is not supported: '" + entry + "'" + kSupported;
    if (std::any_of(address.begin(), address.end(),
                    [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }))
        return "host names are not supported: '" + entry + "'" + kSupported;
    return {};
}

// The controller of one entry, checked by the window's rules.
TEndpoint EndpointOf(const QByteArray& entry, const QByteArray& defaultPort) {
    const qsizetype colon = entry.indexOf(':');
    const TEndpoint endpoint = colon < 0 ? TEndpoint{entry, defaultPort}
                                         : TEndpoint{entry.left(colon), entry.mid(colon + 1)};
    try {
        CheckEndpoint(endpoint);
    } catch (const EConvertError& error) {
        const QByteArray unsupported = UnsupportedEntry(entry, endpoint.address);
        throw EConvertError(unsupported.isEmpty() ? error.Message() : unsupported);
    }
    return endpoint;
}

} // namespace

void CheckEndpoint(const TEndpoint& endpoint) {
    in_addr_t address = 0;
    if (!ParseIPv4(endpoint.address, &address))
        throw EConvertError(FormatMessage("'%s' is not a valid IPv4 address", endpoint.address));
    StrToPort(endpoint.port);
}

QList<TEndpoint> ReadHostsFile(const QString& fileName, const QByteArray& defaultPort,
                               QByteArray* repeatWarning) {
    QByteArray text = ReadFileHead(fileName, kMaxDefinitionBytes);
    if (text.startsWith(kByteOrderMark))
        text.remove(0, qsizetype(sizeof kByteOrderMark) - 1);
    const QList<QByteArray> lines = SplitLines(text, kMaxLineLength);
    QList<TEndpoint> endpoints;
    QHash<QByteArray, qsizetype> firstLines; // "address:port" -> its line
    qsizetype repeats = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray entry = lines[i];
        entry.truncate(entry.indexOf('#') < 0 ? entry.size() : entry.indexOf('#'));
        entry = entry.trimmed();
        if (entry.isEmpty())
            continue;
        try {
            const TEndpoint endpoint = EndpointOf(entry, defaultPort);
            const QByteArray controller =
                endpoint.address + ':' + QByteArray::number(StrToPort(endpoint.port));
            if (const qsizetype first = firstLines.value(controller); first == 0)
                firstLines.insert(controller, i + 1);
            else if (repeats++ == 0)
                *repeatWarning =
                    AtLine(fileName, i + 1,
                           "warning: " + controller + " is listed again (first at line " +
                               QByteArray::number(first) +
                               "); each line is watched on a connection of its own");
            endpoints.append(endpoint);
        } catch (const EConvertError& error) {
            throw EConvertError(AtLine(fileName, i + 1, error.Message()));
        }
    }
    if (repeats > 1)
        *repeatWarning += " (" + QByteArray::number(repeats) + " lines repeat a controller)";
    return endpoints;
}
