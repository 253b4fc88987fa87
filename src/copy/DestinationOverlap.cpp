#include "DestinationOverlap.h"

#include "base/FileNames.h"

#include <cstdlib>
#include <vector>

#include <sys/stat.h>

namespace {

struct FileKey
{
    dev_t device;
    ino_t inode;
    bool operator==(const FileKey &other) const = default;
};

// The folder and each folder above it up to "/", as the files they are.
std::vector<FileKey> FolderChain(const QString &path)
{
    std::vector<FileKey> chain;
    char *real = ::realpath(nameToBytes(path).constData(), nullptr);
    if (!real)
        return chain;
    QByteArray step(real);
    std::free(real);
    for (;;) {
        struct stat info;
        if (::stat(step.constData(), &info) == 0)
            chain.push_back({info.st_dev, info.st_ino});
        const qsizetype slash = step.lastIndexOf('/');
        if (slash <= 0) {
            if (step != "/" && ::stat("/", &info) == 0)
                chain.push_back({info.st_dev, info.st_ino});
            return chain;
        }
        step.truncate(slash);
    }
}

bool Holds(const std::vector<FileKey> &chain, const std::vector<FileKey> &folder)
{
    if (folder.empty())
        return false;
    for (const FileKey &key : chain)
        if (key == folder.front())
            return true;
    return false;
}

}  // namespace

bool FoldersOverlap(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const std::vector<FileKey> aChain = FolderChain(a);
    const std::vector<FileKey> bChain = FolderChain(b);
    return Holds(aChain, bChain) || Holds(bChain, aChain);
}

QString DestinationOverlap(const QString &destination, const QString &deviceFolder, const QString &what)
{
    if (destination.isEmpty() || deviceFolder.isEmpty())
        return QString();
    const std::vector<FileKey> destinationChain = FolderChain(destination);
    const std::vector<FileKey> deviceChain = FolderChain(deviceFolder);
    QString how;
    if (Holds(destinationChain, deviceChain))
        how = QStringLiteral("lies inside the device's folder");
    else if (Holds(deviceChain, destinationChain))
        how = QStringLiteral("holds the device's folder");
    else
        return QString();
    return QStringLiteral("ERROR: The %4 \"%1\" %2 \"%3\": the copies would be read back as the "
                          "device's own files. Choose a destination outside the device.")
        .arg(destination, how, deviceFolder, what);
}
