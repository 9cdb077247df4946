#include "controls/menu.h"

#include "base/guard.h"

namespace {
QString Literal(QString caption) {
    return caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
}
} // namespace

TMenuItem::TMenuItem(const QString& caption, QObject* parent) : QAction(Literal(caption), parent) {
    connect(this, &QAction::triggered, this, [this] { Guarded([this] { OnClick(this); }); });
}

TMainMenu::TMainMenu(QWidget* parent) : QMenuBar(parent) {}

QMenu* TMainMenu::AddMenu(const QString& caption) {
    return addMenu(Literal(caption));
}

TMenuItem* TMainMenu::AddItem(QMenu* menu, const QString& caption) {
    auto* item = new TMenuItem(caption, menu);
    menu->addAction(item);
    return item;
}
