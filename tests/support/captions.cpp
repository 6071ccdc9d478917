#include "support/captions.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <climits>

QString captionOverflow(const QWidget *control)
{
    QString text;
    QRect area;
    QSize needed;
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        text = label->text();
        area = label->contentsRect();
        const int wrap = label->wordWrap() ? Qt::TextWordWrap : 0;
        needed = label->fontMetrics()
                     .boundingRect(QRect(0, 0, area.width(), INT_MAX / 2),
                                   wrap | Qt::AlignLeft | Qt::AlignTop, text)
                     .size();
    } else if (const auto *button = qobject_cast<const QPushButton *>(control)) {
        text = button->text();
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text;
        area = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        needed = button->fontMetrics().size(Qt::TextShowMnemonic, text);
    } else {
        return QStringLiteral("%1 is neither a label nor a button").arg(control->objectName());
    }
    if (needed.width() <= area.width() && needed.height() <= area.height())
        return {};
    return QStringLiteral("\"%1\" needs %2x%3 px, has %4x%5")
        .arg(text)
        .arg(needed.width())
        .arg(needed.height())
        .arg(area.width())
        .arg(area.height());
}
