#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

// Shared by the fuzzers of the configuration file.

// What a save cannot write and drops (tst_configstore's
// unwritableCharactersDropped): C0 controls other than tab, line feed and
// carriage return, unpaired surrogates, U+FFFE and U+FFFF. Written here from
// that rule rather than taken from the store, so that the two can disagree.
inline QString writable(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < value.size() && value[i + 1].isLowSurrogate()) {
            out += value[i];
            out += value[i + 1];
            ++i;
            continue;
        }
        const bool control = c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
        if (control || QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF)
            continue;
        out += value[i];
    }
    return out;
}

// The store logs nothing; what Qt itself might warn of is noise here, but
// critical and fatal messages still show.
inline void quietWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}
