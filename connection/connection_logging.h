#pragma once

#include "connection/win_socket.h"

#include <QLoggingCategory>

// The client socket's trace, one line per connect attempt, connection, error
// and close, none per send or receive. Silent unless enabled, for instance
// with QT_LOGGING_RULES="zyl.connection.debug=true"; disabled, a line costs
// one test of a flag, and its arguments are not even computed.
Q_DECLARE_LOGGING_CATEGORY(lcConnection)

// "127.0.0.1:3001".
QByteArray EndpointText(const sockaddr_in& address);
// "descriptor 7: connect error 111".
void TraceError(int handle, TErrorEvent kind, int code);
