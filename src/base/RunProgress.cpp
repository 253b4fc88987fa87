#include "RunProgress.h"

#include "NumberFormat.h"

#include <QStringList>

#include <cmath>

namespace {

const QString kSeparator = QStringLiteral(" \u00B7 ");

struct Unit
{
    quint64 size;
    const char *name;
};
constexpr Unit kUnits[] = {{1ull << 40, "TiB"}, {1ull << 30, "GiB"}, {1ull << 20, "MiB"}, {1ull << 10, "KiB"}};

// The largest unit that the amount fills at least once; null for bytes.
const Unit *UnitFor(quint64 bytes)
{
    for (const Unit &unit : kUnits)
        if (bytes >= unit.size)
            return &unit;
    return nullptr;
}

// One decimal, the whole part grouped: "1,023.5".
QString Tenths(quint64 bytes, quint64 unit, const FormatSettings &settings)
{
    const quint64 tenths = quint64(std::llround(double(bytes) * 10.0 / double(unit)));
    return FormatCount(qint64(tenths / 10), settings) + settings.DecimalSeparator + QString::number(tenths % 10);
}

// Both amounts in the unit of the larger: "1.2 of 5.0 GiB".
QString AmountOf(quint64 done, quint64 total, const FormatSettings &settings)
{
    const Unit *unit = UnitFor(total);
    if (!unit)
        return FormatCount(qint64(done), settings) + QStringLiteral(" of ") + FormatCount(qint64(total), settings) +
               QStringLiteral(" bytes");
    return Tenths(done, unit->size, settings) + QStringLiteral(" of ") + Tenths(total, unit->size, settings) +
           QLatin1Char(' ') + QLatin1String(unit->name);
}

// Speeds in decimal megabytes, as disks and cards are sold: "28 MB/s".
QString SpeedText(double bytesPerSecond, const FormatSettings &settings)
{
    const double mb = bytesPerSecond / 1e6;
    if (mb >= 10)
        return FormatCount(qint64(std::llround(mb)), settings) + QStringLiteral(" MB/s");
    if (mb >= 0.1)
        return QString::number(mb, 'f', 1).replace(QLatin1Char('.'), settings.DecimalSeparator) +
               QStringLiteral(" MB/s");
    return FormatCount(qint64(std::llround(bytesPerSecond / 1e3)), settings) + QStringLiteral(" kB/s");
}

}  // namespace

QString ByteSizeText(quint64 bytes, const FormatSettings &settings)
{
    const Unit *unit = UnitFor(bytes);
    if (!unit)
        return FormatCount(qint64(bytes), settings) + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    return Tenths(bytes, unit->size, settings) + QLatin1Char(' ') + QLatin1String(unit->name);
}

QString TimeLeftText(double seconds)
{
    if (seconds < 60)
        return QStringLiteral("less than a minute left");
    qint64 minutes = std::llround(seconds / 60);
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    const qint64 hours = minutes / 60;
    minutes %= 60;
    if (minutes == 0)
        return QStringLiteral("about %1 h left").arg(hours);
    return QStringLiteral("about %1 h %2 min left").arg(hours).arg(minutes);
}

QString RunProgressText(const RunFigures &figures, const FormatSettings &settings)
{
    QStringList parts;
    const qint64 filesTotal = figures.filesTotal > 0 ? qMax(figures.filesTotal, figures.filesDone) : 0;
    const quint64 bytesTotal = figures.bytesTotal > 0 ? qMax(figures.bytesTotal, figures.bytesDone) : 0;
    if (filesTotal > 0)
        parts << FormatCount(figures.filesDone, settings) + QStringLiteral(" of ") + FormatCount(filesTotal, settings) +
                     (filesTotal == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    else
        parts << FormatCount(figures.filesDone, settings) +
                     (figures.filesDone == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    parts << (bytesTotal > 0 ? AmountOf(figures.bytesDone, bytesTotal, settings)
                             : ByteSizeText(figures.bytesDone, settings));
    if (figures.bytesPerSecond > 0) {
        parts << SpeedText(figures.bytesPerSecond, settings);
        if (bytesTotal > 0)
            parts << TimeLeftText(double(bytesTotal - figures.bytesDone) / figures.bytesPerSecond);
    }
    return parts.join(kSeparator);
}

QString RunSummaryText(qint64 filesCopied, quint64 bytesCopied, const QString &deviceName, qint64 errors, bool stopped,
                       const FormatSettings &settings)
{
    const QString files =
        FormatCount(filesCopied, settings) + (filesCopied == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    const QString what =
        QStringLiteral("%1 (%2) from %3 \u2014 %4")
            .arg(files, ByteSizeText(bytesCopied, settings), deviceName,
                 FormatCount(errors, settings) + (errors == 1 ? QStringLiteral(" error") : QStringLiteral(" errors")));
    return stopped ? QStringLiteral("Stopped: imported ") + what : QStringLiteral("Imported ") + what;
}

void TransferRate::Add(qint64 ms, quint64 bytes)
{
    samples_.emplace_back(ms, bytes);
    // Keep one sample at or before the window's start, so the window is whole.
    while (samples_.size() > 2 && samples_[1].first <= ms - kWindowMs)
        samples_.pop_front();
}

double TransferRate::BytesPerSecond() const
{
    if (samples_.size() < 2)
        return -1;
    const auto &[firstMs, firstBytes] = samples_.front();
    const auto &[lastMs, lastBytes] = samples_.back();
    if (lastMs - firstMs < 1000 || lastBytes < firstBytes)
        return -1;
    return double(lastBytes - firstBytes) * 1000.0 / double(lastMs - firstMs);
}
