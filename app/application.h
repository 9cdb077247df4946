#pragma once

#include "controls/open_dialog.h"

#include <QApplication>
#include <QByteArray>
#include <QIcon>
#include <QString>

#include <functional>

// What a message box shows and offers.
enum class TMsgIcon { Stop, Exclamation };
enum class TMsgButtons { Ok, YesNo };
enum class TMsgAnswer { Ok, Yes, No };

struct TMessageBoxRequest {
    QString text;
    QString caption;
    TMsgIcon icon = TMsgIcon::Stop;
    TMsgButtons buttons = TMsgButtons::Ok;
};

// The application object: title, icon, the error display and the two
// replaceable routines (message box, open dialog) that tests answer instead of
// an operator.
class TApplication {
public:
    using MessageBoxRoutine = std::function<TMsgAnswer(const TMessageBoxRequest&)>;

    QString Title() const;
    QIcon Icon() const;

    // Application-modal box; runs a nested event loop, so timers and sockets
    // keep being served while it is open.
    TMsgAnswer ShowMessageBox(const QString& text, const QString& caption, TMsgIcon icon,
                              TMsgButtons buttons);

    // The error display: the message with the final-stop rule, the title as
    // caption, stop icon, OK.
    void ShowException(const QByteArray& message);

    MessageBoxRoutine messageBox;
    // The routine every open dialog runs (the dialogs' own, reached here).
    TOpenDialog::Routine& openDialog;

    // Puts the default routines back (tests call it between cases).
    void RestoreDefaultRoutines();

private:
    friend TApplication& Application();
    TApplication();
};

// The one application object of the process.
TApplication& Application();

// The title rule: the file name without its folder, cut at its first ".", all
// characters after the first lower-cased.
QString ApplicationTitle(const QString& executablePath);

// The Qt application with the last backstop: an error that slipped past every
// guard is shown instead of unwinding through Qt.
class TQtApplication : public QApplication {
public:
    TQtApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
