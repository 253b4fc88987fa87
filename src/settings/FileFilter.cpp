#include "FileFilter.h"

#include <algorithm>

// What cameras, phones and recorders write today: the photo, video and sound
// formats of old, the camera makers' raw formats, HEIF, AVIF, JPEG XL, PNG
// and the other still formats phones save, AVCHD and other camcorder video,
// and 360-degree camera files. Sorted as the Options dialog keeps the list.
// Low-resolution proxy clips (.lrv) are left out: an action camera writes
// one beside each full clip, and the full clip is the one to keep. Side
// files travel with their photo: XMP (edits, ratings), THM (a video's
// thumbnail), AAE (an iPhone's edits); GoPro's raw (.gpr) and .jpe JPEGs too.
const char *const kDefaultFileFilter =
    "3fr|3gp|aac|aae|aiff|ari|arw|asf|avi|avif|bay|bmp|braw|cap|cr2|cr3|crw|dcr|dcs|dng|erf|fff|flac|gif|gpr|"
    "heic|heif|hif|iiq|insp|insv|jpe|jpeg|jpg|jps|jxl|k25|kdc|m2t|m2ts|m4a|m4v|mef|mkv|mod|mos|mov|mp3|mp4|"
    "mp4a|mpeg|mpg|mpo|mrw|mts|mxf|nef|nrw|ogg|opus|orf|ori|pef|png|ptx|r3d|raf|raw|rec|rw2|rwl|sr2|srf|srw|"
    "thm|tif|tiff|tod|wav|webm|webp|wma|x3f|xmp";

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

}  // namespace

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
        const bool quote =
            entry.contains(QLatin1Char(',')) || entry.contains(QLatin1Char(' ')) || entry.contains(QLatin1Char('"'));
        parts << (quote ? Quoted(entry) : entry);
    }
    return parts.join(QLatin1Char(','));
}
