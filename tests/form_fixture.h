#pragma once

#include "app/main_window.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/label.h"
#include "controls/open_dialog.h"
#include "controls/statusbar.h"
#include "controls/timer.h"
#include "loopback_peer.h"
#include "test_support.h"

#include <QStringList>
#include <QTest>

// A main window started in a working folder whose default1.tst points at a
// loopback peer, with every status message and message box written down.
struct FormFixture {
    explicit FormFixture(int items = 5, int extraLines = 0) {
        QByteArray text = "IP=127.0.0.1\r\nPort=" + peer.PortText() + "\r\n";
        for (int i = 1; i <= items; ++i)
            text += "Item " + QByteArray::number(i) + "=[c" + QByteArray::number(i) + "]\r\n";
        for (int i = 0; i < extraLines; ++i)
            text += "Extra=[x]\r\n";
        folder.Write(QStringLiteral("default1.tst"), text);
        QObject::connect(form.StatusBar1, &TStatusBar::SimpleTextWritten,
                         [this](const QByteArray& message) { statuses.append(message); });
        form.Create();
    }

    // Presses Connect and waits for the connection.
    bool Connect() {
        form.BitBtnConnect->click();
        return QTest::qWaitFor([this] { return form.ClientSocket1->Active() && peer.Connected(); },
                               3000);
    }

    // The peer takes commands without answering them.
    void Silence() {
        peer.answer = [](const QByteArray&) { return std::nullopt; };
    }

    // Connects, presses Start Test and waits until the peer has received
    // `commands` commands.
    bool StartTest(int commands = 1) {
        if (!Connect())
            return false;
        form.BitBtnStartTest->click();
        return RunUntil([&] { return peer.commands.size() >= commands; }, 1200 * commands);
    }

    // For tests whose subject is not the timing: a watchdog quicker than
    // the designed second.
    void ShortenWatchdog(int intervalMs) { form.TimerWatchDog->SetInterval(intervalMs); }

    // Enabled states: Connect, Disconnect, Start Test, address, port.
    QString States() const {
        QString states;
        for (QWidget* w :
             {static_cast<QWidget*>(form.BitBtnConnect),
              static_cast<QWidget*>(form.BitBtnDisconnect),
              static_cast<QWidget*>(form.BitBtnStartTest), static_cast<QWidget*>(form.EditAddress),
              static_cast<QWidget*>(form.EditPort)})
            states += w->isEnabled() ? QLatin1Char('E') : QLatin1Char('-');
        return states;
    }

    LoopbackPeer peer;
    WorkingFolder folder;
    MessageBoxRecorder boxes;
    TForm1 form;
    QList<QByteArray> statuses;
};
