#include "datetime/datematcher.h"

#include "datetime/datecompose.h"
#include "datetime/dategrammar.h"

#include <QChar>
#include <QDate>
#include <QStringView>

#include <vector>

namespace datevalue::detail {
namespace {

struct Fields
{
    int year = -1;
    int month = -1;
    int day = -1;
    int hour = -1;
    int minute = -1;
    int second = -1;
    int amPm = -1;
    bool twelveHour = false;
};

// The code point at pos (0 at the end), reading surrogate pairs whole: some
// scripts have their digits outside the basic plane.
char32_t codePointAt(QStringView text, qsizetype pos, qsizetype &length)
{
    length = 0;
    if (pos >= text.size())
        return 0;
    const QChar first = text.at(pos);
    if (first.isHighSurrogate() && pos + 1 < text.size() && text.at(pos + 1).isLowSurrogate()) {
        length = 2;
        return QChar::surrogateToUcs4(first, text.at(pos + 1));
    }
    length = 1;
    return first.unicode();
}

char32_t lastCodePoint(QStringView text)
{
    const qsizetype n = text.size();
    if (n >= 2 && text.at(n - 1).isLowSurrogate() && text.at(n - 2).isHighSurrogate())
        return QChar::surrogateToUcs4(text.at(n - 2), text.at(n - 1));
    return text.at(n - 1).unicode();
}

// Two-digit years: 00-49 are 2000-2049, 50-99 are 1950-1999. Three or four
// digits are taken as written and must be at least 100.
int yearFromDigits(int value, int digits)
{
    if (digits == 2)
        return value < 50 ? 2000 + value : 1900 + value;
    return value >= 100 ? value : -1;
}

// Matches one pattern at one position. Every element consumes greedily and
// never backtracks, so a match costs time linear in the text.
class Matcher
{
public:
    Matcher(QStringView text, const Names &names) : m_text(text), m_names(names) {}

    bool match(const Pattern &pattern, qsizetype from, qsizetype &end, Fields &fields) const
    {
        qsizetype pos = from;
        const std::vector<Element> &elements = pattern.elements;
        for (size_t i = 0; i < elements.size(); ++i) {
            const Element &element = elements[i];
            const bool dotFollows = i + 1 < elements.size() &&
                                    elements[i + 1].kind == Kind::Literal &&
                                    elements[i + 1].text.startsWith(u'.');
            if (!step(element, !dotFollows, pos, fields))
                return false;
        }
        end = pos;
        return true;
    }

private:
    QStringView m_text;
    const Names &m_names;

    bool step(const Element &element, bool dotAllowed, qsizetype &pos, Fields &fields) const
    {
        int value = 0;
        int digits = 0;
        switch (element.kind) {
        case Kind::Day:
        case Kind::Month:
        case Kind::Minute:
        case Kind::Second:
        case Kind::Hour:
            if (!readNumber(pos, element, value, digits))
                return false;
            if (element.kind == Kind::Day)
                fields.day = value;
            else if (element.kind == Kind::Month)
                fields.month = value;
            else if (element.kind == Kind::Minute)
                fields.minute = value;
            else if (element.kind == Kind::Second)
                fields.second = value;
            else {
                fields.hour = value;
                fields.twelveHour = element.twelveHour;
            }
            return true;
        case Kind::Year:
            if (!readNumber(pos, element, value, digits))
                return false;
            fields.year = yearFromDigits(value, digits);
            return fields.year >= 0;
        case Kind::MonthName:
            fields.month = readName(pos, m_names.months, dotAllowed);
            return fields.month > 0;
        case Kind::Weekday:
            return readName(pos, m_names.weekdays, dotAllowed) > 0;
        case Kind::AmPm:
            fields.amPm = readName(pos, m_names.amPm, false);
            return fields.amPm >= 0;
        case Kind::Literal:
            return readText(pos, element.text, element.blankOptional);
        case Kind::Blanks:
            return skipBlanks(pos) >= element.minBlanks;
        case Kind::Gap:
            if (pos < m_text.size() && element.text.contains(m_text.at(pos)))
                ++pos;
            return skipBlanks(pos) >= 1;
        }
        return false;
    }

    bool readNumber(qsizetype &pos, const Element &element, int &value, int &digits) const
    {
        value = 0;
        digits = 0;
        qsizetype length = 0;
        char32_t c = 0;
        while ((c = codePointAt(m_text, pos, length)) && QChar::isDigit(c)) {
            if (digits < 9)
                value = value * 10 + QChar::digitValue(c);
            ++digits;
            pos += length;
        }
        return digits >= element.minDigits && digits <= element.maxDigits;
    }

    qsizetype skipBlanks(qsizetype &pos) const
    {
        const qsizetype start = pos;
        while (pos < m_text.size() && m_text.at(pos).isSpace())
            ++pos;
        return pos - start;
    }

    bool readText(qsizetype &pos, QStringView text, bool blankOptional) const
    {
        qsizetype i = 0;
        while (i < text.size()) {
            if (text.at(i).isSpace()) {
                while (i < text.size() && text.at(i).isSpace())
                    ++i;
                if (skipBlanks(pos) == 0 && !blankOptional)
                    return false;
                continue;
            }
            if (pos >= m_text.size() || m_text.at(pos) != text.at(i))
                return false;
            ++pos;
            ++i;
        }
        return true;
    }

    bool endsWord(qsizetype pos) const
    {
        qsizetype length = 0;
        const char32_t next = codePointAt(m_text, pos, length);
        return next == 0 || (!QChar::isLetter(next) && !QChar::isMark(next));
    }

    // The value of the longest name at pos that ends a word, or -1.
    int readName(qsizetype &pos, const std::vector<Name> &names, bool dotAllowed) const
    {
        for (const Name &name : names) {
            qsizetype end = pos;
            if (!readText(end, name.text, true))
                continue;
            const char32_t last = lastCodePoint(name.text);
            if ((QChar::isLetter(last) || QChar::isMark(last)) && !endsWord(end))
                continue;
            if (dotAllowed && last != u'.' && end < m_text.size() && m_text.at(end) == u'.')
                ++end;
            pos = end;
            return name.value;
        }
        return -1;
    }
};

std::optional<QDate> dateOf(const Fields &fields)
{
    if (fields.year < 0 || fields.month < 0 || fields.day < 0)
        return std::nullopt;
    if (!QDate::isValid(fields.year, fields.month, fields.day))
        return std::nullopt;
    return QDate(fields.year, fields.month, fields.day);
}

std::optional<int> secondsOf(const Fields &fields)
{
    int hours = fields.hour;
    if (hours < 0)
        return std::nullopt;
    if (fields.twelveHour) {
        if (fields.amPm < 0 || hours < 1 || hours > 12)
            return std::nullopt;
        hours = hours % 12 + (fields.amPm == 1 ? 12 : 0);
    } else {
        if (hours > 23)
            return std::nullopt;
        if (fields.amPm >= 0 && (hours < 12) != (fields.amPm == 0))
            return std::nullopt;
    }
    const int minutes = fields.minute < 0 ? 0 : fields.minute;
    const int seconds = fields.second < 0 ? 0 : fields.second;
    if (minutes > 59 || seconds > 59)
        return std::nullopt;
    return (hours * 60 + minutes) * 60 + seconds;
}

std::optional<int> matchTime(const Matcher &matcher, const Grammar &grammar, qsizetype from,
                             qsizetype size)
{
    for (const Pattern &pattern : grammar.times) {
        Fields fields;
        qsizetype end = 0;
        if (!matcher.match(pattern, from, end, fields) || end != size)
            continue;
        if (std::optional<int> seconds = secondsOf(fields))
            return seconds;
    }
    return std::nullopt;
}

} // namespace

std::optional<DateValue> parseNormalized(const QString &text, const QLocale &locale)
{
    const Grammar &grammar = grammarFor(locale);
    const Matcher matcher(text, grammar.names);
    const qsizetype size = text.size();

    // A time alone first: where '.' separates both dates and times, an alarm
    // clock's "10.12.30" is more likely a time.
    if (std::optional<int> seconds = matchTime(matcher, grammar, 0, size))
        return compose(0, *seconds);

    for (const Pattern &pattern : grammar.dates) {
        Fields fields;
        qsizetype end = 0;
        if (!matcher.match(pattern, 0, end, fields))
            continue;
        const std::optional<QDate> date = dateOf(fields);
        if (!date)
            continue;
        const qint64 day = dayNumber(*date);
        if (end == size)
            return compose(day, 0);
        qsizetype timeFrom = end;
        if (pattern.iso && text.at(end) == QChar(u't'))
            ++timeFrom;
        else {
            while (timeFrom < size && text.at(timeFrom).isSpace())
                ++timeFrom;
            if (timeFrom == end)
                continue;
        }
        if (std::optional<int> seconds = matchTime(matcher, grammar, timeFrom, size))
            return compose(day, *seconds);
    }
    return std::nullopt;
}

} // namespace datevalue::detail
