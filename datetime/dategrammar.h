#pragma once

#include "datetime/datenames.h"

#include <QLocale>
#include <QString>

#include <vector>

// What the parser accepts under a locale: patterns of fields and literals.
namespace datevalue::detail {

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

struct Pattern
{
    std::vector<Element> elements;
    bool iso = false; // may be joined to its time by 'T'
};

struct Grammar
{
    Names names;
    std::vector<Pattern> dates;
    std::vector<Pattern> times;
};

// The locale's grammar; the one built last is kept, per thread.
const Grammar &grammarFor(const QLocale &locale);

} // namespace datevalue::detail
