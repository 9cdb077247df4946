#pragma once

#include "base/guard.h"
#include "connection/client_socket.h"
#include "runner/junit_report.h"
#include "runner/reconnect_backoff.h"
#include "runner/run_definition.h"
#include "runner/run_options.h"
#include "runner/run_report.h"
#include "runner/run_status.h"
#include "runner/timer_queue.h"
#include "runner/view_feed.h"
#include "sequencing/reply_matcher.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One controller's headless run: connects with the client socket component
// and drives the test cycle with a send timer and a watchdog as the window
// does, reporting every reply to the output. What a reply answers is the
// strict policy's: one reply for each sending, in order. After a reply that
// needed resends it waits for their late answers before the next command;
// a reply that no command awaited ends the run out of step.
class TControllerRun : public QObject {
public:
    // With brief, the summary is one line of text (one of many controllers).
    TControllerRun(TRunDefinition definition, const TRunOptions& options,
                   const TReplyChecks& checks, TTimerQueue& timers, TRunOutput& output, bool brief);
    ~TControllerRun() override;

    // Starts the run's clock and its first connection attempt. When the
    // component refuses at once, the run ends (or, with --reconnect, waits to
    // dial again) as for a lost connection.
    void Start();
    // Another connection attempt after an outage, once the owner has a place
    // for it among the attempts in flight.
    void Redial() { Dial(); }
    bool Finishing() const { return m_finishing; }
    // Stops sending, closes the connection and reports. kRunCompleted ends
    // the run as its duration running out does.
    void Interrupt(int status = kRunInterrupted) { Finish(status); }

    // Called once when a connection attempt is over: connected, failed, or
    // the run ended before it was.
    std::function<void()> AttemptEnded;
    // With --reconnect, the wait after an outage ran out: the owner calls
    // Redial when an attempt may start.
    std::function<void()> RedialDue;
    // Called once from the event loop when the run has closed the connection
    // and written its summary, which it passes on.
    std::function<void(const TRunSummary& summary)> Finished;
    // Where what happens is shown to the tools watching the site; none by default.
    TViewFeed Feed;

    // "address:port", as every line of output names the controller.
    const QByteArray& Controller() const { return m_controller; }
    // How each item ended; meaningful once Finished has been called.
    TSuiteResult SuiteResult(const QString& name) const;

private:
    void SocketConnect(QObject*, TCustomWinSocket*);
    void SocketDisconnect(QObject*, TCustomWinSocket*);
    void SocketError(QObject*, TCustomWinSocket*, TErrorEvent, int& code);
    void SocketRead(QObject*, TCustomWinSocket* socket);
    void SendTick();
    // The reply timeout, or the quiet after an answer, ran out.
    void WatchdogTick();
    void GiveUp();

    // Runs work; an error it raises ends this run (status 1), or with
    // --reconnect is an outage.
    void FailOnError(THandlerRef work);
    // A timer's handler, run inside the guard and FailOnError.
    std::function<void()> TimerHandler(void (TControllerRun::*handler)());
    std::unique_ptr<TClientSocket> NewSocket();
    void Dial();
    // Whether a notification comes from the socket of the connection under
    // way rather than one being closed.
    bool Current(QObject* sender) const { return sender == m_socket.get(); }
    // The connection failed, was lost or given up: with --reconnect, an
    // outage (reported when it begins) and a redial after the backoff;
    // otherwise the end of the run with status.
    void LoseConnection(int status, const QByteArray& message, const QByteArray& reason);
    void CloseLost();
    void ReportReconnected();
    // The resends of the command awaiting its reply went out, whatever
    // becomes of it.
    void CountPendingResends();
    // Arms the send timer for the next command: the send delay, or longer
    // where --interval holds the next pass back.
    void ArmSend();
    // A reply, or a late answer to a resent command: reported, but only a
    // reply is judged and counted.
    void RecordReply(TReplyRecord record);
    // Keeps a failed check or too many resends among the last failures.
    void NoteFailures(const TReplyRecord& record);
    void RecordUnsolicited(const TReplyMatcher::TReceived& received);
    // Ends the run when standard output has gone.
    void CheckOutput();
    // After an answer or a step passed over: the next command, once the
    // late answers still due came or the line stayed quiet long enough for
    // them. After the last pass the run ends once the line stayed quiet: a
    // reply no command awaited would still put it out of step.
    void StepAdvanced(bool passEnded, bool answered);
    // "<window text> (<address>:<port>: <reason>)".
    QByteArray ConnectionMessage(const QByteArray& text, const QByteArray& reason) const {
        return text + " (" + m_controller + ": " + reason + ")";
    }
    // Ends the run once: stops the timers, prints message (if any) as a line
    // on standard error, then closes and reports from the event loop.
    void Finish(int status, QByteArray message = {});
    // Tells the owner once that the connection attempt is over.
    void EndAttempt();
    void Conclude();

    const TRunDefinition m_definition;
    const TRunOptions m_options;
    const TReplyChecks& m_checks;
    const QByteArray m_controller;
    TRunOutput& m_output;
    const bool m_brief;
    TReplyMatcher m_replies{TReplyMatcher::TPolicy::Strict};
    TCycleRules& m_cycle = m_replies.Cycle;
    std::unique_ptr<TClientSocket> m_socket;
    // The send timer (kSendDelayMs), the watchdog (the reply timeout, as the
    // window's, restarted at every send; after a reply that needed resends,
    // the wait for their late answers) and the give-up timer, on the queue
    // all controllers share.
    TTimerQueue::TTimer m_sendTimer;
    TTimerQueue::TTimer m_watchdog;
    TTimerQueue::TTimer m_giveUp;
    TTimerQueue::TTimer m_redial; // the backoff after an outage
    TReconnectBackoff m_backoff;
    std::unique_ptr<TClientSocket> m_closing; // the lost connection's, closed from the loop
    QElapsedTimer m_clock;
    // Restarted when dialling starts; set here for a run stopped before.
    QDateTime m_started = QDateTime::currentDateTimeUtc();

    bool m_everConnected = false;
    bool m_attemptOver = false;
    bool m_finishing = false;
    bool m_lastPassEnded = false;
    qint64 m_watchedMs = -1; // from the start to the end of the run; -1: not over
    TRunEnd m_end;
    qint64 m_passStartNs = -1;         // when the current pass sent its first item
    TRunSummary m_summary;             // its counts of data that was no reply, then the whole of it
    std::vector<TItemTally> m_tallies; // indexed by slot, up to the last item's
};
