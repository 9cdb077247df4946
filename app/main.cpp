#include "app/application.h"
#include "app/main_window.h"
#include "base/guard.h"

#include <QCommandLineParser>

#include <exception>

int main(int argc, char** argv) {
    TQtApplication qtApplication(argc, argv);
    // Ties the windows to the installed zyl-test-tool.desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("zyl-test-tool"));
    // Closing the main window ends the application, also while the About
    // window is shown.
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt's own options (-platform, ...) are taken by the application object.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends test commands to a networked display controller."));
    parser.addHelpOption();
    const QCommandLineOption logOption(
        QStringLiteral("log"), QStringLiteral("Append one JSON line per completed reply to FILE."),
        QStringLiteral("FILE"));
    parser.addOption(logOption);
    parser.process(qtApplication);
    try {
        TForm1 form;
        // The About window and the message boxes show the application's icon:
        // the one the main window has decoded already.
        QApplication::setWindowIcon(form.windowIcon());
        form.Create();
        if (parser.isSet(logOption))
            form.StartReplyLog(parser.value(logOption));
        form.ShowCentred();
        return QApplication::exec();
    } catch (...) {
        // An error that escapes start-up ends the application; tell the
        // operator first, and whoever started it by the exit status.
        const std::exception_ptr error = std::current_exception();
        Guarded([&] { std::rethrow_exception(error); });
        return 1;
    }
}
