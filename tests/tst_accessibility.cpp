#include "app/about_window.h"
#include "controls/image.h"
#include "controls/menu.h"
#include "form_fixture.h"

#include <QAccessible>
#include <QTest>

namespace {

// What a screen reader is told about a widget.
QString SpokenName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}
QAccessible::Role SpokenRole(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->role() : QAccessible::NoRole;
}

// The controls an operator can see and a screen reader should name: labels
// with a caption, text fields, buttons and pictures.
QList<QWidget*> VisibleControls(QWidget* window) {
    QList<QWidget*> controls;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window) || widget->visibleRegion().isEmpty())
            continue;
        auto* label = qobject_cast<TLabel*>(widget);
        if ((label && !label->Caption().isEmpty()) || qobject_cast<TEdit*>(widget) ||
            qobject_cast<TBitBtn*>(widget) || qobject_cast<TImage*>(widget))
            controls.append(widget);
    }
    return controls;
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void resultFieldsFollowTheirLabels();
    void everyVisibleControlIsNamed();
};

void TestAccessibility::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestAccessibility::resultFieldsFollowTheirLabels() {
    FormFixture f(QByteArray("IP=127.0.0.1\r\nPort=3001\r\nRead &Firmware=[0A!?v]\r\n"
                             "Read Temp=[0A!?rt]\r\nPoll Controller=[0A!p]\r\n"));
    TForm1& form = f.form;
    const QString other = f.folder.Write(QStringLiteral("other.tst"),
                                         "IP=10.0.0.2\r\nPort=4000\r\nBrightness=[b]\r\n");
    const QStringList loaded{QStringLiteral("Read Firmware"), QStringLiteral("Read Temp"),
                             QStringLiteral("Poll Controller")};
    for (int s = 1; s <= 3; ++s) {
        QCOMPARE(form.Slot(s).Result->accessibleName(), loaded[s - 1]);
        QCOMPARE(SpokenName(form.Slot(s).Result), loaded[s - 1]);
    }

    AnswerOpenDialog(other);
    form.Open1->trigger();
    QCOMPARE(f.boxes.boxes.size(), 0);
    // Slot 1 takes the new item; the others keep the items they still show.
    QCOMPARE(SpokenName(form.Slot(1).Result), QStringLiteral("Brightness"));
    QCOMPARE(SpokenName(form.Slot(2).Result), QStringLiteral("Read Temp"));
    for (int s = 1; s <= kSlotCount; ++s)
        QCOMPARE(SpokenName(form.Slot(s).Result), form.Slot(s).Label->ShownText());
}

void TestAccessibility::everyVisibleControlIsNamed() {
    FormFixture f(1);
    TForm1& form = f.form;
    form.ShowCentred();
    form.About1Click(nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(form.FormAbout));

    QCOMPARE(SpokenName(form.EditAddress), QStringLiteral("IP Address"));
    QCOMPARE(SpokenName(form.EditPort), QStringLiteral("Port"));
    QCOMPARE(SpokenName(form.BitBtnStartTest), QStringLiteral("Start Test"));
    QCOMPARE(SpokenName(form.FormAbout->ButtonOK), QStringLiteral("OK"));
    QCOMPARE(SpokenName(form.FormAbout->Label3), QStringLiteral("QRW Test Tool"));
    QCOMPARE(SpokenRole(form.FormAbout->Label3), QAccessible::StaticText);
    QCOMPARE(SpokenRole(form.Image1), QAccessible::Graphic);
    QCOMPARE(SpokenRole(form.FormAbout->Image2), QAccessible::Graphic);

    for (QWidget* window : {static_cast<QWidget*>(&form), static_cast<QWidget*>(form.FormAbout)}) {
        const QList<QWidget*> controls = VisibleControls(window);
        QVERIFY(controls.size() >= 6);
        for (QWidget* control : controls)
            QVERIFY2(!SpokenName(control).isEmpty(), control->metaObject()->className());
    }
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
