#include "ImportRecord.h"

#include "base/FileNames.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// One row per copy of an object: an object placed on two destinations has two.
// The key leads with the object, so finding an object's copies is one range of
// the table's own b-tree.
// Texts are kept as the program holds them (UTF-16): nothing is converted
// on the way in or out.
const char kCreateSchema[] = R"(
PRAGMA encoding = 'UTF-16le';
CREATE TABLE IF NOT EXISTS imports (
    device TEXT NOT NULL,
    serial TEXT NOT NULL,
    object_path TEXT NOT NULL,
    size INTEGER NOT NULL,
    device_date_ms INTEGER NOT NULL,
    destination TEXT NOT NULL,
    hash TEXT,
    destination_size INTEGER NOT NULL,
    destination_mtime_ns INTEGER NOT NULL,
    imported_ms INTEGER NOT NULL,
    PRIMARY KEY (device, serial, object_path, size, device_date_ms, destination)
) WITHOUT ROWID;
PRAGMA user_version = 1;
)";

const char kInsert[] = "INSERT OR REPLACE INTO imports (device, serial, object_path, size, device_date_ms, "
                       "destination, hash, destination_size, destination_mtime_ns, imported_ms) "
                       "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)";
const char kFind[] = "SELECT destination, hash, destination_size, destination_mtime_ns, imported_ms FROM imports "
                     "WHERE device = ?1 AND serial = ?2 AND object_path = ?3 AND size = ?4 AND device_date_ms = ?5";
const char kEver[] = "SELECT 1 FROM imports WHERE device = ?1 AND serial = ?2 AND object_path = ?3 AND size = ?4 "
                     "AND device_date_ms = ?5 LIMIT 1";

void BindText(sqlite3_stmt *statement, int index, const QString &text)
{
    // The text lives until the statement is reset.
    sqlite3_bind_text16(statement, index, text.utf16(), int(text.size() * sizeof(char16_t)), SQLITE_STATIC);
}

QString ColumnText(sqlite3_stmt *statement, int column)
{
    const void *text = sqlite3_column_text16(statement, column);
    const int bytes = sqlite3_column_bytes16(statement, column);
    return QString(static_cast<const QChar *>(text), bytes / int(sizeof(char16_t)));
}

void BindObject(sqlite3_stmt *statement, const ImportedObject &object)
{
    BindText(statement, 1, object.device);
    BindText(statement, 2, object.serial);
    BindText(statement, 3, object.objectPath);
    sqlite3_bind_int64(statement, 4, object.size);
    sqlite3_bind_int64(statement, 5, object.dateMs);
}

bool SameObject(const ImportedObject &a, const ImportedObject &b)
{
    return a.size == b.size && a.dateMs == b.dateMs && a.objectPath == b.objectPath && a.serial == b.serial &&
           a.device == b.device;
}

QString Reason(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return QStringLiteral("another program holds it locked");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return QStringLiteral("it is read-only");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT: return QStringLiteral("it is damaged");
    case SQLITE_CANTOPEN: return QStringLiteral("it cannot be opened or created");
    case SQLITE_FULL: return QStringLiteral("the disk is full");
    case SQLITE_IOERR: return QStringLiteral("reading or writing it failed");
    default: return QStringLiteral("SQLite error %1").arg(code);
    }
}

}  // namespace

struct ImportRecord::Database
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *insert = nullptr;
    sqlite3_stmt *find = nullptr;
    sqlite3_stmt *ever = nullptr;
    sqlite3_stmt *begin = nullptr;
    sqlite3_stmt *commit = nullptr;
    sqlite3_stmt *rollback = nullptr;

    ~Database()
    {
        for (sqlite3_stmt *statement : {insert, find, ever, begin, commit, rollback})
            sqlite3_finalize(statement);
        sqlite3_close(db);
    }

    // Runs a prepared statement that returns no rows and makes it ready again.
    int Run(sqlite3_stmt *statement)
    {
        const int code = sqlite3_step(statement);
        sqlite3_reset(statement);
        return code == SQLITE_DONE ? SQLITE_OK : code;
    }
};

std::optional<FileStamp> StampOf(const QString &path)
{
    struct stat st;
    if (::stat(nameToBytes(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool CopyUnchanged(const ImportEntry &entry)
{
    const std::optional<FileStamp> now = StampOf(entry.destination);
    return now && *now == entry.destinationStamp;
}

QString ImportRecord::PathIn(const QString &userDataFolder)
{
    return userDataFolder + QStringLiteral("ImportRecord.sqlite");
}

struct ImportRecord::Writer
{
    Database db;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    // Batches waiting or being written; the front one leaves only once it
    // is committed, so a look-up that reads this queue before the database
    // never misses an entry.
    std::deque<std::vector<ImportEntry>> queue;
    bool stop = false;
    int failure = SQLITE_OK;
    QString failureDetail;
    std::thread thread;

    void Start()
    {
        thread = std::thread([this] { Run(); });
    }
    void Push(std::vector<ImportEntry> &&batch)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(std::move(batch));
        }
        wake.notify_one();
    }
    // Waits until every batch was written or the writer failed.
    void WaitIdle()
    {
        std::unique_lock<std::mutex> lock(mutex);
        idle.wait(lock, [&] { return queue.empty() || failure != SQLITE_OK; });
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_one();
        if (thread.joinable())
            thread.join();
    }
    void Run()
    {
        for (;;) {
            const std::vector<ImportEntry> *batch = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return !queue.empty() || stop; });
                if (queue.empty() || failure != SQLITE_OK)
                    return;
                batch = &queue.front();  // a deque keeps it where it is while others are added
            }
            const int code = Write(*batch);
            std::lock_guard<std::mutex> lock(mutex);
            if (code != SQLITE_OK) {
                failure = code;
                failureDetail = QString::fromUtf8(sqlite3_errmsg(db.db));
                queue.clear();
            } else {
                queue.pop_front();
            }
            idle.notify_all();
        }
    }
    int Write(const std::vector<ImportEntry> &batch)
    {
        if (const int code = db.Run(db.begin))
            return code;
        sqlite3_stmt *insert = db.insert;
        for (const ImportEntry &entry : batch) {
            BindObject(insert, entry.object);
            BindText(insert, 6, entry.destination);
            const QString hash = entry.hash ? entry.hash->Text() : QString();
            if (entry.hash)
                BindText(insert, 7, hash);
            else
                sqlite3_bind_null(insert, 7);
            sqlite3_bind_int64(insert, 8, entry.destinationStamp.size);
            sqlite3_bind_int64(insert, 9, entry.destinationStamp.mtimeNs);
            sqlite3_bind_int64(insert, 10, entry.importedMs);
            if (const int code = db.Run(insert)) {
                db.Run(db.rollback);
                return code;
            }
        }
        if (const int code = db.Run(db.commit)) {
            db.Run(db.rollback);
            return code;
        }
        return SQLITE_OK;
    }
};

ImportRecord::ImportRecord() = default;

ImportRecord::~ImportRecord()
{
    Flush();
    if (writer_)
        writer_->Stop();
}

bool ImportRecord::Usable()
{
    return usable_ && !WriterFailed();
}

bool ImportRecord::WriterFailed()
{
    if (!writer_)
        return false;
    int code;
    QString detail;
    {
        std::lock_guard<std::mutex> lock(writer_->mutex);
        code = writer_->failure;
        detail = writer_->failureDetail;
    }
    if (code == SQLITE_OK)
        return false;
    Fail(QStringLiteral("writing"), code, detail);
    return true;
}

QString ImportRecord::TakeTrouble()
{
    if (troubleTaken_ || trouble_.isEmpty())
        return {};
    troubleTaken_ = true;
    return trouble_;
}

bool ImportRecord::Fail(const QString &what, int code, QString detail)
{
    if (!trouble_.isEmpty())
        return false;
    if (detail.isEmpty())
        detail = QString::fromUtf8(db_ && db_->db ? sqlite3_errmsg(db_->db) : sqlite3_errstr(code));
    trouble_ =
        QStringLiteral("The import record %1 cannot be used: %2 (%3: %4).").arg(path_, Reason(code), what, detail);
    usable_ = false;
    if (writer_)
        writer_->Stop();
    writer_.reset();
    db_.reset();
    pending_.clear();
    return false;
}

bool ImportRecord::Open(const QString &path)
{
    if (writer_)
        writer_->Stop();
    writer_.reset();
    db_.reset();
    pending_.clear();
    usable_ = false;
    trouble_.clear();
    troubleTaken_ = false;
    path_ = path;

    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        trouble_ = QStringLiteral("The import record %1 cannot be used: %2.")
                       .arg(path, info.isDir() ? QStringLiteral("a folder stands in its place")
                                               : QStringLiteral("it is not a regular file"));
        return false;
    }
    db_ = std::make_unique<Database>();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (const int code = sqlite3_open_v2(QFile::encodeName(path).constData(), &db_->db, flags, nullptr))
        return Fail(QStringLiteral("opening"), code);
    sqlite3_extended_result_codes(db_->db, 1);
    sqlite3_busy_timeout(db_->db, int(kBusyTimeout.count()));
    // SQLite opens a file it may not write read-only, without a word.
    if (sqlite3_db_readonly(db_->db, "main") == 1)
        return Fail(QStringLiteral("opening"), SQLITE_READONLY, QStringLiteral("the file cannot be written"));

    // The first statement reads the file: a damaged or locked one fails here.
    // A journal mode other than WAL (a file system without shared memory) is
    // slower but as safe.
    if (const int code = sqlite3_exec(db_->db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr))
        return Fail(QStringLiteral("opening"), code);
    // The record saves work and proves nothing by itself: after a power cut
    // it may lack the last batch, never be damaged.
    if (const int code = sqlite3_exec(db_->db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr))
        return Fail(QStringLiteral("opening"), code);

    int version = -1;
    sqlite3_stmt *statement = nullptr;
    int code = sqlite3_prepare_v2(db_->db, "PRAGMA user_version", -1, &statement, nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_step(statement);
        if (code == SQLITE_ROW) {
            version = sqlite3_column_int(statement, 0);
            code = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    if (code != SQLITE_OK)
        return Fail(QStringLiteral("reading the schema version"), code);
    if (version != 0 && version != kSchemaVersion) {
        trouble_ = QStringLiteral("The import record %1 cannot be used: its schema version is %2, this version of "
                                  "Ferrovane knows %3.")
                       .arg(path)
                       .arg(version)
                       .arg(kSchemaVersion);
        db_.reset();
        return false;
    }
    // A new record gets its table and version in one transaction, kept only
    // when the statements fit the table (a file of that name made by another
    // program stays as it was).
    if (version == 0) {
        const QByteArray create = QByteArray("BEGIN IMMEDIATE;") + kCreateSchema;
        if ((code = sqlite3_exec(db_->db, create.constData(), nullptr, nullptr, nullptr)) == SQLITE_OK &&
            (code = Prepare(*db_)) == SQLITE_OK)
            code = sqlite3_exec(db_->db, "COMMIT", nullptr, nullptr, nullptr);
        if (code != SQLITE_OK) {
            const QString detail = QString::fromUtf8(sqlite3_errmsg(db_->db));
            sqlite3_exec(db_->db, "ROLLBACK", nullptr, nullptr, nullptr);
            return Fail(QStringLiteral("creating the table"), code, detail);
        }
    } else if ((code = Prepare(*db_)) != SQLITE_OK) {
        return Fail(QStringLiteral("preparing"), code);
    }
    // The writer's own connection to the same file.
    auto writer = std::make_unique<Writer>();
    code = sqlite3_open_v2(QFile::encodeName(path).constData(), &writer->db.db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code == SQLITE_OK) {
        sqlite3_extended_result_codes(writer->db.db, 1);
        sqlite3_busy_timeout(writer->db.db, int(kBusyTimeout.count()));
        code = sqlite3_exec(writer->db.db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    }
    if (code == SQLITE_OK)
        code = Prepare(writer->db);
    if (code != SQLITE_OK) {
        const QString detail = QString::fromUtf8(writer->db.db ? sqlite3_errmsg(writer->db.db) : sqlite3_errstr(code));
        return Fail(QStringLiteral("opening"), code, detail);
    }
    writer_ = std::move(writer);
    writer_->Start();
    usable_ = true;
    return true;
}

int ImportRecord::Prepare(Database &database)
{
    struct
    {
        const char *sql;
        sqlite3_stmt **statement;
    } const statements[] = {
        {kInsert, &database.insert},          {kFind, &database.find},      {kEver, &database.ever},
        {"BEGIN IMMEDIATE", &database.begin}, {"COMMIT", &database.commit}, {"ROLLBACK", &database.rollback},
    };
    for (const auto &s : statements)
        if (const int code =
                sqlite3_prepare_v3(database.db, s.sql, -1, SQLITE_PREPARE_PERSISTENT, s.statement, nullptr))
            return code;
    return SQLITE_OK;
}

std::vector<ImportEntry> ImportRecord::Find(const ImportedObject &object)
{
    std::vector<ImportEntry> found;
    if (!Usable())
        return found;
    // Batches on their way first: one committed meanwhile is then found in
    // the database as well, never in neither.
    std::vector<ImportEntry> writing;
    {
        std::lock_guard<std::mutex> lock(writer_->mutex);
        for (const std::vector<ImportEntry> &batch : writer_->queue)
            for (const ImportEntry &entry : batch)
                if (SameObject(entry.object, object))
                    writing.push_back(entry);
    }
    sqlite3_stmt *find = db_->find;
    BindObject(find, object);
    int code;
    while ((code = sqlite3_step(find)) == SQLITE_ROW) {
        ImportEntry entry;
        entry.object = object;
        entry.destination = ColumnText(find, 0);
        if (sqlite3_column_type(find, 1) != SQLITE_NULL)
            entry.hash = ContentHash::FromText(ColumnText(find, 1));
        entry.destinationStamp = {sqlite3_column_int64(find, 2), sqlite3_column_int64(find, 3)};
        entry.importedMs = sqlite3_column_int64(find, 4);
        found.push_back(std::move(entry));
    }
    sqlite3_reset(find);
    if (code != SQLITE_DONE) {
        Fail(QStringLiteral("looking up a file"), code);
        return {};
    }
    for (const ImportEntry &waiting : pending_)
        if (SameObject(waiting.object, object))
            writing.push_back(waiting);
    for (const ImportEntry &waiting : writing) {
        auto same = std::find_if(found.begin(), found.end(),
                                 [&](const ImportEntry &e) { return e.destination == waiting.destination; });
        if (same != found.end())
            *same = waiting;
        else
            found.push_back(waiting);
    }
    return found;
}

bool ImportRecord::EverImported(const ImportedObject &object)
{
    if (!Usable())
        return false;
    for (const ImportEntry &waiting : pending_)
        if (SameObject(waiting.object, object))
            return true;
    {
        std::lock_guard<std::mutex> lock(writer_->mutex);
        for (const std::vector<ImportEntry> &batch : writer_->queue)
            for (const ImportEntry &entry : batch)
                if (SameObject(entry.object, object))
                    return true;
    }
    sqlite3_stmt *ever = db_->ever;
    BindObject(ever, object);
    const int code = sqlite3_step(ever);
    sqlite3_reset(ever);
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE)
        Fail(QStringLiteral("looking up a file"), code);
    return false;
}

void ImportRecord::Add(ImportEntry entry)
{
    if (!Usable())
        return;
    if (pending_.empty())
        firstPending_ = std::chrono::steady_clock::now();
    pending_.push_back(std::move(entry));
    if (pending_.size() >= size_t(kBatchEntries) || std::chrono::steady_clock::now() - firstPending_ >= kBatchInterval)
        WriteBatch();
}

bool ImportRecord::Flush()
{
    if (!Usable())
        return false;
    if (!pending_.empty())
        WriteBatch();
    writer_->WaitIdle();
    return Usable();
}

void ImportRecord::WriteBatch()
{
    writer_->Push(std::move(pending_));
    pending_.clear();
}
