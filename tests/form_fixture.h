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

#include <QTest>

#include <optional>

// The main window after start-up in a fresh working folder, with every status
// message and message box written down, and at every box whether Disconnect
// was enabled (the buttons still showed a connection). Its default1.tst:
// - FormFixture(items, extraLines): "Item <i>=[c<i>]" items (then
//   "Extra=[x]" lines) for `peer`, a controller played by the test;
// - FormFixture(definition): the given text, or no file for std::nullopt.
struct FormFixture {
    explicit FormFixture(int items = 5, int extraLines = 0) : m_atPeer(true) {
        Start(ItemsAt(peer.Port(), items, extraLines));
    }
    explicit FormFixture(const std::optional<QByteArray>& definition) { Start(definition); }

    // A definition for the controller on `port`.
    static QByteArray ItemsAt(quint16 port, int items, int extraLines = 0) {
        QByteArray text = "IP=127.0.0.1\r\nPort=" + QByteArray::number(port) + "\r\n";
        for (int i = 1; i <= items; ++i)
            text += "Item " + QByteArray::number(i) + "=[c" + QByteArray::number(i) + "]\r\n";
        for (int i = 0; i < extraLines; ++i)
            text += "Extra=[x]\r\n";
        return text;
    }

    // Presses Connect and waits until the window says it is connected (and,
    // with the test's peer, the peer has the connection).
    bool Connect() {
        const QByteArray connected = "Connected to " + form.EditAddress->Text();
        const qsizetype before = statuses.count(connected);
        form.BitBtnConnect->click();
        return QTest::qWaitFor(
            [&] { return statuses.count(connected) > before && (!m_atPeer || peer.Connected()); },
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

    // Stops the test and disconnects, where the buttons allow it.
    void StopAndDisconnect() {
        if (form.BitBtnDisconnect->isEnabled()) {
            form.BitBtnStartTest->click();
            form.BitBtnDisconnect->click();
        }
    }

    // For tests whose subject is not the timing: a watchdog quicker than
    // the designed second.
    void ShortenWatchdog(int intervalMs) { form.TimerWatchDog->SetInterval(intervalMs); }

    // What slot `slot`'s result field shows.
    QByteArray Shown(int slot) const { return form.Slot(slot).Result->Text(); }

    // Enabled states: Connect, Disconnect, Start Test, address, port.
    QString States() const {
        QString states;
        for (const QWidget* w :
             QList<const QWidget*>{form.BitBtnConnect, form.BitBtnDisconnect, form.BitBtnStartTest,
                                   form.EditAddress, form.EditPort})
            states += w->isEnabled() ? QLatin1Char('E') : QLatin1Char('-');
        return states;
    }

    LoopbackPeer peer;
    WorkingFolder folder;
    MessageBoxRecorder boxes;
    TForm1 form;
    QList<QByteArray> statuses;
    QList<bool> connectedAtBox;

private:
    void Start(const std::optional<QByteArray>& definition) {
        if (definition)
            folder.Write(QStringLiteral("default1.tst"), *definition);
        QObject::connect(form.StatusBar1, &TStatusBar::SimpleTextWritten,
                         [this](const QByteArray& message) { statuses.append(message); });
        const auto answer = Application().messageBox;
        Application().messageBox = [this, answer](const TMessageBoxRequest& request) {
            connectedAtBox.append(form.BitBtnDisconnect->isEnabled());
            return answer(request);
        };
        form.Create();
    }

    bool m_atPeer = false;
};
