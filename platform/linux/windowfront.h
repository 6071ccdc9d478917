#pragma once

class QString;
class QWidget;

// Asks an X11 window manager (XWayland's included) to keep the window above
// the others, without the focus, or no longer. Does nothing off X11.
void keepAbove(QWidget *window, bool above);

// Brings the window in front with the focus, as far as the desktop allows,
// using the activation token a notification server handed over, if any.
void requestActivation(QWidget *window, const QString &token);
