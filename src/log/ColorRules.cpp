#include "ColorRules.h"

#include <algorithm>
#include <cmath>

namespace {

double Channel(double c)
{
    c /= 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

double RelativeLuminance(const QColor &color)
{
    return 0.2126 * Channel(color.red()) + 0.7152 * Channel(color.green()) + 0.0722 * Channel(color.blue());
}

double ContrastRatio(const QColor &a, const QColor &b)
{
    const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
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
