#pragma once

#include <QChar>
#include <QString>
#include <array>

class QLocale;

// Regional formatting values, passed explicitly wherever a date, time or
// number is turned into text. Formats use the program's own date format
// language (see DateFormat.h), not Qt's pattern syntax.
struct FormatSettings
{
    QChar DateSeparator = QLatin1Char('/');
    QChar TimeSeparator = QLatin1Char(':');
    QString ShortDateFormat = QStringLiteral("m/d/yyyy");
    QString LongDateFormat = QStringLiteral("dddd, mmmm d, yyyy");
    QString ShortTimeFormat = QStringLiteral("h:nn ampm");
    QString LongTimeFormat = QStringLiteral("h:nn:ss ampm");
    QString TimeAMString = QStringLiteral("AM");
    QString TimePMString = QStringLiteral("PM");
    std::array<QString, 12> ShortMonthNames;  // January first
    std::array<QString, 12> LongMonthNames;
    std::array<QString, 7> ShortDayNames;  // Sunday first
    std::array<QString, 7> LongDayNames;
    QChar ThousandSeparator = QLatin1Char(',');
    QChar DecimalSeparator = QLatin1Char('.');

    FormatSettings();  // English names, US-like formats

    // Converts the locale's own patterns into ours.
    static FormatSettings FromLocale(const QLocale &locale);
    // Converts one Qt date/time pattern into the program's format language.
    static QString ConvertQtPattern(const QString &qtPattern);
};

// The process-wide settings that the program formats its own texts with, and
// the copy of the user's locale settings taken at start. Both are filled once
// on the user-interface thread before any other thread runs, then only read.
FormatSettings &ProcessFormatSettings();
FormatSettings &UserLocaleSettings();
// Fills both from QLocale::system().
void InitFormatSettingsFromSystem();
