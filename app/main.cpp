#include "app/application.h"
#include "app/main_window.h"
#include "base/guard.h"

#include <exception>

int main(int argc, char** argv) {
    TQtApplication qtApplication(argc, argv);
    // Ties the windows to the installed zyl-test-tool.desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("zyl-test-tool"));
    // Closing the main window ends the application, also while the About
    // window is shown.
    QApplication::setQuitOnLastWindowClosed(false);
    try {
        TForm1 form;
        // The About window and the message boxes show the application's icon:
        // the one the main window has decoded already.
        QApplication::setWindowIcon(form.windowIcon());
        form.Create();
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
