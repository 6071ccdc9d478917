#include "datetime/dategrammar.h"

#include "datetime/dateformat.h"

#include <QChar>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <optional>
#include <utility>

namespace datevalue::detail {
namespace {

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

} // namespace

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

} // namespace datevalue::detail
