#pragma once

#include <functional>

// Runs the event loop until `done` holds (checked every `pollMs`), at most
// `timeoutMs`. Unlike QTest::qWaitFor and QTRY_*, which sleep 10 ms between
// rounds, it keeps serving events as they come, so timings measured
// meanwhile stay true; between checks it costs no CPU of its own.
bool RunUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 2);
