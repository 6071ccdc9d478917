#include "platform/linux/windowfront.h"

#include <QGuiApplication>
#include <QString>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

xcb_atom_t atom(xcb_connection_t *connection, const QByteArray &name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, name.size(), name.constData()), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(u"wayland");
}

} // namespace

void keepAbove(QWidget *window, bool above)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection || !window->windowHandle())
        return;
    // A mapped window's state belongs to the window manager: it is asked, as
    // EWMH asks, by a message to the root.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(window->winId());
    message.type = atom(connection, "_NET_WM_STATE");
    message.data.data32[0] = above ? 1 : 0;
    message.data.data32[1] = atom(connection, "_NET_WM_STATE_ABOVE");
    message.data.data32[3] = 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
}

void requestActivation(QWidget *window, const QString &token)
{
    if (onWayland()) {
        // Qt hands this over at the next activation request. Without one, and
        // with none of the program's windows focused, Qt sends no request at
        // all; a token the compositor never issued still makes it show that
        // the window wants attention (GNOME's "is ready", Plasma's task).
        if (!token.isEmpty())
            qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
        else if (!QGuiApplication::focusWindow())
            qputenv("XDG_ACTIVATION_TOKEN", "roustabell-alarm");
    } else if (xcb_connection_t *connection = x11Connection(); connection && !token.isEmpty()) {
        // The window manager matches the startup id to the launch the token
        // stands for, which lets it hand over the focus.
        const QByteArray id = token.toUtf8();
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                            atom(connection, "_NET_STARTUP_ID"), atom(connection, "UTF8_STRING"), 8,
                            id.size(), id.constData());
        xcb_flush(connection);
    }
    window->raise();
    window->activateWindow();
}
