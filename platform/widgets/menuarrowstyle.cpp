#include "platform/widgets/menuarrowstyle.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace {

// A chevron pointing right, or down, drawn only when shown: stroking brings
// the painter's path code and the maths library's tables into memory, and
// every menu bar asks for the icon when it is made.
class ArrowEngine : public QIconEngine
{
public:
    ArrowEngine(const QColor &color, bool down) : m_color(color), m_down(down) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 16.0, rect.height() / 16.0);
        if (m_down)
            painter->setTransform(QTransform(0, 1, 1, 0, 0, 0), true);
        painter->setPen(QPen(m_color, 1.5));
        painter->setBrush(Qt::NoBrush);
        QPainterPath path;
        for (const qreal at : {4.0, 8.0}) {
            path.moveTo(at, 4);
            path.lineTo(at + 4, 8);
            path.lineTo(at, 12);
        }
        painter->drawPath(path);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new ArrowEngine(m_color, m_down); }

private:
    QColor m_color;
    bool m_down;
};

} // namespace

QIcon MenuArrowStyle::standardIcon(StandardPixmap which, const QStyleOption *option,
                                   const QWidget *widget) const
{
    if (which == SP_ToolBarHorizontalExtensionButton ||
        which == SP_ToolBarVerticalExtensionButton) {
        const QPalette palette = widget != nullptr ? widget->palette() : standardPalette();
        return QIcon(new ArrowEngine(palette.color(QPalette::ButtonText),
                                     which == SP_ToolBarVerticalExtensionButton));
    }
    return QProxyStyle::standardIcon(which, option, widget);
}
