#pragma once

#include <cstdint>

// How a headless run ended, as its exit status.
enum TRunStatus : int {
    kRunCompleted = 0,     // every requested pass, or the duration, ran out, and every reply passed
    kRunConnection = 1,    // the connection could not be made or was lost (an outage included)
    kRunUsage = 2,         // the command line or the definition is unusable
    kRunNoReply = 3,       // the controller stopped answering
    kRunCheckFailed = 4,   // every pass completed, but a reply failed its check
    kRunResends = 5,       // a reply needed more resends than the run accepts
    kRunOutOfStep = 6,     // a reply came that no command awaited: replies may be on wrong items
    kRunInterrupted = 130, // SIGINT, SIGTERM or SIGHUP
    kRunOutputClosed = 141, // standard output went away (a closed pipe)
};

// What one controller's run came to, as far as its status goes.
struct TRunFacts {
    int stoppedWith = kRunCompleted; // kRunCompleted: it ran its course (passes or duration)
    bool everConnected = false;
    bool checkFailed = false;    // a reply failed its check
    bool tooManyResends = false; // a reply needed more resends than accepted
    uint64_t outages = 0;        // connections lost and dialled again (--reconnect)
};

// A controller's exit status. A run that ran its course fails, in this
// order, for never connecting or an outage, a failed check, then resends; a
// run stopped early keeps why it stopped, unless an outage is more severe.
int ControllerStatus(const TRunFacts& facts);

// Which of two controllers' statuses a run of many reports: the one an
// operator must act on first. A stopped run (signal, closed output)
// overrides all; out of step comes before a failed check or resends, as
// those verdicts may be about other items' replies. The order:
// 2, 1, 3, 6, 4, 5, 0.
int MoreSevere(int a, int b);
