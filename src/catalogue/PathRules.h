#pragma once

#include <QString>
#include <QStringList>

class LogSink;

// The text rules that decide which objects of a walk are shown and copied:
// the device root path and the file filters. Device paths use "\".

// The listing's root test: an empty root passes everything; otherwise the
// root must occur anywhere in the path, ignoring case.
bool IsInDeviceRootPath(const QString &RootPath, const QString &FilePath, LogSink &log);

// The filter settings as the Options dialog holds them.
struct FileFilterSettings
{
    bool enabled = true;
    QStringList entries;
};

// The extension of a name: the text after the last "." that follows the last
// "\" or ":"; empty without such a dot.
QString ExtractFileExtension(const QString &name);

// The filter test: true when filtering is off, for STORAGE and FOLDER, and
// for a name whose extension is one of the entries (ignoring case).
bool IsInFileFilter(const QString &ObjectName, const QString &ObjectType, const FileFilterSettings &filters,
                    LogSink &log);

// The copy hand-off's root test: both texts lose their first two characters,
// then the root's rest must occur in the path's rest, case counting. An empty
// rest never matches.
bool MatchesCopyRoot(const QString &RootPath, const QString &FilePath);

// The first N+1 components of a backslash path, ending with "\" ("\" for N < 0).
QString KeepPathLevels(const QString &Path, int N);

// The pieces between delimiters; every delimiter separates, blanks stay.
QStringList SplitDelimited(QChar Delimiter, const QString &Text);

// Every "\\" becomes "\", one pass from the left: "\\\" gives "\\".
QString CollapseBackslashes(const QString &text);

// A storage or folder name as one component of a device path. "\" separates
// the components there, so a "\" inside a name stands as "/", which no file
// or folder name can hold: the name stays one component for the root rules,
// KeepPathLevels and the root picker.
QString DevicePathComponent(const QString &name);

// The device root field's normal form: trimmed, no "\\", never exactly "\".
QString NormalDeviceRoot(const QString &text);
