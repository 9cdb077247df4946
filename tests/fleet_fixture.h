#pragma once

// A small fleet as the site reports see it, shared by their tests.
#include "runner/fleet_view.h"

#include <QDateTime>

// When the sample fleet's run began: 2024-05-01 12:00:00 UTC.
inline constexpr qint64 kFleetStartMs = 1714564800000;

// A complete reply at kFleetStartMs + atMs.
inline TReplyRecord FleetReply(const QByteArray& reply, double rttMs, TVerdict verdict = {},
                               qint64 atMs = 1000, int resends = 0) {
    TReplyRecord record;
    record.time = QDateTime::fromMSecsSinceEpoch(kFleetStartMs + atMs, Qt::UTC);
    record.reply = reply;
    record.rttMs = rttMs;
    record.resends = resends;
    record.verdict = std::move(verdict);
    return record;
}

inline TVerdict Passed() {
    return {TVerdict::TOutcome::Pass, {}};
}
inline TVerdict Failed(const QByteArray& why) {
    return {TVerdict::TOutcome::Fail, why};
}

// Items "Read Temp" (checked) and "Status" (not); three controllers:
// 10.0.0.1:10001 up and passing, 10.0.0.2:10001 up with a failed check and a
// resend, 10.0.0.3:10001 down since 5 s in, after one reply.
inline TFleetView SampleFleet() {
    TFleetView fleet("site", {"10.0.0.1:10001", "10.0.0.2:10001", "10.0.0.3:10001"},
                     {{"Read Temp", true}, {"Status", false}}, kFleetStartMs);
    for (size_t c = 0; c < 3; ++c)
        fleet.SetState(c, TControllerState::Up, kFleetStartMs + 100);
    fleet.AddReply(0, 0, FleetReply("[T=21.5]", 2, Passed()));
    fleet.AddReply(0, 1, FleetReply("[OK]", 4));
    fleet.AddReply(1, 0, FleetReply("[T=72.5]", 30, Failed("72.5 above max 60"), 2000, 1));
    fleet.AddReply(1, 1, FleetReply("[OK]", 3, {}, 2500));
    fleet.AddReply(2, 0, FleetReply("[T=20.0]", 700, Passed()));
    fleet.SetState(2, TControllerState::Down, kFleetStartMs + 5000);
    fleet.AddFailure(2, kFleetStartMs + 5000, {}, "Connection reset by peer");
    return fleet;
}
