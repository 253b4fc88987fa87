#pragma once

// The hashes an ASC Media Hash List (ASC MHL) records, each in the text a
// manifest holds: lowercase hexadecimal of the canonical (big-endian) digest
// for xxh32, xxh64, xxh3 (XXH3 with 64 bits), xxh128 (XXH3 with 128 bits,
// the hash the copy code takes), sha1 and md5; a C4 ID for c4.
//
// A C4 ID (SMPTE ST 2114) names bytes by their SHA-512: "c4" followed by the
// 512-bit digest as a number in base 58 (the digits 1-9, A-Z and a-z without
// 0, O, I and l), padded with the zero digit "1" to 88 digits, 90 characters
// in all. A history's chain names each manifest by the C4 ID of its bytes.

#include "copy/ContentHash.h"

#include <QByteArrayView>
#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>
#include <vector>

// In the order a verification prefers them: the fastest first.
enum class MhlHashKind { Xxh128, Xxh3, Xxh64, Xxh32, C4, Sha1, Md5 };

// The element a manifest records the kind in ("xxh128", "c4", ...).
QLatin1String MhlHashName(MhlHashKind kind);
std::optional<MhlHashKind> MhlHashKindNamed(QStringView name);

struct MhlHash
{
    MhlHashKind kind = MhlHashKind::Xxh128;
    QString text;

    // Hexadecimal digits compare without regard to case; a C4 ID as it is.
    bool Matches(const MhlHash &other) const;
};

// The copy code's XXH3-128 hash as a manifest records it.
MhlHash MhlHashOf(const ContentHash &hash);

// The C4 ID of a 64-byte SHA-512 digest; empty for anything else.
QString C4IdOfDigest(QByteArrayView sha512);
// The C4 ID of the bytes.
QString C4Id(QByteArrayView bytes);

// Hashes the file open on fd, from its current offset to its end, in each
// kind given, with one read of the file. On a read error: nothing, and
// *error (when given) says why; a stop function, when given, is asked before
// each read, and when it says so: nothing, and no error.
std::optional<std::vector<MhlHash>> HashFileAs(int fd, const std::vector<MhlHashKind> &kinds, QString *error = nullptr,
                                               const std::function<bool()> &stop = {});
