#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// A date value is days since 1899-12-30 00:00 local time; the fraction is the
// time of day. Values are always built from whole seconds the same way, so a
// typed 07:30:00 and a clock reading of 07:30:00 compare equal.
using DateValue = double;

namespace datevalue {

// Days between 1899-12-30 and the given date (negative before it).
qint64 dayNumber(const QDate &date);

DateValue fromDateAndTime(const QDate &date, const QTime &time);
DateValue fromDateTime(const QDateTime &dateTime);

// Inverse of fromDateAndTime, to the nearest second.
QDateTime toDateTime(DateValue value);

// Largest whole number not above the value: midnight of the same day.
DateValue integerPart(DateValue value);

// The locale's short date with a four-digit year, a blank and the locale's
// long time without a time zone; the time is left out at exactly midnight.
QString formatGeneral(DateValue value, const QLocale &locale = QLocale());

// The same the other way round, midnight included: for a line that may be
// cut at its end, as a lock screen cuts a notification's.
QString formatTimeFirst(DateValue value, const QLocale &locale = QLocale());

// The formats behind formatGeneral, from Qt date/time format strings: every
// year field widened to four digits, and the time zone field removed with the
// blank (or brackets, or comma) that attaches it. Quoted literals are kept.
QString withFourDigitYear(const QString &dateFormat);
QString withoutTimeZone(const QString &timeFormat);

// The one parser behind the Set button's rule and Set itself. Accepts a time
// alone, a date alone or a date with a time, as the locale writes them (and
// ISO 8601); refuses everything else. Never throws.
std::optional<DateValue> parse(const QString &text, const QLocale &locale = QLocale());

} // namespace datevalue
