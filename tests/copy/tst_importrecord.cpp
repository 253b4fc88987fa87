#include "common/TestMain.h"

#include "copy/ContentHash.h"
#include "copy/ImportRecord.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

// The import record's SQLite file and the XXH3-128 hashes it keeps; the
// expected hashes are xxhsum -H2's.

namespace {

// 3 MiB and 7 bytes: three full reads of HashFile and a short one.
QByteArray Pattern()
{
    QByteArray bytes(3 * 1024 * 1024 + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7 + 3) % 251);
    return bytes;
}

ImportedObject Object(int n, qint64 size = 1000)
{
    return {QStringLiteral("Camera"), QStringLiteral("SN 1"), QStringLiteral("/DCIM/100/IMG_%1.JPG").arg(n), size,
            1462356000000 + n};
}

ImportEntry Entry(const ImportedObject &object, const QString &destination, std::optional<ContentHash> hash = {})
{
    return {object, hash, destination, {object.size, 1462356000123456789}, 1700000000000};
}

// Runs SQL on the file through a connection of its own; the connection stays
// open (and holds what it locked) until Close.
struct OtherConnection
{
    sqlite3 *db = nullptr;
    explicit OtherConnection(const QString &path, const char *sql = nullptr)
    {
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        if (sql)
            Exec(sql);
    }
    ~OtherConnection() { sqlite3_close(db); }
    int Exec(const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    qint64 Rows()
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM imports", -1, &statement, nullptr);
        const qint64 rows = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        return rows;
    }
};

// What stands at the record's path before it is opened.
enum class Trouble { Garbage, NewerSchema, ForeignTable, Folder, Fifo, ReadOnlyFile, ReadOnlyFolder, Locked };

}  // namespace

Q_DECLARE_METATYPE(Trouble)

class TestImportRecord : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString Path(const QString &name = QStringLiteral("ImportRecord.sqlite")) const { return dir_.filePath(name); }

private slots:
    void hashes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << "99aa06d3014798d86001c324468d497f";
        QTest::newRow("abc") << QByteArray("abc") << "06b05ab6733a618578af5f94892f3950";
        QTest::newRow("first MiB") << Pattern().left(1 << 20) << "cfec29601eac8b6ebae1ccc48e28c9f0";
        QTest::newRow("3 MiB + 7") << Pattern() << "44ddd10bdca28c69b93a296d9b51714f";
    }
    void hashes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(HashBytes(bytes).Text(), text);
        QCOMPARE(ContentHash::FromText(text), HashBytes(bytes));

        // In pieces of odd sizes, as a copy streams them.
        ContentHasher hasher;
        hasher.Update("junk", 4);
        hasher.Reset();
        for (qsizetype at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece * 3 + 1)
            hasher.Update(bytes.constData() + at, std::size_t(qMin(piece, bytes.size() - at)));
        QCOMPARE(hasher.Digest().Text(), text);

        QFile file(Path(QStringLiteral("bytes")));
        QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
        QVERIFY(file.flush());
        const int fd = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        const std::optional<ContentHash> read = HashFile(fd);
        ::close(fd);
        QVERIFY(read);
        QCOMPARE(read->Text(), text);
    }

    void hashTextRejected()
    {
        for (const char *text : {"", "99aa06d3014798d86001c324468d497", "99AA06D3014798D86001C324468D497F",
                                 "99aa06d3014798d86001c324468d497g"})
            QVERIFY2(!ContentHash::FromText(QString::fromLatin1(text)), text);
    }

    void roundTripAcrossReopen()
    {
        const QString path = Path(QStringLiteral("roundtrip.sqlite"));
        const ContentHash hash = HashBytes("abc");
        const ImportedObject a = Object(1);
        const QString name = QStringLiteral("/DCIM/100/'; DROP TABLE imports; --\u00e9\u65e5.JPG");
        const ImportedObject odd{QStringLiteral("Caméra \"X\""), QString(), name, 0, -5};
        {
            ImportRecord record;
            QVERIFY(record.Open(path));
            record.Add(Entry(a, QStringLiteral("/photos/one/IMG_1.JPG"), hash));
            record.Add(Entry(a, QStringLiteral("/photos/two/IMG_1.JPG")));
            record.Add(Entry(odd, QStringLiteral("/photos/odd.JPG"), hash));
            // Still buffered, found all the same.
            QCOMPARE(record.Find(a).size(), size_t(2));
            QVERIFY(record.EverImported(odd));
        }
        ImportRecord record;
        QVERIFY(record.Open(path));
        std::vector<ImportEntry> found = record.Find(a);
        QCOMPARE(found.size(), size_t(2));
        std::sort(found.begin(), found.end(), [](auto &x, auto &y) { return x.destination < y.destination; });
        QCOMPARE(found[0].destination, QStringLiteral("/photos/one/IMG_1.JPG"));
        QCOMPARE(found[0].hash, std::optional<ContentHash>(hash));
        QCOMPARE(found[0].destinationStamp, (FileStamp{1000, 1462356000123456789}));
        QCOMPARE(found[0].importedMs, qint64(1700000000000));
        QCOMPARE(found[1].hash, std::nullopt);
        QCOMPARE(record.Find(odd).size(), size_t(1));
        QCOMPARE(record.Find(odd)[0].object.objectPath, name);

        // Another size, date, path, serial or device is another object.
        const std::function<void(ImportedObject &)> changes[] = {
            [](ImportedObject &o) { o.size += 1; },
            [](ImportedObject &o) { o.dateMs += 1; },
            [](ImportedObject &o) { o.objectPath += QLatin1Char(' '); },
            [](ImportedObject &o) { o.serial = QStringLiteral("SN 2"); },
            [](ImportedObject &o) { o.device = QStringLiteral("camera"); },
        };
        for (const auto &change : changes) {
            ImportedObject other = a;
            change(other);
            QVERIFY(record.Find(other).empty());
            QVERIFY(!record.EverImported(other));
        }

        // A copy made again to the same place replaces its entry.
        ImportEntry again = Entry(a, QStringLiteral("/photos/one/IMG_1.JPG"));
        again.destinationStamp.mtimeNs = 7;
        record.Add(again);
        QVERIFY(record.Flush());
        found = record.Find(a);
        QCOMPARE(found.size(), size_t(2));
        QVERIFY(std::any_of(found.begin(), found.end(), [](auto &e) { return e.destinationStamp.mtimeNs == 7; }));
        QVERIFY(record.TakeTrouble().isEmpty());
    }

    // Entries reach the file a batch at a time; 5,000 of them read back
    // after a reopen.
    void batches()
    {
        const QString path = Path(QStringLiteral("batches.sqlite"));
        ImportRecord record;
        QVERIFY(record.Open(path));
        OtherConnection other(path);
        QElapsedTimer clock;
        clock.start();
        auto add = [&](int i) {
            record.Add(Entry(Object(i), QStringLiteral("/p/%1").arg(i), HashBytes(QByteArray::number(i))));
        };
        for (int i = 0; i < ImportRecord::kBatchEntries - 1; ++i)
            add(i);
        QCOMPARE(other.Rows(), 0);
        add(ImportRecord::kBatchEntries - 1);
        QTRY_COMPARE(other.Rows(), ImportRecord::kBatchEntries);  // written on the record's own thread
        for (int i = ImportRecord::kBatchEntries; i < 5000; ++i)
            add(i);
        QVERIFY(record.Flush());
        const qint64 addMs = clock.restart();
        QCOMPARE(other.Rows(), 5000);

        ImportRecord reopened;
        QVERIFY(reopened.Open(path));
        clock.restart();
        for (int i = 0; i < 5000; ++i) {
            const std::vector<ImportEntry> found = reopened.Find(Object(i));
            QCOMPARE(found.size(), size_t(1));
            QCOMPARE(found[0].hash, std::optional<ContentHash>(HashBytes(QByteArray::number(i))));
        }
        qInfo("Adding 5000 entries and a flush: %lld ms; finding them after a reopen: %lld ms", addMs,
              qint64(clock.elapsed()));
    }

    void copyUnchanged()
    {
        const QString copy = Path(QStringLiteral("copy.jpg"));
        QFile file(copy);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("abc");
        file.flush();
        ImportEntry entry = Entry(Object(1, 3), copy);
        entry.destinationStamp = StampOf(copy).value();
        QCOMPARE(entry.destinationStamp.size, 3);
        QVERIFY(CopyUnchanged(entry));
        file.write("d");
        file.close();
        QVERIFY(!CopyUnchanged(entry));
        entry.destination = dir_.path();  // a folder has no stamp
        QVERIFY(!CopyUnchanged(entry));
    }

    // Whatever is wrong with the record, it says so once, fails fast and
    // takes part in nothing more.
    void unusable_data()
    {
        QTest::addColumn<Trouble>("trouble");
        QTest::addColumn<QString>("reason");
        QTest::newRow("garbage") << Trouble::Garbage << "it is damaged";
        QTest::newRow("newer schema") << Trouble::NewerSchema << "its schema version is 7";
        QTest::newRow("foreign table") << Trouble::ForeignTable << "creating the table";
        QTest::newRow("folder") << Trouble::Folder << "a folder stands in its place";
        QTest::newRow("fifo") << Trouble::Fifo << "it is not a regular file";
        QTest::newRow("read-only file") << Trouble::ReadOnlyFile << "it is read-only";
        QTest::newRow("read-only folder") << Trouble::ReadOnlyFolder << "cannot be opened or created";
        QTest::newRow("locked") << Trouble::Locked << "another program holds it locked";
    }
    void unusable()
    {
        QFETCH(Trouble, trouble);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        QString path = folder.filePath(QStringLiteral("ImportRecord.sqlite"));
        std::unique_ptr<OtherConnection> holder;
        auto write = [&](const QByteArray &bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        switch (trouble) {
        case Trouble::Garbage: write(QByteArray(8192, '\x5a')); break;
        case Trouble::NewerSchema: OtherConnection(path, "CREATE TABLE imports (x); PRAGMA user_version = 7"); break;
        case Trouble::ForeignTable: OtherConnection(path, "CREATE TABLE imports (x)"); break;
        case Trouble::Folder: QVERIFY(QDir().mkpath(path)); break;
        case Trouble::Fifo: QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); break;
        case Trouble::ReadOnlyFile:
            if (::geteuid() == 0)
                QSKIP("root writes into read-only files");
            write({});
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
            break;
        case Trouble::ReadOnlyFolder:
            // For root, a folder of /sys: no file can be created in it.
            if (::geteuid() == 0)
                path = QStringLiteral("/sys/ImportRecord.sqlite");
            else
                QVERIFY(QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            break;
        case Trouble::Locked:
            holder = std::make_unique<OtherConnection>(path, "PRAGMA journal_mode = WAL; CREATE TABLE t (x);"
                                                             "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;"
                                                             "INSERT INTO t VALUES (1)");
            break;
        }

        QElapsedTimer clock;
        clock.start();
        ImportRecord record;
        QVERIFY(!record.Open(path));
        QVERIFY(clock.elapsed() < 1000);  // the copy never waits for the record
        QTRY_VERIFY(!record.Usable());
        const QString said = record.TakeTrouble();
        QVERIFY2(said.contains(reason) && said.contains(path), qPrintable(said));
        QCOMPARE(record.TakeTrouble(), QString());
        record.Add(Entry(Object(1), QStringLiteral("/p/1")));
        QVERIFY(record.Find(Object(1)).empty());
        QVERIFY(!record.EverImported(Object(1)));
        QVERIFY(!record.Flush());
        QCOMPARE(record.TakeTrouble(), QString());
        if (trouble == Trouble::ReadOnlyFolder && ::geteuid() != 0)
            QFile::setPermissions(folder.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (trouble == Trouble::Garbage) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray(8192, '\x5a'));  // left as it was found
        }
    }

    // Another program takes the record's write lock in the middle of a run:
    // the next batch gives up within the busy timeout, and the run goes on
    // without the record.
    void lockedDuringRun()
    {
        const QString path = Path(QStringLiteral("locked.sqlite"));
        ImportRecord record;
        QVERIFY(record.Open(path));
        record.Add(Entry(Object(0), QStringLiteral("/p/0")));
        QVERIFY(record.Flush());
        OtherConnection other(path, "BEGIN IMMEDIATE; INSERT INTO imports VALUES ('d','s','o',1,1,'x',NULL,1,1,1)");
        QCOMPARE(record.Find(Object(0)).size(), size_t(1));  // readers still read
        QElapsedTimer clock;
        clock.start();
        for (int i = 1; i <= ImportRecord::kBatchEntries; ++i)
            record.Add(Entry(Object(i), QStringLiteral("/p/%1").arg(i)));
        QVERIFY(clock.elapsed() < 1000);  // the copy never waits for the record
        QTRY_VERIFY(!record.Usable());
        QVERIFY(record.TakeTrouble().contains(QStringLiteral("another program holds it locked")));
        QVERIFY(record.TakeTrouble().isEmpty());
        QVERIFY(record.Find(Object(0)).empty());
        QVERIFY(!record.Flush());
    }
};

FERROVANE_TEST_MAIN(TestImportRecord)
#include "tst_importrecord.moc"
