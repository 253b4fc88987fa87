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

QColor LightenColor(const QColor &color, int amount)
{
    if (amount <= 0)
        return color;
    if (amount > 1000)
        amount = 1000;
    auto lighten = [amount](int c) { return c + amount * (255 - c) / 1000; };
    return QColor(lighten(color.red()), lighten(color.green()), lighten(color.blue()));
}

bool IsDarkButtonFace(const QColor &buttonFace)
{
    const long value = long(buttonFace.blue()) * 65536 + long(buttonFace.green()) * 256 + buttonFace.red();
    return value <= 6000000;
}
