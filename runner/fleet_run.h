#pragma once

#include "runner/controller_run.h"
#include "runner/hosts_file.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

// One definition run against many controllers at once, in this one event
// loop: each controller has its own connection, cycle, timers and verdicts
// (a TControllerRun), so a slow or broken one never holds up another. At most
// --max-connecting attempts are in flight; --duration and signals end every
// controller's run together.
class TFleetRun : public QObject {
public:
    TFleetRun(const TRunDefinition& definition, const QList<TEndpoint>& endpoints,
              const TRunOptions& options, const TReplyChecks& checks, TRunOutput& output);
    ~TFleetRun() override;

    // Feeds view, whose controllers are this fleet's in order, from every
    // controller's run.
    void Show(TFleetView& view, const QList<TRunItem>& items);
    void Start();
    // Ends every controller's run with this status.
    void Interrupt(int status);

    // Called once, from the event loop, when every controller's run has ended
    // and the summaries are written: the run's exit status.
    std::function<void(int status)> Finished;

    // A JUnit test suite per controller, named after the definition.
    QList<TSuiteResult> SuiteResults(const QString& name) const;
    // The summaries, without their items, of the runs that did not pass.
    const QList<TRunSummary>& Failed() const { return m_failed; }

private:
    // Starts attempts while fewer than --max-connecting are in flight:
    // redials first, then the controllers not dialled yet.
    void DialNext();
    void ControllerFinished(const TRunSummary& summary);

    const TRunOptions m_options;
    TRunOutput& m_output;
    TTimerQueue m_timers; // before the runs, whose timers it holds
    std::vector<std::unique_ptr<TControllerRun>> m_runs;
    QTimer m_duration;
    QTimer m_flush;
    size_t m_nextToDial = 0;
    std::deque<TControllerRun*> m_redials; // waiting for a place to dial again
    int m_dialling = 0;
    bool m_inDial = false;
    int m_stopStatus = -1; // the status every run was ended with, if any
    // What the ended runs add up to.
    size_t m_finished = 0;
    qint64 m_replies = 0;
    qint64 m_resends = 0;
    int m_status = kRunCompleted;
    QList<TRunSummary> m_failed; // without their items
};
