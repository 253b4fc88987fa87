#pragma once

#include <QColor>

// Colour arithmetic shared by the styles and the windows that pick their own
// text colours.

// Relative luminance as the WCAG defines it (0 for black, 1 for white).
double RelativeLuminance(const QColor &color);
// WCAG contrast ratio of two colours (1 to 21).
double ContrastRatio(const QColor &a, const QColor &b);

// A colour moved toward white by amount thousandths (0 or less: unchanged;
// above 1000: white).
QColor LightenColor(const QColor &color, int amount);
// A style is dark when its button face, as blue * 65536 + green * 256 + red,
// is at most 6,000,000.
bool IsDarkButtonFace(const QColor &buttonFace);
