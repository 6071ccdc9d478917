#include "datetime/datenames.h"

#include <QChar>

#include <algorithm>

namespace datevalue::detail {
namespace {

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

} // namespace

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

} // namespace datevalue::detail
