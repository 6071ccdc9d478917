#include "platform/filelookup.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

bool isOrdinaryFile(const QFileInfo &info)
{
    return info.isFile() && !info.isHidden();
}

// Only '*' and '?' are wildcards; brackets and everything else match themselves.
QRegularExpression wildcardExpression(const QString &namePattern)
{
    QString expression;
    expression.reserve(namePattern.size() * 2 + 4);
    for (const QChar c : namePattern) {
        if (c == QLatin1Char('*'))
            expression += QLatin1String(".*");
        else if (c == QLatin1Char('?'))
            expression += QLatin1Char('.');
        else
            expression += QRegularExpression::escape(QString(c));
    }
    // "*.wav" finds BELL.WAV too, as people expect of a wildcard.
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                              QRegularExpression::DotMatchesEverythingOption |
                                  QRegularExpression::CaseInsensitiveOption);
}

} // namespace

QString firstMatchingFileName(const QString &pattern)
{
    if (pattern.isEmpty() || pattern.contains(QChar(0)))
        return {};
    const qsizetype slash = pattern.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : pattern.left(slash + 1);
    const QString namePattern = slash < 0 ? pattern : pattern.mid(slash + 1);
    if (namePattern.isEmpty())
        return {};

    const bool wild =
        namePattern.contains(QLatin1Char('*')) || namePattern.contains(QLatin1Char('?'));
    if (!wild) {
        const QFileInfo info(pattern);
        return isOrdinaryFile(info) ? info.fileName() : QString();
    }

    const QRegularExpression matcher = wildcardExpression(namePattern);
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (isOrdinaryFile(entry) && matcher.match(entry.fileName()).hasMatch())
            return entry.fileName();
    }
    return {};
}
