#include "FileFilter.h"

#include <algorithm>

const char *const kDefaultFileFilter =
    "jpg|jpeg|tif|tiff|raw|mp3|flac|rec|m4a|mp4a|wma|ogg|asf|aiff|aac|3gp|wav|mov|mp4|m4v|avi|mxf";

namespace {

QString Quoted(const QString &entry)
{
    QString inner = entry;
    inner.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

bool IsLowChar(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

} // namespace

QString EncodeFileFilter(const QStringList &entries)
{
    if (entries.size() == 1 && entries.front().isEmpty())
        return QStringLiteral("\"\"");
    QStringList parts;
    for (const QString &entry : entries) {
        bool quote = false;
        for (QChar c : entry)
            if (c.unicode() <= 32 || c == QLatin1Char('"') || c == QLatin1Char('|'))
                quote = true;
        parts << (quote ? Quoted(entry) : entry);
    }
    return parts.join(QLatin1Char('|'));
}

QStringList DecodeFileFilter(const QString &value)
{
    QStringList entries;
    const qsizetype n = value.size();
    qsizetype p = 0;
    while (p < n && IsLowChar(value.at(p)))
        ++p;
    while (p < n) {
        QString entry;
        if (value.at(p) == QLatin1Char('"')) {
            ++p;
            while (p < n) {
                if (value.at(p) == QLatin1Char('"')) {
                    if (p + 1 < n && value.at(p + 1) == QLatin1Char('"')) {
                        entry += QLatin1Char('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                entry += value.at(p++);
            }
        } else {
            const qsizetype start = p;
            while (p < n && value.at(p).unicode() > 32 && value.at(p) != QLatin1Char('|'))
                ++p;
            entry = value.mid(start, p - start);
        }
        entries << entry;
        while (p < n && IsLowChar(value.at(p)))
            ++p;
        if (p < n && value.at(p) == QLatin1Char('|')) {
            if (p + 1 == n)
                entries << QString();
            ++p;
            while (p < n && IsLowChar(value.at(p)))
                ++p;
        }
    }
    return entries;
}

void SortFileFilter(QStringList &entries)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
}

QString FileFilterLogText(const QStringList &entries)
{
    QStringList parts;
    for (const QString &entry : entries) {
        const bool quote = entry.contains(QLatin1Char(',')) || entry.contains(QLatin1Char(' ')) ||
                           entry.contains(QLatin1Char('"'));
        parts << (quote ? Quoted(entry) : entry);
    }
    return parts.join(QLatin1Char(','));
}
