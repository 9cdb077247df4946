#pragma once

#include "runner/fleet_view.h"

#include <QByteArray>

// The controllers the status page lists; a line counts the rest.
inline constexpr size_t kStatusPageControllers = 500;
// The most of a reply the page shows; a longer one ends in "...".
inline constexpr qsizetype kStatusPageReplyBytes = 256;

// The status page GET / answers: plain HTML that reloads itself every 5 s
// (no script), with the totals, then the controllers, those failing and
// those changed most recently first, each with its state, its last failure
// and per item the latest reply and verdict, a failed check in red as the
// window shows it. Every text from a file or a controller is escaped, so
// nothing a controller sends can become markup. nowMs is the wall clock the
// page says it was made at.
QByteArray StatusPage(const TFleetView& view, qint64 nowMs);
