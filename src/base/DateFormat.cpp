#include "DateFormat.h"

#include <QVarLengthArray>

namespace {

// Characters gathered on the stack: a date is a few dozen of them, and a
// copy run formats two dates for every file.
class Text
{
public:
    Text &operator+=(QStringView text)
    {
        chars_.append(text.data(), text.size());
        return *this;
    }
    Text &operator+=(QChar c)
    {
        chars_.append(c);
        return *this;
    }
    Text &operator+=(QLatin1Char c) { return *this += QChar(c); }
    QString ToString() const { return QString(chars_.constData(), chars_.size()); }

private:
    QVarLengthArray<QChar, 64> chars_;
};

class DateFormatter
{
public:
    DateFormatter(const QDateTime &value, const FormatSettings &settings)
        : date_(value.date()), time_(value.time()), settings_(settings)
    {
        // The fields once: a copy run formats two dates for every file.
        date_.getDate(&year_, &month_, &day_);
    }

    QString Result() const { return out_.ToString(); }

    void Append(const QString &format)
    {
        // A locale format may itself name "c" or "ddddd"; two levels are enough
        // and stop a format that names itself from recursing for ever.
        if (level_ >= 2)
            return;
        ++level_;
        AppendLevel(format.isEmpty() ? QStringLiteral("c") : format);
        --level_;
    }

private:
    static QChar Upper(QChar c)
    {
        const char16_t u = c.unicode();
        return (u >= 'a' && u <= 'z') ? QChar(char16_t(u - 32)) : c;
    }

    static bool StartsWithNoCase(const QString &s, qsizetype pos, const char *what)
    {
        return QStringView(s).mid(pos).startsWith(QLatin1StringView(what), Qt::CaseInsensitive);
    }

    // The number with at least the given count of digits, zeros in front.
    void Number(int value, qsizetype digits)
    {
        if (value < 0 || digits > 9) {
            out_ += QString::number(value).rightJustified(digits, QLatin1Char('0'));
            return;
        }
        char16_t text[10];
        qsizetype first = sizeof text / sizeof text[0];
        do {
            text[--first] = char16_t('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (first > qsizetype(sizeof text / sizeof text[0]) - digits)
            text[--first] = u'0';
        out_ += QStringView(text + first, qsizetype(sizeof text / sizeof text[0]) - first);
    }

    // Day of week with Sunday as 0.
    int DayIndex() const { return date_.dayOfWeek() % 7; }

    // Whether the hour that ends just before `from` uses the 12-hour clock:
    // the first unquoted "a" after it, before any further hour, starts am/pm,
    // a/p or ampm. Each hour decides for itself, so an am/pm never reaches an
    // hour that comes after it. A quoted text ends only at its own kind of
    // quote, as it does when it is copied out.
    static bool TwelveHourAfter(const QString &f, qsizetype from)
    {
        QChar quote;
        for (qsizetype p = from; p < f.size(); ++p) {
            const QChar ch = f.at(p);
            if (!quote.isNull()) {
                if (ch == quote)
                    quote = QChar();
            } else if (ch == QLatin1Char('\'') || ch == QLatin1Char('"')) {
                quote = ch;
            } else if (ch == QLatin1Char('a') || ch == QLatin1Char('A')) {
                return StartsWithNoCase(f, p, "am/pm") || StartsWithNoCase(f, p, "a/p") ||
                       StartsWithNoCase(f, p, "ampm");
            } else if (ch == QLatin1Char('h') || ch == QLatin1Char('H')) {
                return false;
            }
        }
        return false;
    }

    void AppendLevel(const QString &f)
    {
        QChar lastToken = QLatin1Char(' ');
        const qsizetype n = f.size();
        qsizetype pos = 0;
        while (pos < n) {
            const QChar starter = f.at(pos++);
            QChar token = Upper(starter);
            const bool letter = token.unicode() >= 'A' && token.unicode() <= 'Z';
            if (letter) {
                if (token == QLatin1Char('M') && lastToken == QLatin1Char('H'))
                    token = QLatin1Char('N');
                lastToken = token;
            }
            // The run of the same letter, whatever its case.
            auto count = [&]() {
                const qsizetype begin = pos - 1;
                while (pos < n && Upper(f.at(pos)) == Upper(starter))
                    ++pos;
                return pos - begin;
            };
            switch (letter ? token.toLatin1() : 0) {
            case 'Y': {
                const qsizetype c = count();
                if (c <= 2)
                    Number(year_ % 100, 2);
                else
                    Number(year_, 4);
                break;
            }
            case 'M': {
                const qsizetype c = count();
                if (c <= 2)
                    Number(month_, c);
                else if (c == 3)
                    out_ += settings_.ShortMonthNames[month_ - 1];
                else
                    out_ += settings_.LongMonthNames[month_ - 1];
                break;
            }
            case 'D': {
                const qsizetype c = count();
                if (c <= 2)
                    Number(day_, c);
                else if (c == 3)
                    out_ += settings_.ShortDayNames[DayIndex()];
                else if (c == 4)
                    out_ += settings_.LongDayNames[DayIndex()];
                else if (c == 5)
                    Append(settings_.ShortDateFormat);
                else
                    Append(settings_.LongDateFormat);
                break;
            }
            case 'H': {
                const qsizetype c = count();
                int hour = time_.hour();
                if (TwelveHourAfter(f, pos)) {
                    if (hour == 0)
                        hour = 12;
                    else if (hour > 12)
                        hour -= 12;
                }
                Number(hour, qMin<qsizetype>(c, 2));
                break;
            }
            case 'N': Number(time_.minute(), qMin<qsizetype>(count(), 2)); break;
            case 'S': Number(time_.second(), qMin<qsizetype>(count(), 2)); break;
            case 'Z': Number(time_.msec(), qMin<qsizetype>(count(), 3)); break;
            case 'T': Append(count() == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat); break;
            case 'C':
                count();
                Append(settings_.ShortDateFormat);
                if (time_ != QTime(0, 0)) {
                    out_ += QLatin1Char(' ');
                    Append(settings_.LongTimeFormat);
                }
                break;
            case 'E': {
                // No era calendars: the year of the era is the year.
                Number(year_, count());
                break;
            }
            case 'G':
                count();  // no era names
                break;
            case 'A': {
                const qsizetype at = pos - 1;
                const bool pm = time_.hour() >= 12;
                if (StartsWithNoCase(f, at, "am/pm")) {
                    out_ += f.mid(pm ? at + 3 : at, 2);
                    pos = at + 5;
                } else if (StartsWithNoCase(f, at, "a/p")) {
                    out_ += f.mid(pm ? at + 2 : at, 1);
                    pos = at + 3;
                } else if (StartsWithNoCase(f, at, "ampm")) {
                    out_ += pm ? settings_.TimePMString : settings_.TimeAMString;
                    pos = at + 4;
                } else if (StartsWithNoCase(f, at, "aaaa")) {
                    out_ += settings_.LongDayNames[DayIndex()];
                    pos = at + 4;
                } else if (StartsWithNoCase(f, at, "aaa")) {
                    out_ += settings_.ShortDayNames[DayIndex()];
                    pos = at + 3;
                } else {
                    out_ += starter;
                }
                break;
            }
            default:
                if (starter == QLatin1Char('/')) {
                    if (!settings_.DateSeparator.isNull())
                        out_ += settings_.DateSeparator;
                } else if (starter == QLatin1Char(':')) {
                    if (!settings_.TimeSeparator.isNull())
                        out_ += settings_.TimeSeparator;
                } else if (starter == QLatin1Char('\'') || starter == QLatin1Char('"')) {
                    const qsizetype close = f.indexOf(starter, pos);
                    const qsizetype end = close < 0 ? n : close;
                    out_ += QStringView(f).mid(pos, end - pos);
                    pos = close < 0 ? n : close + 1;
                } else {
                    out_ += starter;
                }
                break;
            }
        }
    }

    QDate date_;
    QTime time_;
    int year_ = 0;
    int month_ = 0;
    int day_ = 0;
    const FormatSettings &settings_;
    Text out_;
    int level_ = 0;
};

}  // namespace

QString FormatDateTime(const QString &format, const QDateTime &value, const FormatSettings &settings)
{
    DateFormatter formatter(value, settings);
    formatter.Append(format);
    return formatter.Result();
}

QString DateTimeToStr(const QDateTime &value, const FormatSettings &settings)
{
    return FormatDateTime(QStringLiteral("c"), value, settings);
}

namespace {

bool ToNumber(const QString &s, int &n)
{
    if (s.isEmpty() || s.size() > 9)
        return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    n = s.toInt();
    return true;
}

// The order of day, month and year in a short date format, as "DMY" etc.
QString FieldOrder(const QString &format)
{
    QString order;
    QChar quote;
    for (QChar c : format) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            continue;
        }
        const QChar u = c.toUpper();
        if ((u == QLatin1Char('D') || u == QLatin1Char('M') || u == QLatin1Char('Y')) && !order.contains(u))
            order += u;
    }
    return order.size() == 3 ? order : QStringLiteral("MDY");
}

bool ParseDatePart(const QString &text, const FormatSettings &fs, QDate &date)
{
    QStringList parts = text.split(fs.DateSeparator);
    if (parts.size() == 1 && fs.DateSeparator != QLatin1Char('/'))
        parts = text.split(QLatin1Char('/'));
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    const QString order = FieldOrder(fs.ShortDateFormat);
    int values[3] = {0, 0, 0};
    for (int i = 0; i < parts.size(); ++i)
        if (!ToNumber(parts[i].trimmed(), values[i]))
            return false;
    int day = 0, month = 0, year = QDate::currentDate().year();
    if (parts.size() == 2) {
        // Without a year: the day and month in their order.
        const QString dm = QString(order).remove(QLatin1Char('Y'));
        day = values[dm.indexOf(QLatin1Char('D'))];
        month = values[dm.indexOf(QLatin1Char('M'))];
    } else {
        day = values[order.indexOf(QLatin1Char('D'))];
        month = values[order.indexOf(QLatin1Char('M'))];
        year = values[order.indexOf(QLatin1Char('Y'))];
        if (parts[order.indexOf(QLatin1Char('Y'))].trimmed().size() <= 2) {
            const int thisYear = QDate::currentDate().year();
            year += thisYear - thisYear % 100;
            if (year > thisYear + 50)
                year -= 100;
        }
    }
    date = QDate(year, month, day);
    return date.isValid();
}

bool ParseTimePart(QString text, const FormatSettings &fs, QTime &time)
{
    text = text.trimmed();
    int pm = -1;
    auto stripSuffix = [&](const QString &suffix, int isPm) {
        if (!suffix.isEmpty() && text.endsWith(suffix, Qt::CaseInsensitive)) {
            text.chop(suffix.size());
            text = text.trimmed();
            pm = isPm;
            return true;
        }
        return false;
    };
    if (!stripSuffix(fs.TimeAMString, 0) && !stripSuffix(fs.TimePMString, 1) && !stripSuffix(QStringLiteral("AM"), 0))
        stripSuffix(QStringLiteral("PM"), 1);
    QStringList parts = text.split(fs.TimeSeparator);
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    int hour = 0, minute = 0, second = 0, msec = 0;
    if (!ToNumber(parts[0].trimmed(), hour) || !ToNumber(parts[1].trimmed(), minute))
        return false;
    if (parts.size() == 3) {
        QString sec = parts[2].trimmed();
        const qsizetype dot =
            sec.indexOf(fs.DecimalSeparator == QLatin1Char(',') ? QLatin1Char(',') : QLatin1Char('.'));
        if (dot >= 0) {
            if (!ToNumber(sec.mid(dot + 1), msec))
                return false;
            sec.truncate(dot);
        }
        if (!ToNumber(sec, second))
            return false;
    }
    if (pm >= 0) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    time = QTime(hour, minute, second, msec);
    return time.isValid();
}

}  // namespace

bool StrToDateTime(const QString &text, const FormatSettings &settings, QDateTime &value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    const qsizetype space = t.indexOf(QLatin1Char(' '));
    const QString first = space < 0 ? t : t.left(space);
    const QString rest = space < 0 ? QString() : t.mid(space + 1);
    QDate date;
    QTime time(0, 0);
    if (ParseDatePart(first, settings, date)) {
        if (!rest.trimmed().isEmpty() && !ParseTimePart(rest, settings, time))
            return false;
    } else {
        // A time alone, on the zero date.
        if (!ParseTimePart(t, settings, time))
            return false;
        date = QDate(1899, 12, 30);
    }
    value = QDateTime(date, time);
    return true;
}
