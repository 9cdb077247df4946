#pragma once

#include "connection/client_socket.h"
#include "runner/junit_report.h"
#include "runner/run_definition.h"
#include "runner/run_options.h"
#include "runner/run_report.h"
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

// How a headless run ended, as its exit status.
enum TRunStatus : int {
    kRunCompleted = 0,     // every requested pass, or the duration, ran out, and every reply passed
    kRunConnection = 1,    // the connection could not be made or was lost
    kRunUsage = 2,         // the command line or the definition is unusable
    kRunNoReply = 3,       // the controller stopped answering
    kRunCheckFailed = 4,   // every pass completed, but a reply failed its check
    kRunResends = 5,       // a reply needed more resends than the run accepts
    kRunOutOfStep = 6,     // a reply came that no command awaited: replies may be on wrong items
    kRunInterrupted = 130, // SIGINT, SIGTERM or SIGHUP
    kRunOutputClosed = 141, // standard output went away (a closed pipe)
};

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

    // Starts the connection attempt. When the component refuses at once, the
    // run ends as a lost connection does.
    void Start();
    // Stops sending, closes the connection and reports. kRunCompleted ends
    // the run as its duration running out does.
    void Interrupt(int status = kRunInterrupted) { Finish(status); }

    // Called once when the connection attempt is over: connected, or the
    // run ended before it was.
    std::function<void()> AttemptEnded;
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

    // Runs a handler; an error it raises ends this run (status 1).
    void Handle(const std::function<void()>& handler);
    // A timer's handler, run inside the guard and Handle.
    std::function<void()> Handler(void (TControllerRun::*handler)());
    // Arms the send timer for the next command: the send delay, or longer
    // where --interval holds the next pass back.
    void ArmSend();
    // A reply, or a late answer to a resent command: reported, but only a
    // reply is judged and counted.
    void RecordReply(TReplyRecord record);
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
    QElapsedTimer m_clock;
    // Restarted when dialling starts; set here for a run stopped before.
    QDateTime m_started = QDateTime::currentDateTimeUtc();

    bool m_everConnected = false;
    bool m_attemptOver = false;
    bool m_finishing = false;
    bool m_lastPassEnded = false;
    TRunEnd m_end;
    qint64 m_passStartNs = -1;         // when the current pass sent its first item
    TRunSummary m_summary;             // its counts of data that was no reply, then the whole of it
    std::vector<TItemTally> m_tallies; // indexed by slot, up to the last item's
};
