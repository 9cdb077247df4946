#include "sequencing/cycle_rules.h"

#include <algorithm>

TCycleRules::TSend TCycleRules::SendTick() {
    ReceiveBuffer.Clear();
    if (TestStep < 1 || TestStep > kSlotCount)
        return {};
    const int slot = TestStep;
    QByteArray command = CommandOf(slot);
    if (command.isEmpty()) {
        // Sending nothing would wait a watchdog period for a reply that cannot
        // come, again and again: pass the slot over instead.
        Advance();
        return {TSendAction::Skip, slot, {}};
    }
    return {TSendAction::Send, slot, std::move(command)};
}

TCycleRules::TReply TCycleRules::Received(const QByteArray& piece) {
    // Nothing new must not complete the reply already taken a second time.
    if (piece.isEmpty())
        return {};
    ReceiveBuffer.Append(piece);
    if (!ReceiveBuffer.IsComplete())
        return {};
    const int slot = TestStep >= 1 && TestStep <= kSlotCount ? TestStep : 0;
    TReply reply{true, slot, ReceiveBuffer.Text()};
    Advance();
    return reply;
}

void TCycleRules::Advance() {
    ++TestStep;
    if (std::min<qsizetype>(ItemCount(), kSlotCount) < TestStep)
        TestStep = 1;
}
