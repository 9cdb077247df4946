#include "connection/connection_logging.h"

#include <arpa/inet.h>

Q_LOGGING_CATEGORY(lcConnection, "zyl.connection", QtInfoMsg)

QByteArray EndpointText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return QByteArray(text) + ':' + QByteArray::number(ntohs(address.sin_port));
}

void TraceError(int handle, TErrorEvent kind, int code) {
    static const char* const names[] = {"general",    "send",   "receive", "connect",
                                        "disconnect", "accept", "lookup"};
    qCDebug(lcConnection, "descriptor %d: %s error %d", handle, names[kind], code);
}
