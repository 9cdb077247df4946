#pragma once

#include <QObject>
#include <QString>

// The file-open dialog's settings. Execute() runs it through the application
// object's replaceable routine; after a confirmed run FileName is the chosen
// file's full name, and the next run starts from it.
class TOpenDialog : public QObject {
    Q_OBJECT
public:
    explicit TOpenDialog(QObject* owner) : QObject(owner) {}

    QString FileName;
    QString DefaultExt;
    QString FilterName;    // the description the filter list shows
    QString FilterPattern; // e.g. "*.tst"

    bool Execute();
};
