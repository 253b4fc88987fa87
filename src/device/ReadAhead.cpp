#include "ReadAhead.h"

#include <algorithm>
#include <cstring>

void DevicePace::Measured(std::uint64_t bytes, double seconds)
{
    if (bytes < kMinPiece || seconds <= 0)
        return;
    const double pace = double(bytes) / seconds;
    // Half of the last request and half of those before: a device that
    // slows down is followed within a request or two.
    bytesPerSecond_ = bytesPerSecond_ > 0 ? (bytesPerSecond_ + pace) / 2 : pace;
}

std::uint64_t DevicePace::PieceBytes() const
{
    if (bytesPerSecond_ <= 0)
        return kFirstPiece;
    const double fits = bytesPerSecond_ * kRequestSeconds;
    return fits >= double(kMaxPiece) ? kMaxPiece : std::max(kMinPiece, std::uint64_t(fits));
}

ReadAhead::Result ReadAhead::Read(std::uint64_t position, char *buffer, std::uint32_t count, std::uint32_t &read,
                                  std::uint64_t pieceBytes, const Fetch &fetch, HRESULT &failure)
{
    read = 0;
    failure = S_OK;
    while (read < count) {
        const std::uint64_t at = position + read;
        if (piece_ && at >= piece_->offset && at < piece_->offset + piece_->size) {
            const std::uint64_t n = std::min<std::uint64_t>(count - read, piece_->offset + piece_->size - at);
            std::memcpy(buffer + read, piece_->data.get() + (at - piece_->offset), std::size_t(n));
            read += std::uint32_t(n);
            continue;
        }
        const bool onward = piece_ && at == piece_->offset + piece_->size;
        if (onward && piece_->endsObject)
            break;
        // A read from the start, or on from where the last piece ended, is a
        // file being read through: it gets a whole piece, or the rest of the
        // object and one byte more, whose absence shows that it ends there.
        // Any other read (a header far into a file) gets what it asks.
        std::uint64_t want = count - read;
        if (at == 0 || onward) {
            std::uint64_t ahead = pieceBytes;
            if (sizeKnown_)
                ahead = std::min(ahead, (size_ > at ? size_ - at : 0) + 1);
            want = std::max(want, ahead);
        }
        // The buffer of a piece nobody else holds serves again.
        std::shared_ptr<ReadPiece> fresh;
        if (piece_ && piece_.use_count() == 1 && piece_->capacity >= want) {
            fresh = std::move(piece_);
        } else {
            piece_.reset();
            fresh = std::make_shared<ReadPiece>();
            fresh->data = std::make_unique_for_overwrite<char[]>(std::size_t(want));
            fresh->capacity = want;
        }
        fresh->offset = at;
        fresh->size = 0;
        fresh->endsObject = false;
        std::uint64_t got = want;
        failure = fetch(at, fresh->data.get(), got);
        if (FAILED(failure))
            return Result::Failed;
        if (got > want)
            return Result::BrokenOff;
        // Nothing before the listed end means the transfer broke off: never
        // let that look like a complete file. At or past it (or with no size
        // listed) the empty answer is the end.
        if (got == 0 && at < size_)
            return Result::BrokenOff;
        fresh->size = got;
        fresh->endsObject = got == 0 || (sizeKnown_ && got < want && at + got >= size_);
        piece_ = std::move(fresh);
        if (got == 0)
            break;
    }
    return Result::Ok;
}

std::shared_ptr<ReadPiece> ReadAhead::Unread(std::uint64_t position) const
{
    if (piece_ && piece_->size > 0 && position < piece_->offset + piece_->size)
        return piece_;
    return nullptr;
}

std::shared_ptr<ReadPiece> ReadAhead::Release()
{
    if (!piece_ || piece_.use_count() != 1 || !piece_->data)
        return nullptr;
    return std::move(piece_);
}

void ReadAhead::Reuse(std::shared_ptr<ReadPiece> spare)
{
    if (!spare)
        return;
    // Holding nothing: no read is served from it.
    spare->offset = 0;
    spare->size = 0;
    spare->endsObject = false;
    piece_ = std::move(spare);
}
