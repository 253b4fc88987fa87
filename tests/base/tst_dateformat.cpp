#include "common/TestMain.h"

#include "base/DateFormat.h"

#include <QLocale>

namespace {

FormatSettings UsLike()
{
    FormatSettings fs;
    fs.ShortDateFormat = QStringLiteral("m/d/yyyy");
    fs.LongDateFormat = QStringLiteral("dddd, mmmm d, yyyy");
    fs.ShortTimeFormat = QStringLiteral("h:nn ampm");
    fs.LongTimeFormat = QStringLiteral("h:nn:ss ampm");
    return fs;
}

FormatSettings DeLike()
{
    FormatSettings fs;
    fs.DateSeparator = QLatin1Char('.');
    fs.TimeSeparator = QLatin1Char(':');
    fs.ShortDateFormat = QStringLiteral("dd.mm.yyyy");
    fs.LongDateFormat = QStringLiteral("dddd, d. mmmm yyyy");
    fs.ShortTimeFormat = QStringLiteral("hh:nn");
    fs.LongTimeFormat = QStringLiteral("hh:nn:ss");
    fs.TimeAMString = QString();
    fs.TimePMString = QString();
    const char *shortMonths[] = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
    const char *longMonths[] = {"Januar", "Februar", "März",      "April",   "Mai",      "Juni",
                                "Juli",   "August",  "September", "Oktober", "November", "Dezember"};
    const char *shortDays[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
    const char *longDays[] = {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"};
    for (int i = 0; i < 12; ++i) {
        fs.ShortMonthNames[size_t(i)] = QString::fromUtf8(shortMonths[i]);
        fs.LongMonthNames[size_t(i)] = QString::fromUtf8(longMonths[i]);
    }
    for (int i = 0; i < 7; ++i) {
        fs.ShortDayNames[size_t(i)] = QString::fromUtf8(shortDays[i]);
        fs.LongDayNames[size_t(i)] = QString::fromUtf8(longDays[i]);
    }
    fs.ThousandSeparator = QLatin1Char('.');
    fs.DecimalSeparator = QLatin1Char(',');
    return fs;
}

}  // namespace

class TestDateFormat : public QObject
{
    Q_OBJECT

private slots:
    void format_data()
    {
        QTest::addColumn<bool>("german");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QDateTime>("value");
        QTest::addColumn<QString>("expected");
        // Saturday 13 August 2016, 08:41:21.007 and 13:05:09.250.
        const QDateTime morning(QDate(2016, 8, 13), QTime(8, 41, 21, 7));
        const QDateTime afternoon(QDate(2016, 8, 13), QTime(13, 5, 9, 250));
        const QDateTime midnight(QDate(2016, 5, 4), QTime(0, 0, 0));
        QTest::newRow("default") << false << "yyyy-mm-dd" << morning << "2016-08-13";
        QTest::newRow("upper case") << false << "YYYY-MM-DD" << morning << "2016-08-13";
        QTest::newRow("short runs") << false << "y-m-d" << midnight << "16-5-4";
        QTest::newRow("long year run") << false << "yyyyyy" << morning << "2016";
        QTest::newRow("yyy") << false << "yyy" << morning << "2016";
        QTest::newRow("month names") << false << "mmm mmmm mmmmm" << morning << "Aug August August";
        QTest::newRow("day names") << false << "ddd dddd" << morning << "Sat Saturday";
        QTest::newRow("aaa aaaa") << true << "aaa aaaa" << morning << "Sa Samstag";
        QTest::newRow("ddddd short date") << true << "ddddd" << morning << "13.08.2016";
        QTest::newRow("dddddd long date") << true << "dddddd" << morning << "Samstag, 13. August 2016";
        QTest::newRow("m after h is minutes") << false << "hh:mm" << morning << "08:41";
        QTest::newRow("m after h across literal") << false << "h'h'mm" << morning << "8h41";
        QTest::newRow("m not after h is month") << false << "mm hh" << morning << "08 08";
        QTest::newRow("n minutes") << false << "n nn" << afternoon << "5 05";
        QTest::newRow("seconds") << false << "s ss" << afternoon << "9 09";
        QTest::newRow("milliseconds") << false << "z zz zzz zzzz" << morning << "7 07 007 007";
        QTest::newRow("hour runs cap at two") << false << "hhhh" << morning << "08";
        QTest::newRow("am/pm lower") << false << "h am/pm" << afternoon << "1 pm";
        QTest::newRow("AM/PM case as written") << false << "h AM/PM" << morning << "8 AM";
        QTest::newRow("Am/pM mixed case") << false << "h Am/pM" << afternoon << "1 pM";
        QTest::newRow("a/p") << false << "h a/p" << afternoon << "1 p";
        QTest::newRow("ampm locale text") << false << "hh:nn ampm" << afternoon << "01:05 PM";
        QTest::newRow("midnight twelve-hour") << false << "h ampm" << midnight << "12 AM";
        QTest::newRow("noon twelve-hour") << false << "h a/p" << QDateTime(QDate(2016, 1, 1), QTime(12, 0)) << "12 p";
        QTest::newRow("24h without am/pm") << false << "hh" << afternoon << "13";
        QTest::newRow("quoted am stays 24h") << false << "hh 'am/pm'" << afternoon << "13 am/pm";
        QTest::newRow("later h stops lookahead") << false << "hh h am/pm" << afternoon << "13 1 pm";
        // Each hour looks ahead for itself; an am/pm never reaches a later hour.
        QTest::newRow("am/pm before the hour stays 24h") << false << "am/pm h:nn" << afternoon << "pm 13:05";
        QTest::newRow("h am/pm h") << false << "h am/pm h" << afternoon << "1 pm 13";
        QTest::newRow("a/p then hh") << false << "hh a/p hh" << afternoon << "01 p 13";
        QTest::newRow("ampm before hour at midnight") << false << "ampm h" << midnight << "AM 0";
        // A quoted text ends only at its own kind of quote.
        QTest::newRow("apostrophe in double quotes") << false << "h \"it's\" am/pm" << afternoon << "1 it's pm";
        QTest::newRow("double quote in single quotes")
            << false << "h 'say \"hi\"' am/pm" << afternoon << "1 say \"hi\" pm";
        QTest::newRow("quoted am/pm after apostrophe") << false << "h \"it's am/pm\"" << afternoon << "13 it's am/pm";
        QTest::newRow("single quotes") << false << "'Year' yyyy" << morning << "Year 2016";
        QTest::newRow("double quotes") << false << "\"d\"d" << morning << "d13";
        QTest::newRow("unclosed quote") << false << "yyyy 'rest" << morning << "2016 rest";
        QTest::newRow("locale separators us") << false << "yyyy/mm/dd hh:nn" << morning << "2016/08/13 08:41";
        QTest::newRow("locale separators de") << true << "yyyy/mm/dd" << morning << "2016.08.13";
        QTest::newRow("empty is c") << false << "" << morning << "8/13/2016 8:41:21 AM";
        QTest::newRow("c at midnight") << false << "c" << midnight << "5/4/2016";
        QTest::newRow("c german") << true << "c" << afternoon << "13.08.2016 13:05:09";
        QTest::newRow("c half a second after midnight")
            << false << "c" << QDateTime(QDate(2016, 5, 4), QTime(0, 0, 0, 500)) << "5/4/2016 12:00:00 AM";
        QTest::newRow("c a millisecond after midnight")
            << true << "c" << QDateTime(QDate(2016, 5, 4), QTime(0, 0, 0, 1)) << "04.05.2016 00:00:00";
        QTest::newRow("t and tt") << false << "t|tt" << afternoon << "1:05 PM|1:05:09 PM";
        QTest::newRow("other characters copied") << false << "[yyyy]_#x" << morning << "[2016]_#x";
        QTest::newRow("non-ASCII letters copied") << false << "yyyyé" << morning << "2016é";
        QTest::newRow("backslash nests folders") << false << "yyyy\\mm" << morning << "2016\\08";
        QTest::newRow("german month") << true << "d. mmmm" << QDateTime(QDate(2016, 3, 1), QTime(0, 0)) << "1. März";
    }
    void format()
    {
        QFETCH(bool, german);
        QFETCH(QString, format);
        QFETCH(QDateTime, value);
        QFETCH(QString, expected);
        QCOMPARE(FormatDateTime(format, value, german ? DeLike() : UsLike()), expected);
    }

    // A locale format that names itself must not recurse for ever.
    void selfReferenceStops()
    {
        FormatSettings fs = UsLike();
        fs.ShortDateFormat = QStringLiteral("ddddd");
        const QString text = FormatDateTime(QStringLiteral("c"), QDateTime(QDate(2016, 1, 2), QTime(0, 0)), fs);
        QCOMPARE(text, QString());
    }

    // Regional settings from two real locales, built explicitly (never the
    // machine's own).
    void fromLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("shortDate");
        QTest::addColumn<QString>("dateSeparator");
        QTest::addColumn<QString>("formatted");
        QTest::newRow("de_DE") << "de_DE"
                               << "dd.mm.yy"
                               << "."
                               << "13.08.16 13:05:09";
        QTest::newRow("en_US") << "en_US"
                               << "m/d/yy"
                               << "/"
                               << "8/13/16 1:05:09 PM";
    }
    void fromLocale()
    {
        QFETCH(QString, locale);
        QFETCH(QString, shortDate);
        QFETCH(QString, dateSeparator);
        QFETCH(QString, formatted);
        const FormatSettings fs = FormatSettings::FromLocale(QLocale(locale));
        QCOMPARE(fs.ShortDateFormat, shortDate);
        QCOMPARE(QString(fs.DateSeparator), dateSeparator);
        QCOMPARE(DateTimeToStr(QDateTime(QDate(2016, 8, 13), QTime(13, 5, 9)), fs), formatted);
    }
};

FERROVANE_TEST_MAIN(TestDateFormat)
#include "tst_dateformat.moc"
