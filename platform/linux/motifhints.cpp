#include "platform/linux/motifhints.h"

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
    // One round trip to the server, at the first window that needs it.
    static const xcb_atom_t atom = [connection] {
        static constexpr char kName[] = "_MOTIF_WM_HINTS";
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }();
    if (atom == XCB_ATOM_NONE)
        return;
    // flags: functions and decorations given; functions: move only;
    // decorations: border and title.
    constexpr std::uint32_t kFunctions = 1, kDecorations = 2, kMove = 4, kBorder = 2, kTitle = 8;
    const std::array<std::uint32_t, 5> hints{kFunctions | kDecorations, kMove, kBorder | kTitle, 0,
                                             0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), atom,
                        atom, 32, hints.size(), hints.data());
    xcb_flush(connection);
}
