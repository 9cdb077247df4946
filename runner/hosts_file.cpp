#include "runner/hosts_file.h"

#include "base/convert.h"
#include "base/exceptions.h"
#include "base/text.h"
#include "connection/resolver.h"
#include "runner/run_definition.h"
#include "sequencing/definition_file.h"

void CheckEndpoint(const TEndpoint& endpoint) {
    in_addr_t address = 0;
    if (!ParseIPv4(endpoint.address, &address))
        throw EConvertError(FormatMessage("'%s' is not a valid IPv4 address", endpoint.address));
    StrToPort(endpoint.port);
}

QList<TEndpoint> ReadHostsFile(const QString& fileName, const QByteArray& defaultPort) {
    const QList<QByteArray> lines =
        SplitLines(ReadFileHead(fileName, kMaxDefinitionBytes), kMaxLineLength);
    QList<TEndpoint> endpoints;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        line.truncate(line.indexOf('#') < 0 ? line.size() : line.indexOf('#'));
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        const TEndpoint endpoint = colon < 0 ? TEndpoint{line, defaultPort}
                                             : TEndpoint{line.left(colon), line.mid(colon + 1)};
        try {
            CheckEndpoint(endpoint);
        } catch (const EConvertError& error) {
            throw EConvertError(AtLine(fileName, i + 1, error.Message()));
        }
        endpoints.append(endpoint);
    }
    return endpoints;
}
