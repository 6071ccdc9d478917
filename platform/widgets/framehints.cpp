#include "platform/widgets/framehints.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>

void offerNoWindowButtons(QWidget *window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    static constexpr char kName[] = "_MOTIF_WM_HINTS";
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, sizeof kName - 1, kName);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    // flags: functions and decorations given; functions: move only;
    // decorations: border and title.
    constexpr std::uint32_t kFunctions = 1, kDecorations = 2, kMove = 4, kBorder = 2, kTitle = 8;
    const std::array<std::uint32_t, 5> hints{kFunctions | kDecorations, kMove, kBorder | kTitle, 0,
                                             0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), atom,
                        atom, 32, hints.size(), hints.data());
    xcb_flush(connection);
}
