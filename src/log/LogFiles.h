#pragma once

#include <QDateTime>
#include <QString>

class LogDocument;

// "Ferrovane Log yyyy-mm-dd hh.mm.ss.rtf": the same name whatever the
// regional separators.
QString LogFileName(const QDateTime &when);

// Writes the whole log as rich text into folder (ending with "/"), named by
// the time given. A log file already there keeps its content: this one then
// gets " (2)", " (3)", ... before ".rtf". Returns the file's path, or an empty
// text when it could not be written, with the reason in *error when given;
// nothing is thrown.
QString SaveLog(const LogDocument &document, const QString &folder, const QDateTime &now, QString *error = nullptr);

// Why no log file can be written into folder now, or an empty text.
QString LogFolderTrouble(const QString &folder);

// Removes the log files in folder last written before now minus maxLogDays
// days. maxLogDaysText is the keep-logs field's text: 0, empty or not a whole
// number keeps everything. Directories and other files are never touched;
// a file that cannot be removed is left as it is. Returns the number removed.
int DeleteLogFiles(const QString &folder, const QString &maxLogDaysText, const QDateTime &now);
