#include "app/application.h"

#include "base/guard.h"
#include "base/text.h"
#include "controls/open_dialog.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QThreadPool>
#include <QWidget>

namespace {

TMsgAnswer RunMessageBox(const TMessageBoxRequest& request) {
    QMessageBox box(request.icon == TMsgIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                    request.caption, request.text, QMessageBox::NoButton);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    if (request.buttons == TMsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // exec() runs a nested loop: timers and socket notifications go on.
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TMsgAnswer::Yes;
    case QMessageBox::No:
        return TMsgAnswer::No;
    default:
        return TMsgAnswer::Ok;
    }
}

} // namespace

TApplication::TApplication() : openDialog(TOpenDialog::ExecuteRoutine()) {
    // The pictures live in the static library; a static library's resources
    // must be registered by hand.
    Q_INIT_RESOURCE(resources);
    RestoreDefaultRoutines();
    SetErrorSink([this](const QByteArray& message) { ShowException(message); });
}

TApplication& Application() {
    static TApplication application;
    return application;
}

void TApplication::RestoreDefaultRoutines() {
    messageBox = RunMessageBox;
    openDialog = TOpenDialog::RunFileDialog;
}

QString TApplication::Title() const {
    return ApplicationTitle(QCoreApplication::applicationFilePath());
}

QIcon TApplication::Icon() const {
    return QIcon(QStringLiteral(":/icon.png"));
}

TMsgAnswer TApplication::ShowMessageBox(const QString& text, const QString& caption, TMsgIcon icon,
                                        TMsgButtons buttons) {
    return messageBox(TMessageBoxRequest{text, caption, icon, buttons});
}

void TApplication::ShowException(const QByteArray& message) {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    ShowMessageBox(DisplayText(ErrorDisplayText(message)), Title(), TMsgIcon::Stop,
                   TMsgButtons::Ok);
}

QString ApplicationTitle(const QString& executablePath) {
    QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

TQtApplication::TQtApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The application object first: it registers the pictures and makes the
    // error box the guard's sink before any window is built.
    Application();
    // The raster engine spreads larger fills (the buttons' bevels) over the
    // global pool; left at its default its threads idle on for 30 s after
    // every such paint. Nothing else of this program runs there, so a worker
    // ends as soon as the work runs out.
    QThreadPool::globalInstance()->setExpiryTimeout(0);
}

bool TQtApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
