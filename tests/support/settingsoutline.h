#pragma once

#include <QByteArray>
#include <QStringList>

// A settings file as an outline: elements in document order, one dot per
// level; an element without child elements shows its text after "=", as in
// ".AwareTestQuestions", "..QA_Pair", "...Question=q1". A file Qt's reader
// refuses ends in a line "ERROR: ...". Read independently of the store.
QStringList outline(const QByteArray &bytes);
