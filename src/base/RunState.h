#pragma once

#include <QDateTime>

#include <atomic>
#include <cstdint>

// What a copy run, a listing and the catalogue operations share: the stop
// flag, the counters and the start time. One instance for the program.
// Counters are written only by the thread doing the work; the stop flag by
// either thread.
struct RunState
{
    std::atomic<bool> StopSignalled{false};
    std::atomic<std::int32_t> FilesLocated{0};
    std::atomic<std::int32_t> FilesExisting{0};
    std::atomic<std::int32_t> FilesCopied{0};
    std::atomic<std::int32_t> FilesDeleted{0};
    std::atomic<std::int32_t> ErrorCount{0};
    // 64-bit: a sum of 32-bit sizes would make big videos vanish from it.
    std::atomic<std::uint64_t> BytesCopied{0};
    // What the progress display counts: the sizes of the files dealt with
    // (copied, found present or failed), plus what has been read of the one
    // in hand. Reset when a copy run starts.
    std::atomic<std::uint64_t> BytesDone{0};
    QDateTime RunStartTime;
};
