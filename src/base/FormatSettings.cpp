#include "FormatSettings.h"

#include <QLocale>

#include <ctime>

namespace {

const char *const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char *const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char *const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// First character of a pattern that is neither a letter, a quote nor a blank:
// the separator the locale uses between the pattern's fields.
QChar FirstSeparator(const QString &pattern, QChar fallback)
{
    bool quoted = false;
    for (QChar c : pattern) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (!quoted && !c.isLetter() && !c.isSpace())
            return c;
    }
    return fallback;
}

QString Trimmed(QString s)
{
    return s.trimmed();
}

}  // namespace

FormatSettings::FormatSettings()
{
    for (int i = 0; i < 12; ++i) {
        ShortMonthNames[i] = QString::fromLatin1(kShortMonths[i]);
        LongMonthNames[i] = QString::fromLatin1(kLongMonths[i]);
    }
    for (int i = 0; i < 7; ++i) {
        ShortDayNames[i] = QString::fromLatin1(kShortDays[i]);
        LongDayNames[i] = QString::fromLatin1(kLongDays[i]);
    }
}

QString FormatSettings::ConvertQtPattern(const QString &qtPattern)
{
    QString out;
    const qsizetype n = qtPattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = qtPattern.at(i);
        if (c == QLatin1Char('\'')) {
            // Qt quoting: 'text', and '' for one quote character.
            if (i + 1 < n && qtPattern.at(i + 1) == QLatin1Char('\'')) {
                out += QStringLiteral("\"'\"");
                i += 2;
                continue;
            }
            qsizetype j = i + 1;
            QString literal;
            while (j < n) {
                if (qtPattern.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < n && qtPattern.at(j + 1) == QLatin1Char('\'')) {
                        literal += QLatin1Char('\'');
                        j += 2;
                        continue;
                    }
                    break;
                }
                literal += qtPattern.at(j++);
            }
            if (!literal.isEmpty())
                out += literal.contains(QLatin1Char('"')) ? QLatin1Char('\'') + literal + QLatin1Char('\'')
                                                          : QLatin1Char('"') + literal + QLatin1Char('"');
            i = j + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && qtPattern.at(i + run) == c)
            ++run;
        const char letter = c.toLatin1();
        switch (letter) {
        case 'd':
        case 'y':
        case 's':
        case 'z': out += QString(run, QLatin1Char(letter)); break;
        case 'M': out += QString(run, QLatin1Char('m')); break;
        case 'h':
        case 'H': out += QString(qMin<qsizetype>(run, 2), QLatin1Char('h')); break;
        case 'm': out += QString(qMin<qsizetype>(run, 2), QLatin1Char('n')); break;
        case 'A':
        case 'a':
            out += QStringLiteral("ampm");
            // Qt also accepts "AP"/"ap"; swallow the P.
            if (i + run < n && (qtPattern.at(i + run) == QLatin1Char('P') || qtPattern.at(i + run) == QLatin1Char('p')))
                ++run;
            break;
        case 't':
            // Time zone: a Windows-style time format has none.
            break;
        default:
            if (c.isLetter())
                out += QLatin1Char('"') + QString(run, c) + QLatin1Char('"');
            else
                out += QString(run, c);
            break;
        }
        i += run;
    }
    return Trimmed(out);
}

FormatSettings FormatSettings::FromLocale(const QLocale &locale)
{
    FormatSettings fs;
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    const QString longTime = locale.timeFormat(QLocale::LongFormat);
    fs.ShortDateFormat = ConvertQtPattern(shortDate);
    fs.LongDateFormat = ConvertQtPattern(locale.dateFormat(QLocale::LongFormat));
    fs.ShortTimeFormat = ConvertQtPattern(locale.timeFormat(QLocale::ShortFormat));
    fs.LongTimeFormat = ConvertQtPattern(longTime);
    fs.DateSeparator = FirstSeparator(shortDate, QLatin1Char('/'));
    fs.TimeSeparator = FirstSeparator(longTime, QLatin1Char(':'));
    if (!locale.amText().isEmpty())
        fs.TimeAMString = locale.amText();
    if (!locale.pmText().isEmpty())
        fs.TimePMString = locale.pmText();
    for (int m = 1; m <= 12; ++m) {
        fs.ShortMonthNames[m - 1] = locale.monthName(m, QLocale::ShortFormat);
        fs.LongMonthNames[m - 1] = locale.monthName(m, QLocale::LongFormat);
    }
    // Qt counts Monday as 1 and Sunday as 7; ours start with Sunday.
    for (int d = 1; d <= 7; ++d) {
        const int index = d % 7;
        fs.ShortDayNames[index] = locale.dayName(d, QLocale::ShortFormat);
        fs.LongDayNames[index] = locale.dayName(d, QLocale::LongFormat);
    }
    const QString group = locale.groupSeparator();
    const QString decimal = locale.decimalPoint();
    fs.ThousandSeparator = group.isEmpty() ? QChar() : group.at(0);
    fs.DecimalSeparator = decimal.isEmpty() ? QLatin1Char('.') : decimal.at(0);
    return fs;
}

FormatSettings &ProcessFormatSettings()
{
    static FormatSettings settings;
    return settings;
}

FormatSettings &UserLocaleSettings()
{
    static FormatSettings settings;
    return settings;
}

void InitFormatSettingsFromSystem()
{
    // With TZ unset the C library looks at /etc/localtime again on every
    // conversion to local time: a file system call for each log line's date.
    // Naming the file has it read once. A TZ of the user's own is kept.
    if (qEnvironmentVariableIsEmpty("TZ")) {
        qputenv("TZ", ":/etc/localtime");
        tzset();
    }
    const FormatSettings fs = FormatSettings::FromLocale(QLocale::system());
    ProcessFormatSettings() = fs;
    UserLocaleSettings() = fs;
}
