// The floor for the runner's start-up: a bare QCoreApplication program that,
// once its event loop runs, connects to 127.0.0.1:PORT, sends one command and
// waits for the reply's "]".
// Usage: bare_connect PORT
#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ConnectAndSend(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int status = 1;
    static const char kCommand[] = "[0A!?v]";
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 &&
        ::send(fd, kCommand, sizeof kCommand - 1, MSG_NOSIGNAL) > 0) {
        char byte = 0;
        while (byte != ']' && ::recv(fd, &byte, 1, 0) == 1) {
        }
        status = byte == ']' ? 0 : 1;
    }
    ::close(fd);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const quint16 port = argc > 1 ? quint16(atoi(argv[1])) : 3001;
    QTimer::singleShot(0, &app, [port] { QCoreApplication::exit(ConnectAndSend(port)); });
    return QCoreApplication::exec();
}
