#pragma once

#include "datetime/datevalue.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace datevalue::detail {

// Reads a text already normalized and trimmed against the locale's grammar.
std::optional<DateValue> parseNormalized(const QString &text, const QLocale &locale);

} // namespace datevalue::detail
