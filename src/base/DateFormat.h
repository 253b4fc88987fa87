#pragma once

#include "FormatSettings.h"

#include <QDateTime>
#include <QString>

// Formats a date-time with the program's date format language: d dd ddd dddd
// ddddd dddddd, aaa aaaa, m mm (minutes right after an hour), mmm mmmm,
// y yy yyy yyyy, h hh, n nn, s ss, z zz zzz, t tt, c, am/pm a/p ampm, e g,
// "/" and ":" for the locale's separators, and 'quoted' or "quoted" text.
// Letters are recognised without regard to case. An empty format means "c".
QString FormatDateTime(const QString &format, const QDateTime &value, const FormatSettings &settings);

// The locale's short date, and unless the time is exactly midnight, a blank
// and the long time: the form of the log prefix and of catalogue dates.
QString DateTimeToStr(const QDateTime &value, const FormatSettings &settings);

// Reads a date, a date and time, or a time written in the locale's short date
// order and separators ("8/13/2016 1:05:09 PM", "13.08.2016 13:05"). False
// when the text is not one.
bool StrToDateTime(const QString &text, const FormatSettings &settings, QDateTime &value);
