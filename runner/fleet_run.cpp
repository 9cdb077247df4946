#include "runner/fleet_run.h"

#include "base/guard.h"
#include "runner/run_logging.h"

#include <QScopedValueRollback>

#include <numeric>

namespace {

QByteArray StatusText(int status) {
    switch (status) {
    case kRunResends:
        return "replies needed more resends than allowed";
    case kRunCheckFailed:
        return "replies failed their checks";
    case kRunInterrupted:
        return "interrupted";
    default:
        return {};
    }
}

} // namespace

TFleetRun::TFleetRun(const TRunDefinition& definition, const QList<TEndpoint>& endpoints,
                     const TRunOptions& options, const TReplyChecks& checks, TRunOutput& output)
    : m_options(options), m_output(output) {
    const bool brief = endpoints.size() > 1;
    m_runs.reserve(size_t(endpoints.size()));
    for (const TEndpoint& endpoint : endpoints) {
        TRunDefinition own = definition;
        own.address = endpoint.address;
        own.port = endpoint.port;
        auto run = std::make_unique<TControllerRun>(std::move(own), options, checks, m_timers,
                                                    output, brief);
        run->AttemptEnded = [this] {
            --m_dialling;
            DialNext();
        };
        run->RedialDue = [this, controller = run.get()] {
            m_redials.push_back(controller);
            DialNext();
        };
        run->Finished = [this](const TRunSummary& summary) { ControllerFinished(summary); };
        m_runs.push_back(std::move(run));
    }
    m_duration.setSingleShot(true);
    m_duration.setTimerType(Qt::PreciseTimer);
    connect(&m_duration, &QTimer::timeout, this, [this] { Interrupt(kRunCompleted); });
    m_flush.setSingleShot(true);
    m_flush.setInterval(100);
    connect(&m_flush, &QTimer::timeout, this, [this] {
        qCDebug(lcRunner, "flushing the output");
        m_output.Flush();
    });
    m_output.FlushDue = [this] { m_flush.start(); };
}

TFleetRun::~TFleetRun() {
    m_output.FlushDue = nullptr;
}

void TFleetRun::Show(TFleetView& view, const QList<TRunItem>& items) {
    for (size_t controller = 0; controller < m_runs.size(); ++controller)
        m_runs[controller]->Feed = TViewFeed(&view, controller, items);
}

void TFleetRun::Start() {
    if (m_options.durationMs > 0)
        m_duration.start(m_options.durationMs);
    DialNext();
}

void TFleetRun::DialNext() {
    // A run that ends inside Start hands its place back through here: the
    // loop below takes it, rather than a call nested once per controller.
    if (m_inDial)
        return;
    // Dialling goes on after an escaping error.
    const QScopedValueRollback<bool> inDial(m_inDial, true);
    while (m_stopStatus < 0 && m_dialling < m_options.maxConnecting) {
        if (!m_redials.empty()) {
            TControllerRun* run = m_redials.front();
            m_redials.pop_front();
            if (run->Finishing())
                continue;
            ++m_dialling;
            qCDebug(lcRunner, "dialling %s again", run->Controller().constData());
            run->Redial();
        } else if (m_nextToDial < m_runs.size()) {
            ++m_dialling;
            qCDebug(lcRunner, "dialling %s, %d of at most %d connecting",
                    m_runs[m_nextToDial]->Controller().constData(), m_dialling,
                    m_options.maxConnecting);
            m_runs[m_nextToDial++]->Start();
        } else {
            return;
        }
    }
}

void TFleetRun::Interrupt(int status) {
    if (m_stopStatus >= 0)
        return;
    m_stopStatus = status;
    m_duration.stop();
    for (const auto& run : m_runs)
        run->Interrupt(status);
}

void TFleetRun::ControllerFinished(const TRunSummary& summary) {
    m_replies += std::accumulate(summary.items.begin(), summary.items.end(), qint64(0),
                                 [](qint64 sum, const TItemTally& t) { return sum + t.replies; });
    m_resends += std::accumulate(summary.items.begin(), summary.items.end(), qint64(0),
                                 [](qint64 sum, const TItemTally& t) { return sum + t.resends; });
    if (summary.exitStatus != kRunCompleted) {
        TRunSummary failed = summary;
        failed.items.clear();
        if (failed.reason.isEmpty())
            failed.reason = StatusText(summary.exitStatus);
        m_failed.append(failed);
    }
    m_status = MoreSevere(m_status, summary.exitStatus);
    if (m_output.Closed())
        Interrupt(kRunOutputClosed);
    if (++m_finished < m_runs.size())
        return;
    const int status = m_stopStatus > 0 ? m_stopStatus : m_status;
    if (m_runs.size() > 1)
        m_output.Totals(m_failed, int(m_runs.size()), m_replies, m_resends, status);
    m_flush.stop();
    m_output.Flush();
    if (Finished)
        Finished(status);
}

QList<TSuiteResult> TFleetRun::SuiteResults(const QString& name) const {
    QList<TSuiteResult> suites;
    for (const auto& run : m_runs)
        suites.append(run->SuiteResult(m_runs.size() > 1 ? name + " " + run->Controller() : name));
    return suites;
}
