#pragma once

#include <QString>
#include <QTest>

class QWidget;

// Why a label's or a button's caption does not fit the area its control draws
// it in (a word-wrapping label's wrapped at its width); empty when it fits.
// Fonts may be wider than the twips of a layout assume.
QString captionOverflow(const QWidget *control);

#define VERIFY_CAPTION_FITS(control)                                                               \
    do {                                                                                           \
        const QString why_ = captionOverflow(control);                                             \
        QVERIFY2(why_.isEmpty(), qPrintable(why_));                                                \
    } while (false)
