#include "app/main_window.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/label.h"
#include "controls/memo.h"
#include "controls/menu.h"
#include "controls/open_dialog.h"
#include "test_support.h"

#include <QScreen>
#include <QTest>

namespace {

// A definition of `items` items (and `lines` lines in all when larger).
QByteArray Definition(int items, int extraLines = 0) {
    QByteArray text = "IP=127.0.0.1\r\nPort=3001\r\n";
    for (int i = 1; i <= items; ++i)
        text += "Item " + QByteArray::number(i) + "=[cmd" + QByteArray::number(i) + "]\r\n";
    for (int i = 0; i < extraLines; ++i)
        text += "extra=ignored\r\n";
    return text;
}

QList<int> ShownSlots(const TForm1& form) {
    QList<int> shown;
    for (int s = 1; s <= kSlotCount; ++s) {
        if (!form.Slot(s).Label->isHidden()) {
            if (form.Slot(s).Result->isHidden())
                return {-s}; // label and field must go together
            shown.append(s);
        }
    }
    return shown;
}

QList<int> Range(int from, int to) {
    QList<int> range;
    for (int i = from; i <= to; ++i)
        range.append(i);
    return range;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void startupWithoutFile();
    void startupLoad_data();
    void startupLoad();
    void designedCommandsBeforeAnyDefinition();
    void interactiveLoadKeepsUnnamedSlots();
    void interactiveLoadCancelAndFailure();
    void exitQuestion_data();
    void exitQuestion();
    void layoutAndSizeLock();
    void tabOrderAndFirstFocus();
};

void TestMainWindow::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestMainWindow::startupWithoutFile() {
    WorkingFolder folder;
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Cannot open file default1.tst.")});
    QCOMPARE(boxes.boxes[0].caption, Application().Title());
    QCOMPARE(boxes.boxes[0].icon, TMsgIcon::Stop);
    QCOMPARE(form.TestStep, 1);
    QVERIFY(form.Memo1->isHidden());
    QCOMPARE(form.Memo1->geometry(), QRect(40, 56, 500, 500));
    QCOMPARE(form.Memo1->LineCount(), 0);
    QCOMPARE(ShownSlots(form), QList<int>{});
    QVERIFY(form.EditAddress->Text().isEmpty());
    QVERIFY(form.EditPort->Text().isEmpty());
    for (TBitBtn* button :
         {form.BitBtnConnect, form.BitBtnStartTest, form.BitBtnDisconnect, form.BitBtnExit})
        QVERIFY(button->isEnabled() && !button->isHidden());
    QVERIFY(form.BitBtnOpen->isHidden());
}

void TestMainWindow::startupLoad_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("12 lines") << Definition(10) << Range(1, 10) << QByteArray("127.0.0.1");
    QTest::newRow("25 lines") << Definition(18, 5) << Range(1, 18) << QByteArray("127.0.0.1");
    QTest::newRow("2 lines") << Definition(0) << QList<int>{} << QByteArray("127.0.0.1");
    QTest::newRow("1 line is not applied")
        << QByteArray("IP=10.0.0.1") << QList<int>{} << QByteArray();
    QTest::newRow("empty file") << QByteArray() << QList<int>{} << QByteArray();
    QTest::newRow("NUL cuts the rest") << QByteArray("IP=1.2.3.4\nPort=1\nItem 1=[cmd1]\0B=b\n", 32)
                                       << QList<int>{1} << QByteArray("1.2.3.4");
    QTest::newRow("4 MiB line") << "IP=" + QByteArray(4 << 20, 'x') + "\nPort=1\nItem 1=[cmd1]"
                                << QList<int>{1} << QByteArray(4096 - 3, 'x');
}

void TestMainWindow::startupLoad() {
    QFETCH(QByteArray, file);
    QFETCH(QList<int>, shown);
    QFETCH(QByteArray, address);
    WorkingFolder folder;
    folder.Write(QStringLiteral("default1.tst"), file);
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();
    QCOMPARE(boxes.boxes.size(), 0);
    QCOMPARE(ShownSlots(form), shown);
    QCOMPARE(form.EditAddress->Text(), address);
    for (int s : shown) {
        QCOMPARE(form.Slot(s).Label->Caption(), "Item " + QByteArray::number(s));
        QCOMPARE(form.Slot(s).Command(), "[cmd" + QByteArray::number(s) + "]");
        QVERIFY(form.Slot(s).Holder()->isHidden());
    }
}

void TestMainWindow::designedCommandsBeforeAnyDefinition() {
    WorkingFolder folder;
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();
    QCOMPARE(form.Slot(1).Command(), QByteArray("[0A!?v]\r\n"));
    QCOMPARE(form.Slot(3).Command(), QByteArray("[0A!?\r\npsl]\r\n"));
    QCOMPARE(form.Slot(8).Command(), QByteArray("[0A!p]\r\n"));
    QCOMPARE(form.Slot(9).Command(), QByteArray("Edit11"));
    QCOMPARE(form.Slot(18).Command(), QByteArray("Edit20"));
    // The out-of-order label names are bound by position on screen.
    QCOMPARE(form.Slot(11).Label, form.Label11);
    QCOMPARE(form.Slot(13).Label, form.Label5);
    QCOMPARE(form.Slot(11).Result, form.Edit3);
    QCOMPARE(form.Slot(11).EditHolder, form.Edit13);
    for (int s = 2; s <= kSlotCount; ++s)
        QVERIFY(form.Slot(s).Label->y() > form.Slot(s - 1).Label->y());
}

void TestMainWindow::interactiveLoadKeepsUnnamedSlots() {
    WorkingFolder folder;
    folder.Write(QStringLiteral("default1.tst"), Definition(18));
    const QString shorter =
        folder.Write(QStringLiteral("short.tst"), "IP=10.1.1.1\r\nPort=4000\r\nNew one=[new]\r\n");
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();
    form.TestStep = 7;

    QStringList startedFrom;
    Application().openDialog = [&](TOpenDialog& dialog) {
        startedFrom.append(dialog.FileName);
        dialog.FileName = shorter;
        return true;
    };
    form.Open1Click(nullptr);
    QCOMPARE(form.EditAddress->Text(), QByteArray("10.1.1.1"));
    QCOMPARE(form.EditPort->Text(), QByteArray("4000"));
    QCOMPARE(form.Slot(1).Label->Caption(), QByteArray("New one"));
    QCOMPARE(form.Slot(1).Command(), QByteArray("[new]"));
    QCOMPARE(form.Slot(2).Label->Caption(), QByteArray("Item 2"));
    QCOMPARE(form.Slot(18).Command(), QByteArray("[cmd18]"));
    QCOMPARE(ShownSlots(form), Range(1, 18));
    QCOMPARE(form.TestStep, 7);
    QCOMPARE(form.Memo1->LineCount(), 3);

    // The hidden Open button does the same, starting from the last choice.
    form.BitBtnOpenClick(nullptr);
    QCOMPARE(startedFrom, (QStringList{QStringLiteral("default1.tst"), shorter}));

    // A one-line file is applied when opened by the operator.
    const QString oneLine = folder.Write(QStringLiteral("one.tst"), "IP=10.9.9.9");
    AnswerOpenDialog(oneLine);
    form.Open1Click(nullptr);
    QCOMPARE(form.EditAddress->Text(), QByteArray("10.9.9.9"));
    QCOMPARE(form.EditPort->Text(), QByteArray("4000"));
    QCOMPARE(boxes.boxes.size(), 0);
}

void TestMainWindow::interactiveLoadCancelAndFailure() {
    WorkingFolder folder;
    folder.Write(QStringLiteral("default1.tst"), Definition(3));
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();

    AnswerOpenDialog(QStringLiteral("/nowhere/x.tst"), false);
    form.Open1Click(nullptr);
    QCOMPARE(form.Memo1->LineCount(), 5);
    QCOMPARE(form.OpenDialog1->FileName, QStringLiteral("/nowhere/x.tst"));

    // A name that does not exist is reported; the line store keeps its lines.
    AnswerOpenDialog(QStringLiteral("missing.tst"));
    form.Open1->trigger();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Cannot open file missing.tst.")});
    QCOMPARE(form.Memo1->LineCount(), 5);
    QCOMPARE(ShownSlots(form), Range(1, 3));
}

void TestMainWindow::exitQuestion_data() {
    QTest::addColumn<TMsgAnswer>("answer");
    QTest::addColumn<bool>("closed");
    QTest::newRow("no") << TMsgAnswer::No << false;
    QTest::newRow("yes") << TMsgAnswer::Yes << true;
}

void TestMainWindow::exitQuestion() {
    QFETCH(TMsgAnswer, answer);
    QFETCH(bool, closed);
    WorkingFolder folder;
    folder.Write(QStringLiteral("default1.tst"), Definition(2));
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();
    form.ShowCentred();
    boxes.answers.push_back(answer);
    form.BitBtnExit->click();
    QCOMPARE(boxes.boxes.size(), 1);
    const TMessageBoxRequest& box = boxes.boxes[0];
    QCOMPARE(box.text, QStringLiteral("Are you sure you want to exit the application?"));
    QCOMPARE(box.caption, QStringLiteral("Exit"));
    QCOMPARE(box.icon, TMsgIcon::Exclamation);
    QCOMPARE(box.buttons, TMsgButtons::YesNo);
    QCOMPARE(form.isVisible(), !closed);
    QCOMPARE(form.EditAddress->Text(), QByteArray("127.0.0.1"));
}

void TestMainWindow::layoutAndSizeLock() {
    WorkingFolder folder;
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();
    form.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("ZYL_Test_Tool_V1.0"));
    QCOMPARE(form.centralWidget()->size(), QSize(782, 545));
    QCOMPARE(form.EditAddress->geometry(), QRect(96, 8, 190, 24));
    QCOMPARE(form.EditPort->geometry(), QRect(96, 32, 190, 24));
    QCOMPARE(form.Slot(5).Result->geometry(), QRect(304, 160, 450, 24));
    QCOMPARE(form.Slot(12).EditHolder->geometry(), QRect(663, 328, 41, 21));
    QCOMPARE(form.BitBtnDisconnect->geometry(), QRect(16, 288, 81, 57));
    QCOMPARE(form.LabelStatus->pos(), QPoint(336, 8));
    QCOMPARE(form.LabelStatus->font().pixelSize(), 16);
    QVERIFY(form.LabelStatus->font().bold() && form.LabelStatus->font().italic());
    QVERIFY(form.Slot(1).Label->font().bold());

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(form.pos(),
             QPoint(qMax(0, (screen.width() - 798) / 2), qMax(0, (screen.height() - 603) / 2)));

    const QSize size = form.size();
    form.resize(size + QSize(100, 100));
    QCOMPARE(form.size(), size);
    form.showMaximized();
    QTRY_VERIFY_WITH_TIMEOUT(!(form.windowState() & Qt::WindowMaximized), 1000);
    QCOMPARE(form.size(), size);
    form.move(form.pos() + QPoint(5, 5));
    QCOMPARE(form.size(), size);
}

void TestMainWindow::tabOrderAndFirstFocus() {
    WorkingFolder folder;
    folder.Write(QStringLiteral("default1.tst"), Definition(10));
    MessageBoxRecorder boxes;
    TForm1 form;
    form.Create();
    form.ShowCentred();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.EditPort));

    QList<QWidget*> expected{form.EditAddress};
    for (int s = 1; s <= 8; ++s)
        expected.append(form.Slot(s).Result);
    expected += {form.BitBtnConnect,  form.BitBtnStartTest, form.BitBtnDisconnect, form.BitBtnExit,
                 form.Slot(9).Result, form.Slot(10).Result, form.EditPort};
    QList<QWidget*> visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget());
    }
    QCOMPARE(visited, expected);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
