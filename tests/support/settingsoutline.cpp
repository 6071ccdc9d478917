#include "support/settingsoutline.h"

#include <QXmlStreamReader>

QStringList outline(const QByteArray &bytes)
{
    QXmlStreamReader reader(bytes);
    struct Open
    {
        qsizetype line;
        bool hasChild;
        QString text;
    };
    QList<Open> open;
    QStringList lines;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (!open.isEmpty())
                open.last().hasChild = true;
            lines << QString(open.size(), u'.') + reader.name().toString();
            open.append({lines.size() - 1, false, {}});
            break;
        case QXmlStreamReader::Characters:
            if (!open.isEmpty())
                open.last().text += reader.text().toString();
            break;
        case QXmlStreamReader::EndElement: {
            const Open closed = open.takeLast();
            if (!closed.hasChild)
                lines[closed.line] += u'=' + closed.text;
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError())
        lines << "ERROR: " + reader.errorString();
    return lines;
}
