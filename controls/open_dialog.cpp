#include "controls/open_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

bool TOpenDialog::Execute() {
    return ExecuteRoutine()(*this);
}

TOpenDialog::Routine& TOpenDialog::ExecuteRoutine() {
    static Routine routine = RunFileDialog;
    return routine;
}

bool TOpenDialog::RunFileDialog(TOpenDialog& dialog) {
    QFileDialog box(QApplication::activeWindow());
    box.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist may be confirmed; the load reports it.
    box.setFileMode(QFileDialog::AnyFile);
    box.setNameFilter(dialog.FilterName + QStringLiteral(" (") + dialog.FilterPattern +
                      QStringLiteral(")"));
    const QFileInfo start(dialog.FileName);
    box.setDirectory(start.absolutePath());
    box.selectFile(start.fileName());
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return false;
    dialog.FileName = box.selectedFiles().constFirst();
    return true;
}
