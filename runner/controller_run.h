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
    kRunCompleted = 0,  // every requested pass, or the duration, ran out
    kRunConnection = 1, // the connection could not be made or was lost
    kRunUsage = 2,      // the command line or the definition is unusable
    kRunNoReply = 3,    // the controller stopped answering
    kRunInterrupted = 130
};

// One headless run: connects with the client socket component, drives the
// test cycle with a send timer and a watchdog exactly as the window does, and
// reports every reply. While it exists, errors that reach the handler guard
// end the run (status 1) after being printed to standard error.
class TControllerRun : public QObject {
public:
    TControllerRun(TRunDefinition definition, const TRunOptions& options, FILE* out);
    ~TControllerRun() override;

    // Starts the connection attempt. When the port or address is refused at
    // once, prints the error and gives the exit status; nothing runs then.
    std::optional<int> Start();
    // Stops sending, closes the connection and reports (status 130).
    void Interrupt();

    // Called once from the event loop when the run has closed the connection
    // and written its summary.
    std::function<void(int status)> Finished;

    const QDateTime& Started() const { return m_started; }
    double Seconds() const { return double(m_clock.elapsed()) / 1000; }
    // How each item ended; meaningful once Finished has been called.
    QList<TCaseResult> CaseResults() const;

private:
    void SocketConnect(QObject*, TCustomWinSocket*);
    void SocketDisconnect(QObject*, TCustomWinSocket*);
    void SocketError(QObject*, TCustomWinSocket*, TErrorEvent, int&);
    void SocketRead(QObject*, TCustomWinSocket* socket);
    void SendTick();
    void WatchdogTick();
    void GiveUp();
    void DurationEnded();

    // Runs a timer's handler inside the guard.
    void OnTimeout(QTimer& timer, void (TControllerRun::*handler)());
    // Enabling an enabled timer keeps its running interval, as the window's
    // timers do.
    static void Enable(QTimer& timer);
    void RecordReply(const TCycleRules::TReply& reply);
    // After the step moved on: counts a completed pass when it wrapped.
    void StepAdvanced();
    // Ends the run once: stops the timers, prints message (if any) as a line
    // on standard error, then closes and reports from the event loop.
    void Finish(int status, const QByteArray& message = {});
    void Conclude();

    const TRunDefinition m_definition;
    const TRunOptions m_options;
    TCycleRules m_cycle;
    std::unique_ptr<TClientSocket> m_socket;
    QTimer m_sendTimer;
    QTimer m_watchdog;
    QTimer m_giveUp;
    QTimer m_duration;
    TRunOutput m_output;
    QElapsedTimer m_clock;
    QDateTime m_started;

    bool m_starting = false;       // inside Start's activation
    bool m_addressRefused = false; // the component refused the address
    bool m_everConnected = false;
    bool m_finishing = false;
    int m_status = kRunCompleted;
    QByteArray m_endMessage;
    int m_passes = 0;
    // The latest sending: its slot, when, and whether its reply is still due.
    int m_sentSlot = 0;
    qint64 m_sentNs = 0;
    bool m_awaitingReply = false;
    int m_resends = 0; // of the command awaiting its reply
    int m_totalResends = 0;
    std::vector<double> m_rttMs;
    std::vector<std::optional<TReplyRecord>> m_lastReplies; // indexed by slot
};
