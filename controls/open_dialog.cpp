#include "controls/open_dialog.h"

#include "app/application.h"

bool TOpenDialog::Execute() {
    return Application().ExecuteOpenDialog(*this);
}
