#include "runner/run_status.h"

namespace {

int Severity(int status) {
    switch (status) {
    case kRunCompleted:
        return 0;
    case kRunResends:
        return 1;
    case kRunCheckFailed:
        return 2;
    case kRunOutOfStep:
        return 3;
    case kRunNoReply:
        return 4;
    case kRunConnection:
        return 5;
    case kRunUsage:
        return 6;
    default:
        return 7;
    }
}

} // namespace

int ControllerStatus(const TRunFacts& facts) {
    const int connection = facts.outages > 0 ? kRunConnection : kRunCompleted;
    if (facts.stoppedWith != kRunCompleted)
        return MoreSevere(facts.stoppedWith, connection);
    if (!facts.everConnected)
        return kRunConnection;
    return facts.outages > 0      ? kRunConnection
           : facts.checkFailed    ? kRunCheckFailed
           : facts.tooManyResends ? kRunResends
                                  : kRunCompleted;
}

int MoreSevere(int a, int b) {
    return Severity(b) > Severity(a) ? b : a;
}
