#include "controls/memo.h"
#include "controls/menu.h"
#include "form_fixture.h"

#include <QScreen>
#include <QTest>

#include <optional>

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
    void applicationTitle_data();
    void applicationTitle();
};

void TestMainWindow::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestMainWindow::startupWithoutFile() {
    FormFixture w(std::nullopt);
    QCOMPARE(w.boxes.Texts(), QStringList{QStringLiteral("Cannot open file default1.tst.")});
    QCOMPARE(w.boxes.boxes[0].caption, Application().Title());
    QCOMPARE(w.boxes.boxes[0].icon, TMsgIcon::Stop);
    QCOMPARE(w.form.TestStep, 1);
    QVERIFY(w.form.Memo1->isHidden());
    QCOMPARE(w.form.Memo1->geometry(), QRect(40, 56, 500, 500));
    QCOMPARE(w.form.Memo1->LineCount(), 0);
    QCOMPARE(ShownSlots(w.form), QList<int>{});
    QVERIFY(w.form.EditAddress->Text().isEmpty());
    QVERIFY(w.form.EditPort->Text().isEmpty());
    for (TBitBtn* button :
         {w.form.BitBtnConnect, w.form.BitBtnStartTest, w.form.BitBtnDisconnect, w.form.BitBtnExit})
        QVERIFY(button->isEnabled() && !button->isHidden());
    QVERIFY(w.form.BitBtnOpen->isHidden());
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
    FormFixture w(file);
    QCOMPARE(w.boxes.boxes.size(), 0);
    QCOMPARE(ShownSlots(w.form), shown);
    QCOMPARE(w.form.EditAddress->Text(), address);
    for (int s : shown) {
        QCOMPARE(w.form.Slot(s).Label->Caption(), "Item " + QByteArray::number(s));
        QCOMPARE(w.form.Slot(s).Command(), "[cmd" + QByteArray::number(s) + "]");
        QVERIFY(w.form.Slot(s).Holder()->isHidden());
    }
}

void TestMainWindow::designedCommandsBeforeAnyDefinition() {
    FormFixture w(std::nullopt);
    QCOMPARE(w.form.Slot(1).Command(), QByteArray("[0A!?v]\r\n"));
    QCOMPARE(w.form.Slot(3).Command(), QByteArray("[0A!?\r\npsl]\r\n"));
    QCOMPARE(w.form.Slot(8).Command(), QByteArray("[0A!p]\r\n"));
    QCOMPARE(w.form.Slot(9).Command(), QByteArray("Edit11"));
    QCOMPARE(w.form.Slot(18).Command(), QByteArray("Edit20"));
    // The out-of-order label names are bound by position on screen.
    QCOMPARE(w.form.Slot(11).Label, w.form.Label11);
    QCOMPARE(w.form.Slot(13).Label, w.form.Label5);
    QCOMPARE(w.form.Slot(11).Result, w.form.Edit3);
    QCOMPARE(w.form.Slot(11).EditHolder, w.form.Edit13);
    for (int s = 2; s <= kSlotCount; ++s)
        QVERIFY(w.form.Slot(s).Label->y() > w.form.Slot(s - 1).Label->y());
}

void TestMainWindow::interactiveLoadKeepsUnnamedSlots() {
    FormFixture w(Definition(18));
    const QString shorter = w.folder.Write(QStringLiteral("short.tst"),
                                           "IP=10.1.1.1\r\nPort=4000\r\nNew one=[new]\r\n");
    w.form.TestStep = 7;

    QStringList startedFrom;
    Application().openDialog = [&](TOpenDialog& dialog) {
        startedFrom.append(dialog.FileName);
        dialog.FileName = shorter;
        return true;
    };
    w.form.Open1Click(nullptr);
    QCOMPARE(w.form.EditAddress->Text(), QByteArray("10.1.1.1"));
    QCOMPARE(w.form.EditPort->Text(), QByteArray("4000"));
    QCOMPARE(w.form.Slot(1).Label->Caption(), QByteArray("New one"));
    QCOMPARE(w.form.Slot(1).Command(), QByteArray("[new]"));
    QCOMPARE(w.form.Slot(2).Label->Caption(), QByteArray("Item 2"));
    QCOMPARE(w.form.Slot(18).Command(), QByteArray("[cmd18]"));
    QCOMPARE(ShownSlots(w.form), Range(1, 18));
    QCOMPARE(w.form.TestStep, 7);
    QCOMPARE(w.form.Memo1->LineCount(), 3);

    // The hidden Open button does the same, starting from the last choice.
    w.form.BitBtnOpenClick(nullptr);
    QCOMPARE(startedFrom, (QStringList{QStringLiteral("default1.tst"), shorter}));

    // A one-line file is applied when opened by the operator.
    const QString oneLine = w.folder.Write(QStringLiteral("one.tst"), "IP=10.9.9.9");
    AnswerOpenDialog(oneLine);
    w.form.Open1Click(nullptr);
    QCOMPARE(w.form.EditAddress->Text(), QByteArray("10.9.9.9"));
    QCOMPARE(w.form.EditPort->Text(), QByteArray("4000"));
    QCOMPARE(w.boxes.boxes.size(), 0);
}

void TestMainWindow::interactiveLoadCancelAndFailure() {
    FormFixture w(Definition(3));

    AnswerOpenDialog(QStringLiteral("/nowhere/x.tst"), false);
    w.form.Open1Click(nullptr);
    QCOMPARE(w.form.Memo1->LineCount(), 5);
    QCOMPARE(w.form.OpenDialog1->FileName, QStringLiteral("/nowhere/x.tst"));

    // A name that does not exist is reported; the line store keeps its lines.
    AnswerOpenDialog(QStringLiteral("missing.tst"));
    w.form.Open1->trigger();
    QCOMPARE(w.boxes.Texts(), QStringList{QStringLiteral("Cannot open file missing.tst.")});
    QCOMPARE(w.form.Memo1->LineCount(), 5);
    QCOMPARE(ShownSlots(w.form), Range(1, 3));
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
    FormFixture w(Definition(2));
    w.form.ShowCentred();
    w.boxes.answers.push_back(answer);
    w.form.BitBtnExit->click();
    QCOMPARE(w.boxes.boxes.size(), 1);
    const TMessageBoxRequest& box = w.boxes.boxes[0];
    QCOMPARE(box.text, QStringLiteral("Are you sure you want to exit the application?"));
    QCOMPARE(box.caption, QStringLiteral("Exit"));
    QCOMPARE(box.icon, TMsgIcon::Exclamation);
    QCOMPARE(box.buttons, TMsgButtons::YesNo);
    QCOMPARE(w.form.isVisible(), !closed);
    QCOMPARE(w.form.EditAddress->Text(), QByteArray("127.0.0.1"));
}

void TestMainWindow::layoutAndSizeLock() {
    FormFixture w(std::nullopt);
    w.form.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QCOMPARE(w.form.windowTitle(), QStringLiteral("ZYL_Test_Tool_V1.0"));
    QCOMPARE(w.form.centralWidget()->size(), QSize(782, 545));
    QCOMPARE(w.form.EditAddress->geometry(), QRect(96, 8, 190, 24));
    QCOMPARE(w.form.EditPort->geometry(), QRect(96, 32, 190, 24));
    QCOMPARE(w.form.Slot(5).Result->geometry(), QRect(304, 160, 450, 24));
    QCOMPARE(w.form.Slot(12).EditHolder->geometry(), QRect(663, 328, 41, 21));
    QCOMPARE(w.form.BitBtnDisconnect->geometry(), QRect(16, 288, 81, 57));
    QCOMPARE(w.form.LabelStatus->pos(), QPoint(336, 8));
    QCOMPARE(w.form.LabelStatus->font().pixelSize(), 16);
    QVERIFY(w.form.LabelStatus->font().bold() && w.form.LabelStatus->font().italic());
    QVERIFY(w.form.Slot(1).Label->font().bold());

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(w.form.pos(),
             QPoint(qMax(0, (screen.width() - 798) / 2), qMax(0, (screen.height() - 603) / 2)));

    const QSize size = w.form.size();
    w.form.resize(size + QSize(100, 100));
    QCOMPARE(w.form.size(), size);
    w.form.showMaximized();
    QTRY_VERIFY_WITH_TIMEOUT(!(w.form.windowState() & Qt::WindowMaximized), 1000);
    QCOMPARE(w.form.size(), size);
    w.form.move(w.form.pos() + QPoint(5, 5));
    QCOMPARE(w.form.size(), size);
}

void TestMainWindow::tabOrderAndFirstFocus() {
    FormFixture w(Definition(10));
    w.form.ShowCentred();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.form.EditPort));
    // The port's whole text is selected: typing replaces it.
    QCOMPARE(w.form.EditPort->selectedText(), QStringLiteral("3001"));
    QTest::keyClicks(w.form.EditPort, "4");
    QCOMPARE(w.form.EditPort->Text(), QByteArray("4"));

    QList<QWidget*> expected{w.form.EditAddress};
    for (int s = 1; s <= 8; ++s)
        expected.append(w.form.Slot(s).Result);
    expected +=
        {w.form.BitBtnConnect,  w.form.BitBtnStartTest, w.form.BitBtnDisconnect, w.form.BitBtnExit,
         w.form.Slot(9).Result, w.form.Slot(10).Result, w.form.EditPort};
    QList<QWidget*> visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget());
    }
    QCOMPARE(visited, expected);
}

void TestMainWindow::applicationTitle_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("first left as it is")
        << QStringLiteral("/usr/bin/zyl-test-tool") << QStringLiteral("zyl-test-tool");
    QTest::newRow("cut at first dot")
        << QStringLiteral("/x/MyTool.Setup.exe") << QStringLiteral("Mytool");
    QTest::newRow("first kept") << QStringLiteral("aBC") << QStringLiteral("abc");
    QTest::newRow("dot first") << QStringLiteral("/x/.hidden") << QString();
}

void TestMainWindow::applicationTitle() {
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(ApplicationTitle(path), title);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
