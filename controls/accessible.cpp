#include "controls/accessible.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace {

// Without this both would be anonymous "client" areas to a screen reader.
QAccessibleInterface* ControlInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("TLabel"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StaticText);
    if (className == QLatin1String("TImage"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace

void InstallAccessibleRoles() {
    static const bool installed = [] {
        QAccessible::installFactory(ControlInterface);
        return true;
    }();
    Q_UNUSED(installed);
}
