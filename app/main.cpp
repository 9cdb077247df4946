#include "app/application.h"

int main(int argc, char** argv) {
    TQtApplication qtApplication(argc, argv);
    // Ties the windows to the installed zyl-test-tool.desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("zyl-test-tool"));
    QApplication::setWindowIcon(Application().Icon());
    return 0;
}
