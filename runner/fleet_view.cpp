#include "runner/fleet_view.h"

#include <algorithm>
#include <numeric>

void TRttBuckets::Add(double ms) {
    if (!(ms > 0))
        ms = 0;
    m_slowestMs = m_count > 0 ? std::max(m_slowestMs, ms) : ms;
    ++m_count;
    m_sumMs += ms;
    // Most round trips are under the first bound or near it.
    for (size_t bound = 0; bound < kBoundsMs.size(); ++bound)
        if (ms <= kBoundsMs[bound])
            return void(++m_counts[bound]);
}

uint64_t TRttBuckets::AtMost(size_t bound) const {
    return std::accumulate(m_counts.begin(), m_counts.begin() + bound + 1, uint64_t(0));
}

bool TControllerView::Failing() const {
    if (state == TControllerState::Down || state == TControllerState::GivenUp)
        return true;
    return std::any_of(items.begin(), items.end(), [](const TItemView& item) {
        return item.verdict.outcome == TVerdict::TOutcome::Fail;
    });
}

qint64 TControllerView::ChangedMs() const {
    return std::max(stateSinceMs, lastFailure.timeMs);
}

TFleetView::TFleetView(QByteArray name, const QList<QByteArray>& controllers,
                       const QList<TItemSpec>& items, qint64 startedMs)
    : m_name(std::move(name)), m_startedMs(startedMs) {
    std::vector<TItemView> itemViews;
    for (const TItemSpec& item : items) {
        itemViews.push_back({item.label, item.checked, {}, {}, 0, -1});
        m_items.push_back({item.label, {}});
    }
    m_controllers.reserve(size_t(controllers.size()));
    for (const QByteArray& controller : controllers) {
        TControllerView view;
        view.controller = controller;
        view.stateSinceMs = startedMs;
        view.items = itemViews;
        m_controllers.push_back(std::move(view));
    }
}

void TFleetView::SetState(size_t controller, TControllerState state, qint64 nowMs) {
    TControllerView& view = m_controllers[controller];
    if (view.state == state)
        return;
    const bool wasWorking =
        view.state == TControllerState::Connecting || view.state == TControllerState::Up;
    const bool nowFailed = state == TControllerState::Down || state == TControllerState::GivenUp;
    if (wasWorking && nowFailed)
        ++view.outages;
    view.state = state;
    view.stateSinceMs = nowMs;
}

void TFleetView::AddReply(size_t controller, size_t item, const TReplyRecord& record) {
    TControllerView& view = m_controllers[controller];
    ++view.replies;
    view.resends += uint64_t(record.resends);
    view.lastReplyMs = record.time.toMSecsSinceEpoch();
    view.rtt.Add(record.rttMs);
    m_items[item].rtt.Add(record.rttMs);
    TItemView& itemView = view.items[item];
    itemView.reply = record.reply;
    itemView.verdict = record.verdict;
    itemView.lastRttMs = record.rttMs;
    if (record.verdict.outcome == TVerdict::TOutcome::Fail) {
        ++itemView.checkFailures;
        AddFailure(controller, view.lastReplyMs, itemView.label, record.verdict.why);
    }
}

void TFleetView::AddUnsolicited(size_t controller, uint64_t bytes) {
    m_controllers[controller].unsolicitedBytes += bytes;
}

void TFleetView::AddFailure(size_t controller, qint64 nowMs, const QByteArray& item,
                            const QByteArray& reason) {
    m_controllers[controller].lastFailure = {nowMs, item, reason};
}
