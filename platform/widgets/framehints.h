#pragma once

#include <Qt>

class QWidget;

// Asks the window manager to draw a title and border only and to offer no
// minimize, maximize or close on the window: Qt's X11 backend, given no button
// hints, allows every function, and window managers such as openbox then
// offer minimize and maximize anyway. Does nothing off X11. Call it between
// the native window's creation and its mapping (in showEvent).
void offerNoWindowButtons(QWidget *window);

// The window flags, beyond the usual ones, that a window offering no
// minimize, maximize or close needs on this platform. On Wayland the frame is
// Qt's own (or the compositor's, which knows nothing of the flags), and Qt's
// draws all three buttons whatever the flags say, so only a window without
// that frame offers none (nor a title, nor a way to drag it).
Qt::WindowFlags noWindowButtonsFlags();
