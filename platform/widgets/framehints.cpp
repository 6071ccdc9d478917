#include "platform/widgets/framehints.h"

#include <QGuiApplication>

Qt::WindowFlags noWindowButtonsFlags()
{
    if (QGuiApplication::platformName().startsWith(u"wayland"))
        return Qt::FramelessWindowHint;
    return {};
}
