#pragma once

// Reading a device's file in few large requests. A copy reads 128 KiB at a
// time, and over USB every request is a round trip: a file read through is
// fetched in pieces as large as the device moves in a fraction of a second
// (a small file whole, with one byte more to see where it ends), and the
// caller's reads are served from them. The pieces stay small enough that a
// Stop, noticed between reads, still ends a file within a second.

#include "device/PortableDevice.h"

#include <cstdint>
#include <functional>
#include <memory>

// How large a request a device gets, from the pace its earlier ones went at.
class DevicePace
{
public:
    static constexpr double kRequestSeconds = 0.4;          // what one request may take
    static constexpr std::uint64_t kFirstPiece = 4u << 20;  // before anything was measured
    static constexpr std::uint64_t kMinPiece = 1u << 20;
    static constexpr std::uint64_t kMaxPiece = 32u << 20;  // memory held per open file

    // After a request that brought `bytes` in `seconds`. Requests under a
    // megabyte say more about the round trip than about the pace, and are
    // left out.
    void Measured(std::uint64_t bytes, double seconds);
    std::uint64_t PieceBytes() const;

private:
    double bytesPerSecond_ = 0;  // 0: nothing measured yet
};

// Bytes of one object as the device sent them.
struct ReadPiece
{
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t capacity = 0;
    // The device was asked past this piece and sent no more: the object
    // ends where the piece does.
    bool endsObject = false;
    std::unique_ptr<char[]> data;
};

// The reads of one object, served from pieces fetched ahead. One thread at
// a time.
class ReadAhead
{
public:
    // Reads up to size bytes at offset; size becomes what came.
    using Fetch = std::function<HRESULT(std::uint64_t offset, char *buffer, std::uint64_t &size)>;
    enum class Result { Ok, Failed, BrokenOff };

    // The size the device listed, when it listed one.
    ReadAhead(std::uint64_t declaredSize, bool sizeKnown) : size_(declaredSize), sizeKnown_(sizeKnown) {}

    // Fills buffer with up to count bytes from position: fewer only at the
    // object's end. Failed: the fetch's failure is in `failure`. BrokenOff:
    // the device sent more than asked, or nothing before the listed end.
    Result Read(std::uint64_t position, char *buffer, std::uint32_t count, std::uint32_t &read,
                std::uint64_t pieceBytes, const Fetch &fetch, HRESULT &failure);

    // A piece read for this object by a reader before, taken over.
    void Adopt(std::shared_ptr<ReadPiece> piece) { piece_ = std::move(piece); }
    // The piece in hand, when some of it lies at or past position.
    std::shared_ptr<ReadPiece> Unread(std::uint64_t position) const;
    // The piece's memory, for the next reader to fill: fresh memory costs
    // a page fault for every 4 KiB, which a run of small files pays again
    // and again.
    std::shared_ptr<ReadPiece> Release();
    void Reuse(std::shared_ptr<ReadPiece> spare);

private:
    std::uint64_t size_;
    bool sizeKnown_;
    std::shared_ptr<ReadPiece> piece_;
};
