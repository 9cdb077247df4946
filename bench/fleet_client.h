#pragma once

// What the fleet benchmark's bare clients (bare_fleet, epoll_fleet) share:
// the cycle's wire work, and the command line
// ADDRESS PORT[-LAST] N SECONDS [INTERVAL [MAX_CONNECTING]].
//   PORT-LAST spreads the controllers over a range of ports, one after the
//   other; INTERVAL is the least time in seconds from one command to the next
//   of a controller (default 0: 100 ms after each reply); MAX_CONNECTING
//   bounds the connection attempts in flight (default 256).
#include <netinet/in.h>

#include <chrono>

struct TFleetOptions {
    in_addr address{};
    int firstPort = 0, lastPort = 0;
    int controllers = 0;
    std::chrono::milliseconds duration{0}, interval{0};
    int maxConnecting = 256;

    // The port of the controller with this index.
    in_port_t PortOf(int index) const;
};

// The wait after a reply before the next command.
inline constexpr std::chrono::milliseconds kFleetSendDelay{100};

// One send of the fixed command; false when the connection is lost.
bool SendCommand(int fd);

// What one receive brought: nothing yet (would block), the end of the
// connection, a piece of a reply, or its end ("]").
enum class TReceived { Nothing, Lost, Piece, Reply };
TReceived ReceiveReply(int fd);

// false, after printing the usage of program, when the line is not one.
bool ParseFleetOptions(int argc, char** argv, TFleetOptions& options);

// What both print at the end, for the bench and for a reader.
void PrintFleetReport(long long replies, int connected, int controllers, int lost);
