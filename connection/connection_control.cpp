// The operator's side of the connection: Connect, Disconnect, the status line.
#include "app/main_window.h"

void TForm1::BitBtnDisconnectClick(QObject*) {}
