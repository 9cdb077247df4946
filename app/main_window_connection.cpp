// The operator's side of the connection: Connect, Disconnect, the socket's
// notifications, the status line and the enabled states that follow them.
#include "app/main_window.h"

#include "base/convert.h"
#include "connection/client_socket.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/label.h"
#include "controls/statusbar.h"
#include "controls/timer.h"

void TForm1::ShowStatus(const char* prefix) {
    // The address as the field reads now, which may differ from the address
    // of the connection.
    const QByteArray message = prefix + EditAddress->Text();
    StatusBar1->SetSimpleText(message);
    LabelStatus->SetCaption(message);
}

void TForm1::SetButtonsForConnection(bool connected) {
    BitBtnConnect->setEnabled(!connected);
    BitBtnDisconnect->setEnabled(connected);
    BitBtnStartTest->setEnabled(connected);
}

void TForm1::SetConnectionFieldsEnabled(bool enabled) {
    EditAddress->setEnabled(enabled);
    EditPort->setEnabled(enabled);
}

void TForm1::BitBtnConnectClick(QObject*) {
    ShowStatus("Attempting to connect to ");
    ClientSocket1->SetPort(StrToPort(EditPort->Text()));
    ClientSocket1->SetAddress(EditAddress->Text());
    ClientSocket1->SetActive(true);
    SetConnectionFieldsEnabled(false);
}

void TForm1::BitBtnDisconnectClick(QObject*) {
    Timer1->SetEnabled(false);
    // When connected, OnDisconnect runs inside this call.
    ClientSocket1->SetActive(false);
    ShowStatus("Disconnecting from ");
    SetConnectionFieldsEnabled(true);
}

void TForm1::ClientSocket1Lookup(QObject*, TCustomWinSocket*) {
    ShowStatus("Looking up ");
}

void TForm1::ClientSocket1Connecting(QObject*, TCustomWinSocket*) {
    ShowStatus("Connecting to ");
}

void TForm1::ClientSocket1Connect(QObject*, TCustomWinSocket*) {
    ShowStatus("Connected to ");
    SetButtonsForConnection(true);
}

void TForm1::ClientSocket1Disconnect(QObject*, TCustomWinSocket*) {
    ShowStatus("Disconnected from ");
    SetButtonsForConnection(false);
}

void TForm1::ClientSocket1Write(QObject*, TCustomWinSocket*) {}

void TForm1::ClientSocket1Error(QObject*, TCustomWinSocket*, TErrorEvent, int&) {
    // The code is left as it came, so the component goes on to raise it.
    // The address and port stay disabled as Connect left them: only
    // Disconnect, which stays enabled, gives them back, so the operator ends
    // the failed attempt before editing where to connect.
    ShowStatus("Error communicating with ");
}
