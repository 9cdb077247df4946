// The test cycle: send the current slot's command, gather the reply until it
// ends in "]", show it, move on; the watchdog resends after a second of
// silence. The Start Test caption is the running flag.
#include "app/main_window.h"

#include "connection/client_socket.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/memo.h"
#include "controls/timer.h"
#include "sequencing/receive_buffer.h"

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
    ReceiveBuffer.Clear();
    if (TestStep >= 1 && TestStep <= kSlotCount)
        ClientSocket1->WinSocket()->SendString(Slot(TestStep).Command());
}

void TForm1::TimerWatchDogTimer(QObject*) {
    Timer1->SetEnabled(true);
}

void TForm1::ClientSocket1Read(QObject*, TCustomWinSocket* Socket) {
    const QByteArray piece = Socket->ReceiveString();
    // Nothing new must not complete the reply already shown a second time.
    if (piece.isEmpty())
        return;
    ReceiveBuffer.Append(piece);
    if (!ReceiveBuffer.IsComplete())
        return;
    ShowReply(ReceiveBuffer.Text());
    ++TestStep;
    if (Memo1->LineCount() - 2 < TestStep)
        TestStep = 1;
    if (TestRunning())
        Timer1->SetEnabled(true);
}

void TForm1::ShowReply(const QByteArray& reply) {
    for (int s = 1; s <= kSlotCount; ++s)
        Slot(s).Result->SetColor(TColor::clWindow);
    if (TestStep < 1 || TestStep > kSlotCount)
        return;
    TEdit* field = Slot(TestStep).Result;
    field->SetText(ShownReply(reply));
    field->SetColor(TColor::clMenu);
}
