#pragma once

#include <functional>

// Runs the event loop until `done` holds, at most `timeoutMs`. `done` is
// checked whenever the loop has handled what came and is about to sleep, and
// every `pollMs` for changes that post no event (a worker thread ending).
// Unlike QTest::qWaitFor and QTRY_*, which sleep 10 ms between rounds, it
// keeps serving events as they come and returns as soon as it may, so
// timings measured meanwhile stay true and a thousand waits stay fast; it
// costs no CPU of its own while nothing happens.
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 5000, int pollMs = 2);
