#include "PathRules.h"

#include "base/TextRules.h"
#include "log/LogSink.h"
#include "settings/FileFilter.h"

namespace {

QString Bool(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

}  // namespace

QString CollapseBackslashes(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        out += text.at(i);
        if (text.at(i) == QLatin1Char('\\') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\\'))
            ++i;
    }
    return out;
}

QString DevicePathComponent(const QString &name)
{
    QString component = name;
    component.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return component;
}

bool IsInDeviceRootPath(const QString &RootPath, const QString &FilePath, LogSink &log)
{
    if (RootPath.isEmpty())
        return true;
    const bool result = FilePath.contains(RootPath, Qt::CaseInsensitive);
    if (DebugFlag.load(std::memory_order_relaxed))
        log.WriteDebug(QStringLiteral("IsInDeviceRootPath RootPath=%1 FilePath=%2 Result=%3")
                           .arg(RootPath, FilePath, Bool(result)));
    return result;
}

QString ExtractFileExtension(const QString &name)
{
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        const QChar c = name.at(i);
        if (c == QLatin1Char('.'))
            return name.mid(i + 1);
        if (c == QLatin1Char('\\') || c == QLatin1Char(':'))
            break;
    }
    return QString();
}

FileFilterRule::FileFilterRule(const FileFilterSettings &filters)
    : enabled_(filters.enabled),
      // A list of one empty entry encodes as two quotes; it still means "no extension".
      onlyEmpty_(filters.entries.size() == 1 && filters.entries.front().isEmpty()),
      joined_(QLatin1Char('|') + EncodeFileFilter(filters.entries) + QLatin1Char('|'))
{
}

bool FileFilterRule::Passes(const QString &ObjectName, const QString &ObjectType) const
{
    if (!enabled_ || ObjectType == QLatin1String("STORAGE") || ObjectType == QLatin1String("FOLDER"))
        return true;
    const QString ext = ExtractFileExtension(ObjectName);
    if (onlyEmpty_)
        return ext.isEmpty();
    return joined_.contains(QLatin1Char('|') + ext + QLatin1Char('|'), Qt::CaseInsensitive);
}

bool IsInFileFilter(const QString &ObjectName, const QString &ObjectType, const FileFilterRule &rule, LogSink &log)
{
    const bool result = rule.Passes(ObjectName, ObjectType);
    if (DebugFlag.load(std::memory_order_relaxed))
        log.WriteDebug(QStringLiteral("IsInFileFilter sObjectName=%1 sObjectType=%2 Result=%3")
                           .arg(ObjectName, ObjectType, Bool(result)));
    return result;
}

bool IsInFileFilter(const QString &ObjectName, const QString &ObjectType, const FileFilterSettings &filters,
                    LogSink &log)
{
    return IsInFileFilter(ObjectName, ObjectType, FileFilterRule(filters), log);
}

bool MatchesCopyRoot(const QString &RootPath, const QString &FilePath)
{
    const QString root = RootPath.mid(2);
    if (root.isEmpty())
        return false;
    return FilePath.mid(2).contains(root, Qt::CaseSensitive);
}

QStringList SplitDelimited(QChar Delimiter, const QString &Text)
{
    return Text.split(Delimiter, Qt::KeepEmptyParts);
}

QString KeepPathLevels(const QString &Path, int N)
{
    QString path = Path;
    if (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    path = CollapseBackslashes(path);
    QStringList parts = SplitDelimited(QLatin1Char('\\'), path);
    const int keep = qMax(0, N + 1);
    while (parts.size() > keep)
        parts.removeLast();
    QString result = CollapseBackslashes(parts.join(QLatin1Char('\\')));
    if (!result.endsWith(QLatin1Char('\\')))
        result += QLatin1Char('\\');
    return result;
}

QString NormalDeviceRoot(const QString &text)
{
    QString current = text;
    for (;;) {
        QString next = TrimControl(current);
        if (next == QLatin1String("\\"))
            next.clear();
        next = CollapseBackslashes(next);
        if (next == current)
            return current;
        current = next;
    }
}
