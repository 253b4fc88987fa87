#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

// The settings file: sections of "key=value" lines, read and written by the
// rules of the classic private-profile functions.
//
// - Section and key names compare without regard to case; the first of
//   duplicates counts.
// - A missing key, section or file reads as the caller's default; a key with
//   an empty value reads as the empty text.
// - Values lose their leading and trailing blanks and one pair of matching
//   enclosing quotes; at most 2047 characters are returned. A written value
//   that would lose something to that goes out inside double quotes, so that
//   every value reads back exactly as written (line breaks become blanks).
// - A write replaces the value where the key stands or appends the key at the
//   end of its section; a missing section goes at the end of the file; a
//   missing file is created.
// - Every write reads the file, changes only the lines it must and replaces
//   the file atomically, so hand-written lines survive byte for byte and a
//   crash never leaves half a file. A write that fails throws
//   Exception("Unable to write to <path>") and leaves the old file intact.
//
// Nothing is cached between calls. The file is UTF-8.
struct IniContent;

// The file's identity, size and times, as stat gives them.
struct IniFileStamp
{
    bool valid = false;
    qint64 inode = 0, size = 0, modified = 0, changed = 0;
    bool operator==(const IniFileStamp &) const = default;
};

class IniFile
{
public:
    explicit IniFile(const QString &path) : path_(path) {}
    ~IniFile();

    // Reads the file once for the reads that follow, for a routine that reads
    // many keys in one go; every write goes to the file and reloads it.
    void Preload();
    const QString &FileName() const { return path_; }

    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    // Decimal, or hexadecimal after "0x"; anything else gives the default.
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const;
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const;
    // A command written by WriteCommand, exactly as it was written.
    QString ReadCommand(const QString &section, const QString &key, const QString &defaultValue) const;
    bool SectionExists(const QString &section) const;
    // Lines that cannot be settings (binary data, NUL bytes, not UTF-8, too
    // long), numbered from 1: reads pass them over, writes keep them as
    // they are.
    QList<int> IgnoredLines() const;
    // The log line that names those lines; empty when there are none.
    QString IgnoredLinesText() const;

    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);
    // Enclosed in single quotes with inner single quotes doubled, so that
    // leading/trailing blanks and quotes survive the reading rules.
    void WriteCommand(const QString &section, const QString &key, const QString &value);
    void EraseSection(const QString &section);
    // The section's settings become these keys and values, in this order;
    // its lines that are not settings (ignored lines, comments) stay as they
    // are, after them. A section left empty goes.
    void WriteSection(const QString &section, const QList<std::pair<QString, QString>> &values);

    // Writes between BeginBatch and CommitBatch change one reading of the
    // file, which CommitBatch writes in one go (throwing as a write does);
    // DropBatch forgets them. Batches nest: the outermost one writes.
    void BeginBatch();
    void CommitBatch();
    void DropBatch();

    // Why the file cannot be written (a folder, a read-only place, a folder
    // that cannot be made); empty when it can. Nothing is changed.
    QString WriteTrouble() const;

    // The read or write of a value's own type, for the tables of keys.
    void ReadInto(const QString &section, const QString &key, QString &value) const
    {
        value = ReadString(section, key, value);
    }
    void ReadInto(const QString &section, const QString &key, int &value) const
    {
        value = ReadInteger(section, key, value);
    }
    void ReadInto(const QString &section, const QString &key, bool &value) const
    {
        value = ReadBool(section, key, value);
    }
    void WriteFrom(const QString &section, const QString &key, const QString &value)
    {
        WriteString(section, key, value);
    }
    void WriteFrom(const QString &section, const QString &key, int value) { WriteInteger(section, key, value); }
    void WriteFrom(const QString &section, const QString &key, bool value) { WriteBool(section, key, value); }

    static constexpr int kMaxValueLength = 2047;

    // The value-text rules, exposed for the tests.
    static QString CleanValue(const QString &raw);
    static bool ParseInteger(const QString &text, int &value);

private:
    const IniContent &Content() const;
    // Writes the value text as it is to stand in the file.
    void WriteRaw(const QString &section, const QString &key, const QString &raw);
    // The reading a write changes: the batch's, or the file read now; Edited
    // writes it unless a batch goes on.
    IniContent &Editing();
    std::shared_ptr<IniContent> ReadForEditing();
    void Edited();
    void Store(IniContent &content);

    QString path_;
    std::shared_ptr<IniContent> preloaded_;
    std::shared_ptr<IniContent> batch_;
    std::shared_ptr<IniContent> editing_;
    int batchDepth_ = 0;
    // The file as it was when preloaded_ was read or written.
    IniFileStamp stamp_;
};
