#pragma once

#include "base/events.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

// A menu item: a command with a caption and a click handler.
class TMenuItem : public QAction {
    Q_OBJECT
public:
    TMenuItem(const QString& caption, QObject* parent);

    TNotifyEvent OnClick;
};

// The window's menu bar. Captions carry no accelerators ("&" shows as is).
class TMainMenu : public QMenuBar {
    Q_OBJECT
public:
    explicit TMainMenu(QWidget* parent);

    // A top-level menu.
    QMenu* AddMenu(const QString& caption);
    TMenuItem* AddItem(QMenu* menu, const QString& caption);
};
