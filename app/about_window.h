#pragma once

#include <QList>
#include <QRect>
#include <QWidget>

class TBitBtn;
class TImage;
class TLabel;

// The About window: picture, title, release, build stamp, notice and the
// maker's address, with an OK button that puts it away. A separate top-level
// window owned by the main window; created hidden at start-up and never
// destroyed before exit. Its controls, and with them its fonts and picture,
// are built when it is first shown, so start-up pays nothing for them. Every
// close request (OK, close box, window menu, keystroke) only hides it, so it
// keeps its place and size for the next showing. It can be resized; the
// controls keep their places relative to the top left.
class TFormAbout : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window; the About window is deleted with it.
    explicit TFormAbout(QWidget* owner);

    // Help, About: makes the window visible (first moved to the active
    // window's monitor, see PlaceOnActiveMonitor), then brings it to the front
    // and activates it. Returns at once; the main window stays usable.
    void ShowAndActivate();

    void ButtonOKClick(QObject* Sender);

    // Builds the controls below unless they exist; showing the window does it.
    void BuildControls();
    void setVisible(bool visible) override;

    TImage* Image2 = nullptr;
    TLabel* Label3 = nullptr; // title
    TLabel* Label5 = nullptr; // release
    TLabel* Label6 = nullptr; // build stamp
    TLabel* Label7 = nullptr; // notice
    TLabel* Label8 = nullptr; // maker's address
    TBitBtn* ButtonOK = nullptr;
};

// Where a window that is about to be shown goes on a multi-monitor desktop.
// `window` is its frame rectangle, `activeWindow` that of the application's
// active window, `monitors` the bounds of every monitor (all in desktop
// pixels). A window lies on the monitor it overlaps most, or the nearest one
// when it overlaps none. When the two windows lie on different monitors the
// result keeps the window's offset from its monitor's top left on the active
// window's monitor, pulled back so its right and bottom edges stay on that
// monitor (and never past its top left, so the title bar stays reachable).
// Otherwise, or with fewer than two monitors, `window` is returned unchanged.
QRect PlaceOnActiveMonitor(const QRect& window, const QRect& activeWindow,
                           const QList<QRect>& monitors);
