#include "ContentHash.h"

#include <algorithm>

#include <QtGlobal>

#include <cerrno>
#include <memory>
#include <new>

#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace {

ContentHash FromXxh(XXH128_hash_t hash)
{
    return {hash.high64, hash.low64};
}

int HexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

}  // namespace

QString ContentHash::Text() const
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH128_hash_t{low, high});
    static const char digits[] = "0123456789abcdef";
    QString text(int(2 * sizeof canonical.digest), Qt::Uninitialized);
    QChar *out = text.data();
    for (unsigned char byte : canonical.digest) {
        *out++ = QLatin1Char(digits[byte >> 4]);
        *out++ = QLatin1Char(digits[byte & 15]);
    }
    return text;
}

std::optional<ContentHash> ContentHash::FromText(QStringView text)
{
    XXH128_canonical_t canonical;
    if (text.size() != qsizetype(2 * sizeof canonical.digest))
        return std::nullopt;
    for (std::size_t i = 0; i < sizeof canonical.digest; ++i) {
        const int hi = HexValue(text[qsizetype(2 * i)]);
        const int lo = HexValue(text[qsizetype(2 * i + 1)]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        canonical.digest[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return FromXxh(XXH128_hashFromCanonical(&canonical));
}

ContentHasher::ContentHasher() : state_(XXH3_createState())
{
    if (!state_)
        throw std::bad_alloc();
    Reset();
}

ContentHasher::~ContentHasher()
{
    XXH3_freeState(state_);
}

void ContentHasher::Reset()
{
    XXH3_128bits_reset(state_);
}

void ContentHasher::Update(const void *data, std::size_t size)
{
    if (size > 0)
        XXH3_128bits_update(state_, data, size);
}

ContentHash ContentHasher::Digest() const
{
    return FromXxh(XXH3_128bits_digest(state_));
}

ContentHash HashBytes(QByteArrayView bytes)
{
    return FromXxh(XXH3_128bits(bytes.data(), std::size_t(bytes.size())));
}

std::optional<ContentHash> HashFile(int fd, QString *error, const std::function<bool()> &stop)
{
    // No larger than the file needs, and not cleared: thousands of small
    // files would otherwise each cost a cleared megabyte.
    struct stat st
    {
    };
    const std::size_t size = ::fstat(fd, &st) == 0 && st.st_size >= 0
                                 ? std::min<std::size_t>(std::size_t(st.st_size) + 1, kHashReadSize)
                                 : kHashReadSize;
    const std::unique_ptr<char[]> buffer(new char[size]);
    ContentHasher hasher;
    for (;;) {
        if (stop && stop())
            return std::nullopt;
        const ssize_t got = ::read(fd, buffer.get(), size);
        if (got == 0)
            return hasher.Digest();
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = qt_error_string(errno);
            return std::nullopt;
        }
        hasher.Update(buffer.get(), std::size_t(got));
    }
}
