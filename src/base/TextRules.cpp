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

// True when the character at i is shown escaped.
bool Escaped(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    if (c < 0x20 || c == 0x7F)
        return true;
    if (c < 0x80)
        return false;
    if (c <= 0x9F)
        return true;  // C1 controls, U+0085 among them
    switch (c) {
    case 0x061C:
    case 0x200E:
    case 0x200F:
    case 0x2028:
    case 0x2029:
    case 0x202A:
    case 0x202B:
    case 0x202C:
    case 0x202D:
    case 0x202E:
    case 0x2066:
    case 0x2067:
    case 0x2068:
    case 0x2069: return true;
    default: break;
    }
    if (QChar::isHighSurrogate(c))
        return i + 1 >= text.size() || !QChar::isLowSurrogate(text[i + 1].unicode());
    if (QChar::isLowSurrogate(c))
        return i == 0 || !QChar::isHighSurrogate(text[i - 1].unicode());
    return false;
}

}  // namespace

bool needsEscaping(QStringView text)
{
    // Every log line passes here: printable ASCII is decided at once.
    const char16_t *chars = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        if (char16_t(chars[i] - 0x20) >= 0x5F && Escaped(text, i))
            return true;
    return false;
}

QString readableText(QStringView text)
{
    if (!needsEscaping(text))
        return text.toString();
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!Escaped(text, i)) {
            out += QChar(c);
            continue;
        }
        switch (c) {
        case u'\n': out += QLatin1String("\\n"); continue;
        case u'\r': out += QLatin1String("\\r"); continue;
        case u'\t': out += QLatin1String("\\t"); continue;
        default: break;
        }
        // A byte of a name that is not UTF-8 shows as the byte it is.
        const int code = c < 0x80 ? int(c) : c >= 0xDC80 && c <= 0xDCFF ? int(c - 0xDC00) : -1;
        if (code >= 0) {
            out += QLatin1String("\\x");
            out += QLatin1Char(digits[code >> 4]);
            out += QLatin1Char(digits[code & 0xF]);
        } else {
            out += QLatin1String("\\u");
            for (int shift = 12; shift >= 0; shift -= 4)
                out += QLatin1Char(digits[(c >> shift) & 0xF]);
        }
    }
    return out;
}
