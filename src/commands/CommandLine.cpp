#include "CommandLine.h"

#include <vector>

namespace {

// Reads one item starting at i; leaves i just after the item (after its
// closing quote when quoted, at the blank or the end otherwise).
QString ReadItem(const QString &text, qsizetype &i, bool *quoted)
{
    const qsizetype n = text.size();
    QString item;
    if (i < n && text[i] == QLatin1Char('"')) {
        *quoted = true;
        ++i;
        while (i < n) {
            if (text[i] == QLatin1Char('"')) {
                if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                    item += QLatin1Char('"');
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            item += text[i++];
        }
        return item;
    }
    *quoted = false;
    const qsizetype start = i;
    while (i < n && text[i] != QLatin1Char(' '))
        ++i;
    return text.mid(start, i - start);
}

}  // namespace

QStringList SplitCommandItems(const QString &text)
{
    QStringList items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        bool quoted = false;
        items << ReadItem(text, i, &quoted);
        if (i < n && text[i] == QLatin1Char(' ')) {
            ++i;
            if (i == n)
                items << QString();
        }
    }
    return items;
}

CommandText ParseCommandText(const QString &text)
{
    CommandText result;
    qsizetype i = 0;
    result.Program = ReadItem(text, i, &result.ProgramQuoted);
    // The parameters are what follows the first item as written, so a program
    // path holding doubled quotes cannot throw the position off.
    if (SplitCommandItems(text).size() > 1) {
        if (!result.ProgramQuoted && i < text.size())
            ++i;  // the blank that ended the item
        result.Params = text.mid(i).trimmed();
    }
    return result;
}

QString CommandFolder(const QString &program, const QString &programFolder)
{
    if (program.startsWith(QLatin1Char('/')))
        return program.left(program.lastIndexOf(QLatin1Char('/')) + 1);
    return programFolder;
}

namespace {

// Characters that mean nothing to the shell in any position inside a word.
bool IsPlainChar(QChar c)
{
    if (c.unicode() >= 0x80)
        return c.isLetterOrNumber() || c.isMark();
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || QStringLiteral("_./:,+@%-").contains(c);
}

bool IsPlainText(const QString &text)
{
    for (QChar c : text)
        if (!IsPlainChar(c))
            return false;
    return true;
}

bool IsWordBreak(QChar c)
{
    return QStringLiteral(" \t\n;&|<>()").contains(c);
}

enum class Quote { None, Double, Single };
enum class Frame { Top, CommandSub, Backtick, Brace };

struct Level
{
    Frame frame = Frame::Top;
    Quote quote = Quote::None;
    int parens = 0;           // open "(" inside a "$(" level
    bool arithmetic = false;  // "$((": a value would be evaluated as an expression
    bool wordStart = true;
    bool comment = false;
};

QString QuoteDouble(const QString &value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"') || c == QLatin1Char('$') || c == QLatin1Char('`'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

QString QuoteInsideSingle(QString value)
{
    return value.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
}

// The text inside a backquoted command is read once more after "\\", "\$"
// and "\`" lost their backslash; protect it for that reading.
QString EscapeForBackquotes(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('$') || c == QLatin1Char('`'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

class TagScanner
{
public:
    TagScanner(const QString &params, const QList<CommandTag> &tags) : text_(params), tags_(tags)
    {
        levels_.push_back(Level{});
    }

    TagReplacement Run()
    {
        const qsizetype n = text_.size();
        qsizetype i = 0;
        while (i < n) {
            if (const CommandTag *tag = TagAt(i)) {
                PlaceValue(*tag);
                i += tag->Name.size();
                continue;
            }
            i = Step(i);
        }
        return {out_, error_};
    }

private:
    Level &Top() { return levels_.back(); }

    const CommandTag *TagAt(qsizetype i) const
    {
        for (const CommandTag &tag : tags_)
            if (!tag.Name.isEmpty() &&
                QStringView(text_).mid(i, tag.Name.size()).compare(tag.Name, Qt::CaseInsensitive) == 0)
                return &tag;
        return nullptr;
    }

    // Wraps text meant for the innermost level so that it survives the
    // re-reading of every backquoted command around it.
    QString ThroughBackquotes(QString text) const
    {
        for (auto it = levels_.rbegin(); it != levels_.rend(); ++it)
            if (it->frame == Frame::Backtick)
                text = EscapeForBackquotes(text);
        return text;
    }

    void PlaceValue(const CommandTag &tag)
    {
        Level &level = Top();
        if (level.comment) {
            QString value = tag.Value;
            out_ += value.replace(QLatin1Char('\n'), QLatin1Char(' '));
            return;
        }
        level.wordStart = false;
        if (level.arithmetic || tag.Value.contains(QChar(0))) {
            // No quoting keeps a name from being read as an expression
            // there, and no command line can carry a NUL.
            if (error_.isEmpty())
                error_ = tag.Name;
            return;
        }
        if (unsure_) {
            // Where we cannot tell how the shell reads the text, only a value
            // that means nothing to it anywhere may stand.
            if (IsPlainText(tag.Value) && !tag.Value.isEmpty()) {
                out_ += tag.Value;
            } else if (error_.isEmpty()) {
                error_ = tag.Name;
            }
            return;
        }
        QString quoted;
        switch (level.quote) {
        case Quote::None: quoted = ShellQuote(tag.Value); break;
        case Quote::Double: quoted = QuoteDouble(tag.Value); break;
        case Quote::Single: quoted = QuoteInsideSingle(tag.Value); break;
        }
        out_ += ThroughBackquotes(quoted);
    }

    void Append(QChar c) { out_ += c; }

    // Handles the character at i; returns the index of the next one.
    qsizetype Step(qsizetype i)
    {
        const QChar c = text_[i];
        const bool hasNext = i + 1 < text_.size();
        const QChar next = hasNext ? text_[i + 1] : QChar();
        Level &level = Top();

        if (level.frame == Frame::Backtick) {
            // The shell finds the end of a backquoted command before it reads
            // anything inside, quotes and comments included.
            if (c == QLatin1Char('`')) {
                Append(c);
                Leave();
                return i + 1;
            }
            if (c == QLatin1Char('\\') && hasNext && !TagAt(i + 1)) {
                // Escapes are undone before the inner reading, and shells
                // differ on some; past one, this scanner no longer follows.
                unsure_ = true;
                Append(c);
                Append(next);
                return i + 2;
            }
        }

        if (level.comment) {
            Append(c);
            if (c == QLatin1Char('\n')) {
                level.comment = false;
                level.wordStart = true;
            }
            return i + 1;
        }
        if (level.quote == Quote::Single) {
            Append(c);
            if (c == QLatin1Char('\''))
                level.quote = Quote::None;
            return i + 1;
        }

        if (c == QLatin1Char('$') && hasNext && TagAt(i + 1)) {
            // "$" right before a value would join it: "$(" or "${" or "$'"
            // from a name could run or expand. Keep the "$" a plain one.
            out_ += ThroughBackquotes(QStringLiteral("\\$"));
            level.wordStart = false;
            return i + 1;
        }

        if (c == QLatin1Char('\\')) {
            if (hasNext && TagAt(i + 1)) {
                // A backslash in front of a tag would take the value's first
                // character. Outside quotes it only meant that character
                // itself, so it goes; inside double quotes it stays a
                // backslash of its own.
                if (level.quote == Quote::Double)
                    out_ += ThroughBackquotes(QStringLiteral("\\\\"));
                return i + 1;
            }
            Append(c);
            if (hasNext)
                Append(next);
            level.wordStart = false;
            return hasNext ? i + 2 : i + 1;
        }

        if (level.quote == Quote::Double) {
            Append(c);
            if (c == QLatin1Char('"'))
                level.quote = Quote::None;
            else if (c == QLatin1Char('`'))
                Enter(Frame::Backtick);
            else if (c == QLatin1Char('$') && next == QLatin1Char('(')) {
                Append(next);
                Enter(Frame::CommandSub, i + 2);
                return i + 2;
            } else if (c == QLatin1Char('$') && next == QLatin1Char('{')) {
                Append(next);
                Enter(Frame::Brace);
                return i + 2;
            }
            return i + 1;
        }

        // Outside quotes.
        if (c == QLatin1Char('#') && level.wordStart) {
            level.comment = true;
            Append(c);
            return i + 1;
        }
        if (level.wordStart && QStringView(text_).mid(i, 5) == QLatin1String("case ")) {
            unsure_ = true;  // its patterns end in ")" that would close "$(" early
        }
        if (c == QLatin1Char('<') && next == QLatin1Char('<')) {
            unsure_ = true;  // a here-document has quoting rules of its own
        }
        Append(c);
        level.wordStart = IsWordBreak(c) || c == QLatin1Char('\t');
        if (c == QLatin1Char('\'')) {
            level.quote = Quote::Single;
        } else if (c == QLatin1Char('"')) {
            level.quote = Quote::Double;
        } else if (c == QLatin1Char('`')) {
            Enter(Frame::Backtick);
        } else if (c == QLatin1Char('$') && next == QLatin1Char('(')) {
            Append(next);
            Enter(Frame::CommandSub, i + 2);
            return i + 2;
        } else if (c == QLatin1Char('$') && next == QLatin1Char('{')) {
            Append(next);
            Enter(Frame::Brace);
            return i + 2;
        } else if (c == QLatin1Char('(') && level.frame == Frame::CommandSub) {
            ++level.parens;
        } else if (c == QLatin1Char(')') && level.frame == Frame::CommandSub) {
            if (level.parens == 0)
                Leave();
            else
                --level.parens;
        } else if (c == QLatin1Char('}') && level.frame == Frame::Brace) {
            Leave();
        }
        return i + 1;
    }

    void Enter(Frame frame, qsizetype contentStart = -1)
    {
        Top().wordStart = false;
        Level level;
        level.frame = frame;
        level.arithmetic = Top().arithmetic || (frame == Frame::CommandSub && contentStart >= 0 &&
                                                contentStart < text_.size() && text_[contentStart] == QLatin1Char('('));
        // Quoting inside "${...}" differs between shells.
        if (frame == Frame::Brace)
            unsure_ = true;
        levels_.push_back(level);
    }

    void Leave()
    {
        if (levels_.size() > 1)
            levels_.pop_back();
    }

    const QString &text_;
    const QList<CommandTag> &tags_;
    std::vector<Level> levels_;
    QString out_;
    QString error_;
    bool unsure_ = false;
};

}  // namespace

QString ShellQuote(const QString &text)
{
    if (!text.isEmpty() && IsPlainText(text))
        return text;
    return QLatin1Char('\'') + QuoteInsideSingle(text) + QLatin1Char('\'');
}

TagReplacement ReplaceTags(const QString &params, const QList<CommandTag> &tags)
{
    return TagScanner(params, tags).Run();
}

BuiltCommand BuildCommand(const QString &commandText, const QList<CommandTag> &tags, const QString &programFolder)
{
    const CommandText parts = ParseCommandText(commandText);
    const TagReplacement params = ReplaceTags(parts.Params, tags);
    BuiltCommand built;
    built.CmdDir = CommandFolder(parts.Program, programFolder);
    built.CmdLine = parts.Program + QLatin1Char(' ') + params.Text;
    // A program written in double quotes is one path, blanks and all; one
    // written bare is shell text the user may mean as such ("~/bin/x").
    const QString program = parts.ProgramQuoted ? ShellQuote(parts.Program) : parts.Program;
    built.ShellCmdLine = program + QLatin1Char(' ') + params.Text;
    built.Error = params.Error;
    return built;
}
