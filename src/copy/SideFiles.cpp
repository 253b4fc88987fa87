#include "SideFiles.h"

namespace {

bool IsSideExtension(QStringView extension)
{
    for (const char *side : {"xmp", "thm", "aae"})
        if (extension.compare(QLatin1String(side), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// "IMG_E0001" gives "IMG_0001"; any other base name gives an empty text.
QString EditedOriginal(const QString &base)
{
    if (base.size() < 6 || !base.startsWith(QLatin1String("IMG_E"), Qt::CaseInsensitive))
        return QString();
    for (qsizetype i = 5; i < base.size(); ++i)
        if (!base.at(i).isDigit() || base.at(i).unicode() > '9')
            return QString();
    return base.left(4) + base.mid(5);
}

QString WithoutExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString Extension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

}  // namespace

bool IsSideFileName(const QString &name)
{
    return IsSideExtension(Extension(name)) || !EditedOriginal(WithoutExtension(name)).isEmpty();
}

QStringList MainFileKeysOf(const QString &sideName)
{
    QStringList keys;
    const QString base = WithoutExtension(sideName);
    if (IsSideExtension(Extension(sideName))) {
        keys << base.toLower();  // "IMG_0001.CR2.XMP": the whole name; "IMG_0001.XMP": the base name
        if (base.contains(QLatin1Char('.')))
            keys << WithoutExtension(base).toLower();
    }
    for (const QString &key : QStringList(keys.isEmpty() ? QStringList{base} : keys)) {
        const QString original = EditedOriginal(WithoutExtension(key));
        if (!original.isEmpty())
            keys << original.toLower();
    }
    keys.removeDuplicates();
    return keys;
}

QStringList KeysOfMainFile(const QString &name)
{
    return {name.toLower(), WithoutExtension(name).toLower()};
}

QString DeviceFolderOf(const QString &ObjectID)
{
    const qsizetype slash = ObjectID.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? ObjectID.left(slash) : ObjectID;
}
