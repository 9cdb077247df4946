#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The file-open dialog's settings. Execute() runs it through a replaceable
// routine (a QFileDialog by default; tests answer it instead); after a
// confirmed run FileName is the chosen file's full name, and the next run
// starts from it.
class TOpenDialog : public QObject {
    Q_OBJECT
public:
    // Runs the dialog; true when the operator confirmed a file (FileName then
    // holds it).
    using Routine = std::function<bool(TOpenDialog&)>;

    explicit TOpenDialog(QObject* owner) : QObject(owner) {}

    QString FileName;
    QString DefaultExt;
    QString FilterName;    // the description the filter list shows
    QString FilterPattern; // e.g. "*.tst"

    bool Execute();

    // The routine every dialog runs, and the default it starts as.
    static Routine& ExecuteRoutine();
    static bool RunFileDialog(TOpenDialog& dialog);
};
