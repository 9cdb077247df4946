#pragma once

#include "connection/client_socket.h"
#include "runner/run_definition.h"
#include "runner/run_options.h"
#include "runner/run_report.h"
#include "sequencing/cycle_rules.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

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
    kRunResends = 5,       // a reply needed more resends than the run accepts
    kRunInterrupted = 130, // SIGINT, SIGTERM or SIGHUP
    kRunOutputClosed = 141, // standard output went away (a closed pipe)
};

// One controller's headless run: connects with the client socket component
// and drives the test cycle with a send timer and a watchdog as the window
// does, reporting every reply to the output. Unlike the window it keeps what
// it gathered when it resends, times a reply from the first sending, and
// never takes bytes that arrive while no command awaits its reply as a reply.
class TControllerRun : public QObject {
public:
    TControllerRun(TRunDefinition definition, const TRunOptions& options, TRunOutput& output);
    ~TControllerRun() override;

    // Starts the connection attempt. When the component refuses at once,
    // prints the error and gives the exit status; nothing runs then.
    std::optional<int> Start();
    // Stops sending, closes the connection and reports.
    void Interrupt(int status = kRunInterrupted);

    // Called once from the event loop when the run has closed the connection
    // and written its summary.
    std::function<void(int status)> Finished;

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
    void WatchdogTick();
    void GiveUp();
    void DurationEnded();

    // Runs a handler; an error it raises ends this run (status 1).
    void Handle(const std::function<void()>& handler);
    // Runs a timer's handler inside Handle.
    void OnTimeout(QTimer& timer, void (TControllerRun::*handler)());
    // Enabling an enabled timer keeps its running interval, as the window's
    // timers do.
    static void Enable(QTimer& timer);
    void RecordReply(const TCycleRules::TReply& reply);
    void RecordUnsolicited(const QByteArray& bytes);
    // Ends the run when standard output has gone.
    void CheckOutput();
    // After the step moved on: counts a completed pass when it wrapped.
    void StepAdvanced();
    // "<window text> (<address>:<port>: <reason>)".
    QByteArray ConnectionMessage(const QByteArray& text, const QByteArray& reason) const;
    // Ends the run once: stops the timers, prints message (if any) as a line
    // on standard error, then closes and reports from the event loop.
    void Finish(int status, const QByteArray& message = {});
    void Conclude();
    // The test case of one item once the run has ended.
    TCaseResult CaseOf(const TItemTally& tally) const;

    const TRunDefinition m_definition;
    const TRunOptions m_options;
    const QByteArray m_controller;
    TRunOutput& m_output;
    TCycleRules m_cycle;
    std::unique_ptr<TClientSocket> m_socket;
    QTimer m_sendTimer;
    QTimer m_watchdog;
    QTimer m_giveUp;
    QTimer m_duration;
    QElapsedTimer m_clock;
    QDateTime m_started;

    bool m_everConnected = false;
    bool m_finishing = false;
    int m_status = kRunCompleted;
    QByteArray m_endMessage;
    int m_failingSlot = 0; // the item the run stopped at, when it did not complete
    int m_passes = 0;
    int m_unsolicited = 0;
    // The command awaiting its reply: its slot, its first sending, and how
    // often it went out again since.
    bool m_awaitingReply = false;
    int m_sentSlot = 0;
    qint64 m_firstSentNs = 0;
    int m_resends = 0;
    std::vector<TItemTally> m_tallies; // indexed by slot
};
