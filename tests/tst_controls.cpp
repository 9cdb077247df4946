#include "base/exceptions.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/field_style.h"
#include "controls/image.h"
#include "controls/label.h"
#include "controls/memo.h"
#include "controls/timer.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestControls : public QObject {
    Q_OBJECT

    // Counts ticks of a timer under test.
    struct Ticker {
        int ticks = 0;
        void Tick(QObject*) { ++ticks; }
    };

private slots:
    void labelMnemonic_data();
    void labelMnemonic();
    void labelAutoSizeKeepsItsEdge();
    void editKeepsBytes();
    void memoLines();
    void fieldStyleDrawsAsTheBaseStyle_data();
    void fieldStyleDrawsAsTheBaseStyle();
    void imageLeavesOutItsKeyColour_data();
    void imageLeavesOutItsKeyColour();
    void enablingAnEnabledTimerDoesNotRestartIt();
    void timerFiresRepeatedlyUntilDisabled();
    void handlerErrorsReachTheErrorDisplay();
    void realMessageBoxKeepsTheLoopGoing();
};

void TestControls::labelMnemonic_data() {
    QTest::addColumn<QByteArray>("caption");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("Read Temp") << QStringLiteral("Read Temp");
    QTest::newRow("mnemonic hidden") << QByteArray("&Open") << QStringLiteral("Open");
    QTest::newRow("double shows one") << QByteArray("A && B") << QStringLiteral("A & B");
    QTest::newRow("markup is text") << QByteArray("<b>x</b>") << QStringLiteral("<b>x</b>");
    QTest::newRow("latin-1 byte") << QByteArray("caf\xe9") << QStringLiteral("caf\u00e9");
}

void TestControls::labelMnemonic() {
    QFETCH(QByteArray, caption);
    QFETCH(QString, shown);
    TLabel label(nullptr);
    label.SetCaption(caption);
    QCOMPARE(label.Caption(), caption);
    QCOMPARE(label.ShownText(), shown);
    QCOMPARE(label.accessibleName(), shown);
}

void TestControls::labelAutoSizeKeepsItsEdge() {
    TLabel left(nullptr);
    left.setGeometry(100, 10, 1, 1);
    left.SetCaption("short");
    const int shortWidth = left.width();
    left.SetCaption("a much longer caption");
    QCOMPARE(left.x(), 100);
    QVERIFY(left.width() > shortWidth);
    QCOMPARE(left.height(), QFontMetrics(left.font()).height());

    TLabel right(nullptr);
    right.SetAlignment(TLabel::TAlignment::RightJustify);
    right.setGeometry(400, 10, 103, 15); // right edge at 503
    right.SetCaption("short");
    QCOMPARE(right.geometry().right() + 1, 503);
    right.SetCaption("a much longer notice line than before");
    QCOMPARE(right.geometry().right() + 1, 503);
    QVERIFY(right.x() < 400);
}

void TestControls::editKeepsBytes() {
    TEdit edit(nullptr);
    const QByteArray bytes("\xff\xfe[0A!?v]\r\n\x80", 12);
    edit.SetText(bytes);
    QCOMPARE(edit.Text(), bytes);
    edit.SetText(QByteArray("ab\0cd", 5));
    QCOMPARE(edit.Text(), QByteArray("ab"));
    edit.end(false);
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u00e9"));
    QApplication::sendEvent(&edit, &typed);
    QCOMPARE(edit.Text(), QByteArray("ab\xc3\xa9"));
    // A tooltip from a reply or a file never turns into markup.
    edit.SetHint("does not match <b>x</b>");
    QVERIFY(edit.toolTip().contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt;")));
}

void TestControls::memoLines() {
    TMemo memo(nullptr);
    memo.SetLines({"[0A!?", "psl]"});
    QCOMPARE(memo.Text(), QByteArray("[0A!?\r\npsl]\r\n"));
    QCOMPARE(memo.LineCount(), 2);
    memo.SetText("a\n\rb\r\n" + QByteArray(5000, 'y'));
    QCOMPARE(memo.LineCount(), 4);
    QCOMPARE(memo.Line(1), QByteArray());
    QCOMPARE(memo.Line(2), QByteArray("b"));
    QCOMPARE(memo.Line(3).size(), 4096);
    memo.Clear();
    QCOMPARE(memo.LineCount(), 0);

    // The editor comes with the first showing and keeps up with the text
    // both ways.
    memo.SetLines({"one", "two"});
    QVERIFY(!memo.findChild<QPlainTextEdit*>());
    memo.show();
    auto* editor = memo.findChild<QPlainTextEdit*>();
    QVERIFY(editor && editor->isVisible());
    QCOMPARE(editor->toPlainText(), QStringLiteral("one\ntwo\n"));
    memo.SetText("three");
    QCOMPARE(editor->toPlainText(), QStringLiteral("three"));
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, "!");
    QCOMPARE(memo.Text(), QByteArray("three!"));
    QCOMPARE(editor->geometry(), memo.rect());
}

namespace {
QImage Drawn(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::darkCyan);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}
} // namespace

void TestControls::fieldStyleDrawsAsTheBaseStyle_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("result field") << QSize(450, 24) << true;
    QTest::newRow("narrow, disabled") << QSize(60, 21) << false;
}

// A field drawn from the kept pictures looks exactly as the base style draws
// it, also when its colour changes back and forth.
void TestControls::fieldStyleDrawsAsTheBaseStyle() {
    QFETCH(QSize, size);
    QFETCH(bool, enabled);
    TFieldStyle fieldStyle;
    const std::unique_ptr<QStyle> baseStyle(QStyleFactory::create(fieldStyle.baseStyle()->name()));
    TEdit cached(nullptr), reference(nullptr);
    cached.setStyle(&fieldStyle);
    reference.setStyle(baseStyle.get());
    for (TEdit* edit : {&cached, &reference}) {
        edit->resize(size);
        edit->setEnabled(enabled);
        edit->SetText("reply=ok]");
    }
    for (TColor color : {TColor::clWindow, TColor::clMenu, TColor::clWindow, TColor::clMenu}) {
        cached.SetColor(color);
        reference.SetColor(color);
        QCOMPARE(Drawn(cached), Drawn(reference));
    }
}

void TestControls::imageLeavesOutItsKeyColour_data() {
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<bool>("afterFirstPaint");
    QTest::newRow("opaque") << false << false;
    QTest::newRow("transparent") << true << false;
    QTest::newRow("made transparent once drawn") << true << true;
}

// The picture is drawn from its file; a transparent one shows what lies
// behind where the picture has its lower-left colour.
void TestControls::imageLeavesOutItsKeyColour() {
    QFETCH(bool, transparent);
    QFETCH(bool, afterFirstPaint);
    QTemporaryDir dir;
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(Qt::red);
    for (int x = 0; x < picture.width(); ++x)
        picture.setPixel(x, 5, qRgb(0, 0, 255));
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    QVERIFY(picture.save(path));

    QWidget back;
    QPalette p = back.palette();
    p.setColor(QPalette::Window, Qt::green);
    back.setPalette(p);
    back.setAutoFillBackground(true);
    back.resize(8, 6);
    auto* image = new TImage(&back);
    image->setGeometry(0, 0, 8, 6);
    image->LoadPicture(path);
    QCOMPARE(image->Picture().size(), QSize(8, 6));
    if (afterFirstPaint)
        QCOMPARE(back.grab().toImage().pixelColor(0, 5), QColor(Qt::blue));
    image->SetTransparent(transparent);

    const QImage shown = back.grab().toImage();
    QCOMPARE(shown.pixelColor(3, 5), transparent ? QColor(Qt::green) : QColor(Qt::blue));
    QCOMPARE(shown.pixelColor(3, 2), QColor(Qt::red));
}

void TestControls::enablingAnEnabledTimerDoesNotRestartIt() {
    Ticker ticker;
    TTimer timer(nullptr, 300);
    timer.OnTimer = TNotifyEvent(&ticker, &Ticker::Tick);
    QElapsedTimer clock;
    clock.start();
    timer.SetEnabled(true);
    // Keep enabling it: a restarting timer would never fire.
    while (ticker.ticks == 0 && clock.elapsed() < 2000) {
        timer.SetEnabled(true);
        QTest::qWait(20);
    }
    QCOMPARE(ticker.ticks, 1);
    QVERIFY2(clock.elapsed() < 450, qPrintable(QString::number(clock.elapsed())));
}

void TestControls::timerFiresRepeatedlyUntilDisabled() {
    Ticker ticker;
    TTimer timer(nullptr, 20);
    timer.OnTimer = TNotifyEvent(&ticker, &Ticker::Tick);
    timer.SetEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticker.ticks >= 3, 2000);
    timer.SetEnabled(false);
    const int ticks = ticker.ticks;
    QTest::qWait(60);
    QCOMPARE(ticker.ticks, ticks);
}

void TestControls::handlerErrorsReachTheErrorDisplay() {
    MessageBoxRecorder boxes;
    struct Failing {
        void Click(QObject*) { throw EConvertError("'x' is not a valid integer value"); }
    } failing;
    TBitBtn button(nullptr);
    button.OnClick = TNotifyEvent(&failing, &Failing::Click);
    button.click();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("'x' is not a valid integer value."));
    QCOMPARE(boxes.boxes[0].caption, Application().Title());
    QCOMPARE(boxes.boxes[0].icon, TMsgIcon::Stop);
    QCOMPARE(boxes.boxes[0].buttons, TMsgButtons::Ok);

    TBitBtn unassigned(nullptr);
    unassigned.click();
    QCOMPARE(boxes.boxes.size(), 1);
}

void TestControls::realMessageBoxKeepsTheLoopGoing() {
    Application().RestoreDefaultRoutines();
    Ticker ticker;
    TTimer timer(nullptr, 20);
    timer.OnTimer = TNotifyEvent(&ticker, &Ticker::Tick);
    timer.SetEnabled(true);

    // Answers the box once timers have ticked behind it.
    QString shownText, shownTitle;
    bool applicationModal = false, plainText = false;
    int ticksWhileOpen = 0;
    QTimer poller;
    QObject::connect(&poller, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (ticksWhileOpen == 0)
            ticksWhileOpen = -ticker.ticks;
        if (ticker.ticks + ticksWhileOpen < 3)
            return;
        ticksWhileOpen += ticker.ticks;
        shownText = box->text();
        shownTitle = box->windowTitle();
        applicationModal = box->windowModality() == Qt::ApplicationModal;
        plainText = box->textFormat() == Qt::PlainText;
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
        box->button(QMessageBox::No)->click();
    });
    poller.start(10);
    const TMsgAnswer answer =
        Application().ShowMessageBox(QStringLiteral("<b>sure?</b>"), QStringLiteral("Exit"),
                                     TMsgIcon::Exclamation, TMsgButtons::YesNo);
    QCOMPARE(answer, TMsgAnswer::No);
    QCOMPARE(shownText, QStringLiteral("<b>sure?</b>"));
    QCOMPARE(shownTitle, QStringLiteral("Exit"));
    QVERIFY(applicationModal);
    QVERIFY(plainText);
    QVERIFY(ticksWhileOpen >= 3);
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
