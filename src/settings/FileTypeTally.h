#pragma once

#include "base/FormatSettings.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

// Files counted by their extension as the file filter compares it: "NEF"
// and "nef" are one type. A file without an extension counts under the
// empty type.
class FileTypeTally
{
public:
    struct Entry
    {
        QString extension;  // as first met
        qint64 count = 0;
    };

    void Add(const QString &extension, qint64 count = 1);
    void Clear()
    {
        byType_.clear();
        total_ = 0;
    }
    bool IsEmpty() const { return total_ == 0; }
    qint64 Total() const { return total_; }
    // Most files first; equal counts by name.
    std::vector<Entry> Entries() const;
    // The types that the filter list lacks (compared without regard to case),
    // in lower case and sorted as the list keeps them. Files without an
    // extension, and types holding control characters, have no entry to add.
    QStringList MissingFrom(const QStringList &filterEntries) const;

private:
    QHash<QString, Entry> byType_;  // by the case-folded extension
    qint64 total_ = 0;
};

// A type as the log names it: upper case, at most 24 characters; the empty
// type is "without extension". Not escaped: the log does that, and whatever
// else shows it takes readableText() of it.
QString FileTypeText(const QString &extension);

// "Not in the file filter: 4 NEF, 1 TXT": after a listing's totals; empty
// when the filter left nothing out. At most 20 types are named.
QString NotInFilterText(const FileTypeTally &leftOut, const FormatSettings &settings = ProcessFormatSettings());
// "5 Files left on the device by the file filter (NEF 4, TXT 1).": after a
// copy run's counts; empty when the filter left nothing out.
QString LeftOnDeviceText(const FileTypeTally &leftOut, const FormatSettings &settings = ProcessFormatSettings());
