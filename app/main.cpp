#include "app/application.h"

int main(int argc, char** argv) {
    TQtApplication qtApplication(argc, argv);
    QApplication::setWindowIcon(Application().Icon());
    return 0;
}
