#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

#include <vector>

namespace datevalue::detail {

// Case folded, without invisible format marks (bidi marks and the like), so
// that texts and the locale's words compare character by character.
QString normalized(QStringView text);

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

// The locale's month and weekday names and AM/PM texts, normalized; each
// list longest first, since the matcher takes the first name that fits.
Names localeNames(const QLocale &locale);

} // namespace datevalue::detail
