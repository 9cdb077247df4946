#pragma once

#include "base/syscall.h"

#include <QByteArray>

#include <netinet/in.h>

// The BSD-socket calls of the client socket, one syscall each, with errno
// copied at once. Would-block and in-progress are states, never errors.

bool IsWouldBlock(int error);

// "Windows socket error: <text> (<code>), on API '<api>'", the text being the
// system's description of the errno value without trailing blanks, control
// characters and full stops (empty for an unknown number).
QByteArray SocketErrorMessage(int code, const char* api);

// A new non-blocking TCP socket that keeps urgent bytes in line with the
// other data: without that, an urgent byte leaves the socket readable while
// nothing can be received, and the reply after it is lost.
TCallResult NewStreamSocket();

// Starts connecting: 0, EINPROGRESS, or the errno. An interrupted connect goes
// on in the background and is not repeated, so it counts as in progress.
int ConnectTo(int fd, const sockaddr_in& remote);

// send() that never raises SIGPIPE.
TCallResult SendOnce(int fd, const void* buffer, size_t count);
TCallResult ReceiveOnce(int fd, void* buffer, size_t count, int flags = 0);
// The number of bytes waiting; 0 when the query fails.
int BytesWaiting(int fd);
// The error a connect attempt ended with (SO_ERROR).
int PendingError(int fd);
// 0 or fcntl()'s errno; the flags stay as they were when they cannot be read.
int SetNonBlocking(int fd, bool nonBlocking);
// 0 or close()'s errno. Linux releases the descriptor even when close()
// reports EINTR, so it is never repeated and EINTR counts as done.
int CloseDescriptor(int fd);
