#pragma once

#include <QFont>
#include <QIcon>
#include <QRect>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Layouts are designed in twips; 15 twips make one logical pixel.
constexpr int twips(int value)
{
    return (value + 7) / 15;
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

// The windows' small sans-serif dialog face, at 8.25 pt; the twips assume it.
QFont defaultDialogFont();
// A named face (Arial and friends) at a size, with a metric-compatible fallback.
QFont arialFont(qreal pointSize, bool bold = false);

// A window icon from the images drawn at build time, every size of them, as
// raw premultiplied pixels (":/icons/<n>x<n>/apps/<name>.argb32"), so that no
// image decoder is loaded to show them.
QIcon drawnIcon(const QString &name);

// A button that takes Enter while it holds the focus, and only then: the one
// Enter rule of every window. A window that wants a default button (pressed
// by Enter from anywhere) says so with setDefault.
QPushButton *makeButton(QWidget *parent, const QString &caption, const QRect &geometry);
// Makes an existing button follow the same rule.
void takeEnterWhenFocused(QPushButton *button);

// A plain-text label, top left aligned, wrapping at its width.
QLabel *makeLabel(QWidget *parent, const QString &caption, const QRect &geometry);

// A one-line text box that takes a text of any length (Qt's default maximum
// would cut a longer text, also one set from code), and no character the
// settings file cannot hold (platform/storabletext.h).
QLineEdit *makeTextBox(QWidget *parent, const QRect &geometry);
