#pragma once

#include <QChar>
#include <QString>

#include <vector>

// Reading and rewriting Qt date/time format strings, for the general format
// and for the parser's grammar.
namespace datevalue::detail {

// One field or one literal run of a Qt date/time format string.
struct FormatToken
{
    bool isField = false;
    QChar letter; // the field letter; 'a' for every AM/PM spelling
    int count = 0;
    QString text; // the field as written, or the literal text unquoted
};

bool isFieldToken(const FormatToken &token, char16_t letter);

// Splits a format the way Qt reads it: quotes delimit literals, '' is a quote.
std::vector<FormatToken> tokenize(const QString &format);

// Drops the time zone field with the blank (or brackets, or comma) that
// attaches it.
std::vector<FormatToken> removeTimeZone(std::vector<FormatToken> tokens);

} // namespace datevalue::detail
