// Date values: the numbers, the general date format and the locale parser.
#include "datetime/datevalue.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

DateValue at(const QDate &date, const QTime &time = QTime(0, 0))
{
    return datevalue::fromDateAndTime(date, time);
}

// A time alone is a moment on day zero.
DateValue timeOnly(const QTime &time)
{
    return datevalue::fromDateAndTime(QDate(1899, 12, 30), time);
}

DateValue timeOnly(int h, int m, int s = 0)
{
    return timeOnly(QTime(h, m, s));
}

// Row names show control characters, so that blank rows stay readable.
QByteArray rowName(const QString &text)
{
    QString shown = text;
    shown.replace(u'\t', QStringLiteral("\\t")).replace(u'\n', QStringLiteral("\\n"));
    return shown.toUtf8();
}

QString describe(const std::optional<DateValue> &value)
{
    return value ? QString::number(*value, 'f', 10) : QStringLiteral("refused");
}

const QDate kXmas2030(2030, 12, 25);
const QDate kXmas2004(2004, 12, 25);

// A uniformly drawn moment in years 1000-9999, whole seconds, sometimes midnight.
DateValue randomValue(QRandomGenerator &random)
{
    static const QDate first(1000, 1, 1);
    static const qint64 days = first.daysTo(QDate(9999, 12, 31)) + 1;
    const QDate date = first.addDays(qint64(random.bounded(quint64(days))));
    const int seconds = random.bounded(4) == 0 ? 0 : int(random.bounded(86400));
    return at(date, QTime::fromMSecsSinceStartOfDay(seconds * 1000));
}

} // namespace

class tst_DateValue : public QObject
{
    Q_OBJECT

private:
    QLocale m_savedDefault;

    void addAccepted(const char *locale, const QString &text, DateValue expected)
    {
        QTest::addRow("%s: %s", locale, rowName(text).constData())
            << QString::fromLatin1(locale) << text << expected;
    }

    void addRefused(const char *locale, const QString &text)
    {
        QTest::addRow("%s: [%s]", locale, rowName(text).constData())
            << QString::fromLatin1(locale) << text;
    }

private Q_SLOTS:
    void initTestCase() { m_savedDefault = QLocale(); }
    void cleanup() { QLocale::setDefault(m_savedDefault); }

    void pinnedValues_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<double>("expected");
        QTest::newRow("epoch") << QDate(1899, 12, 30) << QTime(0, 0) << 0.0;
        QTest::newRow("epoch 06:00") << QDate(1899, 12, 30) << QTime(6, 0) << 0.25;
        QTest::newRow("epoch 18:00") << QDate(1899, 12, 30) << QTime(18, 0) << 0.75;
        QTest::newRow("day before, 06:00") << QDate(1899, 12, 29) << QTime(6, 0) << -0.75;
        QTest::newRow("day before, midnight") << QDate(1899, 12, 29) << QTime(0, 0) << -1.0;
        QTest::newRow("1899-12-31") << QDate(1899, 12, 31) << QTime(0, 0) << 1.0;
        QTest::newRow("1900-01-01") << QDate(1900, 1, 1) << QTime(0, 0) << 2.0;
        QTest::newRow("2000-01-01") << QDate(2000, 1, 1) << QTime(0, 0) << 36526.0;
        QTest::newRow("2004-12-25 07:00") << kXmas2004 << QTime(7, 0) << 38346.291666666667;
        QTest::newRow("9999-12-31") << QDate(9999, 12, 31) << QTime(0, 0) << 2958465.0;
    }

    void pinnedValues()
    {
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(double, expected);
        const DateValue value = at(date, time);
        QVERIFY2(std::fabs(value - expected) < 1e-9, qPrintable(QString::number(value, 'f', 12)));
        QCOMPARE(datevalue::dayNumber(date), qint64(std::floor(expected)));
    }

    // A clock reading has whole seconds: 07:30:00.4 equals a typed 07:30:00.
    void clockReadingEqualsTypedText()
    {
        const QDateTime reading(kXmas2030, QTime(7, 30, 0, 400));
        const DateValue now = datevalue::fromDateTime(reading);
        const std::optional<DateValue> typed = datevalue::parse(
            QStringLiteral("12/25/2030 7:30 AM"), QLocale(QStringLiteral("en_US")));
        QVERIFY(typed.has_value());
        QVERIFY2(now == *typed, qPrintable(describe(now) + " vs " + describe(typed)));
        QVERIFY(timeOnly(QTime(7, 30, 0, 999)) == timeOnly(7, 30));
    }

    void toDateTime_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QDateTime>("expected");
        const double second = 1.0 / 86400;
        QTest::newRow("2004-12-25 07:00")
            << at(kXmas2004, QTime(7, 0)) << QDateTime(kXmas2004, QTime(7, 0));
        QTest::newRow("0.4 s rounds down")
            << at(kXmas2004, QTime(7, 0)) + 0.4 * second << QDateTime(kXmas2004, QTime(7, 0));
        QTest::newRow("0.6 s rounds up")
            << at(kXmas2004, QTime(7, 0)) + 0.6 * second << QDateTime(kXmas2004, QTime(7, 0, 1));
        QTest::newRow("carry into the next day") << at(kXmas2004, QTime(23, 59, 59)) + 0.6 * second
                                                 << QDateTime(QDate(2004, 12, 26), QTime(0, 0));
        QTest::newRow("-0.75") << -0.75 << QDateTime(QDate(1899, 12, 29), QTime(6, 0));
        QTest::newRow("-1.25") << -1.25 << QDateTime(QDate(1899, 12, 28), QTime(18, 0));
        QTest::newRow("just below zero carries to the epoch")
            << -0.1 * second << QDateTime(QDate(1899, 12, 30), QTime(0, 0));
        QTest::newRow("0.5") << 0.5 << QDateTime(QDate(1899, 12, 30), QTime(12, 0));
        QTest::newRow("9999-12-31 23:59:59") << at(QDate(9999, 12, 31), QTime(23, 59, 59))
                                             << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59));
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << QDateTime();
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << QDateTime();
    }

    void toDateTime()
    {
        QFETCH(double, value);
        QFETCH(QDateTime, expected);
        const QDateTime result = datevalue::toDateTime(value);
        QCOMPARE(result.isValid(), expected.isValid());
        if (expected.isValid()) {
            QCOMPARE(result.date(), expected.date());
            QCOMPARE(result.time(), expected.time());
        }
    }

    void integerPart_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("morning") << 38346.291666 << 38346.0;
        QTest::newRow("whole") << 5.0 << 5.0;
        QTest::newRow("time only") << 0.999 << 0.0;
        QTest::newRow("before the epoch") << -0.75 << -1.0;
        QTest::newRow("whole before the epoch") << -1.0 << -1.0;
    }

    void integerPart()
    {
        QFETCH(double, value);
        QFETCH(double, expected);
        QCOMPARE(datevalue::integerPart(value), expected);
    }

    // Judged by what Qt writes with the result, so that quoting is checked too.
    void fourDigitYear_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("M/d/yy") << "M/d/yy"
                                << "12/25/2004";
        QTest::newRow("dd.MM.yy") << "dd.MM.yy"
                                  << "25.12.2004";
        QTest::newRow("lone y") << "d/M/y"
                                << "25/12/2004";
        QTest::newRow("already four") << "yyyy-MM-dd"
                                      << "2004-12-25";
        QTest::newRow("quoted words kept") << "d 'de' MMMM 'de' yy"
                                           << "25 de December de 2004";
        QTest::newRow("quoted yy kept") << "'yy' yy"
                                        << "yy 2004";
        QTest::newRow("escaped quote in quotes") << "d 'o''clock' yy"
                                                 << "25 o'clock 2004";
        QTest::newRow("bare escaped quote") << "yy''MM"
                                            << "2004'12";
        QTest::newRow("literal after") << "d.MM.yy 'г'."
                                       << "25.12.2004 г.";
    }

    void fourDigitYear()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(QLocale::c().toString(kXmas2004, datevalue::withFourDigitYear(format)), expected);
    }

    void withoutZone_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("en_US") << "h:mm:ss AP t"
                               << "7:05:09 PM";
        QTest::newRow("zone first") << "t HH:mm:ss"
                                    << "19:05:09";
        QTest::newRow("brackets") << "H:mm:ss (t)"
                                  << "19:05:09";
        QTest::newRow("square brackets") << "HH:mm:ss [t]"
                                         << "19:05:09";
        QTest::newRow("comma") << "h:mm:ss AP, t"
                               << "7:05:09 PM";
        QTest::newRow("quoted literals") << "HH 'h' mm 'min' ss 's' t"
                                         << "19 h 05 min 09 s";
        QTest::newRow("quoted t kept") << "'t' HH:mm t"
                                       << "t 19:05";
        QTest::newRow("zone between fields") << "HH t mm"
                                             << "19 05";
        QTest::newRow("no zone") << "HH:mm"
                                 << "19:05";
    }

    void withoutZone()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(QLocale::c().toString(QTime(19, 5, 9), datevalue::withoutTimeZone(format)),
                 expected);
    }

    void formatGeneral_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        const DateValue seven = at(kXmas2004, QTime(7, 0));
        const DateValue evening = at(kXmas2004, QTime(19, 5, 9));
        const DateValue midnight = at(kXmas2004);
        QTest::newRow("en_US morning") << "en_US" << seven << "12/25/2004 7:00:00 AM";
        QTest::newRow("en_US evening") << "en_US" << evening << "12/25/2004 7:05:09 PM";
        QTest::newRow("en_US midnight") << "en_US" << midnight << "12/25/2004";
        QTest::newRow("en_US noon")
            << "en_US" << at(kXmas2004, QTime(12, 0)) << "12/25/2004 12:00:00 PM";
        QTest::newRow("en_US second past midnight")
            << "en_US" << at(kXmas2004, QTime(0, 0, 1)) << "12/25/2004 12:00:01 AM";
        QTest::newRow("en_US rounds to midnight")
            << "en_US" << at(kXmas2004, QTime(23, 59, 59)) + 0.6 / 86400 << "12/26/2004";
        QTest::newRow("en_US epoch") << "en_US" << 0.0 << "12/30/1899";
        QTest::newRow("en_US time only") << "en_US" << 0.25 << "12/30/1899 6:00:00 AM";
        QTest::newRow("en_US before the epoch") << "en_US" << -0.75 << "12/29/1899 6:00:00 AM";
        QTest::newRow("en_US year 1000") << "en_US" << at(QDate(1000, 1, 2)) << "1/2/1000";
        QTest::newRow("en_US NaN") << "en_US" << std::numeric_limits<double>::quiet_NaN() << "";
        QTest::newRow("en_GB morning") << "en_GB" << seven << "25/12/2004 07:00:00";
        QTest::newRow("en_GB evening") << "en_GB" << evening << "25/12/2004 19:05:09";
        QTest::newRow("en_GB midnight") << "en_GB" << midnight << "25/12/2004";
        QTest::newRow("de_DE morning") << "de_DE" << seven << "25.12.2004 07:00:00";
        QTest::newRow("de_DE two-digit-year format widened")
            << "de_DE" << at(QDate(1975, 3, 1), QTime(23, 0)) << "01.03.1975 23:00:00";
        QTest::newRow("de_DE midnight") << "de_DE" << midnight << "25.12.2004";
        QTest::newRow("fr_FR morning") << "fr_FR" << seven << "25/12/2004 07:00:00";
        QTest::newRow("fr_FR midnight") << "fr_FR" << midnight << "25/12/2004";
        QTest::newRow("es_ES zone in brackets") << "es_ES" << seven << "25/12/2004 7:00:00";
        QTest::newRow("sq_AL zone after a comma")
            << "sq_AL" << seven << "25.12.2004 7:00:00 E PARADITES";
    }

    void formatGeneral()
    {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(datevalue::formatGeneral(value, QLocale(locale)), expected);
    }

    void formatTimeFirst()
    {
        // Midnight too, which the general format leaves out.
        QCOMPARE(datevalue::formatTimeFirst(at(kXmas2004), QLocale("en_GB")),
                 "00:00:00 25/12/2004");
    }

    void parseAccepted_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");

        // Times alone, 24-hour and 12-hour.
        addAccepted("en_US", "7:30", timeOnly(7, 30));
        addAccepted("en_US", "07:30", timeOnly(7, 30));
        addAccepted("en_US", "7:30:15", timeOnly(7, 30, 15));
        addAccepted("en_US", "19:45", timeOnly(19, 45));
        addAccepted("en_US", "0:00", 0.0);
        addAccepted("en_US", "23:59:59", timeOnly(23, 59, 59));
        addAccepted("en_US", "7:30 AM", timeOnly(7, 30));
        addAccepted("en_US", "7:30 PM", timeOnly(19, 30));
        addAccepted("en_US", "7:30PM", timeOnly(19, 30));
        addAccepted("en_US", "7:30 pm", timeOnly(19, 30));
        addAccepted("en_US", "7:30:15 PM", timeOnly(19, 30, 15));
        addAccepted("en_US", "12:00 AM", 0.0);
        addAccepted("en_US", "12:30 AM", timeOnly(0, 30));
        addAccepted("en_US", "12:00 PM", 0.5);
        addAccepted("en_US", "12:59:59 PM", timeOnly(12, 59, 59));
        addAccepted("en_US", "7 PM", timeOnly(19, 0));
        addAccepted("en_US", "7pm", timeOnly(19, 0));
        addAccepted("en_US", "12 AM", 0.0);
        addAccepted("en_US", "  7:30 \t", timeOnly(7, 30));
        addAccepted("en_US", QString::fromUtf8("\u00a07:30\u2003"), timeOnly(7, 30));
        // Dates alone.
        addAccepted("en_US", "12/25/2030", at(kXmas2030));
        addAccepted("en_US", "1/2/2030", at(QDate(2030, 1, 2)));
        addAccepted("en_US", "12-25-2030", at(kXmas2030));
        addAccepted("en_US", "12.25.2030", at(kXmas2030));
        addAccepted("en_US", "12/25/30", at(kXmas2030));
        addAccepted("en_US", "12/25/00", at(QDate(2000, 12, 25)));
        addAccepted("en_US", "12/25/49", at(QDate(2049, 12, 25)));
        addAccepted("en_US", "12/25/50", at(QDate(1950, 12, 25)));
        addAccepted("en_US", "12/25/99", at(QDate(1999, 12, 25)));
        addAccepted("en_US", "12/25/100", at(QDate(100, 12, 25)));
        addAccepted("en_US", "2/29/2028", at(QDate(2028, 2, 29)));
        addAccepted("en_US", "12/29/1899", -1.0);
        addAccepted("en_US", "2030-12-25", at(kXmas2030));
        addAccepted("en_US", "December 25, 2030", at(kXmas2030));
        addAccepted("en_US", "december 25 2030", at(kXmas2030));
        addAccepted("en_US", "DECEMBER 25, 2030", at(kXmas2030));
        addAccepted("en_US", "Dec 25 2030", at(kXmas2030));
        addAccepted("en_US", "Dec. 25, 2030", at(kXmas2030));
        addAccepted("en_US", "25 December 2030", at(kXmas2030));
        addAccepted("en_US", "Wednesday, December 25, 2030", at(kXmas2030));
        addAccepted("en_US", "Wed, Dec 25, 2030", at(kXmas2030));
        // Dates with times.
        addAccepted("en_US", "12/25/2030 7:00 AM", at(kXmas2030, QTime(7, 0)));
        addAccepted("en_US", "12/25/2030 7:00:00 PM", at(kXmas2030, QTime(19, 0)));
        addAccepted("en_US", "12/25/2030   19:00", at(kXmas2030, QTime(19, 0)));
        addAccepted("en_US", "December 25, 2030 7 PM", at(kXmas2030, QTime(19, 0)));
        addAccepted("en_US", "2030-12-25T07:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("en_US", "2030-12-25T07:00:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("en_US", "2030-12-25 07:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("en_US", "12/29/1899 6:00 AM", -0.75);
        addAccepted("en_US", "12/25/2004 7:00:00 AM", 38346 + 7.0 / 24);

        addAccepted("en_GB", "25/12/2030", at(kXmas2030));
        addAccepted("en_GB", "25/12/30", at(kXmas2030));
        addAccepted("en_GB", "25-12-2030", at(kXmas2030));
        addAccepted("en_GB", "25.12.2030", at(kXmas2030));
        addAccepted("en_GB", "25 December 2030", at(kXmas2030));
        addAccepted("en_GB", "25 Dec 2030", at(kXmas2030));
        addAccepted("en_GB", "Wednesday, 25 December 2030", at(kXmas2030));
        addAccepted("en_GB", "25/12/2030 07:00:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("en_GB", "25/12/2030 7:30 pm", at(kXmas2030, QTime(19, 30)));
        addAccepted("en_GB", "7:30 pm", timeOnly(19, 30));
        addAccepted("en_GB", "7:30 PM", timeOnly(19, 30));
        addAccepted("en_GB", "19:30", timeOnly(19, 30));
        addAccepted("en_GB", "2030-12-25T07:00", at(kXmas2030, QTime(7, 0)));

        addAccepted("de_DE", "25.12.2030", at(kXmas2030));
        addAccepted("de_DE", "25.12.30", at(kXmas2030));
        addAccepted("de_DE", "1.2.2030", at(QDate(2030, 2, 1)));
        addAccepted("de_DE", "25/12/2030", at(kXmas2030));
        addAccepted("de_DE", "25. Dezember 2030", at(kXmas2030));
        addAccepted("de_DE", "25 Dezember 2030", at(kXmas2030));
        addAccepted("de_DE", "25. Dez. 2030", at(kXmas2030));
        addAccepted("de_DE", "25 dez 2030", at(kXmas2030));
        addAccepted("de_DE", "25. MÄRZ 2030", at(QDate(2030, 3, 25)));
        addAccepted("de_DE", "Mittwoch, 25. Dezember 2030", at(kXmas2030));
        addAccepted("de_DE", "25.12.2030 07:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("de_DE", "25.12.2030 7:00:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("de_DE", "7:30", timeOnly(7, 30));
        addAccepted("de_DE", "19:30:15", timeOnly(19, 30, 15));
        addAccepted("de_DE", "7:30 PM", timeOnly(19, 30));
        addAccepted("de_DE", "2030-12-25 07:00", at(kXmas2030, QTime(7, 0)));

        addAccepted("fr_FR", "25/12/2030", at(kXmas2030));
        addAccepted("fr_FR", "25/12/30", at(kXmas2030));
        addAccepted("fr_FR", "25 décembre 2030", at(kXmas2030));
        addAccepted("fr_FR", "25 déc. 2030", at(kXmas2030));
        addAccepted("fr_FR", "25 déc 2030", at(kXmas2030));
        addAccepted("fr_FR", "25 DÉCEMBRE 2030", at(kXmas2030));
        addAccepted("fr_FR", "1 févr. 2030", at(QDate(2030, 2, 1)));
        addAccepted("fr_FR", "mercredi 25 décembre 2030", at(kXmas2030));
        addAccepted("fr_FR", "25/12/2030 07:00:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("fr_FR", "25/12/2030 7:00", at(kXmas2030, QTime(7, 0)));
        addAccepted("fr_FR", "7:30", timeOnly(7, 30));
        addAccepted("fr_FR", "2030-12-25T07:00:00", at(kXmas2030, QTime(7, 0)));

        // The locale's own separators, AM/PM texts, their place and words.
        addAccepted("fi_FI", "7.30", timeOnly(7, 30));
        addAccepted("fi_FI", "25.12.2030 7.30", at(kXmas2030, QTime(7, 30)));
        addAccepted("ko_KR", "오후 7:30", timeOnly(19, 30));
        addAccepted("ko_KR", "7:30 오후", timeOnly(19, 30));
        addAccepted("es_ES", "7:30 p. m.", timeOnly(19, 30));
        addAccepted("es_ES", "25 de diciembre de 2030", at(kXmas2030));
        addAccepted("ja_JP", "2030年12月25日", at(kXmas2030));
        addAccepted("ja_JP", "2030/12/25 7時30分00秒", at(kXmas2030, QTime(7, 30)));
        addAccepted("ar_EG", QString::fromUtf8("٢٥\u200f/١٢\u200f/٢٠٣٠"), at(kXmas2030));
    }

    void parseAccepted()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(double, expected);
        const std::optional<DateValue> value = datevalue::parse(text, QLocale(locale));
        QVERIFY2(value.has_value() && *value == expected,
                 qPrintable(describe(value) + " expected " + describe(expected)));
    }

    void parseRefused_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        for (const char *text : {"",
                                 " ",
                                 "\t\n",
                                 "abc",
                                 "7:30 banana",
                                 "banana 7:30",
                                 "25:00",
                                 "24:00",
                                 "7:60",
                                 "7:30:60",
                                 "12/25",
                                 "1/2/3/4",
                                 "7::30",
                                 "-5:00",
                                 "7",
                                 "730",
                                 "7:3",
                                 "7:300",
                                 "007:30",
                                 "7 : 30",
                                 "7.30",
                                 "13 PM",
                                 "0 AM",
                                 "0:30 AM",
                                 "13:00 PM",
                                 "PM 7:00",
                                 "7:30 AM PM",
                                 "7:30 AM,",
                                 "7:30 AMX",
                                 "2/30/2030",
                                 "2/29/2029",
                                 "13/25/2030",
                                 "12/32/2030",
                                 "0/25/2030",
                                 "25/12/2030",
                                 "12/25-2030",
                                 "12/25/1",
                                 "12/25/12345",
                                 "12/25/099",
                                 "12/25/0099",
                                 "2030-13-01",
                                 "2030-12-25T",
                                 "2030-12-25T 07:00",
                                 "12/25/2030T07:00",
                                 "12/25/2030 25:00",
                                 "12/25/2030,7:00",
                                 "12/25/20307:00",
                                 "December 2030",
                                 "Decembre 25, 2030",
                                 "Dezember 25, 2030",
                                 "December 25 , 2030",
                                 "Decemberr 25, 2030",
                                 "25December 2030",
                                 "Wednesday December",
                                 "1 2 2030"})
            addRefused("en_US", QString::fromUtf8(text));
        for (const char *text : {"12/25/2030", "7:30 xm", "25 Dezember 2030"})
            addRefused("en_GB", QString::fromUtf8(text));
        for (const char *text : {"12/25/2030", "30.02.2030", "25.12.", "25.12.2030.", "Dec 25 2030",
                                 "25,12,2030", "25.12.2030 24:00", "25.12-2030"})
            addRefused("de_DE", QString::fromUtf8(text));
        for (const char *text : {"12/25/2030", "7h30", "25 december 2030", "31/04/2030"})
            addRefused("fr_FR", QString::fromUtf8(text));
    }

    void parseRefused()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        const std::optional<DateValue> value = datevalue::parse(text, QLocale(locale));
        QVERIFY2(!value.has_value(), qPrintable(describe(value)));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        const std::pair<QDate, QTime> moments[] = {
            {kXmas2004, QTime(7, 0)},
            {kXmas2004, QTime(0, 0)},
            {kXmas2004, QTime(0, 0, 1)},
            {kXmas2004, QTime(12, 0)},
            {kXmas2004, QTime(23, 59, 59)},
            {QDate(1000, 1, 1), QTime(0, 0)},
            {QDate(1000, 1, 1), QTime(13, 14, 15)},
            {QDate(9999, 12, 31), QTime(23, 59, 59)},
            {QDate(1899, 12, 29), QTime(6, 0)},
            {QDate(1899, 12, 30), QTime(0, 0)},
            {QDate(1899, 12, 30), QTime(18, 0)},
            {QDate(2028, 2, 29), QTime(11, 59, 59)},
            {QDate(1949, 1, 1), QTime(1, 1, 1)},
        };
        for (const char *locale : {"en_US", "en_GB", "de_DE", "fr_FR"}) {
            for (const auto &[date, time] : moments) {
                QTest::addRow("%s %s %s", locale, qPrintable(date.toString(Qt::ISODate)),
                              qPrintable(time.toString(Qt::ISODate)))
                    << QString::fromLatin1(locale) << date << time;
            }
        }
    }

    void roundTrip()
    {
        QFETCH(QString, locale);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        const QLocale l(locale);
        const DateValue value = at(date, time);
        const QString text = datevalue::formatGeneral(value, l);
        const std::optional<DateValue> back = datevalue::parse(text, l);
        QVERIFY2(back.has_value() && *back == value, qPrintable(text + " -> " + describe(back)));
    }

    void roundTripRandom_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char *locale :
             {"en_US", "en_GB", "de_DE", "fr_FR", "es_ES", "fi_FI", "ja_JP", "ko_KR", "ar_EG"})
            QTest::newRow(locale) << QString::fromLatin1(locale);
    }

    void roundTripRandom()
    {
        QFETCH(QString, locale);
        const QLocale l(locale);
        QRandomGenerator random(20041225);
        for (int i = 0; i < 3000; ++i) {
            const DateValue value = randomValue(random);
            const QString text = datevalue::formatGeneral(value, l);
            const std::optional<DateValue> back = datevalue::parse(text, l);
            QVERIFY2(back.has_value() && *back == value,
                     qPrintable(text + " -> " + describe(back)));
        }
    }

    // Every locale Qt knows, with fewer values each.
    void roundTripEveryLocale()
    {
        const QList<QLocale> locales = QLocale::matchingLocales(
            QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        QVERIFY(locales.size() > 100);
        QStringList failures;
        for (const QLocale &l : locales) {
            QRandomGenerator random(1899);
            for (int i = 0; i < 60; ++i) {
                const DateValue value = randomValue(random);
                const QString text = datevalue::formatGeneral(value, l);
                const std::optional<DateValue> back = datevalue::parse(text, l);
                if (!back || *back != value) {
                    failures << l.bcp47Name() + ": " + text + " -> " + describe(back);
                    break;
                }
            }
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }

    void defaultLocaleIsUsed()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QVERIFY(datevalue::parse(QStringLiteral("25.12.2030 07:00")) == at(kXmas2030, QTime(7, 0)));
        QVERIFY(!datevalue::parse(QStringLiteral("12/25/2030")).has_value());
        QCOMPARE(datevalue::formatGeneral(at(kXmas2004, QTime(7, 0))),
                 QStringLiteral("25.12.2004 07:00:00"));

        // A change of the default takes effect at the next call.
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QVERIFY(datevalue::parse(QStringLiteral("12/25/2030")) == at(kXmas2030));
        QVERIFY(!datevalue::parse(QStringLiteral("25.12.2030")).has_value());
        QCOMPARE(datevalue::formatGeneral(at(kXmas2004, QTime(7, 0))),
                 QStringLiteral("12/25/2004 7:00:00 AM"));
    }

    void lengthIsCapped()
    {
        const QLocale l(QStringLiteral("en_US"));
        const QString padded = QStringLiteral("7:30") + QString(196, u' ');
        QCOMPARE(padded.size(), 200);
        QVERIFY(datevalue::parse(padded, l) == timeOnly(7, 30));
        QVERIFY(!datevalue::parse(padded + u' ', l).has_value());
        QVERIFY(!datevalue::parse(QString(100000, u'7'), l).has_value());
    }

    // Near misses at the length limit are refused, and quickly.
    void hostileTextsAreRefusedQuickly()
    {
        const QLocale l(QStringLiteral("en_US"));
        const QStringList texts = {
            QStringLiteral("1/").repeated(100),
            QStringLiteral("7:30 ").repeated(40),
            QStringLiteral("Dec ").repeated(50),
            QString(200, u'9'),
            QString(200, u' '),
            QStringLiteral("12/25/2030 ") + QStringLiteral("7:").repeated(94) + u'x',
            QStringLiteral("a. m. ").repeated(33),
        };
        QElapsedTimer timer;
        timer.start();
        for (int round = 0; round < 200; ++round) {
            for (const QString &text : texts)
                QVERIFY2(!datevalue::parse(text, l).has_value(), qPrintable(text));
        }
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    }
};

QTEST_GUILESS_MAIN(tst_DateValue)
#include "tst_datevalue.moc"
