#include "NumberFormat.h"

QString FormatCount(qint64 value, const FormatSettings &settings)
{
    const bool negative = value < 0;
    QString digits = QString::number(negative ? -(value + 1) + 1ull : quint64(value));
    if (!settings.ThousandSeparator.isNull()) {
        for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
            digits.insert(i, settings.ThousandSeparator);
    }
    return negative ? QLatin1Char('-') + digits : digits;
}

QString FormatKiB(qint64 size, const FormatSettings &settings)
{
    if (size == 0)
        return QStringLiteral("0");
    if (size < 1024)
        return QStringLiteral("1");
    return FormatCount((size / 1024) + ((size % 1024) >= 512 ? 1 : 0), settings);
}

QString FormatSizeKiB(qint64 size, const FormatSettings &settings)
{
    return FormatKiB(size, settings) + QStringLiteral(" KiB");
}

QString FormatMiB(quint64 bytes, const FormatSettings &settings)
{
    return FormatCount(qint64(bytes >> 20), settings) + QStringLiteral(" MiB");
}
