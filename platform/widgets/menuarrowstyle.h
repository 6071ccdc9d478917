#pragma once

#include <QProxyStyle>

// The desktop's own style, but for the arrow of a menu bar's overflow button.
// Qt's picture of that arrow is a PNG whose loading asks every image plugin
// (SVG, JPEG, GIF, ICO and their libraries) to guess its format, and every
// menu bar asks for it when it is made: half a megabyte and several
// libraries at start-up, for a button a fixed-size window never shows.
class MenuArrowStyle : public QProxyStyle
{
public:
    QIcon standardIcon(StandardPixmap which, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
