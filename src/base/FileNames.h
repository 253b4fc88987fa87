#pragma once

// A Linux file name is a string of bytes, not always valid UTF-8, and a
// photo must arrive under exactly the bytes it had on the card. Names keep
// their bytes inside a QString without loss: valid UTF-8 becomes its
// characters, and each byte of a sequence that is not valid UTF-8 becomes
// the lone surrogate U+DC80 + (byte - 0x80). Valid UTF-8 never yields a lone
// surrogate, so nameToBytes(nameFromBytes(b)) == b for every b.
//
// Qt's own file classes encode names lossily (QFile::encodeName turns such
// a surrogate into "?"), so every file-system call on a name from a device
// takes nameToBytes() of the path. readableText() (TextRules.h) shows the
// odd bytes as "\xFF".

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QUrl>

QString nameFromBytes(QByteArrayView bytes);
QByteArray nameToBytes(QStringView name);

// A file: URL that names exactly the bytes of an absolute path (QUrl's own
// fromLocalFile would give the UTF-8 of a replacement for odd bytes).
QUrl localFileUrl(const QString &path);

// The byte a lone surrogate stands for, or -1 when c is not one of ours.
inline int escapedByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF ? int(c - 0xDC00) : -1;
}
