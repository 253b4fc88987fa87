#include "FileNames.h"

namespace {

// The length of the valid UTF-8 sequence at data[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0 when it is not one.
int ValidSequence(const unsigned char *data, qsizetype i, qsizetype size, char32_t &code)
{
    const unsigned char b = data[i];
    int length;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        code = b & 0x1F;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        code = b & 0x0F;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        code = b & 0x07;
        min = 0x10000;
    } else {
        return 0;  // a continuation byte, an overlong lead (C0, C1) or F5..FF
    }
    if (i + length > size)
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char c = data[i + k];
        if ((c & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (c & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

namespace {

// Most names and paths are plain ASCII, the same in either form: they are
// converted whole instead of a character at a time (a copy run converts
// several paths for every file).
bool IsAscii(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool IsAscii(QStringView text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

}  // namespace

QString nameFromBytes(QByteArrayView bytes)
{
    if (IsAscii(bytes))
        return QString::fromLatin1(bytes);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    QString name;
    name.reserve(size);
    for (qsizetype i = 0; i < size;) {
        const unsigned char b = data[i];
        if (b < 0x80) {
            name += QLatin1Char(char(b));
            ++i;
            continue;
        }
        char32_t code = 0;
        const int length = ValidSequence(data, i, size, code);
        if (length == 0) {
            name += QChar(char16_t(0xDC00 + b));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            name += QChar(QChar::highSurrogate(code));
            name += QChar(QChar::lowSurrogate(code));
        } else {
            name += QChar(char16_t(code));
        }
        i += length;
    }
    return name;
}

QByteArray nameToBytes(QStringView name)
{
    if (IsAscii(name))
        return name.toLatin1();
    QByteArray bytes;
    bytes.reserve(name.size());
    const qsizetype size = name.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = name[i].unicode();
        char32_t code = c;
        if (c < 0x80) {
            bytes += char(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(name[i + 1].unicode())) {
            code = QChar::surrogateToUcs4(c, name[i + 1].unicode());
            ++i;
        } else if (const int byte = escapedByte(c); byte >= 0) {
            bytes += char(byte);
            continue;
        } else if (QChar::isSurrogate(c)) {
            code = 0xFFFD;  // a lone surrogate no name of ours holds
        }
        if (code < 0x800) {
            bytes += char(0xC0 | (code >> 6));
        } else if (code < 0x10000) {
            bytes += char(0xE0 | (code >> 12));
            bytes += char(0x80 | ((code >> 6) & 0x3F));
        } else {
            bytes += char(0xF0 | (code >> 18));
            bytes += char(0x80 | ((code >> 12) & 0x3F));
            bytes += char(0x80 | ((code >> 6) & 0x3F));
        }
        bytes += char(0x80 | (code & 0x3F));
    }
    return bytes;
}

QUrl localFileUrl(const QString &path)
{
    return QUrl::fromEncoded("file://" + nameToBytes(path).toPercentEncoding("/"), QUrl::StrictMode);
}
