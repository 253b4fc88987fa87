#include "copy/AscMhlHash.h"

#include <QCryptographicHash>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace {

struct KindName
{
    MhlHashKind kind;
    const char *name;
};

constexpr KindName kKindNames[] = {
    {MhlHashKind::Xxh128, "xxh128"}, {MhlHashKind::Xxh3, "xxh3"}, {MhlHashKind::Xxh64, "xxh64"},
    {MhlHashKind::Xxh32, "xxh32"},   {MhlHashKind::C4, "c4"},     {MhlHashKind::Sha1, "sha1"},
    {MhlHashKind::Md5, "md5"},
};

QString Hex(const unsigned char *bytes, std::size_t size)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size)).toHex());
}

// One running hash of one kind.
class Hasher
{
public:
    explicit Hasher(MhlHashKind kind) : kind_(kind)
    {
        switch (kind) {
        case MhlHashKind::Xxh128:
        case MhlHashKind::Xxh3:
            xxh3_ = XXH3_createState();
            kind == MhlHashKind::Xxh128 ? XXH3_128bits_reset(xxh3_) : XXH3_64bits_reset(xxh3_);
            break;
        case MhlHashKind::Xxh64:
            xxh64_ = XXH64_createState();
            XXH64_reset(xxh64_, 0);
            break;
        case MhlHashKind::Xxh32:
            xxh32_ = XXH32_createState();
            XXH32_reset(xxh32_, 0);
            break;
        case MhlHashKind::C4: crypto_.emplace(QCryptographicHash::Sha512); break;
        case MhlHashKind::Sha1: crypto_.emplace(QCryptographicHash::Sha1); break;
        case MhlHashKind::Md5: crypto_.emplace(QCryptographicHash::Md5); break;
        }
    }
    ~Hasher()
    {
        XXH3_freeState(xxh3_);
        XXH64_freeState(xxh64_);
        XXH32_freeState(xxh32_);
    }
    Hasher(const Hasher &) = delete;
    Hasher &operator=(const Hasher &) = delete;

    void Update(const char *data, std::size_t size)
    {
        switch (kind_) {
        case MhlHashKind::Xxh128: XXH3_128bits_update(xxh3_, data, size); break;
        case MhlHashKind::Xxh3: XXH3_64bits_update(xxh3_, data, size); break;
        case MhlHashKind::Xxh64: XXH64_update(xxh64_, data, size); break;
        case MhlHashKind::Xxh32: XXH32_update(xxh32_, data, size); break;
        default: crypto_->addData(QByteArrayView(data, qsizetype(size))); break;
        }
    }

    MhlHash Digest() const
    {
        MhlHash hash{kind_, {}};
        switch (kind_) {
        case MhlHashKind::Xxh128: {
            XXH128_canonical_t c;
            XXH128_canonicalFromHash(&c, XXH3_128bits_digest(xxh3_));
            hash.text = Hex(c.digest, sizeof c.digest);
            break;
        }
        case MhlHashKind::Xxh3:
        case MhlHashKind::Xxh64: {
            XXH64_canonical_t c;
            XXH64_canonicalFromHash(&c, kind_ == MhlHashKind::Xxh3 ? XXH3_64bits_digest(xxh3_) : XXH64_digest(xxh64_));
            hash.text = Hex(c.digest, sizeof c.digest);
            break;
        }
        case MhlHashKind::Xxh32: {
            XXH32_canonical_t c;
            XXH32_canonicalFromHash(&c, XXH32_digest(xxh32_));
            hash.text = Hex(c.digest, sizeof c.digest);
            break;
        }
        case MhlHashKind::C4: hash.text = C4IdOfDigest(crypto_->resultView()); break;
        default: hash.text = QString::fromLatin1(crypto_->resultView().toByteArray().toHex()); break;
        }
        return hash;
    }

private:
    MhlHashKind kind_;
    XXH3_state_t *xxh3_ = nullptr;
    XXH64_state_t *xxh64_ = nullptr;
    XXH32_state_t *xxh32_ = nullptr;
    std::optional<QCryptographicHash> crypto_;
};

}  // namespace

QLatin1String MhlHashName(MhlHashKind kind)
{
    for (const KindName &k : kKindNames) {
        if (k.kind == kind)
            return QLatin1String(k.name);
    }
    return {};
}

std::optional<MhlHashKind> MhlHashKindNamed(QStringView name)
{
    for (const KindName &k : kKindNames) {
        if (name == QLatin1String(k.name))
            return k.kind;
    }
    return std::nullopt;
}

bool MhlHash::Matches(const MhlHash &other) const
{
    if (kind != other.kind)
        return false;
    return text.compare(other.text, kind == MhlHashKind::C4 ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0;
}

MhlHash MhlHashOf(const ContentHash &hash)
{
    return {MhlHashKind::Xxh128, hash.Text()};
}

QString C4IdOfDigest(QByteArrayView sha512)
{
    static const char digits[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    constexpr int kDigits = 88;  // 58^88 > 2^512
    if (sha512.size() != 64)
        return {};
    std::array<unsigned char, 64> number;
    std::copy(sha512.begin(), sha512.end(), number.begin());
    QString id(2 + kDigits, Qt::Uninitialized);
    id[0] = QLatin1Char('c');
    id[1] = QLatin1Char('4');
    // The lowest digit first: divide the big-endian number by 58 in place.
    for (int at = kDigits - 1; at >= 0; --at) {
        unsigned remainder = 0;
        for (unsigned char &byte : number) {
            const unsigned value = remainder << 8 | byte;
            byte = static_cast<unsigned char>(value / 58);
            remainder = value % 58;
        }
        id[2 + at] = QLatin1Char(digits[remainder]);
    }
    return id;
}

QString C4Id(QByteArrayView bytes)
{
    return C4IdOfDigest(QCryptographicHash::hash(bytes, QCryptographicHash::Sha512));
}

std::optional<std::vector<MhlHash>> HashFileAs(int fd, const std::vector<MhlHashKind> &kinds, QString *error,
                                               const std::function<bool()> &stop)
{
    std::vector<std::unique_ptr<Hasher>> hashers;
    for (MhlHashKind kind : kinds)
        hashers.push_back(std::make_unique<Hasher>(kind));
    struct stat st
    {
    };
    const std::size_t size = ::fstat(fd, &st) == 0 && st.st_size >= 0
                                 ? std::min<std::size_t>(std::size_t(st.st_size) + 1, kHashReadSize)
                                 : kHashReadSize;
    const std::unique_ptr<char[]> buffer(new char[size]);
    for (;;) {
        if (stop && stop())
            return std::nullopt;
        const ssize_t got = ::read(fd, buffer.get(), size);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = qt_error_string(errno);
            return std::nullopt;
        }
        for (const auto &hasher : hashers)
            hasher->Update(buffer.get(), std::size_t(got));
    }
    std::vector<MhlHash> hashes;
    for (const auto &hasher : hashers)
        hashes.push_back(hasher->Digest());
    return hashes;
}
