#include "FileTypeTally.h"

#include "base/NumberFormat.h"
#include "settings/FileFilter.h"

#include <QSet>

#include <algorithm>

namespace {

// A device full of odd names must not make one line endless.
constexpr int kMaxTypesNamed = 20;
constexpr qsizetype kMaxTypeLength = 24;

bool HasControl(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 32 || c.unicode() == 127; });
}

// The named types, then how many more there were.
template <typename Format> QString TypeList(const FileTypeTally &tally, const FormatSettings &settings, Format format)
{
    const std::vector<FileTypeTally::Entry> entries = tally.Entries();
    QStringList parts;
    qint64 restFiles = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i < std::size_t(kMaxTypesNamed))
            parts << format(FileTypeText(entries[i].extension), FormatCount(entries[i].count, settings));
        else
            restFiles += entries[i].count;
    }
    if (entries.size() > std::size_t(kMaxTypesNamed))
        parts << QStringLiteral("%1 more types (%2 files)")
                     .arg(FormatCount(qint64(entries.size()) - kMaxTypesNamed, settings),
                          FormatCount(restFiles, settings));
    return parts.join(QStringLiteral(", "));
}

}  // namespace

void FileTypeTally::Add(const QString &extension, qint64 count)
{
    Entry &entry = byType_[extension.toCaseFolded()];
    if (entry.count == 0)
        entry.extension = extension;
    entry.count += count;
    total_ += count;
}

std::vector<FileTypeTally::Entry> FileTypeTally::Entries() const
{
    std::vector<Entry> entries(byType_.cbegin(), byType_.cend());
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.count != b.count)
            return a.count > b.count;
        const int byName = a.extension.compare(b.extension, Qt::CaseInsensitive);
        return byName != 0 ? byName < 0 : a.extension < b.extension;
    });
    return entries;
}

QStringList FileTypeTally::MissingFrom(const QStringList &filterEntries) const
{
    QSet<QString> listed;
    for (const QString &entry : filterEntries)
        listed.insert(entry.toCaseFolded());
    QStringList missing;
    for (auto it = byType_.cbegin(); it != byType_.cend(); ++it)
        if (!it.key().isEmpty() && !listed.contains(it.key()) && !HasControl(it->extension))
            missing << it->extension.toLower();
    SortFileFilter(missing);
    return missing;
}

QString FileTypeText(const QString &extension)
{
    if (extension.isEmpty())
        return QStringLiteral("without extension");
    QString text = extension.left(kMaxTypeLength).toUpper();
    if (extension.size() > kMaxTypeLength)
        text += QStringLiteral("...");
    return text;
}

QString NotInFilterText(const FileTypeTally &leftOut, const FormatSettings &settings)
{
    if (leftOut.IsEmpty())
        return QString();
    return QStringLiteral("Not in the file filter: ") +
           TypeList(leftOut, settings,
                    [](const QString &type, const QString &count) { return count + QLatin1Char(' ') + type; });
}

QString LeftOnDeviceText(const FileTypeTally &leftOut, const FormatSettings &settings)
{
    if (leftOut.IsEmpty())
        return QString();
    return FormatCount(leftOut.Total(), settings) + QStringLiteral(" Files left on the device by the file filter (") +
           TypeList(leftOut, settings,
                    [](const QString &type, const QString &count) { return type + QLatin1Char(' ') + count; }) +
           QStringLiteral(").");
}
