#include "TextRules.h"

QString TrimControl(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

namespace {

constexpr char16_t kIsolateRtl = 0x2067;  // RIGHT-TO-LEFT ISOLATE
constexpr char16_t kPopIsolate = 0x2069;  // POP DIRECTIONAL ISOLATE

// The character at i, a pair of surrogates as one; a lone surrogate stands
// for itself.
char32_t CodeAt(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
        return QChar::surrogateToUcs4(c, text[i + 1].unicode());
    if (QChar::isLowSurrogate(c) && i > 0 && QChar::isHighSurrogate(text[i - 1].unicode()))
        return QChar::surrogateToUcs4(text[i - 1].unicode(), c);
    return c;
}

// True when c is shown escaped: controls, line breaks, lone surrogates
// (which hold the odd bytes of names) and the invisible format characters
// (soft hyphen, zero widths, byte order mark, every bidirectional control).
bool Escaped(char32_t c)
{
    if (c < 0x20 || c == 0x7F)
        return true;
    if (c < 0x80)
        return false;
    if (c <= 0x9F)
        return true;  // C1 controls, U+0085 among them
    if (c == 0x2028 || c == 0x2029 || QChar::isSurrogate(c))
        return true;
    return QChar::category(c) == QChar::Other_Format;
}

// A backslash is doubled where it could be read as the start of an
// escape: before another backslash, before a letter that begins one, or
// before a character shown escaped. Elsewhere ("\DCIM") it stays single,
// and the text still reads back one way only.
bool DoubledBackslash(QStringView text, qsizetype at)
{
    if (at + 1 >= text.size())
        return false;
    const char32_t next = CodeAt(text, at + 1);
    switch (next) {
    case u'\\':
    case u'x':
    case u'u':
    case u'U':
    case u'n':
    case u'r':
    case u't': return true;
    default: return Escaped(next);
    }
}

bool RightToLeft(char32_t c)
{
    const QChar::Direction d = QChar::direction(c);
    return d == QChar::DirR || d == QChar::DirAL;
}

bool Mark(char32_t c)
{
    return QChar::direction(c) == QChar::DirNSM;
}

// What may stand between two right-to-left letters of one run.
bool Joins(char32_t c)
{
    return Mark(c) || QChar::category(c) == QChar::Separator_Space;
}

void AppendEscape(QString &out, char32_t c)
{
    static const char digits[] = "0123456789ABCDEF";
    switch (c) {
    case u'\n': out += QLatin1String("\\n"); return;
    case u'\r': out += QLatin1String("\\r"); return;
    case u'\t': out += QLatin1String("\\t"); return;
    default: break;
    }
    // A byte of a name that is not UTF-8 shows as the byte it is.
    const int code = c < 0x80 ? int(c) : c >= 0xDC80 && c <= 0xDCFF ? int(c - 0xDC00) : -1;
    int width = 4;
    if (code >= 0) {
        c = char32_t(code);
        width = 2;
        out += QLatin1String("\\x");
    } else if (c > 0xFFFF) {
        width = 8;
        out += QLatin1String("\\U");
    } else {
        out += QLatin1String("\\u");
    }
    for (int shift = 4 * (width - 1); shift >= 0; shift -= 4)
        out += QLatin1Char(digits[(c >> shift) & 0xF]);
}

}  // namespace

bool needsEscaping(QStringView text)
{
    // Every log line passes here: printable ASCII is decided at once.
    const char16_t *chars = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (char16_t(chars[i] - 0x20) < 0x5F && chars[i] != u'\\')
            continue;
        if (chars[i] == u'\\') {
            if (DoubledBackslash(text, i))
                return true;
            continue;
        }
        const char32_t c = CodeAt(text, i);
        if (Escaped(c) || RightToLeft(c))
            return true;
    }
    return false;
}

QString readableText(QStringView text)
{
    if (!needsEscaping(text))
        return text.toString();
    QString out;
    out.reserve(text.size() + 16);
    // A run of right-to-left letters goes into an isolate of its own, so
    // that it cannot carry the digits and brackets around it into its own
    // order: in "IMG_7", a Hebrew letter, " (2) 3.jpg" the digits and
    // brackets stay where they are instead of turning round with the letter.
    bool isolated = false;
    QString between;  // blanks after the last letter of the run, and their marks
    auto close = [&] {
        if (!isolated)
            return;
        out += QChar(kPopIsolate);
        out += between;
        between.clear();
        isolated = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char32_t c = CodeAt(text, i);
        const qsizetype units = c > 0xFFFF ? 2 : 1;
        const QStringView chars = text.mid(i, units);
        i += units - 1;
        if (c == u'\\') {
            close();
            out += DoubledBackslash(text, i) ? QLatin1String("\\\\") : QLatin1String("\\");
        } else if (Escaped(c)) {
            close();
            AppendEscape(out, c);
        } else if (RightToLeft(c)) {
            if (!isolated)
                out += QChar(kIsolateRtl);
            out += between;
            between.clear();
            out += chars;
            isolated = true;
        } else if (isolated && between.isEmpty() && Mark(c)) {
            out += chars;  // stays with its letter
        } else if (isolated && Joins(c)) {
            between += chars;
        } else {
            close();
            out += chars;
        }
    }
    close();
    return out;
}
