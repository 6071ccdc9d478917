#include "platform/widgets/layout.h"

#include "platform/storabletext.h"

#include <QDirIterator>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QResource>
#include <QValidator>

#include <limits>

namespace {

// Shared by every button: Qt's own default-button rules would press the last
// focused button from a text box, or nothing at all outside a dialog.
class EnterPressesFocusedButton : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            auto *button = qobject_cast<QPushButton *>(watched);
            if (button && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

QFont defaultDialogFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(8.25);
    return font;
}

QFont arialFont(qreal pointSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QIcon drawnIcon(const QString &name)
{
    QIcon icon;
    QDirIterator sizes(QStringLiteral(":/icons"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (sizes.hasNext()) {
        // Square, premultiplied ARGB32 pixels in a folder named for their
        // side, stored uncompressed: shown straight from the executable's
        // pages, with no image decoder loaded.
        const QString folder = sizes.next();
        const int side = sizes.fileName().section(QLatin1Char('x'), 0, 0).toInt();
        const QResource pixels(folder + QStringLiteral("/apps/") + name +
                               QStringLiteral(".argb32"));
        if (side <= 0 || !pixels.isValid() ||
            pixels.compressionAlgorithm() != QResource::NoCompression ||
            pixels.size() != qint64(side) * side * 4)
            continue;
        const QImage image(pixels.data(), side, side, side * 4,
                           QImage::Format_ARGB32_Premultiplied);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

void takeEnterWhenFocused(QPushButton *button)
{
    button->setAutoDefault(false);
    button->setDefault(false);
    button->installEventFilter(new EnterPressesFocusedButton(button));
}

QPushButton *makeButton(QWidget *parent, const QString &caption, const QRect &geometry)
{
    auto *button = new QPushButton(caption, parent);
    button->setGeometry(geometry);
    takeEnterWhenFocused(button);
    return button;
}

QLabel *makeLabel(QWidget *parent, const QString &caption, const QRect &geometry)
{
    auto *label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setGeometry(geometry);
    return label;
}

namespace {

// A paste, or a text set from code, loses what the settings file could not
// hold, before any change handler sees the text; the cursor stays after the
// same characters.
class StorableTextValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        if (storabletext::firstUnstorable(input) >= 0) {
            pos = int(storabletext::storable(QStringView(input).first(pos)).size());
            input = storabletext::storable(input);
        }
        return Acceptable;
    }
};

} // namespace

QLineEdit *makeTextBox(QWidget *parent, const QRect &geometry)
{
    auto *box = new QLineEdit(parent);
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setValidator(new StorableTextValidator(box));
    box->setGeometry(geometry);
    return box;
}
