#include "common/TestMain.h"

#include "base/FileNames.h"
#include "copy/AscMhl.h"
#include "copy/AscMhlHash.h"

#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

// The ASC MHL histories written at a destination, read back here with a
// reader of the test's own and checked with xmllint against the format's XML
// schemas (tests/copy/ascmhl); the hashes are xxhsum's, md5sum's and sha1sum's,
// the C4 IDs those of the C4 ID reference implementation's tests.

namespace {

const QString kManifestNs = QStringLiteral("urn:ASC:MHL:v2.0");
const QDateTime kStarted(QDate(2024, 5, 4), QTime(12, 34, 56), Qt::UTC);
const QString kStartedName = QStringLiteral("_2024-05-04_123456Z.mhl");

QByteArray ReadBytes(const QString &path)
{
    QByteArray bytes;
    const int fd = ::open(nameToBytes(path).constData(), O_RDONLY);
    char buffer[4096];
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, got);
    if (fd >= 0)
        ::close(fd);
    return bytes;
}

// Writes a file (and its folders) under exactly the name's bytes, dated
// 2023-11-14 22:13:20 UTC.
FileStamp Put(const QString &root, const QString &path, const QByteArray &bytes)
{
    const QString full = root + path;
    for (qsizetype slash = full.indexOf(QLatin1Char('/'), 1); slash > 0;
         slash = full.indexOf(QLatin1Char('/'), slash + 1))
        ::mkdir(nameToBytes(full.left(slash)).constData(), 0777);
    const int fd = ::open(nameToBytes(full).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), std::size_t(bytes.size())) != bytes.size())
        qFatal("cannot write %s", qPrintable(full));
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
    ::futimens(fd, times);
    ::close(fd);
    return {bytes.size(), 1700000000LL * 1000000000};
}

MhlHash HashOf(const QByteArray &bytes)
{
    return MhlHashOf(HashBytes(bytes));
}

struct Listed
{
    QString path, size, modified, kind, hash, action;
};

// A manifest as this test reads it: its process and the files it lists
// (a file with two hashes gives two rows), then its references.
struct Manifest
{
    QString process;
    std::vector<Listed> files;
    QStringList references;  // path and C4 ID after each other
};

Manifest ReadManifest(const QByteArray &bytes)
{
    Manifest m;
    QXmlStreamReader xml(bytes);
    Listed file;
    while (xml.readNext() != QXmlStreamReader::EndDocument && !xml.hasError()) {
        if (!xml.isStartElement() || xml.namespaceUri() != kManifestNs)
            continue;
        const QString name = xml.name().toString();
        if (name == u"process") {
            m.process = xml.readElementText();
        } else if (name == u"path" && xml.attributes().hasAttribute(QStringLiteral("size"))) {
            file.size = xml.attributes().value(QStringLiteral("size")).toString();
            file.modified = xml.attributes().value(QStringLiteral("lastmodificationdate")).toString();
            file.path = xml.readElementText();
        } else if (MhlHashKindNamed(name) && xml.attributes().hasAttribute(QStringLiteral("action"))) {
            file.kind = name;
            file.action = xml.attributes().value(QStringLiteral("action")).toString();
            file.hash = xml.readElementText();
            m.files.push_back(file);
        } else if (name == u"path" || name == u"c4") {
            m.references << xml.readElementText();
        }
    }
    if (xml.hasError())
        qWarning() << xml.errorString();
    return m;
}

// The chain's entries: number, manifest and C4 ID after each other.
QStringList ReadChain(const QByteArray &bytes)
{
    QStringList links;
    QXmlStreamReader xml(bytes);
    while (xml.readNext() != QXmlStreamReader::EndDocument && !xml.hasError()) {
        if (!xml.isStartElement() || xml.namespaceUri() != u"urn:ASC:MHL:DIRECTORY:v2.0")
            continue;
        if (xml.name() == u"hashlist")
            links << xml.attributes().value(QStringLiteral("sequencenr")).toString();
        else if (xml.name() != u"ascmhldirectory")
            links << xml.readElementText();
    }
    return links;
}

// Empty when xmllint finds the file valid against the schema.
QString SchemaTrouble(const QString &file, const QString &schema)
{
    QProcess lint;
    lint.start(QStringLiteral("xmllint"),
               {QStringLiteral("--noout"), QStringLiteral("--nonet"), QStringLiteral("--schema"),
                QStringLiteral(FERROVANE_MHL_SCHEMAS "/") + schema, file});
    lint.waitForFinished(-1);
    return lint.exitCode() == 0 ? QString() : QString::fromUtf8(lint.readAllStandardError());
}

// Every file in a folder with its bytes.
QMap<QString, QByteArray> Snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files[name] = ReadBytes(folder + name);
    return files;
}

MhlCreator Creator()
{
    return {QStringLiteral("Ferrovane"), QStringLiteral("1.2.0.1"), QStringLiteral("studio-7"), {}};
}

}  // namespace

Q_DECLARE_METATYPE(MhlHashKind)
Q_DECLARE_METATYPE(MhlCheck::Result)

class TestAscMhl : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    int roots_ = 0;
    // What the tests wrote, for the check against the schemas at the end.
    QStringList manifests_, chains_;
    // A fresh destination whose folder name has a space and a non-ASCII letter.
    QString NewRoot()
    {
        const QString root = dir_.filePath(QStringLiteral("%1/Card Ä/").arg(++roots_));
        QDir().mkpath(root);
        return root;
    }

private slots:
    // Qt cannot remove names that are not UTF-8.
    void cleanupTestCase()
    {
        ::nftw(
            QFile::encodeName(dir_.path()).constData(),
            [](const char *path, const struct stat *, int, FTW *) { return ::remove(path); }, 16, FTW_DEPTH | FTW_PHYS);
    }

    void hashKinds_data()
    {
        QTest::addColumn<MhlHashKind>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QByteArray word("Ferrovane");
        QTest::newRow("xxh32") << MhlHashKind::Xxh32 << word << "c893eb23";
        QTest::newRow("xxh64") << MhlHashKind::Xxh64 << word << "de3fbceb00c2dfd0";
        QTest::newRow("xxh64 of nothing") << MhlHashKind::Xxh64 << QByteArray() << "ef46db3751d8e999";
        QTest::newRow("xxh3") << MhlHashKind::Xxh3 << word << "f82ed2d8ef236cfe";
        QTest::newRow("xxh128") << MhlHashKind::Xxh128 << word << "0ed904281930f754886984ae35d66f91";
        QTest::newRow("md5") << MhlHashKind::Md5 << word << "641be92409ed41e0130856db4e0546d7";
        QTest::newRow("sha1") << MhlHashKind::Sha1 << word << "5cb0fa09f1b3b740cd01d562ca1086a00d20d6da";
        QTest::newRow("c4")
            << MhlHashKind::C4 << QByteArray("alfa")
            << "c43zYcLni5LF9rR4Lg4B8h3Jp8SBwjcnyyeh4bc6gTPHndKuKdjUWx1kJPYhZxYt3zV6tQXpDs2shPsPYjgG81wZM1";
        QTest::newRow("c4 bravo")
            << MhlHashKind::C4 << QByteArray("bravo")
            << "c42jd8KUQG9DKppN1qt5aWS3PAmdPmNutXyVTb8H123FcuU3shPxpUXsVdcouSALZ4PaDvMYzQSMYCWkb6rop9zhDa";
        // Its digest is below 58^87: padded with the zero digit.
        QTest::newRow("c4 echo")
            << MhlHashKind::C4 << QByteArray("echo")
            << "c41bviGCyTM2stoMYVTVKgBkfC6SitoLRFinp77BcmN9awdaeC9cxPy4zyFQBhmTvRzChawbECK1KBRnw3KnagA5be";
    }
    void hashKinds()
    {
        QFETCH(MhlHashKind, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QString path = dir_.filePath(QStringLiteral("hashed"));
        Put(path.left(path.lastIndexOf(QLatin1Char('/')) + 1), QStringLiteral("hashed"), bytes);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        const auto hashes = HashFileAs(fd, {kind, MhlHashKind::Xxh128});
        ::close(fd);
        QVERIFY(hashes);
        QCOMPARE(hashes->front().text, text);
        QCOMPARE(hashes->back().text, HashBytes(bytes).Text());
        if (kind == MhlHashKind::C4)
            QCOMPARE(C4Id(bytes), text);
    }

    // A first generation, its names exact, read back and checked against the schemas.
    void firstGeneration_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("camera folders") << "DCIM/100CANON/IMG_0001.JPG";
        QTest::newRow("spaces") << " My Photos/a  b .jpg";
        QTest::newRow("non-ASCII") << "Fotos/Ämter 日本 😀.heic";
        QTest::newRow("XML's own characters") << "x/&amp;<a>\"b\"'c'.jpg";
        QTest::newRow("tab and line breaks") << "a\tb\nc\r\nd.jpg";
    }
    void firstGeneration()
    {
        QFETCH(QString, name);
        const QString root = NewRoot();
        const QStringList names{name, QStringLiteral("other.txt")};
        MhlGeneration generation;
        QVERIFY(generation.Start(root, Creator(), MhlProcess::Transfer, kStarted));
        for (const QString &n : names) {
            const QByteArray bytes = n.toUtf8() + QByteArray(3000, 'x');
            const auto added = generation.Add(n, Put(root, n, bytes), HashOf(bytes));
            QVERIFY2(added.listed, qPrintable(added.note));
            QCOMPARE(added.action, MhlAction::Original);
        }
        QVERIFY2(generation.Finish(), qPrintable(generation.Trouble()));
        const QString manifest = QStringLiteral("0001_Card Ä") + kStartedName;
        QCOMPARE(generation.Written(), QStringList{QStringLiteral("ascmhl/") + manifest});
        const QString folder = root + QStringLiteral("ascmhl/");
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{manifest, QStringLiteral("ascmhl_chain.xml")}));
        manifests_ << folder + manifest;
        chains_ << folder + QStringLiteral("ascmhl_chain.xml");

        const QByteArray bytes = ReadBytes(folder + manifest);
        const Manifest m = ReadManifest(bytes);
        QCOMPARE(m.process, QStringLiteral("transfer"));
        QCOMPARE(m.files.size(), std::size_t(2));
        for (const Listed &file : m.files) {
            QVERIFY2(names.contains(file.path), qPrintable(file.path));
            const QByteArray content = ReadBytes(root + file.path);
            QCOMPARE(file.size, QString::number(content.size()));
            QCOMPARE(file.modified, QStringLiteral("2023-11-14T22:13:20+00:00"));
            QCOMPARE(file.kind, QStringLiteral("xxh128"));
            QCOMPARE(file.hash, HashBytes(content).Text());
            QCOMPARE(file.action, QStringLiteral("original"));
        }
        QCOMPARE(ReadChain(ReadBytes(folder + QStringLiteral("ascmhl_chain.xml"))),
                 (QStringList{QStringLiteral("1"), manifest, C4Id(bytes)}));
    }

    // The root folder's name in the manifest's: what XML or FAT cannot carry is "_".
    void manifestName_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("manifest");
        QTest::newRow("plain") << "A002R2EC"
                               << "0001_A002R2EC";
        QTest::newRow("odd bytes") << nameFromBytes("Card\xff\xfe") << "0001_Card__";
        QTest::newRow("FAT's forbidden characters") << "a:b?c*d|e\"f"
                                                    << "0001_a_b_c_d_e_f";
        QTest::newRow("a line break") << "two\nlines"
                                      << "0001_two_lines";
        QTest::newRow("astral") << "😀 Shoot"
                                << "0001_😀 Shoot";
    }
    void manifestName()
    {
        QFETCH(QString, folder);
        QFETCH(QString, manifest);
        const QString root = NewRoot() + folder + QLatin1Char('/');
        MhlGeneration generation;
        QVERIFY(generation.Start(root, Creator(), MhlProcess::InPlace, kStarted));
        QVERIFY(generation.Add(QStringLiteral("f"), Put(root, QStringLiteral("f"), "f"), HashOf("f")).listed);
        QVERIFY2(generation.Finish(), qPrintable(generation.Trouble()));
        QCOMPARE(generation.Written(), QStringList{QStringLiteral("ascmhl/") + manifest + kStartedName});
    }

    // What is never listed, and a generation without a file writes nothing.
    void notListed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("bytes that are not UTF-8") << nameFromBytes("DCIM/bad\xff\xfe.jpg");
        QTest::newRow("a control character") << "a\x01z.jpg";
        QTest::newRow("a temporary of ours") << ".ferrovane-AbC123.part";
        QTest::newRow("a temporary in a folder") << "DCIM/.ferrovane-AbC123.part";
        QTest::newRow("the history") << "ascmhl/ascmhl_chain.xml";
        QTest::newRow("a history below") << "Sub/ascmhl/0001_Sub_2024-05-04_123456Z.mhl";
        QTest::newRow("the folder above") << "../x.jpg";
        QTest::newRow("an absolute path") << "/etc/passwd";
        QTest::newRow("an empty step") << "a//b.jpg";
    }
    void notListed()
    {
        QFETCH(QString, path);
        const QString root = NewRoot();
        MhlGeneration generation;
        QVERIFY(generation.Start(root, Creator(), MhlProcess::InPlace, kStarted));
        const auto added = generation.Add(path, {1, 0}, HashOf("x"));
        QVERIFY(!added.listed);
        QVERIFY(!added.note.isEmpty());
        QVERIFY(generation.Finish());
        QVERIFY(generation.Written().isEmpty());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("ascmhl")));
    }

    // Numbering, verified and failed files, a file hashed in another kind,
    // generations that end together, and a name taken under a manifest's.
    void laterGenerations()
    {
        const QString root = NewRoot();
        const QString folder = root + QStringLiteral("ascmhl/");
        const QString chain = folder + QStringLiteral("ascmhl_chain.xml");
        auto start = [&](int minutes, const QList<std::pair<QString, QByteArray>> &files = {}) {
            auto g = std::make_unique<MhlGeneration>();
            g->Start(root, Creator(), MhlProcess::Transfer, kStarted.addSecs(60 * minutes));
            for (const auto &[path, bytes] : files)
                g->Add(path, Put(root, path, bytes), HashOf(bytes));
            return g;
        };
        QVERIFY(start(0, {{"a.jpg", "a"}, {"b.jpg", "b"}, {"c.jpg", "c"}})->Finish());

        auto second = start(1, {{"d.jpg", "d"}});
        QVERIFY(second->Knows(QStringLiteral("b.jpg")) && !second->Knows(QStringLiteral("d.jpg")));
        QCOMPARE(second->Add(QStringLiteral("a.jpg"), {1, 0}, HashOf("a")).action, MhlAction::Verified);
        const auto changed = second->Add(QStringLiteral("b.jpg"), Put(root, QStringLiteral("b.jpg"), "B"), HashOf("B"));
        QCOMPARE(changed.action, MhlAction::Failed);
        QVERIFY2(changed.note.contains(QStringLiteral("0001_Card Ä") + kStartedName), qPrintable(changed.note));
        // Started before the second ends, numbered after it; c.jpg is read
        // to compare it with its xxh128 hash.
        auto third = start(2);
        const auto xxh64 = third->Add(QStringLiteral("c.jpg"), {1, 0}, {MhlHashKind::Xxh64, "a3dad144c40657ed"});
        QVERIFY2(xxh64.listed && xxh64.action == MhlAction::Verified, qPrintable(xxh64.note));
        QVERIFY(second->Finish());
        QVERIFY2(third->Finish(), qPrintable(third->Trouble()));

        // A file that took the name the fourth manifest is to have is kept.
        auto fourth = start(3, {{"e.jpg", "e"}});
        const QString taken = QStringLiteral("0004_Card Ä_2024-05-04_123756Z.mhl");
        Put(folder, taken, "someone else's");
        const QByteArray chainBefore = ReadBytes(chain);
        QVERIFY(!fourth->Finish());
        QCOMPARE(ReadBytes(folder + taken), QByteArray("someone else's"));
        QCOMPARE(ReadBytes(chain), chainBefore);

        QStringList expected;
        for (int n = 1; n <= 3; ++n) {
            const QString name = QStringLiteral("000%1_Card Ä_2024-05-04_12%2Z.mhl").arg(n).arg(3356 + 100 * n);
            manifests_ << folder + name;
            expected << QString::number(n) << name << C4Id(ReadBytes(folder + name));
        }
        QCOMPARE(ReadChain(ReadBytes(chain)), expected);
        chains_ << chain;
        const Manifest m2 = ReadManifest(ReadBytes(folder + expected[4]));
        QCOMPARE(m2.files.size(), std::size_t(3));
        QCOMPARE(m2.files[0].action, QStringLiteral("verified"));
        QCOMPARE(m2.files[1].action, QStringLiteral("failed"));
        QCOMPARE(m2.files[2].action, QStringLiteral("original"));
        const Manifest m3 = ReadManifest(ReadBytes(folder + expected[7]));
        QCOMPARE(m3.files.size(), std::size_t(2));
        QCOMPARE(m3.files[0].kind + m3.files[1].kind, QStringLiteral("xxh64xxh128"));
        QCOMPARE(m3.files[1].hash, HashBytes("c").Text());
    }

    // A flipped byte, a removed file, a folder in a file's place: each is
    // reported for that file, and the others match.
    void verify_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<MhlCheck::Result>("result");
        QTest::newRow("none") << "" << MhlCheck::Result::Match;
        QTest::newRow("a byte flipped") << "flip" << MhlCheck::Result::Mismatch;
        QTest::newRow("removed") << "remove" << MhlCheck::Result::Missing;
        QTest::newRow("a folder in its place") << "folder" << MhlCheck::Result::Unreadable;
    }
    void verify()
    {
        QFETCH(QString, damage);
        QFETCH(MhlCheck::Result, result);
        const QString root = NewRoot();
        MhlGeneration generation;
        QVERIFY(generation.Start(root, Creator(), MhlProcess::Transfer, kStarted));
        const QStringList names{QStringLiteral("DCIM/1.jpg"), QStringLiteral("DCIM/2 ü.jpg"), QStringLiteral("3.mov")};
        for (const QString &name : names) {
            const QByteArray bytes(70000, name.size() % 2 ? 'p' : 'q');
            generation.Add(name, Put(root, name, bytes), HashOf(bytes));
        }
        QVERIFY(generation.Finish());
        const QString victim = root + names[1];
        if (damage == u"flip") {
            QByteArray bytes = ReadBytes(victim);
            bytes[40000] = char(bytes[40000] ^ 1);
            Put(root, names[1], bytes);
        } else if (!damage.isEmpty()) {
            QFile::remove(victim);
            if (damage == u"folder")
                QDir().mkpath(victim);
        }
        QMap<QString, MhlCheck::Result> seen;
        const MhlVerification v = VerifyMhlHistory(root, [&](const MhlCheck &c) { seen[c.path] = c.result; });
        QVERIFY2(v.read, qPrintable(v.trouble));
        QCOMPARE(v.files, qint64(3));
        QCOMPARE(v.failures, qint64(result == MhlCheck::Result::Match ? 0 : 1));
        QCOMPARE(seen,
                 (QMap<QString, MhlCheck::Result>{
                     {names[0], MhlCheck::Result::Match}, {names[1], result}, {names[2], MhlCheck::Result::Match}}));
    }

    // A folder with a history of its own keeps its files; the root's
    // generation refers to its new one.
    void historyBelow()
    {
        const QString root = NewRoot();
        MhlGeneration below;
        QVERIFY(below.Start(root + QStringLiteral("Sub"), Creator(), MhlProcess::Transfer, kStarted));
        below.Add(QStringLiteral("x.jpg"), Put(root, QStringLiteral("Sub/x.jpg"), "x"), HashOf("x"));
        QVERIFY(below.Finish());

        MhlGeneration generation;
        QVERIFY(generation.Start(root, Creator(), MhlProcess::Transfer, kStarted));
        QVERIFY(generation.Add(QStringLiteral("Sub/y.jpg"), Put(root, QStringLiteral("Sub/y.jpg"), "y"), HashOf("y"))
                    .listed);
        QVERIFY(
            generation.Add(QStringLiteral("top.jpg"), Put(root, QStringLiteral("top.jpg"), "t"), HashOf("t")).listed);
        QVERIFY2(generation.Finish(), qPrintable(generation.Trouble()));
        const QString sub = QStringLiteral("Sub/ascmhl/0002_Sub") + kStartedName;
        const QString top = QStringLiteral("ascmhl/0001_Card Ä") + kStartedName;
        QCOMPARE(generation.Written(), (QStringList{sub, top}));
        QCOMPARE(ReadManifest(ReadBytes(root + sub)).files[0].path, QStringLiteral("y.jpg"));
        const Manifest m = ReadManifest(ReadBytes(root + top));
        QCOMPARE(m.files.size(), std::size_t(1));
        QCOMPARE(m.files[0].path, QStringLiteral("top.jpg"));
        QCOMPARE(m.references, (QStringList{sub, C4Id(ReadBytes(root + sub))}));
        manifests_ << root + top << root + sub;
        chains_ << root + QStringLiteral("ascmhl/ascmhl_chain.xml")
                << root + QStringLiteral("Sub/ascmhl/ascmhl_chain.xml");
        QStringList checked;
        const auto v = VerifyMhlHistory(root, [&](const MhlCheck &c) {
            checked << c.path + (c.result == MhlCheck::Result::Match ? QString() : QStringLiteral(" !"));
        });
        QCOMPARE(v.failures, qint64(0));
        QCOMPARE(checked, (QStringList{"top.jpg", "Sub/x.jpg", "Sub/y.jpg"}));
    }

    // A history that does not read as one is left exactly as it is.
    void damagedHistory_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("a manifest changed") << "changed";
        QTest::newRow("a manifest missing") << "missing";
        QTest::newRow("a manifest the chain does not name") << "unchained";
        QTest::newRow("a foreign chain") << "foreign";
        QTest::newRow("a chain that is not XML") << "garbage";
        QTest::newRow("a file named ascmhl") << "file";
    }
    void damagedHistory()
    {
        QFETCH(QString, damage);
        const QString root = NewRoot();
        const QString folder = root + QStringLiteral("ascmhl/");
        const QString manifest = folder + QStringLiteral("0001_Card Ä") + kStartedName;
        MhlGeneration first;
        QVERIFY(first.Start(root, Creator(), MhlProcess::Transfer, kStarted));
        first.Add(QStringLiteral("a.jpg"), Put(root, QStringLiteral("a.jpg"), "a"), HashOf("a"));
        QVERIFY(first.Finish());
        if (damage == u"changed")
            Put(folder, manifest.mid(folder.size()), ReadBytes(manifest) + ' ');
        else if (damage == u"missing")
            QFile::remove(manifest);
        else if (damage == u"unchained")
            QFile::copy(manifest, folder + QStringLiteral("0002_Card Ä_2024-05-05_000000Z.mhl"));
        else if (damage == u"foreign")
            Put(folder, QStringLiteral("ascmhl_chain.xml"), "<ascmhldirectory xmlns=\"urn:other\"/>");
        else if (damage == u"garbage")
            Put(folder, QStringLiteral("ascmhl_chain.xml"), "\x89PNG");
        else if (QDir(folder).removeRecursively())
            Put(root, QStringLiteral("ascmhl"), "mine");
        const auto before = Snapshot(folder);

        MhlGeneration generation;
        QVERIFY(!generation.Start(root, Creator(), MhlProcess::Transfer, kStarted.addDays(1)));
        QVERIFY(!generation.Trouble().isEmpty());
        QVERIFY(!generation.Add(QStringLiteral("b.jpg"), Put(root, QStringLiteral("b.jpg"), "b"), HashOf("b")).listed);
        QVERIFY(!generation.Finish());
        QCOMPARE(Snapshot(folder), before);
        QVERIFY(!VerifyMhlHistory(root, {}).read);
    }

    // Every manifest and chain the tests above wrote, against the XML schemas.
    void schemas()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty())
            QSKIP("xmllint is not installed (scripts/setup test installs it)");
        if (manifests_.isEmpty())
            QSKIP("Checks what the other tests wrote: run it with them.");
        for (const QString &manifest : std::as_const(manifests_))
            QCOMPARE(SchemaTrouble(manifest, QStringLiteral("ASCMHL.xsd")), QString());
        for (const QString &chain : std::as_const(chains_))
            QCOMPARE(SchemaTrouble(chain, QStringLiteral("ASCMHLDirectory.xsd")), QString());
    }
};

FERROVANE_TEST_MAIN(TestAscMhl)
#include "tst_ascmhl.moc"
