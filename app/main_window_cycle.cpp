// The test cycle on the main window: the timers, the socket and the result
// fields. What to send, when a reply is complete and which step follows are
// TCycleRules's rules; the Start Test caption is the running flag.
#include "app/main_window.h"

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
        m_sentClock.start();
        ClientSocket1->WinSocket()->SendString(send.command);
    } else if (send.action == TCycleRules::TSendAction::Skip && TestRunning())
        Timer1->SetEnabled(true);
}

void TForm1::TimerWatchDogTimer(QObject*) {
    Timer1->SetEnabled(true);
}

void TForm1::ClientSocket1Read(QObject*, TCustomWinSocket* Socket) {
    const TCycleRules::TReply reply = Cycle.Received(Socket->ReceiveString());
    if (!reply.complete)
        return;
    ShowCompletedReply(reply);
    if (TestRunning())
        Timer1->SetEnabled(true);
}

void TForm1::ShowCompletedReply(const TCycleRules::TReply& reply) {
    for (int s = 1; s <= kSlotCount; ++s)
        Slot(s).Result->SetColor(TColor::clWindow);
    if (reply.slot == 0)
        return;
    TEdit* field = Slot(reply.slot).Result;
    field->SetText(FieldText(reply.text));
    field->SetColor(TColor::clMenu);
    // Judged as gathered, not as cut for the field. A reply before any send
    // answers no command: it has no round trip to exceed.
    const double rttMs = m_sentClock.isValid() ? double(m_sentClock.nsecsElapsed()) / 1e6 : 0;
    const TVerdict verdict = m_checks.Judge(Slot(reply.slot).Label->Caption(), reply.text, rttMs);
    const bool failed = verdict.outcome == TVerdict::TOutcome::Fail;
    field->SetFontColor(failed ? TColor::clRed : TColor::clWindowText);
    field->SetHint(verdict.why);
}
