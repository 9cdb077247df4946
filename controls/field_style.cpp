#include "controls/field_style.h"

#include "controls/edit.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QPointer>
#include <QStyleOptionFrame>

namespace {

// Everything of an option that the base style's panel may depend on.
QString PanelKey(const QStyleOptionFrame& frame, qreal ratio) {
    QString key = QStringLiteral("zyl-field-%1x%2@%3-%4-%5-%6-%7")
                      .arg(frame.rect.width())
                      .arg(frame.rect.height())
                      .arg(ratio)
                      .arg(uint(frame.state))
                      .arg(frame.lineWidth)
                      .arg(frame.midLineWidth)
                      .arg(int(frame.direction));
    for (int role = 0; role < QPalette::NColorRoles; ++role)
        key += QLatin1Char('-') +
               QString::number(frame.palette.color(QPalette::ColorRole(role)).rgba64(), 16);
    return key;
}

} // namespace

TFieldStyle::TFieldStyle() : QProxyStyle() {}

TFieldStyle* TFieldStyle::Shared() {
    static QPointer<TFieldStyle> shared;
    if (!shared) {
        shared = new TFieldStyle;
        shared->setParent(QCoreApplication::instance());
    }
    return shared;
}

void TFieldStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                QPainter* painter, const QWidget* widget) const {
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    if (element != PE_PanelLineEdit || !frame || !qobject_cast<const TEdit*>(widget) ||
        frame->palette.base().style() != Qt::SolidPattern || frame->rect.isEmpty())
        return QProxyStyle::drawPrimitive(element, option, painter, widget);
    const qreal ratio = painter->device()->devicePixelRatio();
    const QString key = PanelKey(*frame, ratio);
    QPixmap panel;
    if (!QPixmapCache::find(key, &panel)) {
        panel = QPixmap(frame->rect.size() * ratio);
        panel.setDevicePixelRatio(ratio);
        panel.fill(Qt::transparent);
        QStyleOptionFrame atOrigin(*frame);
        atOrigin.rect.moveTopLeft({0, 0});
        QPainter onPanel(&panel);
        QProxyStyle::drawPrimitive(element, &atOrigin, &onPanel, widget);
        onPanel.end();
        QPixmapCache::insert(key, panel);
    }
    painter->drawPixmap(frame->rect.topLeft(), panel);
}
