#pragma once

#include "sequencing/definition_file.h"
#include "sequencing/receive_buffer.h"

#include <QByteArray>

#include <cstdint>
#include <functional>

// After a complete reply, or a command passed over because it is empty, the
// next command goes out this much later.
inline constexpr int kSendDelayMs = 100;
// A command whose reply has not completed this long after it went out is sent
// again, kSendDelayMs later.
inline constexpr int kWatchdogMs = 1000;

// The rules of the test cycle, without timers, widgets or socket, so that the
// window and the headless runner run one set of rules. The driver owns the
// send timer (kSendDelayMs, one-shot), the watchdog (kWatchdogMs) and the
// connection, and calls:
//   send tick:      SendTick(), then sends the command it gives, or re-arms
//                   the send timer at once when the command was passed over;
//   data received:  Received() with the bytes taken from the connection, and
//                   re-arms the send timer when it reports a complete reply.
class TCycleRules {
public:
    // Where the items come from. Both are read at every step, so a definition
    // loaded while the test runs takes effect from the next step on.
    std::function<QByteArray(int slot)> CommandOf; // slot 1..kSlotCount
    std::function<qsizetype()> ItemCount;          // may be <= 0 or above kSlotCount

    enum class TSendAction {
        Send, // hand `command` (never empty) to the connection
        Skip, // the slot's command is empty: nothing to send, TestStep moved on
        None  // TestStep is outside 1..kSlotCount: nothing to send
    };
    struct TSend {
        TSendAction action = TSendAction::None;
        int slot = 0;
        QByteArray command;
    };
    // Empties ReceiveBuffer and says what to send for TestStep.
    TSend SendTick();

    struct TReply {
        bool complete = false;
        // The step the reply belongs to; 0 when that step is outside
        // 1..kSlotCount (nothing is shown then).
        int slot = 0;
        // The reply as gathered: at most the last TReceiveBuffer::kMaxKept
        // bytes received.
        QByteArray text;
    };
    // Appends a piece taken from the connection. An empty piece changes
    // nothing. When the gathered text then ends in "]" the reply is complete
    // and TestStep has moved on.
    TReply Received(const QByteArray& piece);

    // The current slot, 1..kSlotCount in normal use. Never reset by the
    // cycle: only the wrap after the last item brings it back to 1.
    int32_t TestStep = 1;
    // The reply being gathered, emptied at every send tick.
    TReceiveBuffer ReceiveBuffer;

private:
    // The step after a completed (or passed-over) one: back to 1 after the
    // last item, the bound being the item count but never beyond the slots.
    void Advance();
};
