#include "app/application.h"

#include "base/exceptions.h"
#include "base/text.h"
#include "controls/open_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
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

bool RunOpenDialog(TOpenDialog& dialog) {
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

} // namespace

TApplication::TApplication() {
    // The pictures live in the static library; a static library's resources
    // must be registered by hand.
    Q_INIT_RESOURCE(resources);
    RestoreDefaultRoutines();
}

TApplication& Application() {
    static TApplication application;
    return application;
}

void TApplication::RestoreDefaultRoutines() {
    messageBox = RunMessageBox;
    openDialog = RunOpenDialog;
}

QString TApplication::Title() const {
    return ApplicationTitle(QCoreApplication::applicationFilePath());
}

QIcon TApplication::Icon() const {
    return QIcon(QStringLiteral(":/icon.png"));
}

TMsgAnswer TApplication::MessageBox(const QString& text, const QString& caption, TMsgIcon icon,
                                    TMsgButtons buttons) {
    return messageBox(TMessageBoxRequest{text, caption, icon, buttons});
}

bool TApplication::ExecuteOpenDialog(TOpenDialog& dialog) {
    return openDialog(dialog);
}

void TApplication::ShowException(const QByteArray& message) {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    MessageBox(DisplayText(ErrorDisplayText(message)), Title(), TMsgIcon::Stop, TMsgButtons::Ok);
}

void Guarded(const std::function<void()>& handler) noexcept {
    try {
        handler();
    } catch (const Exception& error) {
        Application().ShowException(error.Message());
    } catch (const std::exception& error) {
        Application().ShowException(QByteArray(error.what()));
    } catch (...) {
        Application().ShowException(QByteArray());
    }
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

QByteArray ErrorDisplayText(const QByteArray& message) {
    if (!message.isEmpty() && static_cast<unsigned char>(message.back()) > '.')
        return message + '.';
    return message;
}

TQtApplication::TQtApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TQtApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
