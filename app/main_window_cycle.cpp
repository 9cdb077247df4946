// The test cycle on the main window: the timers, the socket and the result
// fields. What to send, when a reply is complete, which step follows and
// what a reply answers are TReplyMatcher's rules, by arrival; the Start Test
// caption is the running flag.
#include "app/main_window.h"

#include "app/application.h"
#include "base/guard.h"
#include "connection/client_socket.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/label.h"
#include "controls/timer.h"

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
        Replies.Abandon();
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
    // Timed from the first sending, as zyl-test-run times it, so rtt_ms and
    // max_rtt_ms mean one thing in both programs.
    const TReplyMatcher::TSend send = Replies.Send();
    if (send.action == TCycleRules::TSendAction::Send)
        ClientSocket1->WinSocket()->SendString(send.command);
    else if (send.action == TCycleRules::TSendAction::Skip && TestRunning())
        Timer1->SetEnabled(true);
}

void TForm1::TimerWatchDogTimer(QObject*) {
    Timer1->SetEnabled(true);
}

void TForm1::ClientSocket1Read(QObject*, TCustomWinSocket* Socket) {
    // By arrival a piece completes at most one reply.
    const QList<TReplyMatcher::TReceived> received = Replies.Received(Socket->ReceiveString());
    if (received.isEmpty())
        return;
    TReplyRecord record = received.constFirst().record;
    Judge(record);
    ShowCompletedReply(record);
    LogReply(record);
    if (TestRunning())
        Timer1->SetEnabled(true);
}

void TForm1::Judge(TReplyRecord& record) const {
    if (record.slot == 0)
        return;
    record.label = Slot(record.slot).Label->Caption();
    // Judged as gathered, not as cut for the field.
    record.verdict = m_checks.Judge(record.label, record.reply, record.rttMs);
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
