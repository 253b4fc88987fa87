#pragma once

// What the copy tests share: a log that keeps its lines, a window stand-in,
// a fake camera opened through the real device connection, and reading
// files back from disk.

#include "base/RunState.h"
#include "copy/TransferDecision.h"
#include "copy/TransferEvents.h"
#include "device/DeviceConnection.h"
#include "device/fake/FakeDeviceService.h"
#include "log/LogSink.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

struct LoggedLine
{
    QString text;
    LogColor color;
    LogStyle style;
};

class MemoryLog : public LogSink
{
public:
    void WriteLog(const QString &text, LogColor color, LogStyle style) override { Add(text, color, style); }
    void WriteLogNoDate(const QString &text, LogColor color, LogStyle style) override { Add(text, color, style); }

    QStringList Texts() const
    {
        QMutexLocker lock(&mutex_);
        QStringList texts;
        for (const LoggedLine &line : lines)
            texts << line.text;
        return texts;
    }
    // Lines as "<colour letter><b if bold> text": "Rb ERROR: ...".
    QStringList Coded() const
    {
        QMutexLocker lock(&mutex_);
        QStringList texts;
        for (const LoggedLine &line : lines) {
            static const char letters[] = "KBRGPM";
            texts << QString(QLatin1Char(letters[int(line.color)])) +
                         (line.style == LogStyle::Bold ? QStringLiteral("b ") : QStringLiteral(" ")) + line.text;
        }
        return texts;
    }
    bool Has(const QString &text) const { return Texts().contains(text); }
    bool HasPrefix(const QString &prefix) const
    {
        for (const QString &t : Texts())
            if (t.startsWith(prefix))
                return true;
        return false;
    }
    void Clear()
    {
        QMutexLocker lock(&mutex_);
        lines.clear();
    }
    std::vector<LoggedLine> lines;

private:
    void Add(const QString &text, LogColor color, LogStyle style)
    {
        QMutexLocker lock(&mutex_);
        lines.push_back({text, color, style});
    }
    mutable QMutex mutex_;
};

// The settings a test's copies go by, and what the copies told.
class FakeCopyHost : public TransferEvents
{
public:
    TransferSettings Settings() const
    {
        return {destination, dateFormat, byteLevel, deleteFiles, forceRun, dateTaken, skipImportedBefore, backupPaths};
    }
    void SelectCatalogueRow(const QString &id) override { selected << id; }
    void RemoveCatalogueRow(const QString &id) override { removed << id; }
    void ShowErrorMessage(const QString &text) override { messages << text; }

    QString destination;
    QString dateFormat = QStringLiteral("yyyy-mm-dd");
    bool byteLevel = false;
    bool deleteFiles = false;
    bool forceRun = false;
    bool dateTaken = false;
    bool skipImportedBefore = false;
    QStringList backupPaths;
    QStringList selected, removed, messages;
};

// A camera with one storage "/store_1" and a folder DCIM/100CANON.
struct CopyRig
{
    CopyRig()
        : connection(service, log),
          decision(connection, run, log, host,
                   [this](const QString &path, const QString &file) { commands << path + QLatin1Char('|') + file; })
    {
        FakeDevice &d = service.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Camera"));
        d.AddStorage(QStringLiteral("Card"), QStringLiteral("store_1"));
        d.AddFolder(QStringLiteral("/store_1"), QStringLiteral("DCIM"));
        d.AddFolder(QStringLiteral("/store_1/DCIM"), QStringLiteral("100CANON"));
        host.destination = dest.path();
    }
    bool Open() { return connection.OpenDevice(QStringLiteral("usb:1"), true); }
    FakeDevice &Device() { return service.devices.front(); }
    FakeObject &AddFile(const QString &name, const QByteArray &data,
                        const QString &date = QStringLiteral("2016/05/04:13:14:15.000"))
    {
        return Device().AddFile(QStringLiteral("/store_1/DCIM/100CANON"), name, QStringLiteral("IMAGE"), date, data);
    }
    bool OnDevice(const QString &id) { return Device().objects.count(id) > 0; }
    // The host's settings from now on, as a run starting would give them.
    void Apply() { decision.SetSettings(host.Settings()); }
    // Hands the object to the decision as the walk would.
    void Transfer(const QString &id, bool folderMode = false, qint64 size = -1)
    {
        Apply();
        const FakeObject &o = Device().Object(id);
        QDateTime date;
        ParseWpdDateTime(o.dateCreated, date);
        decision.TransferFile(id, o.originalFileName, date, size < 0 ? o.size : quint64(size), folderMode);
    }
    QString Path(const QString &relative) const { return dest.path() + QLatin1Char('/') + relative; }

    FakeDeviceService service;
    MemoryLog log;
    RunState run;
    FakeCopyHost host;
    DeviceConnection connection;
    QStringList commands;
    TransferDecision decision;
    QTemporaryDir dest;
};

inline QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

// Every file below a folder, relative, hidden ones included, sorted; the
// hash list history a run leaves at the root ("ascmhl/") is left out.
inline QStringList FilesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = QDir(root).relativeFilePath(it.next());
        if (!file.startsWith(QLatin1String("ascmhl/")))
            files << file;
    }
    files.sort();
    return files;
}

// Data that differs at every position from a shifted copy of itself.
inline QByteArray Pattern(qsizetype size, int seed = 1)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 7 + seed * 13 + i / 251) & 0xFF);
    return data;
}
