#include "app/about_window.h"
#include "controls/image.h"
#include "controls/menu.h"
#include "form_fixture.h"

#include <QFontInfo>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace {

constexpr int kRightEdge = 503;

// The About window's labels in designed order.
QList<TLabel*> Labels(const TFormAbout& about) {
    return {about.Label3, about.Label5, about.Label6, about.Label7, about.Label8};
}

QList<TFormAbout*> VisibleAboutWindows() {
    QList<TFormAbout*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* about = qobject_cast<TFormAbout*>(widget);
        if (about && about->isVisible())
            shown.append(about);
    }
    return shown;
}

enum class Request { OkButton, CloseBox, EnterKey, SpaceKey, EscapeKey };

} // namespace

class TestAboutWindow : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void comesWithTheMainWindow();
    void designedWindow();
    void labelEdges_data();
    void labelEdges();
    void closeRequests_data();
    void closeRequests();
    void singleInstanceBroughtToFront();
    void resizingMovesNoControl();
    void placement_data();
    void placement();
    void closingMainWindowEndsApplication();
};

void TestAboutWindow::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

// Help, About works from the moment the main window exists, before any
// start-up step.
void TestAboutWindow::comesWithTheMainWindow() {
    TForm1 form;
    QPointer<TFormAbout> about = form.FormAbout;
    QVERIFY(about && about->isHidden());
    form.About1Click(nullptr);
    QVERIFY(about->isVisible());
}

void TestAboutWindow::designedWindow() {
    FormFixture shell(1);
    TFormAbout& about = *shell.form.FormAbout;
    QVERIFY(about.isHidden());
    QVERIFY(about.isWindow());
    QCOMPARE(about.parentWidget(), &shell.form);
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.pos(), QPoint(330, 255));
    QCOMPARE(about.size(), QSize(533, 233));
    // Start-up builds no control of the hidden window; showing it does.
    QVERIFY(about.findChildren<QWidget*>().isEmpty());
    shell.form.About1Click(nullptr);
    QCOMPARE(about.findChildren<QWidget*>().size(), 7);
    QCOMPARE(about.Image2->geometry(), QRect(0, 0, 313, 209));
    QCOMPARE(about.Image2->Picture().size(), QSize(291, 195));
    QCOMPARE(about.ButtonOK->geometry(), QRect(406, 11, 81, 33));
    QCOMPARE(about.ButtonOK->text(), QStringLiteral("OK"));
    QVERIFY(about.ButtonOK->font().bold());
    QCOMPARE(about.ButtonOK->font().pixelSize(), 11);
    // The only control that takes the focus.
    for (QWidget* child : about.findChildren<QWidget*>())
        QCOMPARE(child->focusPolicy() != Qt::NoFocus, child == about.ButtonOK);
    // The labels' face is Carlito (another one here means a missing font); its
    // line heights are the designed ones.
    QCOMPARE(QFontInfo(about.Label3->font()).family(), QStringLiteral("Carlito"));
    QCOMPARE(about.Label3->height(), 26);
    QCOMPARE(about.Label5->height(), 15);
}

void TestAboutWindow::labelEdges_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QPoint>("designed");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("rightJustified");
    QTest::newRow("title") << 0 << QPoint(383, 94) << 21 << true;
    QTest::newRow("release") << 1 << QPoint(417, 130) << 13 << true;
    QTest::newRow("build stamp") << 2 << QPoint(386, 154) << 13 << true;
    QTest::newRow("notice") << 3 << QPoint(332, 170) << 13 << true;
    QTest::newRow("address") << 4 << QPoint(116, 212) << 13 << false;
}

// Right-justified labels end at one edge whatever their text; the address
// line keeps its left edge.
void TestAboutWindow::labelEdges() {
    QFETCH(int, index);
    QFETCH(QPoint, designed);
    QFETCH(int, pixelSize);
    QFETCH(bool, rightJustified);
    FormFixture shell(1);
    shell.form.FormAbout->BuildControls();
    TLabel* label = Labels(*shell.form.FormAbout).at(index);
    QCOMPARE(label->y(), designed.y());
    QCOMPARE(label->font().pixelSize(), pixelSize);
    QVERIFY(label->font().bold());
    QVERIFY(!label->autoFillBackground());
    if (rightJustified)
        QCOMPARE(label->x() + label->width(), kRightEdge);
    else
        QCOMPARE(label->x(), designed.x());

    const QRect before = label->geometry();
    label->SetCaption(label->Caption() + " and a good deal more text");
    QVERIFY(label->width() > before.width());
    QCOMPARE(label->y(), before.y());
    if (rightJustified) {
        QVERIFY(label->x() < before.x());
        QCOMPARE(label->x() + label->width(), kRightEdge);
    } else {
        QCOMPARE(label->x(), before.x());
    }
}

void TestAboutWindow::closeRequests_data() {
    QTest::addColumn<Request>("request");
    QTest::addColumn<bool>("hides");
    QTest::newRow("OK") << Request::OkButton << true;
    QTest::newRow("close box") << Request::CloseBox << true;
    QTest::newRow("Enter") << Request::EnterKey << true;
    QTest::newRow("Space") << Request::SpaceKey << true;
    QTest::newRow("Escape does nothing") << Request::EscapeKey << false;
}

// Every close request hides the same window, which comes back where the
// operator left it.
void TestAboutWindow::closeRequests() {
    QFETCH(Request, request);
    QFETCH(bool, hides);
    FormFixture shell(1);
    QPointer<TFormAbout> about = shell.form.FormAbout;
    shell.form.ShowCentred();
    shell.form.About1Click(nullptr);
    QVERIFY(QTest::qWaitForWindowActive(about));
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), about->ButtonOK, 1000);
    about->move(400, 300);
    about->resize(600, 280);
    const QRect placed = about->geometry();

    QWindow* window = about->windowHandle();
    switch (request) {
    case Request::OkButton:
        QTest::mouseClick(about->ButtonOK, Qt::LeftButton);
        break;
    case Request::CloseBox:
        window->close();
        break;
    case Request::EnterKey:
        QTest::keyClick(window, Qt::Key_Return);
        break;
    case Request::SpaceKey:
        QTest::keyClick(window, Qt::Key_Space);
        break;
    case Request::EscapeKey:
        QTest::keyClick(window, Qt::Key_Escape);
        break;
    }
    if (hides) {
        QTRY_VERIFY_WITH_TIMEOUT(about->isHidden(), 1000);
    } else {
        // Keys arrive synchronously; a press still to come would show as a
        // button held down (Enter animates its click).
        QVERIFY(about->isVisible());
        QVERIFY(!about->ButtonOK->isDown());
    }
    QVERIFY(!about.isNull());

    shell.form.About1Click(nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QCOMPARE(about->geometry(), placed);
    QCOMPARE(VisibleAboutWindows().size(), 1);
}

void TestAboutWindow::singleInstanceBroughtToFront() {
    FormFixture shell(1);
    shell.form.ShowCentred();
    shell.form.About1Click(nullptr);
    QVERIFY(QTest::qWaitForWindowActive(shell.form.FormAbout));

    // The About window counts as active for its owner's sake, so ask the
    // application which window has the focus.
    shell.form.activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &shell.form, 1000);
    shell.form.About1->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), shell.form.FormAbout, 1000);
    QCOMPARE(VisibleAboutWindows(), QList<TFormAbout*>{shell.form.FormAbout});
    QVERIFY(shell.form.isVisible());
}

void TestAboutWindow::resizingMovesNoControl() {
    FormFixture shell(1);
    shell.form.About1Click(nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(shell.form.FormAbout));
    QList<QRect> designed;
    const QList<QWidget*> controls = shell.form.FormAbout->findChildren<QWidget*>();
    for (QWidget* control : controls)
        designed.append(control->geometry());
    for (const QSize& size : {QSize(900, 600), QSize(200, 100), QSize(533, 233)}) {
        shell.form.FormAbout->resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(shell.form.FormAbout->size(), size, 1000);
        for (qsizetype i = 0; i < controls.size(); ++i)
            QCOMPARE(controls[i]->geometry(), designed[i]);
    }
}

void TestAboutWindow::placement_data() {
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QRect>("active");
    QTest::addColumn<QList<QRect>>("monitors");
    QTest::addColumn<QRect>("expected");
    const QRect primary(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1280, 1024);
    const QRect left(-1280, 0, 1280, 1024);
    const QRect below(0, 1080, 1920, 1080);
    const QRect tiny(1920, 0, 400, 300);
    const QRect about(330, 255, 541, 267);
    const QRect main(100, 100, 798, 603);

    QTest::newRow("one monitor") << about << QRect(2000, 100, 798, 603) << QList<QRect>{primary}
                                 << about;
    QTest::newRow("same monitor") << about << main << QList<QRect>{primary, right} << about;
    QTest::newRow("keeps its offset") << about << QRect(2000, 100, 798, 603)
                                      << QList<QRect>{primary, right} << QRect(2250, 255, 541, 267);
    QTest::newRow("left of the primary")
        << about << QRect(-1000, 50, 798, 603) << QList<QRect>{primary, left}
        << QRect(-950, 255, 541, 267);
    QTest::newRow("stacked") << about << QRect(50, 1200, 798, 603) << QList<QRect>{primary, below}
                             << QRect(330, 1335, 541, 267);
    QTest::newRow("back from the right and bottom edges")
        << QRect(1300, 800, 541, 267) << QRect(2000, 100, 798, 603) << QList<QRect>{primary, right}
        << QRect(2659, 757, 541, 267);
    QTest::newRow("lies on the monitor it overlaps most")
        << QRect(1700, 100, 541, 267) << main << QList<QRect>{primary, right}
        << QRect(0, 100, 541, 267);
    QTest::newRow("off every monitor: the nearest one")
        << QRect(5000, 100, 541, 267) << main << QList<QRect>{primary, right}
        << QRect(1379, 100, 541, 267);
    QTest::newRow("larger than the monitor: title bar stays on it")
        << QRect(100, 100, 541, 267) << QRect(2000, 10, 100, 100) << QList<QRect>{primary, tiny}
        << QRect(1920, 33, 541, 267);
}

void TestAboutWindow::placement() {
    QFETCH(QRect, window);
    QFETCH(QRect, active);
    QFETCH(QList<QRect>, monitors);
    QFETCH(QRect, expected);
    QCOMPARE(PlaceOnActiveMonitor(window, active, monitors), expected);
}

// Yes to the exit question leaves the event loop with status 0 and the About
// window goes with the main window.
void TestAboutWindow::closingMainWindowEndsApplication() {
    QPointer<TFormAbout> about;
    {
        FormFixture shell(1);
        about = shell.form.FormAbout;
        shell.form.ShowCentred();
        shell.form.About1Click(nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(about));

        shell.boxes.answers.push_back(TMsgAnswer::Yes);
        QTimer::singleShot(0, shell.form.BitBtnExit, &QAbstractButton::click);
        QTimer fallback;
        fallback.setSingleShot(true);
        connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        fallback.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(shell.boxes.boxes.size(), 1);
        QVERIFY(!shell.form.isVisible());
    }
    QVERIFY(about.isNull());
}

QTEST_MAIN(TestAboutWindow)
#include "tst_about_window.moc"
