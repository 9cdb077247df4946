#include "controls/accessible.h"

#include "controls/image.h"
#include "controls/label.h"

#include <QAccessibleWidget>

namespace {

// Without this both would be anonymous "client" areas to a screen reader.
// Chosen by type, so a renamed or derived control keeps its role.
QAccessibleInterface* ControlInterface(const QString&, QObject* object) {
    if (auto* label = qobject_cast<TLabel*>(object))
        return new QAccessibleWidget(label, QAccessible::StaticText);
    if (auto* image = qobject_cast<TImage*>(object))
        return new QAccessibleWidget(image, QAccessible::Graphic);
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
