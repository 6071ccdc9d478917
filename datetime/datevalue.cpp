#include "datetime/datevalue.h"

#include "datetime/datecompose.h"
#include "datetime/datematcher.h"
#include "datetime/datenames.h"

#include <cmath>

namespace datevalue {
namespace {

// Julian day number of 1899-12-30, day 0 of a date value.
constexpr qint64 kEpochJulianDay = 2415019;
constexpr int kSecondsPerDay = 86400;
// Beyond this the day number no longer fits the calendar comfortably.
constexpr double kLargestDay = 1e9;
// Longer texts are refused outright, so that no input can make parsing slow.
constexpr qsizetype kMaxInputLength = 200;

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

} // namespace

DateValue detail::compose(qint64 day, int seconds)
{
    return static_cast<double>(day) + seconds / static_cast<double>(kSecondsPerDay);
}

using detail::compose;

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

namespace {

QString dateText(const QDate &date, const QLocale &locale)
{
    return locale.toString(date, withFourDigitYear(locale.dateFormat(QLocale::ShortFormat)));
}

QString timeText(int seconds, const QLocale &locale)
{
    return locale.toString(QTime::fromMSecsSinceStartOfDay(seconds * 1000),
                           withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

} // namespace

// Formatted from the date and the time apart, so that a moment in a
// daylight-saving gap is shown as it is stored.
QString formatGeneral(DateValue value, const QLocale &locale)
{
    const std::optional<Split> parts = split(value);
    if (!parts || !parts->date.isValid())
        return QString();
    const QString date = dateText(parts->date, locale);
    return parts->seconds == 0 ? date : date + u' ' + timeText(parts->seconds, locale);
}

QString formatTimeFirst(DateValue value, const QLocale &locale)
{
    const std::optional<Split> parts = split(value);
    if (!parts || !parts->date.isValid())
        return QString();
    return timeText(parts->seconds, locale) + u' ' + dateText(parts->date, locale);
}

std::optional<DateValue> parse(const QString &text, const QLocale &locale)
{
    if (text.size() > kMaxInputLength)
        return std::nullopt;
    try {
        const QString normalizedText = detail::normalized(text).trimmed();
        if (normalizedText.isEmpty())
            return std::nullopt;
        return detail::parseNormalized(normalizedText, locale);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace datevalue
