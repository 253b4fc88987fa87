#include "copy/AscMhl.h"

#include "base/FileNames.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <deque>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kFolder = QStringLiteral("ascmhl");
const QString kChain = QStringLiteral("ascmhl_chain.xml");
const QString kManifestNamespace = QStringLiteral("urn:ASC:MHL:v2.0");
const QString kChainNamespace = QStringLiteral("urn:ASC:MHL:DIRECTORY:v2.0");
const QString kTemporaryPrefix = QStringLiteral(".ferrovane-");

QByteArray Native(const QString &path)
{
    return nameToBytes(path);
}

QString WithSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString ErrorText(int error)
{
    return qt_error_string(error);
}

// Whether XML 1.0 can carry the text: no control characters but tab and
// line breaks, no noncharacters, no lone surrogates (the odd bytes of a name).
bool XmlCarries(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (QChar::isSurrogate(c) || (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF)
            return false;
    }
    return true;
}

// A path below a folder: no leading '/', no empty, "." or ".." step.
bool IsRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    for (QStringView step : QStringView(path).split(QLatin1Char('/'))) {
        if (step.isEmpty() || step == u"." || step == u"..")
            return false;
    }
    return true;
}

// Why a path cannot be listed; empty when it can.
QString ListingTrouble(const QString &path)
{
    if (!IsRelativePath(path))
        return QStringLiteral("it is not a path below the destination");
    for (QStringView step : QStringView(path).split(QLatin1Char('/'))) {
        if (step == kFolder)
            return QStringLiteral("it belongs to a hash list history");
        if (step.startsWith(kTemporaryPrefix))
            return QStringLiteral("it is a temporary file of the program");
    }
    if (!XmlCarries(path))
        return QStringLiteral("its name holds bytes or control characters an XML hash list cannot carry");
    return {};
}

bool IsManifestName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{4,}_.*\\.mhl$"));
    return pattern.match(name).hasMatch();
}

bool IsTemporaryName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.ferrovane-[A-Za-z0-9]{6}\\.part$"));
    return pattern.match(name).hasMatch();
}

QString RandomLetters()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < 6; ++i)
        text += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
    return text;
}

QStringList NamesIn(const QString &folder)
{
    QStringList names;
    if (DIR *dir = ::opendir(Native(folder).constData())) {
        while (const dirent *e = ::readdir(dir))
            names << nameFromBytes(e->d_name);
        ::closedir(dir);
    }
    return names;
}

// The whole file; -1 when read, else errno.
int ReadAll(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return error;
        }
        bytes.append(buffer, got);
    }
    ::close(fd);
    return -1;
}

bool SyncFolder(const QString &folder)
{
    const int fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

bool WriteAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return false;
        }
        done += w;
    }
    return true;
}

// Puts bytes under folder + name, whole or not at all: a file without a name
// (or a hidden one) is written and flushed, then named. Without replace an
// existing file stays and the write fails (EEXIST). Empty, or why not.
QString WriteWhole(const QString &folder, const QString &name, const QByteArray &bytes, bool replace)
{
    const QString target = folder + name;
    const QByteArray to = Native(target);
    QString hidden;
    int fd = ::open(Native(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            hidden = folder + kTemporaryPrefix + RandomLetters() + QStringLiteral(".part");
            fd = ::open(Native(hidden).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
    }
    if (fd < 0)
        return target + QStringLiteral(": ") + ErrorText(errno);
    auto unlinkHidden = [&] {
        if (!hidden.isEmpty())
            ::unlink(Native(hidden).constData());
    };
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        unlinkHidden();
        return target + QStringLiteral(": ") + ErrorText(error);
    }
    int result;
    if (hidden.isEmpty()) {
        // A nameless file gets its name by a link, which never replaces
        // anything; a replacement goes through a hidden name.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (!replace) {
            result = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, to.constData(), AT_SYMLINK_FOLLOW);
        } else {
            result = -1;
            for (int attempt = 0; attempt < 100 && result != 0; ++attempt) {
                hidden = folder + kTemporaryPrefix + RandomLetters() + QStringLiteral(".part");
                result = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, Native(hidden).constData(), AT_SYMLINK_FOLLOW);
                if (result != 0 && errno != EEXIST)
                    break;
            }
            if (result == 0)
                result = ::rename(Native(hidden).constData(), to.constData());
        }
    } else if (replace) {
        result = ::rename(Native(hidden).constData(), to.constData());
    } else {
        const QByteArray from = Native(hidden);
        result = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // Without the exclusive rename: a hard link fails on an existing
            // name as well; without hard links (FAT) the name is looked at
            // first, under the history's lock.
            result = ::link(from.constData(), to.constData());
            if (result != 0 && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS)) {
                struct stat st;
                if (::lstat(to.constData(), &st) == 0) {
                    errno = EEXIST;
                } else if (errno == ENOENT) {
                    result = ::rename(from.constData(), to.constData());
                }
            }
        }
    }
    const int error = errno;
    ::close(fd);
    unlinkHidden();  // after a link, or when the name was not given
    if (result != 0)
        return target + QStringLiteral(": ") + ErrorText(error);
    if (!SyncFolder(folder))
        return folder + QStringLiteral(": ") + ErrorText(errno);
    return {};
}

// "2020-01-17T14:30:00+00:00"
QString IsoUtc(qint64 ms)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    const QDate d = when.date();
    const QTime t = when.time();
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d+00:00", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second());
}

// "2020-01-17_143000", as a manifest's name carries the time.
QString NameTime(qint64 ms)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    const QDate d = when.date();
    const QTime t = when.time();
    return QString::asprintf("%04d-%02d-%02d_%02d%02d%02d", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second());
}

// --- Reading a history ----------------------------------------------------------

struct Link
{
    qint64 sequence = 0;
    QString name;
    QString c4;
};

// The earliest hash of a kind a history holds of a file, not a failed one.
struct Known
{
    MhlHash hash;
    QString manifest;
};

struct HistoryData
{
    std::vector<Link> chain;
    bool hasChain = false;
    QByteArray chainBytes;
    std::map<QString, std::vector<Known>> known;  // by path below the history's root
    QStringList below;                            // folders of histories its generations refer to ("a/b/")
};

bool InManifestNamespace(const QXmlStreamReader &xml)
{
    return xml.namespaceUri() == kManifestNamespace;
}

void ReadHashEntry(QXmlStreamReader &xml, const QString &manifest, HistoryData &history, QString &why)
{
    QString path;
    std::vector<std::pair<MhlHash, bool>> hashes;  // with whether it failed
    while (xml.readNextStartElement()) {
        const auto kind = MhlHashKindNamed(xml.name());
        if (InManifestNamespace(xml) && xml.name() == u"path") {
            path = xml.readElementText();
        } else if (InManifestNamespace(xml) && kind) {
            const bool failed = xml.attributes().value(QStringLiteral("action")) == u"failed";
            hashes.push_back({{*kind, xml.readElementText().trimmed()}, failed});
        } else {
            xml.skipCurrentElement();
        }
    }
    if (!IsRelativePath(path)) {
        why = manifest + QStringLiteral(" names a file that is not below its folder: ") + path;
        return;
    }
    std::vector<Known> &known = history.known[path];
    for (const auto &[hash, failed] : hashes) {
        const bool have =
            std::any_of(known.begin(), known.end(), [&](const Known &k) { return k.hash.kind == hash.kind; });
        if (!failed && !have)
            known.push_back({hash, manifest});
    }
    if (known.empty())
        history.known.erase(path);
}

// Reads what a manifest lists into history; false with why when it is none.
bool ReadManifest(const QByteArray &bytes, const QString &manifest, HistoryData &history, QString &why)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != u"hashlist" || !InManifestNamespace(xml) ||
        xml.attributes().value(QStringLiteral("version")) != u"2.0") {
        why = manifest + QStringLiteral(" is not an ASC MHL manifest of version 2.0.");
        return false;
    }
    while (why.isEmpty() && xml.readNextStartElement()) {
        if (xml.name() == u"hashes" && InManifestNamespace(xml)) {
            while (why.isEmpty() && xml.readNextStartElement()) {
                if (xml.name() == u"hash" && InManifestNamespace(xml))
                    ReadHashEntry(xml, manifest, history, why);
                else
                    xml.skipCurrentElement();
            }
        } else if (xml.name() == u"references" && InManifestNamespace(xml)) {
            while (xml.readNextStartElement()) {
                while (xml.readNextStartElement()) {
                    if (xml.name() != u"path") {
                        xml.skipCurrentElement();
                        continue;
                    }
                    // "A002/ascmhl/0002_A002_2020-01-17_143000Z.mhl": the history of "A002/".
                    const QString path = xml.readElementText();
                    const qsizetype at = path.lastIndexOf(QLatin1Char('/') + kFolder + QLatin1Char('/'));
                    if (at > 0 && IsRelativePath(path) && !history.below.contains(path.left(at + 1)))
                        history.below << path.left(at + 1);
                }
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    if (why.isEmpty() && xml.hasError())
        why = manifest + QStringLiteral(" cannot be read: ") + xml.errorString();
    return why.isEmpty();
}

bool ReadChain(const QByteArray &bytes, std::vector<Link> &chain, QString &why)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != u"ascmhldirectory" || xml.namespaceUri() != kChainNamespace) {
        why = kChain + QStringLiteral(" is not an ASC MHL chain.");
        return false;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() != u"hashlist") {
            xml.skipCurrentElement();
            continue;
        }
        Link link;
        bool numbered = false;
        link.sequence = xml.attributes().value(QStringLiteral("sequencenr")).toLongLong(&numbered);
        while (xml.readNextStartElement()) {
            if (xml.name() == u"path")
                link.name = xml.readElementText();
            else if (xml.name() == u"c4")
                link.c4 = xml.readElementText().trimmed();
            else
                xml.skipCurrentElement();
        }
        const bool plainName =
            !link.name.isEmpty() && !link.name.contains(QLatin1Char('/')) && link.name != u"." && link.name != u"..";
        if (!numbered || !plainName || link.c4.isEmpty() ||
            (!chain.empty() && link.sequence <= chain.back().sequence)) {
            why = kChain + QStringLiteral(" has an entry without a number in order, a manifest name or a C4 ID.");
            return false;
        }
        chain.push_back(std::move(link));
    }
    if (xml.hasError()) {
        why = kChain + QStringLiteral(" cannot be read: ") + xml.errorString();
        return false;
    }
    return true;
}

// Reads the history at root (ending in '/'); a root without the folder has
// an empty one. False with why when the folder holds no history to trust.
bool LoadHistory(const QString &root, HistoryData &history, QString &why)
{
    history = HistoryData();
    const QString folder = root + kFolder + QLatin1Char('/');
    struct stat st;
    if (::stat(Native(root + kFolder).constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        why = root + kFolder + QStringLiteral(": ") + ErrorText(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = root + kFolder + QStringLiteral(" is not a folder.");
        return false;
    }
    const QStringList names = NamesIn(folder);
    const int error = ReadAll(folder + kChain, history.chainBytes);
    history.hasChain = error < 0;
    if (error >= 0 && error != ENOENT) {
        why = folder + kChain + QStringLiteral(": ") + ErrorText(error);
        return false;
    }
    if (history.hasChain && !ReadChain(history.chainBytes, history.chain, why)) {
        why = folder + why;
        return false;
    }
    QSet<QString> chained;
    for (const Link &link : history.chain) {
        QByteArray bytes;
        const int readError = ReadAll(folder + link.name, bytes);
        if (readError >= 0) {
            why = folder + link.name + QStringLiteral(", named in ") + kChain + QStringLiteral(": ") +
                  ErrorText(readError);
            return false;
        }
        if (C4Id(bytes) != link.c4) {
            why = folder + link.name + QStringLiteral(" has changed since it was written: its C4 ID is not the one ") +
                  kChain + QStringLiteral(" names.");
            return false;
        }
        if (!ReadManifest(bytes, link.name, history, why)) {
            why = folder + why;
            return false;
        }
        chained.insert(link.name);
    }
    for (const QString &name : names) {
        if (IsManifestName(name) && !chained.contains(name)) {
            why = folder + name + QStringLiteral(" is not named in ") + kChain + QLatin1Char('.');
            return false;
        }
    }
    return true;
}

// The folder's name as a manifest's name carries it: what neither XML nor
// FAT can carry becomes "_", and it is cut to leave room for the rest.
QString NameForManifest(const QString &folder)
{
    QString name = QStringView(folder).chopped(1).mid(folder.lastIndexOf(QLatin1Char('/'), -2) + 1).toString();
    QString safe;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const bool pair = name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate();
        const QStringView c = QStringView(name).mid(i, pair ? 2 : 1);
        // Nor what FAT and exFAT refuse in a name.
        const bool fine =
            XmlCarries(c) && (c.size() > 1 || (c[0] >= QLatin1Char(' ') && !QStringView(u"\"*:<>?\\|").contains(c[0])));
        safe += fine ? c.toString() : QStringLiteral("_");
        i += pair ? 1 : 0;
    }
    if (safe.isEmpty())
        safe = QStringLiteral("root");
    // "NNNNN_" and "_YYYY-MM-DD_HHMMSSZ.mhl" around it.
    while (nameToBytes(safe).size() > NAME_MAX - 30) {
        safe.chop(1);
        if (!safe.isEmpty() && safe.back().isHighSurrogate())
            safe.chop(1);
    }
    return safe;
}

QByteArray ChainXml(const std::vector<Link> &chain)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kChainNamespace);
    xml.writeStartElement(kChainNamespace, QStringLiteral("ascmhldirectory"));
    for (const Link &link : chain) {
        xml.writeStartElement(QStringLiteral("hashlist"));
        xml.writeAttribute(QStringLiteral("sequencenr"), QString::number(link.sequence));
        xml.writeTextElement(QStringLiteral("path"), link.name);
        xml.writeTextElement(QStringLiteral("c4"), link.c4);
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return bytes;
}

// Text as it is: a carriage return as a reference, which a reader keeps
// (a bare one would reach it as a line feed).
void WriteText(QXmlStreamWriter &xml, const QString &text)
{
    const QList<QStringView> parts = QStringView(text).split(QLatin1Char('\r'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            xml.writeEntityReference(QStringLiteral("#13"));
        xml.writeCharacters(parts[i].toString());
    }
}

QLatin1String ActionName(MhlAction action)
{
    switch (action) {
    case MhlAction::Original: return QLatin1String("original");
    case MhlAction::Verified: return QLatin1String("verified");
    case MhlAction::Failed: break;
    }
    return QLatin1String("failed");
}

}  // namespace

// --- A new generation -----------------------------------------------------------

struct MhlGeneration::Scope
{
    QString folder;  // below the generation's root: "" or "a/b/"
    HistoryData history;
    struct Entry
    {
        FileStamp stamp;
        std::vector<MhlHash> hashes;
        MhlAction action = MhlAction::Original;
        qint64 hashedMs = 0;
    };
    std::map<QString, Entry> entries;  // by path below the scope's folder
    QString manifest;                  // the name of the manifest written
    QString c4;
};

MhlGeneration::MhlGeneration() = default;
MhlGeneration::~MhlGeneration() = default;

bool MhlGeneration::Fail(const QString &why)
{
    if (trouble_.isEmpty())
        trouble_ = why;
    return false;
}

bool MhlGeneration::Start(const QString &root, const MhlCreator &creator, MhlProcess process, const QDateTime &started)
{
    root_ = WithSlash(root);
    creator_ = creator;
    if (creator_.host.isEmpty())
        creator_.host = QSysInfo::machineHostName();
    process_ = process;
    started_ = started.toUTC();
    scopes_.clear();
    historyFolders_.clear();
    written_.clear();
    trouble_.clear();
    auto scope = std::make_unique<Scope>();
    QString why;
    if (!LoadHistory(root_, scope->history, why))
        return Fail(why);
    scopes_[QString()] = std::move(scope);
    return true;
}

int MhlGeneration::Listed() const
{
    int listed = 0;
    for (const auto &[folder, scope] : scopes_)
        listed += int(scope->entries.size());
    return listed;
}

MhlGeneration::Scope *MhlGeneration::ScopeFor(const QString &path, QString &within)
{
    Scope *deepest = nullptr;
    for (qsizetype slash = path.lastIndexOf(QLatin1Char('/')); slash > 0;
         slash = path.lastIndexOf(QLatin1Char('/'), slash - 1)) {
        const QString folder = path.left(slash + 1);
        auto [seen, fresh] = historyFolders_.try_emplace(folder, false);
        if (fresh) {
            struct stat st;
            seen->second = ::stat(Native(root_ + folder + kFolder).constData(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (!seen->second)
            continue;
        auto &scope = scopes_[folder];
        if (!scope) {
            scope = std::make_unique<Scope>();
            scope->folder = folder;
            QString why;
            if (!LoadHistory(root_ + folder, scope->history, why)) {
                Fail(why);
                return nullptr;
            }
        }
        if (!deepest)
            deepest = scope.get();
    }
    if (!deepest)
        deepest = scopes_[QString()].get();
    within = path.mid(deepest->folder.size());
    return deepest;
}

MhlGeneration::Added MhlGeneration::Add(const QString &path, const FileStamp &stamp, const MhlHash &hash)
{
    if (scopes_.empty())
        Fail(QStringLiteral("No hash list history was started."));
    if (!trouble_.isEmpty())
        return {false, MhlAction::Original, trouble_};
    if (const QString why = ListingTrouble(path); !why.isEmpty())
        return {false, MhlAction::Original, why};
    QString within;
    Scope *scope = ScopeFor(path, within);
    if (!scope)
        return {false, MhlAction::Original, trouble_};
    Scope::Entry entry{stamp, {hash}, MhlAction::Original, QDateTime::currentMSecsSinceEpoch()};
    QString note;
    const auto known = scope->history.known.find(within);
    if (known != scope->history.known.end()) {
        // The earliest hash of the same kind, else of the fastest kind the
        // history holds, which the file is read to take.
        const std::vector<Known> &hashes = known->second;
        auto earlier =
            std::find_if(hashes.begin(), hashes.end(), [&](const Known &k) { return k.hash.kind == hash.kind; });
        MhlHash now = hash;
        if (earlier == hashes.end()) {
            earlier = std::min_element(hashes.begin(), hashes.end(),
                                       [](const Known &a, const Known &b) { return a.hash.kind < b.hash.kind; });
            const int fd = ::open(Native(root_ + path).constData(), O_RDONLY | O_CLOEXEC);
            QString error = fd < 0 ? ErrorText(errno) : QString();
            std::optional<std::vector<MhlHash>> taken;
            if (fd >= 0) {
                taken = HashFileAs(fd, {earlier->hash.kind}, &error);
                ::close(fd);
            }
            if (!taken)
                return {false, MhlAction::Original,
                        QStringLiteral("it could not be read to compare it with its hash in ") + earlier->manifest +
                            QStringLiteral(": ") + error};
            now = taken->front();
            entry.hashes.push_back(now);
        }
        entry.action = now.Matches(earlier->hash) ? MhlAction::Verified : MhlAction::Failed;
        if (entry.action == MhlAction::Failed)
            note =
                QStringLiteral("its %1 hash differs from the one in %2").arg(MhlHashName(now.kind), earlier->manifest);
    }
    const MhlAction action = entry.action;
    scope->entries[within] = std::move(entry);
    return {true, action, note};
}

bool MhlGeneration::Knows(const QString &path)
{
    QString within;
    Scope *scope = scopes_.empty() || !ListingTrouble(path).isEmpty() ? nullptr : ScopeFor(path, within);
    return scope && scope->history.known.count(within) > 0;
}

bool MhlGeneration::Finish()
{
    written_.clear();
    if (!trouble_.isEmpty() || scopes_.empty())
        return Fail(QStringLiteral("No hash list history was started."));
    // The deepest first: a history's generation refers to those of the
    // histories right below it.
    std::vector<Scope *> order;
    for (const auto &[folder, scope] : scopes_)
        order.push_back(scope.get());
    std::sort(order.begin(), order.end(), [](const Scope *a, const Scope *b) {
        return a->folder.count(QLatin1Char('/')) > b->folder.count(QLatin1Char('/'));
    });
    for (Scope *scope : order) {
        std::vector<const Scope *> below;
        for (const Scope *other : order) {
            if (other == scope || other->manifest.isEmpty() || !other->folder.startsWith(scope->folder))
                continue;
            // Right below: no other history between the two.
            const bool between = std::any_of(order.begin(), order.end(), [&](const Scope *middle) {
                return middle != scope && middle != other && middle->folder.startsWith(scope->folder) &&
                       other->folder.startsWith(middle->folder);
            });
            if (!between)
                below.push_back(other);
        }
        if ((scope->entries.empty() && below.empty()) || WriteScope(*scope, below))
            continue;
        return false;
    }
    return true;
}

bool MhlGeneration::WriteScope(Scope &scope, const std::vector<const Scope *> &below)
{
    const QString root = root_ + scope.folder;
    const QString folder = root + kFolder + QLatin1Char('/');
    if (::mkdir(Native(folder).constData(), 0777) != 0 && errno != EEXIST)
        return Fail(folder + QStringLiteral(": ") + ErrorText(errno));
    // Writers of one history take turns.
    const int lock = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0)
        return Fail(folder + QStringLiteral(": ") + ErrorText(errno));
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {}
    struct Unlock
    {
        int fd;
        ~Unlock() { ::close(fd); }
    } unlock{lock};

    // Another run may have added a generation since Start.
    QByteArray chainBytes;
    const int error = ReadAll(folder + kChain, chainBytes);
    if ((error < 0) != scope.history.hasChain || chainBytes != scope.history.chainBytes) {
        QString why;
        if (!LoadHistory(root, scope.history, why))
            return Fail(why);
    }
    for (const QString &name : NamesIn(folder)) {
        if (IsTemporaryName(name))  // left by a writer that died: none is writing now
            ::unlink(Native(folder + name).constData());
    }

    std::vector<Link> chain = scope.history.chain;
    const qint64 sequence = chain.empty() ? 1 : chain.back().sequence + 1;
    const QString name = QStringLiteral("%1_%2_%3Z.mhl")
                             .arg(QString::number(sequence).rightJustified(4, QLatin1Char('0')), NameForManifest(root),
                                  NameTime(started_.toMSecsSinceEpoch()));

    const QString created = IsoUtc(started_.toMSecsSinceEpoch());
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kManifestNamespace);
    xml.writeStartElement(kManifestNamespace, QStringLiteral("hashlist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("creatorinfo"));
    xml.writeTextElement(QStringLiteral("creationdate"), created);
    xml.writeTextElement(QStringLiteral("hostname"), creator_.host);
    xml.writeStartElement(QStringLiteral("tool"));
    xml.writeAttribute(QStringLiteral("version"), creator_.version);
    xml.writeCharacters(creator_.tool);
    xml.writeEndElement();
    if (!creator_.comment.isEmpty())
        xml.writeTextElement(QStringLiteral("comment"), creator_.comment);
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("processinfo"));
    xml.writeTextElement(QStringLiteral("process"),
                         process_ == MhlProcess::Transfer ? QStringLiteral("transfer") : QStringLiteral("in-place"));
    // What a tool that walks the folder is to pass over.
    xml.writeStartElement(QStringLiteral("ignore"));
    const QStringList patterns{kFolder, kFolder + QLatin1Char('/'), kTemporaryPrefix + QLatin1Char('*')};
    for (const QString &pattern : patterns)
        xml.writeTextElement(QStringLiteral("pattern"), pattern);
    xml.writeEndElement();
    xml.writeEndElement();
    if (!scope.entries.empty()) {
        xml.writeStartElement(QStringLiteral("hashes"));
        for (const auto &[path, entry] : scope.entries) {
            xml.writeStartElement(QStringLiteral("hash"));
            xml.writeStartElement(QStringLiteral("path"));
            xml.writeAttribute(QStringLiteral("size"), QString::number(entry.stamp.size));
            const qint64 ns = entry.stamp.mtimeNs;
            xml.writeAttribute(QStringLiteral("lastmodificationdate"), IsoUtc((ns >= 0 ? ns : ns - 999999) / 1000000));
            WriteText(xml, path);
            xml.writeEndElement();
            for (const MhlHash &hash : entry.hashes) {
                xml.writeStartElement(MhlHashName(hash.kind));
                xml.writeAttribute(QStringLiteral("action"), ActionName(entry.action));
                xml.writeAttribute(QStringLiteral("hashdate"), IsoUtc(entry.hashedMs));
                xml.writeCharacters(hash.text);
                xml.writeEndElement();
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    if (!below.empty()) {
        xml.writeStartElement(QStringLiteral("references"));
        for (const Scope *other : below) {
            xml.writeStartElement(QStringLiteral("hashlistreference"));
            xml.writeStartElement(QStringLiteral("path"));
            WriteText(xml, other->folder.mid(scope.folder.size()) + kFolder + QLatin1Char('/') + other->manifest);
            xml.writeEndElement();
            xml.writeTextElement(QStringLiteral("c4"), other->c4);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();

    if (const QString why = WriteWhole(folder, name, bytes, false); !why.isEmpty())
        return Fail(QStringLiteral("The hash list could not be written: ") + why);
    const QString c4 = C4Id(bytes);
    chain.push_back({sequence, name, c4});
    if (const QString why = WriteWhole(folder, kChain, ChainXml(chain), true); !why.isEmpty())
        return Fail(folder + name + QStringLiteral(" was written, but ") + kChain +
                    QStringLiteral(" could not name it: ") + why);
    scope.manifest = name;
    scope.c4 = c4;
    scope.history.chain = std::move(chain);
    written_ << scope.folder + kFolder + QLatin1Char('/') + name;
    return true;
}

// --- Verification ---------------------------------------------------------------

MhlVerification VerifyMhlHistory(const QString &root, const std::function<void(const MhlCheck &)> &each,
                                 const std::function<bool()> &stop)
{
    MhlVerification result;
    const QString top = WithSlash(root);
    // The root's history and those its generations refer to, below it.
    std::vector<std::pair<QString, HistoryData>> histories;
    std::deque<QString> folders{QString()};
    QSet<QString> seen;
    while (!folders.empty()) {
        const QString folder = folders.front();
        folders.pop_front();
        if (seen.contains(folder))
            continue;
        seen.insert(folder);
        HistoryData history;
        if (!LoadHistory(top + folder, history, result.trouble))
            return result;
        if (folder.isEmpty() && history.chain.empty()) {
            result.trouble = top + QStringLiteral(" holds no ASC MHL history (") + kFolder + QLatin1Char('/') + kChain +
                             QStringLiteral(").");
            return result;
        }
        for (const QString &below : std::as_const(history.below))
            folders.push_back(folder + below);
        histories.emplace_back(folder, std::move(history));
    }
    result.read = true;
    for (const auto &[folder, history] : histories) {
        for (const auto &[path, known] : history.known) {
            MhlCheck check;
            check.path = folder + path;
            check.expected = std::min_element(known.begin(), known.end(), [](const Known &a, const Known &b) {
                                 return a.hash.kind < b.hash.kind;
                             })->hash;
            const int fd = ::open(Native(top + check.path).constData(), O_RDONLY | O_CLOEXEC);
            struct stat st;
            if (fd < 0) {
                check.result =
                    errno == ENOENT || errno == ENOTDIR ? MhlCheck::Result::Missing : MhlCheck::Result::Unreadable;
                check.detail = ErrorText(errno);
            } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                check.result = MhlCheck::Result::Unreadable;
                check.detail = QStringLiteral("not a file");
            } else if (auto hashes = HashFileAs(fd, {check.expected.kind}, &check.detail, stop)) {
                check.found = hashes->front().text;
                check.result =
                    hashes->front().Matches(check.expected) ? MhlCheck::Result::Match : MhlCheck::Result::Mismatch;
            } else {
                check.result = MhlCheck::Result::Unreadable;
            }
            if (fd >= 0)
                ::close(fd);
            if (stop && stop()) {
                result.stopped = true;
                return result;
            }
            ++result.files;
            if (check.result != MhlCheck::Result::Match)
                ++result.failures;
            if (each)
                each(check);
        }
    }
    return result;
}
