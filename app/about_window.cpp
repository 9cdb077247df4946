#include "app/about_window.h"

#include "controls/bitbtn.h"
#include "controls/image.h"
#include "controls/label.h"
#include "controls/look.h"

#include <QApplication>
#include <QScreen>

#include <algorithm>
#include <limits>

namespace {

// The designed frame's top left on the desktop and the client area under the
// designed frame (541 x 267 outside). On Linux the frame belongs to the window
// manager and its thickness varies, so the frame goes where the design puts it
// and the client area keeps the designed size: the controls need 511 x 227 and
// the picture, the labels and the address line keep their designed margins.
constexpr QPoint kDesignedPosition(330, 255);
constexpr QSize kDesignedClientSize(533, 233);

// The right edge of the right-justified labels: each label's designed left
// plus its designed width.
constexpr int kRightEdge = 503;

// The About window's fonts, by their design codes.
QFont FontT() {
    return MakeFont(TFace::About, 21, true);
}
QFont FontR() {
    return MakeFont(TFace::About, 13, true);
}
QFont FontB() {
    return MakeFont(TFace::Window, 11, true);
}

// A transparent black label. A right-justified one ends at kRightEdge
// whatever its caption; a left-justified one starts at `left`.
TLabel* MakeLabel(QWidget* parent, TLabel::TAlignment alignment, int left, int top,
                  const char* caption, const QFont& font) {
    auto* label = new TLabel(parent);
    label->SetAlignment(alignment);
    label->setGeometry(left, top,
                       alignment == TLabel::TAlignment::RightJustify ? kRightEdge - left : 0, 0);
    label->setFont(font);
    label->SetTextColor(ColorOf(TColor::clBlack));
    label->SetTransparent(true);
    label->SetCaption(caption);
    return label;
}

// Squared distance between two rectangles; 0 when they touch or overlap.
qint64 Distance(const QRect& a, const QRect& b) {
    const qint64 dx = std::max({0, b.left() - a.right(), a.left() - b.right()});
    const qint64 dy = std::max({0, b.top() - a.bottom(), a.top() - b.bottom()});
    return dx * dx + dy * dy;
}

// The monitor a rectangle lies on: the one it overlaps most, else the nearest.
QRect MonitorOf(const QRect& rect, const QList<QRect>& monitors) {
    QRect best;
    qint64 bestArea = -1;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    for (const QRect& monitor : monitors) {
        const QRect overlap = monitor.intersected(rect);
        const qint64 area = qint64(overlap.width()) * overlap.height();
        const qint64 distance = Distance(monitor, rect);
        if (area > bestArea || (area == bestArea && distance < bestDistance)) {
            best = monitor;
            bestArea = area;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

TFormAbout::TFormAbout(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About"));
    setFont(MakeFont(TFace::Window, 11));
    QPalette p = palette();
    p.setColor(QPalette::Window, ColorOf(TColor::clBtnFace));
    setPalette(p);
    setAutoFillBackground(true);
    move(kDesignedPosition);
    resize(kDesignedClientSize);
}

void TFormAbout::BuildControls() {
    if (ButtonOK)
        return;
    // Created in the designed drawing order: the picture first.
    Image2 = new TImage(this);
    Image2->setGeometry(0, 0, 313, 209);
    Image2->LoadPicture(QStringLiteral(":/about.png"));
    Image2->setAccessibleName(
        QStringLiteral("A display panel showing QRW, connected to its controller"));

    using A = TLabel::TAlignment;
    Label3 = MakeLabel(this, A::RightJustify, 383, 94, "QRW Test Tool", FontT());
    Label5 = MakeLabel(this, A::RightJustify, 417, 130, "Release 1.00.11", FontR());
    Label6 = MakeLabel(this, A::RightJustify, 386, 154, "ZYLT 201802091015", FontR());
    Label7 = MakeLabel(this, A::RightJustify, 332, 170, "For production test use only", FontR());
    Label8 =
        MakeLabel(this, A::LeftJustify, 116, 212,
                  "Zylvane Display Systems, Unit 4 Harrow Lane, Fennick Vale FV2 8QX", FontR());

    ButtonOK = new TButton(this);
    ButtonOK->setFont(FontB());
    ButtonOK->setGeometry(406, 11, 81, 33);
    ButtonOK->SetCaption("OK");
    ButtonOK->OnClick = TNotifyEvent(this, &TFormAbout::ButtonOKClick);
    // The only focusable control: it has the focus whenever the window is
    // activated.
    ButtonOK->setFocus();
}

void TFormAbout::setVisible(bool visible) {
    if (visible)
        BuildControls();
    QWidget::setVisible(visible);
}

void TFormAbout::ShowAndActivate() {
    if (isHidden()) {
        if (const QWidget* active = QApplication::activeWindow()) {
            QList<QRect> monitors;
            for (const QScreen* screen : QGuiApplication::screens())
                monitors.append(screen->geometry());
            move(
                PlaceOnActiveMonitor(frameGeometry(), active->frameGeometry(), monitors).topLeft());
        }
        show();
    }
    // Brought to the front also when the operator had minimised it.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void TFormAbout::ButtonOKClick(QObject*) {
    // Not the main window and no close handler: closing hides it.
    close();
}

QRect PlaceOnActiveMonitor(const QRect& window, const QRect& activeWindow,
                           const QList<QRect>& monitors) {
    if (monitors.size() < 2)
        return window;
    const QRect from = MonitorOf(window, monitors);
    const QRect to = MonitorOf(activeWindow, monitors);
    if (from == to)
        return window;
    QRect placed = window.translated(to.topLeft() - from.topLeft());
    placed.moveRight(std::min(placed.right(), to.right()));
    placed.moveBottom(std::min(placed.bottom(), to.bottom()));
    placed.moveLeft(std::max(placed.left(), to.left()));
    placed.moveTop(std::max(placed.top(), to.top()));
    return placed;
}
