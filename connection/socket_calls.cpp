#include "connection/socket_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}

QByteArray SocketErrorMessage(int code, const char* api) {
    // strerrordesc_np: untranslated, thread-safe, and null for an unknown number.
    const char* description = strerrordesc_np(code);
    QByteArray text(description ? description : "");
    while (!text.isEmpty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.chop(1);
    return "Windows socket error: " + text + " (" + QByteArray::number(code) + "), on API '" + api +
           "'";
}

TCallResult NewStreamSocket() {
    const TCallResult created = RetryingOnEintr(
        [] { return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); });
    if (created.error == 0) {
        const int inLine = 1;
        setsockopt(int(created.value), SOL_SOCKET, SO_OOBINLINE, &inLine, sizeof inLine);
    }
    return created;
}

int ConnectTo(int fd, const sockaddr_in& remote) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0)
        return 0;
    return errno == EINTR ? EINPROGRESS : errno;
}

TCallResult SendOnce(int fd, const void* buffer, size_t count) {
    return RetryingOnEintr([&] { return ::send(fd, buffer, count, MSG_NOSIGNAL); });
}

TCallResult ReceiveOnce(int fd, void* buffer, size_t count, int flags) {
    return RetryingOnEintr([&] { return ::recv(fd, buffer, count, flags); });
}

int BytesWaiting(int fd) {
    int waiting = 0;
    return RetryingOnEintr([&] { return ioctl(fd, FIONREAD, &waiting); }).error == 0 ? waiting : 0;
}

int PendingError(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    RetryingOnEintr([&] { return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size); });
    return error;
}

int SetNonBlocking(int fd, bool nonBlocking) {
    const TCallResult flags = RetryingOnEintr([&] { return fcntl(fd, F_GETFL); });
    // Without the flags, setting them would write -1's bits, every flag on.
    if (flags.error != 0)
        return flags.error;
    const int wanted = nonBlocking ? int(flags.value) | O_NONBLOCK : int(flags.value) & ~O_NONBLOCK;
    return RetryingOnEintr([&] { return fcntl(fd, F_SETFL, wanted); }).error;
}

int CloseDescriptor(int fd) {
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}
