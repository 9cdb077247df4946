#include "runner/view_feed.h"

#include "runner/controller_run.h"

#include <QDateTime>

TViewFeed::TViewFeed(TFleetView* view, size_t controller, const QList<TRunItem>& items)
    : m_view(view), m_controller(controller), m_itemOfSlot(kSlotCount + 1),
      m_labelOfSlot(kSlotCount + 1) {
    for (qsizetype i = 0; i < items.size(); ++i) {
        m_itemOfSlot[size_t(items[i].slot)] = size_t(i);
        m_labelOfSlot[size_t(items[i].slot)] = items[i].label;
    }
}

void TViewFeed::Connected() {
    if (m_view)
        m_view->SetState(m_controller, TControllerState::Up, QDateTime::currentMSecsSinceEpoch());
}

void TViewFeed::Lost(const QByteArray& reason) {
    if (!m_view)
        return;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    m_view->SetState(m_controller, TControllerState::Down, nowMs);
    m_view->AddFailure(m_controller, nowMs, {}, reason);
}

void TViewFeed::Reply(const TReplyRecord& record) {
    if (!m_view)
        return;
    if (record.late)
        m_view->AddLateReply(m_controller);
    else
        m_view->AddReply(m_controller, m_itemOfSlot[size_t(record.slot)], record);
}

void TViewFeed::Unsolicited(qsizetype bytes) {
    if (m_view)
        m_view->AddUnsolicited(m_controller, uint64_t(bytes));
}

void TViewFeed::Ended(int status, int slot, const QByteArray& reason) {
    if (!m_view || reason.isEmpty())
        return;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    m_view->SetState(m_controller, TControllerState::GivenUp, nowMs);
    // A lost connection is the connection's failure, whatever item it was at.
    const bool atItem = status != kRunConnection && slot >= 1 && slot <= kSlotCount;
    m_view->AddFailure(m_controller, nowMs, atItem ? m_labelOfSlot[size_t(slot)] : QByteArray(),
                       reason);
}
