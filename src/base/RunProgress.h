#pragma once

#include "FormatSettings.h"

#include <QString>

#include <deque>
#include <utility>

// Where a copy run stands, as the status bar shows it.
struct RunFigures
{
    qint64 filesDone = 0;
    qint64 filesTotal = 0;  // 0: not known (nothing was listed before the run)
    quint64 bytesDone = 0;
    quint64 bytesTotal = 0;      // 0: not known
    double bytesPerSecond = -1;  // below 0: not known yet
};

// "123 of 456 files · 1.2 of 5.0 GiB · 28 MB/s · about 2 min left". What is
// not known is left out; a total below what is done counts as what is done.
QString RunProgressText(const RunFigures &figures, const FormatSettings &settings = ProcessFormatSettings());

// "512 bytes", "12.0 KiB", "820.3 MiB", "5.0 GiB".
QString ByteSizeText(quint64 bytes, const FormatSettings &settings = ProcessFormatSettings());

// "less than a minute left", "about 2 min left", "about 1 h 5 min left".
QString TimeLeftText(double seconds);

// What a desktop notification says when a run has ended:
// "Imported 456 files (5.0 GiB) from NAME — 0 errors".
QString RunSummaryText(qint64 filesCopied, quint64 bytesCopied, const QString &deviceName, qint64 errors, bool stopped,
                       const FormatSettings &settings = ProcessFormatSettings());

// The speed of a run over its last few seconds, from samples of the bytes
// done taken now and then.
class TransferRate
{
public:
    void Add(qint64 ms, quint64 bytes);
    // Bytes a second over the samples of the last kWindowMs; below 0 until
    // they span a second.
    double BytesPerSecond() const;
    void Reset() { samples_.clear(); }

    static constexpr qint64 kWindowMs = 8000;

private:
    std::deque<std::pair<qint64, quint64>> samples_;
};
