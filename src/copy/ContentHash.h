#pragma once

// The content hash the import record keeps of every copied file: XXH3 with
// 128 bits (libxxhash), taken over the bytes as they stream past, so a copy
// is hashed without reading it twice.

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

struct XXH3_state_s;

struct ContentHash
{
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    // 32 lowercase hex digits, high half first: the canonical big-endian
    // form, as `xxhsum -H2` prints it.
    QString Text() const;
    // The hash of a Text() form; nothing for any other text.
    static std::optional<ContentHash> FromText(QStringView text);

    friend bool operator==(const ContentHash &, const ContentHash &) = default;
};

// Streaming XXH3-128: Update with the bytes in order, Digest at any point.
class ContentHasher
{
public:
    ContentHasher();
    ~ContentHasher();
    ContentHasher(const ContentHasher &) = delete;
    ContentHasher &operator=(const ContentHasher &) = delete;

    void Reset();
    void Update(const void *data, std::size_t size);
    void Update(QByteArrayView bytes) { Update(bytes.data(), std::size_t(bytes.size())); }
    // The hash of the bytes given since the last Reset; hashing can go on.
    ContentHash Digest() const;

private:
    XXH3_state_s *state_;
};

ContentHash HashBytes(QByteArrayView bytes);

// The size of each read HashFile makes.
constexpr std::size_t kHashReadSize = std::size_t(1) << 20;

// Hashes the file open on fd from its current offset to its end, in reads of
// at most kHashReadSize (interrupted reads are retried). On a read error:
// nothing, and *error (when given) says why. A stop function, when given, is
// asked before each read; when it says so: nothing, and no error.
std::optional<ContentHash> HashFile(int fd, QString *error = nullptr, const std::function<bool()> &stop = {});
