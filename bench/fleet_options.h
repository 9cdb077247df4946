#pragma once

// The command line of the fleet benchmark's bare programs (bare_fleet,
// epoll_fleet): ADDRESS PORT[-LAST] N SECONDS [INTERVAL [MAX_CONNECTING]].
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

// false, after printing the usage of program, when the line is not one.
bool ParseFleetOptions(int argc, char** argv, TFleetOptions& options);

// What both print at the end, for the bench and for a reader.
void PrintFleetReport(long long replies, int connected, int controllers, int lost);
