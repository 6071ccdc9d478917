#pragma once

class QWidget;

// Asks the window manager to draw a title and border only and to offer no
// minimize, maximize or close on the window: Qt's X11 backend, given no button
// hints, allows every function, and window managers such as openbox then
// offer minimize and maximize anyway. Does nothing off X11. Call it between
// the native window's creation and its mapping (in showEvent).
void offerNoWindowButtons(QWidget *window);
