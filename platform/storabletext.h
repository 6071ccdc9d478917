#pragma once

#include <QString>
#include <QStringView>

// What the settings file can hold of a text. XML 1.0 has no way, not even a
// character reference, to hold the C0 controls other than tab, line feed and
// carriage return, U+FFFE, U+FFFF or an unpaired surrogate. The text boxes
// take none of them, so that what the program holds is what the file holds.
namespace storabletext {

inline bool storableAt(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    if (c < 0x20)
        return c == u'\t' || c == u'\n' || c == u'\r';
    if (c < 0xD800)
        return true;
    if (QChar::isHighSurrogate(c))
        return i + 1 < text.size() && text[i + 1].isLowSurrogate();
    if (QChar::isLowSurrogate(c))
        return i > 0 && text[i - 1].isHighSurrogate();
    return c != 0xFFFE && c != 0xFFFF;
}

// The first character the file cannot hold, or -1.
inline qsizetype firstUnstorable(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!storableAt(text, i))
            return i;
    }
    return -1;
}

inline QString storable(QStringView text)
{
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (storableAt(text, i))
            kept += text[i];
    }
    return kept;
}

} // namespace storabletext
