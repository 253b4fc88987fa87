#pragma once

#include <QColor>

// The colours every part of the program writes its log lines in.
enum class LogColor : quint8 { Black, Blue, Red, Green, Purple, Maroon };
enum class LogStyle : quint8 { Normal, Bold };

inline QRgb LogColorRgb(LogColor color)
{
    switch (color) {
    case LogColor::Black: return qRgb(0x00, 0x00, 0x00);
    case LogColor::Blue: return qRgb(0x00, 0x00, 0xFF);
    case LogColor::Red: return qRgb(0xFF, 0x00, 0x00);
    case LogColor::Green: return qRgb(0x00, 0x80, 0x00);
    case LogColor::Purple: return qRgb(0x80, 0x00, 0x80);
    case LogColor::Maroon: return qRgb(0x80, 0x00, 0x00);
    }
    return qRgb(0, 0, 0);
}
