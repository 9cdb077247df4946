#include "runner/site_reports.h"

#include "runner/controller_run.h"
#include "runner/status_page.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

// The controllers' names as the site sees them: a controller listed again is
// "address:port#2" and on, so that every series and row stays its own.
QList<QByteArray> ControllersOf(const QList<TEndpoint>& endpoints) {
    QList<QByteArray> controllers;
    QHash<QByteArray, int> listings;
    for (const TEndpoint& endpoint : endpoints) {
        const QByteArray controller = endpoint.address + ':' + endpoint.port;
        const int listing = ++listings[controller];
        controllers.append(listing == 1 ? controller
                                        : controller + '#' + QByteArray::number(listing));
    }
    return controllers;
}

QList<TItemSpec> ItemsOf(const TRunDefinition& definition, const TReplyChecks& checks) {
    QList<TItemSpec> items;
    for (const TRunItem& item : definition.items)
        items.append({item.label, checks.Has(item.label)});
    return items;
}

TNagiosProblem ProblemOf(int status) {
    switch (status) {
    case kRunNoReply:
        return TNagiosProblem::NoReply;
    case kRunCheckFailed:
        return TNagiosProblem::CheckFailed;
    case kRunResends:
        return TNagiosProblem::TooManyResends;
    case kRunOutOfStep:
        return TNagiosProblem::OutOfStep;
    default:
        return TNagiosProblem::Connection;
    }
}

} // namespace

TSiteReports::TSiteReports(const TRunDefinition& definition, const QList<TEndpoint>& endpoints,
                           const TReplyChecks& checks, const TRunOptions& options,
                           QByteArray version)
    : m_limits(options.nagiosLimits),
      m_discarded(options.nagios ? std::fopen("/dev/null", "w") : nullptr, std::fclose),
      m_view(QFileInfo(options.file).completeBaseName().toUtf8(), ControllersOf(endpoints),
             ItemsOf(definition, checks), QDateTime::currentMSecsSinceEpoch()),
      m_metrics(m_view, std::move(version)), m_notify([this] { return StatusLine(); }) {
    if (!options.metrics)
        return;
    std::map<QByteArray, THttpService::TPage> pages;
    pages["/metrics"] = {"text/plain; version=0.0.4; charset=utf-8",
                         [this] { return m_metrics.Render(); }};
    pages["/"] = {"text/html; charset=utf-8",
                  [this] { return StatusPage(m_view, QDateTime::currentMSecsSinceEpoch()); }};
    m_http =
        std::make_unique<THttpService>(*options.metrics, std::move(pages), THttpService::TLimits{});
}

QByteArray TSiteReports::StatusLine() const {
    const std::vector<TControllerView>& controllers = m_view.Controllers();
    const auto count = [&](TControllerState state) {
        return QByteArray::number(qlonglong(
            std::count_if(controllers.begin(), controllers.end(),
                          [state](const TControllerView& c) { return c.state == state; })));
    };
    uint64_t replies = 0;
    for (const TControllerView& controller : controllers)
        replies += controller.replies;
    return QByteArray::number(qulonglong(controllers.size())) +
           " controllers: " + count(TControllerState::Up) + " up, " +
           count(TControllerState::Down) + " down, " + count(TControllerState::GivenUp) +
           " given up, " + QByteArray::number(replies) + " replies";
}

int TSiteReports::WriteNagios(int status, const QList<TRunSummary>& failed) const {
    if (status == kRunInterrupted || status == kRunOutputClosed) {
        WriteRefusal(true, "the run was stopped before it ended");
        return kNagiosUnknown;
    }
    QHash<QByteArray, const TRunSummary*> failedOf;
    for (const TRunSummary& summary : failed)
        failedOf.insert(summary.controller, &summary);
    QList<TNagiosController> controllers;
    for (const TControllerView& view : m_view.Controllers()) {
        TNagiosController controller{view.controller, TNagiosProblem::None, {},
                                     view.replies,    view.resends,         view.rtt.SlowestMs()};
        if (const TRunSummary* summary = failedOf.value(view.controller)) {
            controller.problem = ProblemOf(summary->exitStatus);
            controller.reason = summary->reason;
        }
        controllers.append(controller);
    }
    QList<TNagiosItem> items;
    for (const TFleetItemView& item : m_view.Items())
        items.append({item.label, item.rtt.SlowestMs()});
    const TNagiosReport report = NagiosReport(controllers, items, m_limits);
    std::fwrite(report.text.constData(), 1, size_t(report.text.size()), stdout);
    return report.status;
}

void WriteRefusal(bool nagios, const QByteArray& text) {
    if (nagios)
        std::fputs(NagiosUnknown(text).text.constData(), stdout);
    else
        WriteLine(stderr, EscapedLine(text).toUtf8());
}
