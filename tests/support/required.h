#pragma once

#include <QString>
#include <QTest>

// Skips the case when why says what is missing, unless the environment
// variable is 1: the suite then runs where that must be there, and a skip
// would hide that it is not.
#define SKIP_UNLESS_REQUIRED(why, variable)                                                        \
    do {                                                                                           \
        const QString missing_ = (why);                                                            \
        if (!missing_.isEmpty()) {                                                                 \
            if (qEnvironmentVariableIntValue(variable) == 1)                                       \
                QFAIL(qPrintable(QStringLiteral(variable "=1, but ") + missing_));                 \
            QSKIP(qPrintable(missing_));                                                           \
        }                                                                                          \
    } while (false)
