#include "platform/date/datevalue.h"

#include <QChar>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cmath>
#include <vector>

namespace datevalue {
namespace {

// Julian day number of 1899-12-30, day 0 of a date value.
constexpr qint64 kEpochJulianDay = 2415019;
constexpr int kSecondsPerDay = 86400;
// Beyond this the day number no longer fits the calendar comfortably.
constexpr double kLargestDay = 1e9;
// Longer texts are refused outright, so that no input can make parsing slow.
constexpr qsizetype kMaxInputLength = 200;

// The one formula for every value, so that equal moments compare equal.
DateValue compose(qint64 day, int seconds)
{
    return static_cast<double>(day) + seconds / static_cast<double>(kSecondsPerDay);
}

struct Split
{
    QDate date;
    int seconds = 0;
};

std::optional<Split> split(DateValue value)
{
    if (!std::isfinite(value) || std::fabs(value) > kLargestDay)
        return std::nullopt;
    qint64 day = static_cast<qint64>(std::floor(value));
    qint64 seconds = std::llround((value - static_cast<double>(day)) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) {
        ++day;
        seconds -= kSecondsPerDay;
    }
    return Split{QDate::fromJulianDay(kEpochJulianDay + day), static_cast<int>(seconds)};
}

// ---------------------------------------------------------------- formats

// One field or one literal run of a Qt date/time format string.
struct FormatToken
{
    bool isField = false;
    QChar letter; // the field letter; 'a' for every AM/PM spelling
    int count = 0;
    QString text; // the field as written, or the literal text unquoted
};

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

// ---------------------------------------------------------------- parsing

// Case folded, without invisible format marks (bidi marks and the like), so
// that texts and the locale's words compare character by character.
QString normalized(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4()) {
        if (QChar::category(c) == QChar::Other_Format)
            continue;
        const char32_t folded = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(folded)) {
            out += QChar(QChar::highSurrogate(folded));
            out += QChar(QChar::lowSurrogate(folded));
        } else {
            out += QChar(char16_t(folded));
        }
    }
    return out;
}

struct Name
{
    QString text;
    int value = 0;
};

struct Names
{
    std::vector<Name> months;
    std::vector<Name> weekdays;
    std::vector<Name> amPm; // value 0 is AM, 1 is PM
};

void addName(std::vector<Name> &names, const QString &raw, int value)
{
    const QString text = normalized(raw).trimmed();
    if (text.isEmpty())
        return;
    auto add = [&names, value](const QString &candidate) {
        if (candidate.isEmpty())
            return;
        for (const Name &name : names) {
            if (name.text == candidate)
                return;
        }
        names.push_back({candidate, value});
    };
    add(text);
    // The trailing dot of an abbreviation may be left out.
    if (text.endsWith(u'.'))
        add(text.chopped(1));
}

void longestFirst(std::vector<Name> &names)
{
    std::stable_sort(names.begin(), names.end(),
                     [](const Name &a, const Name &b) { return a.text.size() > b.text.size(); });
}

Names localeNames(const QLocale &locale)
{
    Names names;
    for (int month = 1; month <= 12; ++month) {
        for (QLocale::FormatType type : {QLocale::LongFormat, QLocale::ShortFormat}) {
            addName(names.months, locale.monthName(month, type), month);
            addName(names.months, locale.standaloneMonthName(month, type), month);
        }
    }
    for (int day = 1; day <= 7; ++day) {
        for (QLocale::FormatType type : {QLocale::LongFormat, QLocale::ShortFormat}) {
            addName(names.weekdays, locale.dayName(day, type), day);
            addName(names.weekdays, locale.standaloneDayName(day, type), day);
        }
    }
    addName(names.amPm, locale.amText(), 0);
    addName(names.amPm, locale.pmText(), 1);
    addName(names.amPm, QStringLiteral("AM"), 0);
    addName(names.amPm, QStringLiteral("PM"), 1);
    longestFirst(names.months);
    longestFirst(names.weekdays);
    longestFirst(names.amPm);
    return names;
}

enum class Kind {
    Day,
    Month,
    MonthName,
    Year,
    Weekday,
    Hour,
    Minute,
    Second,
    AmPm,
    Literal, // text; its blanks match one or more blanks (none if blankOptional)
    Blanks,  // at least minBlanks blanks
    Gap,     // at most one of the characters in text, then at least one blank
};

struct Element
{
    Kind kind = Kind::Literal;
    int minDigits = 1;
    int maxDigits = 2;
    bool twelveHour = false;
    QString text;
    bool blankOptional = false;
    int minBlanks = 0;
};

Element number(Kind kind, int minDigits = 1, int maxDigits = 2)
{
    Element element;
    element.kind = kind;
    element.minDigits = minDigits;
    element.maxDigits = maxDigits;
    return element;
}

Element hour(bool twelveHour)
{
    Element element = number(Kind::Hour);
    element.twelveHour = twelveHour;
    return element;
}

Element of(Kind kind)
{
    Element element;
    element.kind = kind;
    return element;
}

Element literal(const QString &text, bool blankOptional = false)
{
    Element element;
    element.kind = Kind::Literal;
    element.text = normalized(text);
    element.blankOptional = blankOptional;
    return element;
}

Element blanks(int minimum)
{
    Element element;
    element.kind = Kind::Blanks;
    element.minBlanks = minimum;
    return element;
}

Element gap(const QString &punctuation)
{
    Element element;
    element.kind = Kind::Gap;
    element.text = punctuation;
    return element;
}

struct Pattern
{
    std::vector<Element> elements;
    bool iso = false; // may be joined to its time by 'T'
};

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

// A pattern that reads a locale format as Qt writes it, or nothing when the
// format holds fields a date (or a time) cannot be read from.
std::optional<Pattern> patternFromFormat(const std::vector<FormatToken> &tokens, bool forDate)
{
    const bool hasAmPm = std::any_of(tokens.begin(), tokens.end(),
                                     [](const FormatToken &t) { return isFieldToken(t, u'a'); });
    Pattern pattern;
    bool day = false, month = false, year = false, hours = false, minutes = false;
    bool twelveHour = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const FormatToken &token = tokens[i];
        if (!token.isField) {
            QString text = token.text;
            // The text is trimmed, so outer blanks can never be there.
            if (i == 0)
                while (!text.isEmpty() && text.front().isSpace())
                    text.remove(0, 1);
            if (i + 1 == tokens.size())
                while (!text.isEmpty() && text.back().isSpace())
                    text.chop(1);
            const bool nearAmPm = (i > 0 && isFieldToken(tokens[i - 1], u'a')) ||
                                  (i + 1 < tokens.size() && isFieldToken(tokens[i + 1], u'a'));
            Element element = literal(text, nearAmPm);
            if (!element.text.isEmpty())
                pattern.elements.push_back(element);
            continue;
        }
        const bool wide = token.count >= 3;
        switch (token.letter.unicode()) {
        case 'd':
            pattern.elements.push_back(wide ? of(Kind::Weekday) : number(Kind::Day));
            day = day || !wide;
            break;
        case 'M':
            pattern.elements.push_back(wide ? of(Kind::MonthName) : number(Kind::Month));
            month = true;
            break;
        case 'y':
            pattern.elements.push_back(number(Kind::Year, 2, 4));
            year = true;
            break;
        case 'h':
        case 'H':
            twelveHour = token.letter == u'h' && hasAmPm;
            pattern.elements.push_back(hour(twelveHour));
            hours = true;
            break;
        case 'm':
            pattern.elements.push_back(number(Kind::Minute, token.count, 2));
            minutes = true;
            break;
        case 's':
            pattern.elements.push_back(number(Kind::Second, token.count, 2));
            break;
        case 'a':
            pattern.elements.push_back(of(Kind::AmPm));
            break;
        default: // milliseconds, zones: nothing a typed text would hold
            return std::nullopt;
        }
    }
    if (forDate ? !(day && month && year && !hours && !minutes)
                : !(hours && minutes && !day && !month && !year))
        return std::nullopt;
    return pattern;
}

struct Grammar
{
    Names names;
    std::vector<Pattern> dates;
    std::vector<Pattern> times;
};

void addFormatPattern(std::vector<Pattern> &patterns, const std::vector<FormatToken> &tokens,
                      bool forDate)
{
    if (std::optional<Pattern> pattern = patternFromFormat(tokens, forDate))
        patterns.push_back(*pattern);
}

bool isWeekdayToken(const FormatToken &token)
{
    return isFieldToken(token, u'd') && token.count >= 3;
}

void addDatePatterns(Grammar &grammar, const QLocale &locale)
{
    const std::vector<FormatToken> shortTokens = tokenize(locale.dateFormat(QLocale::ShortFormat));
    addFormatPattern(grammar.dates, shortTokens, true);

    // Three numbers in the locale's order of day, month and year.
    std::vector<std::pair<qsizetype, Element>> order;
    bool haveDay = false, haveMonth = false, haveYear = false;
    for (size_t i = 0; i < shortTokens.size(); ++i) {
        const FormatToken &token = shortTokens[i];
        if (isFieldToken(token, u'd') && token.count <= 2 && !haveDay) {
            order.push_back({qsizetype(i), number(Kind::Day)});
            haveDay = true;
        } else if (isFieldToken(token, u'M') && !haveMonth) {
            order.push_back({qsizetype(i), number(Kind::Month)});
            haveMonth = true;
        } else if (isFieldToken(token, u'y') && !haveYear) {
            order.push_back({qsizetype(i), number(Kind::Year, 2, 4)});
            haveYear = true;
        }
    }
    if (order.size() == 3) {
        for (const QString &separator :
             {QStringLiteral("/"), QStringLiteral("-"), QStringLiteral(".")}) {
            Pattern pattern;
            pattern.elements = {order[0].second, literal(separator), order[1].second,
                                literal(separator), order[2].second};
            grammar.dates.push_back(pattern);
        }
    }

    Pattern iso;
    iso.elements = {number(Kind::Year, 4, 4), literal(QStringLiteral("-")), number(Kind::Month),
                    literal(QStringLiteral("-")), number(Kind::Day)};
    iso.iso = true;
    grammar.dates.push_back(iso);

    // Month names: "December 25, 2030", "25. Dezember 2030", after an optional weekday.
    const std::vector<Element> monthFirst = {of(Kind::MonthName), blanks(1), number(Kind::Day),
                                             gap(QStringLiteral(",")), number(Kind::Year, 2, 4)};
    const std::vector<Element> dayFirst = {number(Kind::Day), gap(QStringLiteral(".")),
                                           of(Kind::MonthName), gap(QStringLiteral(",")),
                                           number(Kind::Year, 2, 4)};
    for (const std::vector<Element> &form : {monthFirst, dayFirst}) {
        Pattern plain;
        plain.elements = form;
        grammar.dates.push_back(plain);
        Pattern withWeekday;
        withWeekday.elements = {of(Kind::Weekday), gap(QStringLiteral(","))};
        withWeekday.elements.insert(withWeekday.elements.end(), form.begin(), form.end());
        grammar.dates.push_back(withWeekday);
    }

    // The long date as the locale writes it, also without its weekday. Only
    // the blanks and commas beside the weekday go with it ("日", "25." stay).
    const std::vector<FormatToken> longTokens = tokenize(locale.dateFormat(QLocale::LongFormat));
    addFormatPattern(grammar.dates, longTokens, true);
    auto isSeparator = [](QChar c) { return c.isSpace() || QStringView(u",،、，").contains(c); };
    if (longTokens.size() > 1 && isWeekdayToken(longTokens.front())) {
        std::vector<FormatToken> rest(longTokens.begin() + 1, longTokens.end());
        if (!rest.front().isField) {
            QString &text = rest.front().text;
            while (!text.isEmpty() && isSeparator(text.front()))
                text.remove(0, 1);
        }
        addFormatPattern(grammar.dates, rest, true);
    }
    if (longTokens.size() > 1 && isWeekdayToken(longTokens.back())) {
        std::vector<FormatToken> rest(longTokens.begin(), longTokens.end() - 1);
        if (!rest.back().isField) {
            QString &text = rest.back().text;
            while (!text.isEmpty() && isSeparator(text.back()))
                text.chop(1);
        }
        addFormatPattern(grammar.dates, rest, true);
    }
}

void addTimePatterns(Grammar &grammar, const QLocale &locale)
{
    const std::vector<FormatToken> shortTokens =
        removeTimeZone(tokenize(locale.timeFormat(QLocale::ShortFormat)));
    const std::vector<FormatToken> longTokens =
        removeTimeZone(tokenize(locale.timeFormat(QLocale::LongFormat)));

    // The locale's separator between hours and minutes, when it is punctuation.
    QStringList separators = {QStringLiteral(":")};
    bool amPmFirst = false;
    for (const std::vector<FormatToken> *tokens : {&shortTokens, &longTokens}) {
        bool seenHour = false;
        for (size_t i = 0; i < tokens->size(); ++i) {
            const FormatToken &token = (*tokens)[i];
            if (isFieldToken(token, u'a') && !seenHour)
                amPmFirst = true;
            if (!(isFieldToken(token, u'h') || isFieldToken(token, u'H')) || seenHour)
                continue;
            seenHour = true;
            if (i + 2 >= tokens->size() || (*tokens)[i + 1].isField ||
                !isFieldToken((*tokens)[i + 2], u'm'))
                continue;
            const QString separator = normalized((*tokens)[i + 1].text.trimmed());
            const bool punctuation = !separator.isEmpty() &&
                                     std::none_of(separator.begin(), separator.end(), [](QChar c) {
                                         return c.isLetterOrNumber() || c.isSpace();
                                     });
            if (punctuation && !separators.contains(separator))
                separators.append(separator);
        }
    }

    for (const QString &separator : separators) {
        for (bool withSeconds : {false, true}) {
            std::vector<Element> clock = {literal(separator), number(Kind::Minute, 2, 2)};
            if (withSeconds) {
                clock.push_back(literal(separator));
                clock.push_back(number(Kind::Second, 2, 2));
            }
            Pattern twentyFour;
            twentyFour.elements = {hour(false)};
            twentyFour.elements.insert(twentyFour.elements.end(), clock.begin(), clock.end());
            grammar.times.push_back(twentyFour);

            Pattern amPmAfter;
            amPmAfter.elements = {hour(true)};
            amPmAfter.elements.insert(amPmAfter.elements.end(), clock.begin(), clock.end());
            amPmAfter.elements.push_back(blanks(0));
            amPmAfter.elements.push_back(of(Kind::AmPm));
            grammar.times.push_back(amPmAfter);

            if (amPmFirst) {
                Pattern amPmBefore;
                amPmBefore.elements = {of(Kind::AmPm), blanks(0), hour(true)};
                amPmBefore.elements.insert(amPmBefore.elements.end(), clock.begin(), clock.end());
                grammar.times.push_back(amPmBefore);
            }
        }
    }
    Pattern hourOnly;
    hourOnly.elements = {hour(true), blanks(0), of(Kind::AmPm)};
    grammar.times.push_back(hourOnly);
    if (amPmFirst) {
        Pattern hourOnlyBefore;
        hourOnlyBefore.elements = {of(Kind::AmPm), blanks(0), hour(true)};
        grammar.times.push_back(hourOnlyBefore);
    }

    addFormatPattern(grammar.times, shortTokens, false);
    addFormatPattern(grammar.times, longTokens, false);
}

Grammar buildGrammar(const QLocale &locale)
{
    Grammar grammar;
    grammar.names = localeNames(locale);
    addDatePatterns(grammar, locale);
    addTimePatterns(grammar, locale);
    return grammar;
}

// The text box is parsed at every keystroke with the same locale; keep the
// last grammar. Keyed by what the grammar is built from rather than by
// QLocale equality, since a system locale may take its formats elsewhere.
const Grammar &grammarFor(const QLocale &locale)
{
    thread_local QString cachedKey;
    thread_local Grammar cached;
    const QChar unit(u'\x1f');
    const QString key = locale.name() + unit + locale.dateFormat(QLocale::ShortFormat) + unit +
                        locale.dateFormat(QLocale::LongFormat) + unit +
                        locale.timeFormat(QLocale::ShortFormat) + unit +
                        locale.timeFormat(QLocale::LongFormat) + unit + locale.amText() + unit +
                        locale.pmText() + unit + locale.monthName(1) + unit + locale.dayName(1);
    if (key != cachedKey) {
        cached = buildGrammar(locale);
        cachedKey = key;
    }
    return cached;
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

} // namespace

qint64 dayNumber(const QDate &date)
{
    // An invalid date has no day; treat it as the epoch rather than overflow.
    if (!date.isValid())
        return 0;
    return date.toJulianDay() - kEpochJulianDay;
}

DateValue fromDateAndTime(const QDate &date, const QTime &time)
{
    // Whole seconds only: 07:30:00.4 is 07:30:00.
    const int seconds = time.isValid() ? time.msecsSinceStartOfDay() / 1000 : 0;
    return compose(dayNumber(date), seconds);
}

DateValue fromDateTime(const QDateTime &dateTime)
{
    const QDateTime local = dateTime.toLocalTime();
    return fromDateAndTime(local.date(), local.time());
}

DateValue fromTime(const QTime &time)
{
    return fromDateAndTime(QDate(1899, 12, 30), time);
}

QDateTime toDateTime(DateValue value)
{
    const std::optional<Split> parts = split(value);
    if (!parts)
        return QDateTime();
    return QDateTime(parts->date, QTime::fromMSecsSinceStartOfDay(parts->seconds * 1000));
}

DateValue integerPart(DateValue value)
{
    return std::floor(value);
}

QString withFourDigitYear(const QString &dateFormat)
{
    std::vector<FormatToken> tokens = tokenize(dateFormat);
    for (FormatToken &token : tokens) {
        if (isFieldToken(token, u'y') && token.count < 4) {
            token.count = 4;
            token.text = QStringLiteral("yyyy");
        }
    }
    return joinFormat(tokens);
}

QString withoutTimeZone(const QString &timeFormat)
{
    return joinFormat(removeTimeZone(tokenize(timeFormat)));
}

QString formatGeneral(DateValue value, const QLocale &locale)
{
    // Formatted from the date and the time apart, so that a moment in a
    // daylight-saving gap is shown as it is stored.
    const std::optional<Split> parts = split(value);
    if (!parts || !parts->date.isValid())
        return QString();
    const QString date =
        locale.toString(parts->date, withFourDigitYear(locale.dateFormat(QLocale::ShortFormat)));
    if (parts->seconds == 0)
        return date;
    const QTime time = QTime::fromMSecsSinceStartOfDay(parts->seconds * 1000);
    return date + u' ' +
           locale.toString(time, withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

std::optional<DateValue> parse(const QString &text, const QLocale &locale)
{
    if (text.size() > kMaxInputLength)
        return std::nullopt;
    try {
        const QString normalizedText = normalized(text).trimmed();
        if (normalizedText.isEmpty())
            return std::nullopt;
        return parseNormalized(normalizedText, locale);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace datevalue
