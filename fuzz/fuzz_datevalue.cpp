// The date/time parser and the general date format, both ways. The first byte
// picks the direction and the locale:
//   below 0x80  the rest is UTF-8 text to parse, under kLocaleNames[(byte -
//               '0') % 10], so '0' to '9' pick them in order; a value it
//               yields must come back unchanged through formatGeneral and parse;
//   0x80 and up the rest makes a value (with bit 0x40 a raw double, else a day
//               and a second of years 100-9999), under the locale that the
//               low six bits pick the same way, to format and parse back.
#include "datetime/datevalue.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Besides the usual ones: Japanese words in times, Korean AM/PM first,
// Finnish '.' between hours and minutes, Spanish "p. m.", Arabic digits and
// bidi marks.
constexpr std::array<const char *, 10> kLocaleNames = {"C",     "en_US", "en_GB", "de_DE", "fr_FR",
                                                       "ja_JP", "ko_KR", "fi_FI", "es_ES", "ar_EG"};

const QLocale &localeFor(std::uint8_t selector)
{
    static const std::vector<QLocale> locales = [] {
        std::vector<QLocale> made;
        for (const char *name : kLocaleNames)
            made.emplace_back(QString::fromLatin1(name));
        return made;
    }();
    return locales[std::uint8_t(selector - '0') % locales.size()];
}

// The earliest and latest days the parser can yield: it reads years of two
// digits (1950-2049) or of three or four digits from 100 up.
const QDate kFirstDay(100, 1, 1);
const QDate kLastDay(9999, 12, 31);

QString described(DateValue value)
{
    return QString::number(value, 'g', 17);
}

[[noreturn]] void fail(const QLocale &locale, const QString &what)
{
    std::fprintf(stderr, "fuzz_datevalue [%s]: %s\n", qPrintable(locale.name()), qPrintable(what));
    std::fflush(stderr);
    __builtin_trap();
}

// A value's day and second, to the nearest second. Worked out here, not through
// toDateTime, whose local time a daylight-saving gap may shift.
struct Moment
{
    QDate date;
    int second = 0;
};

std::optional<Moment> momentOf(DateValue value)
{
    // Beyond this no year has four digits anyway.
    if (!std::isfinite(value) || std::fabs(value) > 1e8)
        return std::nullopt;
    double day = std::floor(value);
    long long second = std::llround((value - day) * 86400);
    if (second >= 86400) {
        day += 1;
        second -= 86400;
    }
    return Moment{QDate(1899, 12, 30).addDays(qint64(day)), int(second)};
}

bool inParserYears(const Moment &moment)
{
    return moment.date.isValid() && moment.date >= kFirstDay && moment.date <= kLastDay;
}

// The value the one formula gives for the moment.
DateValue composed(const Moment &moment)
{
    return datevalue::fromDateAndTime(moment.date,
                                      QTime::fromMSecsSinceStartOfDay(moment.second * 1000));
}

// formatGeneral shows the date and, unless at midnight, the time with its
// seconds, so a whole-second value in the parser's years reads back exactly.
void checkFormatsBack(DateValue value, const QLocale &locale, const QString &origin)
{
    const QString text = datevalue::formatGeneral(value, locale);
    const std::optional<DateValue> back = datevalue::parse(text, locale);
    if (!back || *back != value)
        fail(locale, origin + QStringLiteral(" -> ") + described(value) + QStringLiteral(" -> \"") +
                         text + QStringLiteral("\" -> ") +
                         (back ? described(*back) : QStringLiteral("refused")));
}

void fuzzText(const QLocale &locale, const char *bytes, std::size_t size)
{
    const QString text = QString::fromUtf8(bytes, qsizetype(size));
    const std::optional<DateValue> value = datevalue::parse(text, locale);
    if (!value)
        return;
    const QString origin = u'"' + text + u'"';
    const std::optional<Moment> moment = momentOf(*value);
    if (!moment || !inParserYears(*moment) || composed(*moment) != *value)
        fail(locale, origin + QStringLiteral(" gave ") + described(*value) +
                         QStringLiteral(", not whole seconds in years 100-9999"));
    checkFormatsBack(*value, locale, origin);
}

void fuzzValue(const QLocale &locale, bool raw, const std::uint8_t *bytes, std::size_t size)
{
    std::uint8_t buffer[8] = {};
    std::memcpy(buffer, bytes, std::min(size, sizeof buffer));
    if (raw) {
        double value = 0;
        std::memcpy(&value, buffer, sizeof value);
        const QString text = datevalue::formatGeneral(value, locale);
        if (!std::isfinite(value)) {
            if (!text.isEmpty())
                fail(locale, described(value) + QStringLiteral(" formats as ") + text);
            return;
        }
        // Years the parser cannot read only have to format without harm.
        const std::optional<Moment> moment = momentOf(value);
        if (!moment || !inParserYears(*moment))
            return;
        // Fractions of a second are rounded, in the format as everywhere else.
        const DateValue expected = composed(*moment);
        const std::optional<DateValue> back = datevalue::parse(text, locale);
        if (!back || *back != expected)
            fail(locale, described(value) + QStringLiteral(" -> \"") + text +
                             QStringLiteral("\" -> ") +
                             (back ? described(*back) : QStringLiteral("refused")) +
                             QStringLiteral(", expected ") + described(expected));
        return;
    }
    std::uint32_t dayPart = 0;
    std::uint32_t secondPart = 0;
    std::memcpy(&dayPart, buffer, 4);
    std::memcpy(&secondPart, buffer + 4, 4);
    const qint64 days = kFirstDay.daysTo(kLastDay) + 1;
    const QDate date = kFirstDay.addDays(qint64(dayPart % quint64(days)));
    // A quarter of them at midnight, where the format leaves the time out.
    const int second = secondPart % 4 == 0 ? 0 : int((secondPart / 4) % 86400);
    const DateValue value =
        datevalue::fromDateAndTime(date, QTime::fromMSecsSinceStartOfDay(second * 1000));
    checkFormatsBack(value, locale, date.toString(Qt::ISODate) + u'+' + QString::number(second));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t selector = data[0];
    const QLocale &locale = localeFor(selector & 0x80 ? selector & 0x3F : selector);
    if (selector & 0x80)
        fuzzValue(locale, selector & 0x40, data + 1, size - 1);
    else
        fuzzText(locale, reinterpret_cast<const char *>(data + 1), size - 1);
    return 0;
}
