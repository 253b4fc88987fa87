#include "IniFile.h"

#include "log/Exception.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <limits>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace {

// One line of the file as it stands, its line break included, so that lines
// the program does not change are written back byte for byte.
struct Line
{
    enum Kind : unsigned char { Other, Header, Key };
    QByteArray raw;  // with its terminator
    QString text;    // decoded, without terminator; empty for an ignored line
    Kind kind = Other;
    bool junk = false;  // cannot be a setting: kept, never read
    QString name;       // the section's or the key's name, trimmed
};

// Longer than any key with the longest value it can give, in any encoding.
constexpr qsizetype kMaxLineBytes = 16384;

// A line that cannot be a setting: too long, not UTF-8, or holding control
// characters (binary data, NUL bytes). It is ignored, and kept as it is.
bool IsJunk(const QByteArray &body)
{
    if (body.size() > kMaxLineBytes)
        return true;
    for (const char c : body)
        if ((uchar(c) < 0x20 && c != '\t') || c == '\x7F')
            return true;
    return !QByteArrayView(body).isValidUtf8();
}

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString TrimBlanks(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s.at(b)))
        ++b;
    while (e > b && IsBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

// The section name of a header line, or nothing.
std::optional<QString> SectionOf(const QString &text)
{
    const QString t = TrimBlanks(text);
    if (!t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = t.lastIndexOf(QLatin1Char(']'));
    if (close < 1)
        return std::nullopt;
    return TrimBlanks(t.mid(1, close - 1));
}

// The key of a key line, or nothing.
std::optional<QString> KeyOf(const QString &text)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    if (SectionOf(text))
        return std::nullopt;
    return TrimBlanks(text.left(eq));
}

void Classify(Line &line)
{
    if (auto section = SectionOf(line.text)) {
        line.kind = Line::Header;
        line.name = std::move(*section);
    } else if (auto key = KeyOf(line.text)) {
        line.kind = Line::Key;
        line.name = std::move(*key);
    } else {
        line.kind = Line::Other;
        line.name.clear();
    }
}

// Names compare without regard to case: this is the form they are looked up by.
QString LookupName(const QString &name)
{
    return TrimBlanks(name).toCaseFolded();
}

}  // namespace

struct IniContent
{
    std::vector<Line> lines;
    QByteArray eol = "\n";
    bool exists = false;
    QList<int> ignored;  // line numbers from 1

    // The first section of each name: its lines [begin, end), begin being
    // the header. Valid while `indexed`; an edit of the lines clears it.
    struct Section
    {
        qsizetype begin = -1;
        qsizetype end = -1;
    };
    QHash<QString, Section> sections;
    bool indexed = false;

    void Index()
    {
        sections.clear();
        ignored.clear();
        Section *current = nullptr;
        for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
            const Line &line = lines[size_t(i)];
            if (line.junk)
                ignored << int(i) + 1;
            if (line.kind == Line::Header) {
                if (current)
                    current->end = i;
                const QString name = LookupName(line.name);
                current = sections.contains(name) ? nullptr : &sections[name];
                if (current)
                    current->begin = i;
            }
        }
        if (current)
            current->end = qsizetype(lines.size());
        indexed = true;
    }
};

namespace {

using Parsed = IniContent;

Parsed Load(const QString &path)
{
    Parsed parsed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        parsed.Index();
        return parsed;
    }
    parsed.exists = true;
    QByteArray data = file.readAll();
    qsizetype pos = 0;
    bool first = true;
    while (pos < data.size()) {
        qsizetype nl = data.indexOf('\n', pos);
        const qsizetype end = nl < 0 ? data.size() : nl + 1;
        Line line;
        line.raw = data.mid(pos, end - pos);
        QByteArray body = line.raw;
        if (body.endsWith('\n'))
            body.chop(1);
        if (body.endsWith('\r'))
            body.chop(1);
        if (first) {
            if (line.raw.endsWith("\r\n"))
                parsed.eol = "\r\n";
            if (body.startsWith("\xEF\xBB\xBF"))
                body.remove(0, 3);
            first = false;
        }
        if (IsJunk(body))
            line.junk = true;
        else
            line.text = QString::fromUtf8(body);
        Classify(line);
        parsed.lines.push_back(std::move(line));
        pos = end;
    }
    parsed.Index();
    return parsed;
}

// Lines [begin, end) of the first section of that name; begin is the header.
struct Range
{
    qsizetype begin = -1;
    qsizetype end = -1;
};

Range FindSection(const Parsed &p, const QString &section)
{
    const QString wanted = LookupName(section);
    if (p.indexed) {
        const auto found = p.sections.constFind(wanted);
        return found == p.sections.cend() ? Range{} : Range{found->begin, found->end};
    }
    Range r;
    for (qsizetype i = 0; i < qsizetype(p.lines.size()); ++i) {
        const Line &line = p.lines[size_t(i)];
        if (line.kind != Line::Header)
            continue;
        if (r.begin >= 0) {
            r.end = i;
            return r;
        }
        if (line.name.compare(wanted, Qt::CaseInsensitive) == 0)
            r.begin = i;
    }
    if (r.begin >= 0)
        r.end = qsizetype(p.lines.size());
    return r;
}

qsizetype FindKey(const Parsed &p, const Range &r, const QString &key)
{
    const QString wanted = TrimBlanks(key);
    for (qsizetype i = r.begin + 1; i < r.end; ++i) {
        const Line &line = p.lines[size_t(i)];
        if (line.kind == Line::Key && line.name.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

std::optional<QString> RawValue(const Parsed &p, const QString &section, const QString &key)
{
    const Range r = FindSection(p, section);
    if (r.begin < 0)
        return std::nullopt;
    const qsizetype i = FindKey(p, r, key);
    if (i < 0)
        return std::nullopt;
    const QString &text = p.lines[size_t(i)].text;
    return text.mid(text.indexOf(QLatin1Char('=')) + 1);
}

// A name or value must stay on its own line.
QString OneLine(QString s)
{
    s.replace(QLatin1String("\r\n"), QLatin1String(" "));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

// Reading takes blanks off both ends and one pair of enclosing quotes. A
// value that would lose something to that is written inside a pair of
// double quotes, which the reading takes off again, so that it comes back
// exactly as written: a filter list that starts and ends with a quoted entry,
// a date format like 'Y'yyyy'-'mm, a name with a trailing blank.
QString Protected(const QString &value)
{
    bool needed = TrimBlanks(value).size() != value.size();
    if (value.size() >= 2) {
        const QChar q = value.front();
        if ((q == QLatin1Char('"') || q == QLatin1Char('\'')) && value.back() == q)
            needed = true;
    }
    return needed ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

Line MakeLine(const QString &text, const QByteArray &eol)
{
    Line line;
    line.raw = text.toUtf8() + eol;
    line.text = text;
    Classify(line);
    return line;
}

void Save(const QString &path, const Parsed &p)
{
    QSaveFile file(path);
    QByteArray data;
    qsizetype size = 0;
    for (const Line &line : p.lines)
        size += line.raw.size();
    data.reserve(size);
    for (const Line &line : p.lines)
        data += line.raw;
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        throw Exception(QStringLiteral("Unable to write to %1").arg(path));
}

// What tells whether the file changed since it was read or written last.
IniFileStamp StampOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {true, qint64(info.st_ino), qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
}

}  // namespace

IniFile::~IniFile() = default;

void IniFile::Preload()
{
    stamp_ = StampOf(path_);
    preloaded_ = std::make_shared<IniContent>(Load(path_));
    // Changed while it was read: the next write reads it again.
    if (!(stamp_ == StampOf(path_)))
        stamp_ = {};
}

const IniContent &IniFile::Content() const
{
    if (preloaded_)
        return *preloaded_;
    thread_local IniContent fresh;
    fresh = Load(path_);
    return fresh;
}

QString IniFile::CleanValue(const QString &raw)
{
    QString v = TrimBlanks(raw);
    if (v.size() >= 2) {
        const QChar q = v.front();
        if ((q == QLatin1Char('"') || q == QLatin1Char('\'')) && v.back() == q)
            v = v.mid(1, v.size() - 2);
    }
    if (v.size() > kMaxValueLength)
        v.truncate(kMaxValueLength);
    return v;
}

bool IniFile::ParseInteger(const QString &text, int &value)
{
    bool ok = false;
    qlonglong number = 0;
    if (text.size() > 2 && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        // Hexadecimal: the bit pattern of a 32-bit value, as in 0xFFFFFFFF for -1.
        const qulonglong bits = text.mid(2).toULongLong(&ok, 16);
        if (!ok || bits > 0xFFFFFFFFull)
            return false;
        value = int(quint32(bits));
        return true;
    }
    number = text.toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return false;
    value = int(number);
    return true;
}

QString IniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const auto raw = RawValue(Content(), section, key);
    return raw ? CleanValue(*raw) : defaultValue;
}

int IniFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const
{
    const QString text = ReadString(section, key, QString());
    int value = 0;
    return ParseInteger(text, value) ? value : defaultValue;
}

bool IniFile::ReadBool(const QString &section, const QString &key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QString IniFile::ReadCommand(const QString &section, const QString &key, const QString &defaultValue) const
{
    const auto raw = RawValue(Content(), section, key);
    if (!raw)
        return defaultValue;
    QString value = CleanValue(*raw);
    value.replace(QLatin1String("''"), QLatin1String("'"));
    return value;
}

QList<int> IniFile::IgnoredLines() const
{
    return Content().ignored;
}

namespace {

// "3, 7-9, 12", and how many more after the first few runs.
QString LineNumbers(const QList<int> &lines)
{
    constexpr int kMaxRuns = 20;
    QStringList runs;
    int more = 0;
    for (qsizetype i = 0; i < lines.size();) {
        qsizetype j = i;
        while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1)
            ++j;
        if (runs.size() < kMaxRuns)
            runs << (i == j ? QString::number(lines[i]) : QStringLiteral("%1-%2").arg(lines[i]).arg(lines[j]));
        else
            more += int(j - i + 1);
        i = j + 1;
    }
    return runs.join(QStringLiteral(", ")) + (more ? QStringLiteral(" and %1 more").arg(more) : QString());
}

}  // namespace

QString IniFile::IgnoredLinesText() const
{
    const QList<int> ignored = IgnoredLines();
    if (ignored.isEmpty())
        return QString();
    return QStringLiteral("The settings file %1 has lines that cannot be settings (binary data, NUL bytes, not UTF-8 "
                          "or too long); they were ignored and stay in the file as they are: %2 %3.")
        .arg(path_, ignored.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"), LineNumbers(ignored));
}

bool IniFile::SectionExists(const QString &section) const
{
    return FindSection(Content(), section).begin >= 0;
}

void IniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    WriteRaw(section, key, Protected(OneLine(value)));
}


std::shared_ptr<IniContent> IniFile::ReadForEditing()
{
    // The reading kept is the file as it stands unless someone else wrote
    // it since: then the file is read again.
    if (preloaded_ && stamp_.valid && stamp_ == StampOf(path_))
        return std::make_shared<IniContent>(*preloaded_);
    return std::make_shared<IniContent>(Load(path_));
}

IniContent &IniFile::Editing()
{
    if (batch_)
        return *batch_;
    editing_ = ReadForEditing();
    return *editing_;
}

void IniFile::Edited()
{
    if (batch_)
        return;
    std::shared_ptr<IniContent> p = std::move(editing_);
    Store(*p);
}

void IniFile::Store(IniContent &p)
{
    stamp_ = {};
    Save(path_, p);
    if (preloaded_) {
        p.Index();
        *preloaded_ = std::move(p);
        stamp_ = StampOf(path_);
    }
}

void IniFile::BeginBatch()
{
    if (batchDepth_++ == 0)
        batch_ = ReadForEditing();
}

void IniFile::CommitBatch()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    std::shared_ptr<IniContent> p = std::move(batch_);
    Store(*p);
}

void IniFile::DropBatch()
{
    batchDepth_ = 0;
    batch_.reset();
}

void IniFile::WriteRaw(const QString &section, const QString &key, const QString &raw)
{
    Parsed &p = Editing();
    const QString keyName = OneLine(TrimBlanks(key));
    const QString keyLine = keyName + QLatin1Char('=') + raw;
    const Range r = FindSection(p, section);
    if (r.begin < 0) {
        // A missing section goes at the end of the file, after a line break
        // if the last line lacks one.
        if (!p.lines.empty() && !p.lines.back().raw.endsWith('\n'))
            p.lines.back().raw += p.eol;
        p.lines.push_back(MakeLine(QLatin1Char('[') + OneLine(TrimBlanks(section)) + QLatin1Char(']'), p.eol));
        p.lines.push_back(MakeLine(keyLine, p.eol));
        p.indexed = false;
    } else if (const qsizetype i = FindKey(p, r, key); i >= 0) {
        // Keep the key's own spelling and the line's own terminator.
        Line &line = p.lines[size_t(i)];
        const QString existingKey = line.text.left(line.text.indexOf(QLatin1Char('=')));
        QByteArray eol;
        if (line.raw.endsWith("\r\n"))
            eol = "\r\n";
        else if (line.raw.endsWith('\n'))
            eol = "\n";
        line = MakeLine(TrimBlanks(existingKey) + QLatin1Char('=') + raw, eol);
    } else {
        // After the section's last non-blank line.
        qsizetype at = r.end;
        while (at - 1 > r.begin && TrimBlanks(p.lines[size_t(at - 1)].text).isEmpty())
            --at;
        if (!p.lines[size_t(at - 1)].raw.endsWith('\n'))
            p.lines[size_t(at - 1)].raw += p.eol;
        p.lines.insert(p.lines.begin() + at, MakeLine(keyLine, p.eol));
        p.indexed = false;
    }
    Edited();
}

void IniFile::WriteSection(const QString &section, const QList<std::pair<QString, QString>> &values)
{
    Parsed &p = Editing();
    const Range r = FindSection(p, section);
    std::vector<Line> lines;
    lines.reserve(size_t(values.size()) + 2);
    if (r.begin >= 0)
        lines.push_back(p.lines[size_t(r.begin)]);
    else
        lines.push_back(MakeLine(QLatin1Char('[') + OneLine(TrimBlanks(section)) + QLatin1Char(']'), p.eol));
    for (const auto &[key, value] : values)
        lines.push_back(MakeLine(OneLine(TrimBlanks(key)) + QLatin1Char('=') + Protected(OneLine(value)), p.eol));
    // The lines that are not settings stay, in their order; the blank lines
    // that end the section stay at its end.
    qsizetype blankFrom = r.end;
    while (r.begin >= 0 && blankFrom - 1 > r.begin && TrimBlanks(p.lines[size_t(blankFrom - 1)].text).isEmpty() &&
           !p.lines[size_t(blankFrom - 1)].junk)
        --blankFrom;
    for (qsizetype i = r.begin + 1; r.begin >= 0 && i < r.end; ++i) {
        const Line &line = p.lines[size_t(i)];
        if (line.junk || (line.kind == Line::Other && (i >= blankFrom || !TrimBlanks(line.text).isEmpty())))
            lines.push_back(line);
    }
    if (values.isEmpty() && lines.size() == 1) {
        // Nothing left to stand in the section: it goes.
        if (r.begin >= 0) {
            p.lines.erase(p.lines.begin() + r.begin, p.lines.begin() + r.end);
            p.indexed = false;
        }
        Edited();
        return;
    }
    for (Line &line : lines)
        if (!line.raw.endsWith('\n'))
            line.raw += p.eol;
    if (r.begin >= 0) {
        p.lines.erase(p.lines.begin() + r.begin, p.lines.begin() + r.end);
        p.lines.insert(p.lines.begin() + r.begin, std::make_move_iterator(lines.begin()),
                       std::make_move_iterator(lines.end()));
    } else {
        if (!p.lines.empty() && !p.lines.back().raw.endsWith('\n'))
            p.lines.back().raw += p.eol;
        p.lines.insert(p.lines.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    }
    p.indexed = false;
    Edited();
}

QString IniFile::WriteTrouble() const
{
    if (QFileInfo(path_).isDir())
        return QStringLiteral("it is a folder");
    // What a write does, up to the point where it would replace the file.
    QSaveFile probe(path_);
    if (!probe.open(QIODevice::WriteOnly))
        return probe.errorString();
    probe.cancelWriting();
    probe.commit();
    return QString();
}

void IniFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::WriteCommand(const QString &section, const QString &key, const QString &value)
{
    // Already enclosed: a second pair would stay in the value when read back.
    QString quoted = OneLine(value);
    quoted.replace(QLatin1String("'"), QLatin1String("''"));
    WriteRaw(section, key, QLatin1Char('\'') + quoted + QLatin1Char('\''));
}

void IniFile::EraseSection(const QString &section)
{
    Parsed &p = Editing();
    const Range r = FindSection(p, section);
    if (r.begin < 0) {
        editing_.reset();
        return;
    }
    p.lines.erase(p.lines.begin() + r.begin, p.lines.begin() + r.end);
    p.indexed = false;
    Edited();
}
