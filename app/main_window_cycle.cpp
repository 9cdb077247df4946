// The test cycle on the main window: the timers, the socket and the result
// fields. What to send, when a reply is complete and which step follows are
// TCycleRules's rules; the Start Test caption is the running flag.
#include "app/main_window.h"

#include "app/application.h"
#include "base/guard.h"
#include "connection/client_socket.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/label.h"
#include "controls/timer.h"

#include <utility>

namespace {
const QByteArray kStartCaption = "Start Test";
const QByteArray kStopCaption = "Stop Test";
} // namespace

bool TForm1::TestRunning() const {
    return BitBtnStartTest->Caption() == kStopCaption;
}

void TForm1::BitBtnStartTestClick(QObject*) {
    if (BitBtnStartTest->Caption() == kStartCaption) {
        // A command left unanswered by the last Stop is sent afresh, not
        // resent: its wait and its resends start over.
        m_awaitingReply = false;
        Timer1->SetEnabled(true);
        BitBtnStartTest->SetCaption(kStopCaption);
    } else {
        // Disarm the watchdog too: once stopped, nothing more is sent.
        Timer1->SetEnabled(false);
        TimerWatchDog->SetEnabled(false);
        BitBtnStartTest->SetCaption(kStartCaption);
    }
}

void TForm1::Timer1Timer(QObject*) {
    Timer1->SetEnabled(false);
    // Off then on: a fresh full watchdog interval from this send.
    TimerWatchDog->SetEnabled(false);
    if (TestRunning())
        TimerWatchDog->SetEnabled(true);
    const TCycleRules::TSend send = Cycle.SendTick();
    if (send.action == TCycleRules::TSendAction::Send) {
        // The step moves on only with a reply: until then, each send is the
        // watchdog's repeat of the same command.
        m_resends = m_awaitingReply ? m_resends + 1 : 0;
        // Timed from the first sending, as zyl-test-run times it, so rtt_ms
        // and max_rtt_ms mean one thing in both programs.
        if (!std::exchange(m_awaitingReply, true))
            m_sentClock.start();
        ClientSocket1->WinSocket()->SendString(send.command);
    } else if (send.action == TCycleRules::TSendAction::Skip) {
        if (TestStep == 1)
            ++m_pass;
        if (TestRunning())
            Timer1->SetEnabled(true);
    }
}

void TForm1::TimerWatchDogTimer(QObject*) {
    Timer1->SetEnabled(true);
}

void TForm1::ClientSocket1Read(QObject*, TCustomWinSocket* Socket) {
    const TCycleRules::TReply reply = Cycle.Received(Socket->ReceiveString());
    if (!reply.complete)
        return;
    const TReplyRecord record = CompletedRecord(reply);
    m_awaitingReply = false;
    m_resends = 0;
    if (TestStep == 1)
        ++m_pass;
    ShowCompletedReply(record);
    LogReply(record);
    if (TestRunning())
        Timer1->SetEnabled(true);
}

TReplyRecord TForm1::CompletedRecord(const TCycleRules::TReply& reply) const {
    // A reply before any send answers no command: it has no round trip.
    const double rttMs = m_sentClock.isValid() ? double(m_sentClock.nsecsElapsed()) / 1e6 : 0;
    TReplyRecord record{QDateTime::currentDateTimeUtc(),
                        m_pass,
                        reply.slot,
                        {},
                        {},
                        reply.text,
                        rttMs,
                        m_resends,
                        {}};
    if (reply.slot == 0)
        return record;
    record.label = Slot(reply.slot).Label->Caption();
    record.command = Slot(reply.slot).Command();
    // Judged as gathered, not as cut for the field.
    record.verdict = m_checks.Judge(record.label, record.reply, rttMs);
    return record;
}

void TForm1::ShowCompletedReply(const TReplyRecord& record) {
    for (int s = 1; s <= kSlotCount; ++s)
        Slot(s).Result->SetColor(TColor::clWindow);
    if (record.slot == 0)
        return;
    TEdit* field = Slot(record.slot).Result;
    field->SetText(FieldText(record.reply));
    field->SetColor(TColor::clMenu);
    const bool failed = record.verdict.outcome == TVerdict::TOutcome::Fail;
    field->SetFontColor(failed ? TColor::clRed : TColor::clWindowText);
    field->SetHint(record.verdict.why);
}

void TForm1::StartReplyLog(const QString& fileName) {
    Guarded([&] { m_replyLog = std::make_unique<TReplyLog>(fileName); });
}

void TForm1::LogReply(const TReplyRecord& record) {
    if (!m_replyLog || record.slot == 0)
        return;
    const QByteArray error = m_replyLog->Append(
        ClientSocket1->Address() + ':' + QByteArray::number(ClientSocket1->Port()), record);
    if (error.isEmpty())
        return;
    // Dropped at once, so no later reply can raise a second box while this
    // one waits for the loop.
    m_replyLog.reset();
    QMetaObject::invokeMethod(
        this, [error] { Application().ShowException(error); }, Qt::QueuedConnection);
}
