#pragma once

#include <QByteArray>

// The exponential entity expansion attack ("billion laughs"): a DOCTYPE whose
// entity l9 expands to 10^9 copies of "lol". Follow it with a root that uses
// &l9;.
inline QByteArray billionLaughsDoctype()
{
    QByteArray doctype = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int level = 1; level <= 9; ++level) {
        const QByteArray use = "&l" + QByteArray::number(level - 1) + ';';
        doctype += "<!ENTITY l" + QByteArray::number(level) + " \"" + use.repeated(10) + "\">";
    }
    return doctype + "]>";
}
