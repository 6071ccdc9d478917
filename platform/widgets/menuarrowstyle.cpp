#include "platform/widgets/menuarrowstyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

namespace {

// A chevron pointing right, or down.
QIcon drawnArrow(const QColor &color, bool down)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1.5));
    QPainterPath path;
    for (const qreal at : {4.0, 8.0}) {
        path.moveTo(at, 4);
        path.lineTo(at + 4, 8);
        path.lineTo(at, 12);
    }
    if (down)
        painter.setTransform(QTransform(0, 1, 1, 0, 0, 0));
    painter.drawPath(path);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

QIcon MenuArrowStyle::standardIcon(StandardPixmap which, const QStyleOption *option,
                                   const QWidget *widget) const
{
    if (which == SP_ToolBarHorizontalExtensionButton ||
        which == SP_ToolBarVerticalExtensionButton) {
        const QPalette palette = widget != nullptr ? widget->palette() : standardPalette();
        return drawnArrow(palette.color(QPalette::ButtonText),
                          which == SP_ToolBarVerticalExtensionButton);
    }
    return QProxyStyle::standardIcon(which, option, widget);
}
