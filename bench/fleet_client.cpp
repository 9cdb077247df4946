#include "bench/fleet_client.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kCommand[] = "[0A!?v]";

std::chrono::milliseconds Seconds(const char* text) {
    return std::chrono::milliseconds(std::llround(std::strtod(text, nullptr) * 1000));
}

} // namespace

bool SendCommand(int fd) {
    return ::send(fd, kCommand, sizeof kCommand - 1, MSG_NOSIGNAL) >= 0;
}

TReceived ReceiveReply(int fd) {
    char bytes[512];
    const ssize_t got = ::recv(fd, bytes, sizeof bytes, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return TReceived::Nothing;
    if (got <= 0)
        return TReceived::Lost;
    return std::memchr(bytes, ']', size_t(got)) ? TReceived::Reply : TReceived::Piece;
}

in_port_t TFleetOptions::PortOf(int index) const {
    return htons(in_port_t(firstPort + index % (lastPort - firstPort + 1)));
}

bool ParseFleetOptions(int argc, char** argv, TFleetOptions& options) {
    bool valid = argc >= 5 && ::inet_pton(AF_INET, argv[1], &options.address) == 1;
    if (valid) {
        char* rest = nullptr;
        options.firstPort = int(std::strtol(argv[2], &rest, 10));
        options.lastPort =
            *rest == '-' ? int(std::strtol(rest + 1, nullptr, 10)) : options.firstPort;
        options.controllers = std::atoi(argv[3]);
        options.duration = Seconds(argv[4]);
        if (argc > 5)
            options.interval = Seconds(argv[5]);
        if (argc > 6)
            options.maxConnecting = std::atoi(argv[6]);
        valid = options.firstPort > 0 && options.lastPort >= options.firstPort &&
                options.lastPort < 65536 && options.controllers > 0 &&
                options.duration.count() > 0 && options.maxConnecting > 0;
    }
    if (!valid)
        std::fprintf(stderr,
                     "usage: %s ADDRESS PORT[-LAST] N SECONDS [INTERVAL [MAX_CONNECTING]]\n",
                     argv[0]);
    return valid;
}

void PrintFleetReport(long long replies, int connected, int controllers, int lost) {
    std::printf("replies %lld connected %d of %d lost %d\n", replies, connected, controllers, lost);
}
