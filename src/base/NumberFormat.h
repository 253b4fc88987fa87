#pragma once

#include "FormatSettings.h"

#include <QString>

// ",#0": the digits grouped by the thousands separator.
QString FormatCount(qint64 value, const FormatSettings &settings = ProcessFormatSettings());
// Size in KiB as a number: "0" for 0, "1" for 1..1023 and negatives, else
// size / 1024 rounded half up, grouped. No unit.
QString FormatKiB(qint64 size, const FormatSettings &settings = ProcessFormatSettings());
// FormatKiB + " KiB".
QString FormatSizeKiB(qint64 size, const FormatSettings &settings = ProcessFormatSettings());
// ",#0 MiB" of the byte count shifted right by 20 bits.
QString FormatMiB(quint64 bytes, const FormatSettings &settings = ProcessFormatSettings());
