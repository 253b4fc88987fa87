#pragma once

// The import record: every object copied from a device, or proven present at
// the destination, with the device's name and serial number, the object's
// path, size and date on the device, the content hash taken while copying,
// and where its copy went with that copy's size and modification time.
//
// An SQLite database in the user data folder (WAL journal; the schema's
// version in PRAGMA user_version). One run opens it once and uses it from one
// thread. Entries are buffered and written in one transaction per batch, on
// a thread of the record's own, so a copy never waits for the record.
//
// The record only ever saves work: whatever goes wrong with it (a damaged,
// locked or read-only file, a folder in its place, a newer schema), the first
// failure makes it unusable for the rest of the run, TakeTrouble hands the
// reason out once, and every later call is a cheap no-op that finds nothing,
// so the run falls back to comparing content.

#include "copy/ContentHash.h"

#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// A file's size and modification time on disk, as stat gives them.
struct FileStamp
{
    qint64 size = 0;
    qint64 mtimeNs = 0;  // nanoseconds since the epoch

    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};

// The stamp of a regular file (links followed); nothing for anything else.
std::optional<FileStamp> StampOf(const QString &path);

// The object on a device, as a run finds it in the listing.
struct ImportedObject
{
    QString device;      // the device's display name
    QString serial;      // its serial number
    QString objectPath;  // the object's full path on the device
    qint64 size = 0;
    qint64 dateMs = 0;  // the object's date on the device, milliseconds since the epoch (UTC)
};

// One copy of an object.
struct ImportEntry
{
    ImportedObject object;
    std::optional<ContentHash> hash;  // of the bytes copied; none when only proven present
    QString destination;              // the copy's full path
    FileStamp destinationStamp;       // the copy as it was written (or found)
    qint64 importedMs = 0;            // when, milliseconds since the epoch (UTC)
};

// True when the copy the entry names is still a regular file with the size
// and modification time the entry recorded.
bool CopyUnchanged(const ImportEntry &entry);

class ImportRecord
{
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kBatchEntries = 1000;
    static constexpr std::chrono::milliseconds kBatchInterval{2000};
    // How long a statement waits for another connection's lock.
    static constexpr std::chrono::milliseconds kBusyTimeout{150};

    // The record's file in the user data folder (a path ending in "/").
    static QString PathIn(const QString &userDataFolder);

    ImportRecord();
    ~ImportRecord();  // writes what is still buffered; Flush first to hear of a failure
    ImportRecord(const ImportRecord &) = delete;
    ImportRecord &operator=(const ImportRecord &) = delete;

    // Opens the record, creating it (not its folder) when missing. False when
    // it cannot be used; TakeTrouble says why.
    bool Open(const QString &path);
    bool Usable();
    // Why the record stopped being usable, the first time it is asked after
    // that; empty every other time.
    QString TakeTrouble();

    // Every recorded copy of the object: one per destination it went to.
    // Entries still in the buffer count too.
    std::vector<ImportEntry> Find(const ImportedObject &object);
    // Whether this object (same path, size and date) was ever imported,
    // wherever its copies are now.
    bool EverImported(const ImportedObject &object);

    // Records a copy, replacing an earlier entry for the same object and
    // destination. Written with the batch once kBatchEntries are waiting or
    // kBatchInterval has passed since the first of them.
    void Add(ImportEntry entry);
    // Writes the buffered entries now. False when the record is (or just
    // became) unusable.
    bool Flush();

private:
    struct Database;
    // Writes the batches on a thread of its own, through a connection of its
    // own, so that a copy never waits for the record's disk.
    struct Writer;
    // A failure the writer met, taken over by this thread.
    bool WriterFailed();

    // Makes the record unusable for the rest of the run; detail: SQLite's
    // message when it is no longer the connection's last one.
    bool Fail(const QString &what, int code, QString detail = {});
    static int Prepare(Database &database);  // an SQLite result code
    // Hands the buffered entries to the writer.
    void WriteBatch();

    std::unique_ptr<Database> db_;
    std::unique_ptr<Writer> writer_;
    QString path_;
    bool usable_ = false;
    QString trouble_;
    bool troubleTaken_ = false;
    std::vector<ImportEntry> pending_;
    std::chrono::steady_clock::time_point firstPending_;
};
