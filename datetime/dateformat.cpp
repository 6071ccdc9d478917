#include "datetime/dateformat.h"

#include "datetime/datevalue.h"

#include <QStringView>

#include <algorithm>

namespace datevalue {
namespace detail {
namespace {

int longestField(QChar letter)
{
    switch (letter.unicode()) {
    case 'd':
    case 'M':
    case 'y':
        return 4;
    case 'z':
        return 3;
    case 't':
        return 1;
    default:
        return 2;
    }
}

QString quoteLiteral(const QString &text)
{
    const bool hasLetter =
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
    const bool hasQuote = text.contains(u'\'');
    if (!hasLetter && !hasQuote)
        return text;
    // Outside quotes '' is one quote; inside, a lone quote run would be misread.
    if (text.count(u'\'') == text.size())
        return QString(text).replace(QStringLiteral("'"), QStringLiteral("''"));
    return u'\'' + QString(text).replace(QStringLiteral("'"), QStringLiteral("''")) + u'\'';
}

QString joinFormat(const std::vector<FormatToken> &tokens)
{
    QString out;
    for (const FormatToken &token : tokens)
        out += token.isField ? token.text : quoteLiteral(token.text);
    return out;
}

} // namespace

bool isFieldToken(const FormatToken &token, char16_t letter)
{
    return token.isField && token.letter == QChar(letter);
}

// Splits a format the way Qt reads it: quotes delimit literals, '' is a quote.
std::vector<FormatToken> tokenize(const QString &format)
{
    std::vector<FormatToken> tokens;
    auto appendLiteral = [&tokens](const QString &text) {
        if (text.isEmpty())
            return;
        if (!tokens.empty() && !tokens.back().isField)
            tokens.back().text += text;
        else
            tokens.push_back({false, QChar(), 0, text});
    };
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            if (i + 1 < n && format.at(i + 1) == u'\'') {
                appendLiteral(QStringLiteral("'"));
                i += 2;
                continue;
            }
            QString quoted;
            ++i;
            while (i < n) {
                if (format.at(i) == u'\'') {
                    if (i + 1 < n && format.at(i + 1) == u'\'') {
                        quoted += u'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                quoted += format.at(i++);
            }
            appendLiteral(quoted);
            continue;
        }
        if (QStringView(u"dMyhHmszt").contains(c)) {
            const int limit = longestField(c);
            int count = 1;
            while (i + count < n && format.at(i + count) == c && count < limit)
                ++count;
            tokens.push_back({true, c, count, format.mid(i, count)});
            i += count;
            continue;
        }
        if (c == u'a' || c == u'A') {
            const bool pair = i + 1 < n && (format.at(i + 1) == u'p' || format.at(i + 1) == u'P');
            const int count = pair ? 2 : 1;
            tokens.push_back({true, QChar(u'a'), count, format.mid(i, count)});
            i += count;
            continue;
        }
        appendLiteral(QString(c));
        ++i;
    }
    return tokens;
}

std::vector<FormatToken> removeTimeZone(std::vector<FormatToken> tokens)
{
    std::vector<FormatToken> out;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (!isFieldToken(tokens[i], u't')) {
            if (tokens[i].isField || !tokens[i].text.isEmpty())
                out.push_back(tokens[i]);
            continue;
        }
        bool stripped = false;
        if (!out.empty() && !out.back().isField) {
            QString &text = out.back().text;
            while (!text.isEmpty() &&
                   (text.back().isSpace() || QStringView(u"([,").contains(text.back()))) {
                text.chop(1);
                stripped = true;
            }
            if (text.isEmpty())
                out.pop_back();
        }
        if (i + 1 < tokens.size() && !tokens[i + 1].isField) {
            QString &text = tokens[i + 1].text;
            while (!text.isEmpty() &&
                   (text.front().isSpace() || QStringView(u")],").contains(text.front()))) {
                text.remove(0, 1);
                stripped = true;
            }
        }
        // Two fields that the zone kept apart must not run together.
        const bool nextIsField =
            i + 1 < tokens.size() &&
            (tokens[i + 1].isField || (tokens[i + 1].text.isEmpty() && i + 2 < tokens.size()));
        if (stripped && nextIsField && !out.empty() && out.back().isField)
            out.push_back({false, QChar(), 0, QStringLiteral(" ")});
    }
    return out;
}

} // namespace detail

using detail::FormatToken;

QString withFourDigitYear(const QString &dateFormat)
{
    std::vector<FormatToken> tokens = detail::tokenize(dateFormat);
    for (FormatToken &token : tokens) {
        if (detail::isFieldToken(token, u'y') && token.count < 4) {
            token.count = 4;
            token.text = QStringLiteral("yyyy");
        }
    }
    return detail::joinFormat(tokens);
}

QString withoutTimeZone(const QString &timeFormat)
{
    return detail::joinFormat(detail::removeTimeZone(detail::tokenize(timeFormat)));
}

} // namespace datevalue
