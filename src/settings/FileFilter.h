#pragma once

#include <QStringList>

// The FileFilter settings value: extensions joined by "|", an entry with a
// blank, a control character, a double quote or "|" in double quotes (inner
// ones doubled); the empty list is "", a lone empty entry is two quotes.
QString EncodeFileFilter(const QStringList &entries);
QStringList DecodeFileFilter(const QString &value);

// Ascending without regard to case, as the list is kept when it is saved.
void SortFileFilter(QStringList &entries);

// "a, b, \"my pics\"": the list as the log shows it, entries with a comma, a
// blank or a double quote enclosed in double quotes.
QString FileFilterLogText(const QStringList &entries);

// The extensions a device starts with until its own list is saved (79, in
// the order the dialog sorts them). A list stored for a device is its own
// and is never replaced by this one.
extern const char *const kDefaultFileFilter;
