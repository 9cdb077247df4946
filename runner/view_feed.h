#pragma once

#include "runner/fleet_view.h"
#include "runner/run_definition.h"
#include "sequencing/reply_record.h"

#include <QByteArray>

#include <vector>

// What one controller's run tells the fleet view, when the run has one: a
// line at each place the run learns something, and nothing without a view.
class TViewFeed {
public:
    TViewFeed() = default;
    // Items are found by slot; the view has them in the definition's order.
    TViewFeed(TFleetView* view, size_t controller, const QList<TRunItem>& items);

    void Connected();
    // The connection was lost, could not be made or was given up, and will
    // be dialled again (--reconnect): Down, and the connection's failure.
    void Lost(const QByteArray& reason);
    // A reply, or a late answer to a resent command, as the run recorded it.
    void Reply(const TReplyRecord& record);
    void Unsolicited(qsizetype bytes);
    // The run ended with this status, at this slot (0: none), for this
    // reason (empty: it ran its course or was stopped).
    void Ended(int status, int slot, const QByteArray& reason);

private:
    TFleetView* m_view = nullptr;
    size_t m_controller = 0;
    std::vector<size_t> m_itemOfSlot; // the view's item of each slot
    std::vector<QByteArray> m_labelOfSlot;
};
