#include "RtfWriter.h"

void AppendRtfText(QByteArray &out, QStringView text)
{
    bool inUnicode = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // Each run of \u escapes stands in a group of its own: some readers
        // otherwise drop the plain text that follows one.
        if (inUnicode && u < 128) {
            out += '}';
            inUnicode = false;
        }
        if (u == '\\' || u == '{' || u == '}') {
            out += '\\';
            out += char(u);
        } else if (u == '\t') {
            out += "\\tab ";
        } else if (u == '\n') {
            out += "\\line ";
        } else if (u < 32 || u == 127) {
            // other control characters carry nothing a reader can show
        } else if (u < 128) {
            out += char(u);
        } else {
            // \uN takes a signed 16-bit number; "?" is the fallback for
            // readers without Unicode.
            if (!inUnicode) {
                out += '{';
                inUnicode = true;
            }
            out += "\\u";
            out += QByteArray::number(qint16(u));
            out += '?';
        }
    }
    if (inUnicode)
        out += '}';
}

bool WriteLogRtf(const LogDocument &document, const std::function<bool(const QByteArray &)> &write)
{
    QByteArray out;
    out += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033"
           "{\\fonttbl{\\f0\\fswiss\\fcharset0 Tahoma;}}\r\n";
    // Colour n + 1 is LogColor n.
    out += "{\\colortbl ;";
    for (int c = 0; c < 6; ++c) {
        const QRgb rgb = LogColorRgb(LogColor(c));
        out += "\\red" + QByteArray::number(qRed(rgb)) + "\\green" + QByteArray::number(qGreen(rgb)) + "\\blue" +
               QByteArray::number(qBlue(rgb)) + ';';
    }
    out += "}\r\n\\viewkind4\\uc1\\pard\\f0\\fs16 ";
    const qsizetype count = document.LineCount();
    constexpr qsizetype kBatch = 4096;
    for (qsizetype from = 0; from < count; from += kBatch) {
        for (const LogLine &line : document.Lines(from, kBatch)) {
            if (!line.prefix.isEmpty()) {
                out += "\\cf1\\b0 ";
                AppendRtfText(out, line.prefix);
            }
            out += "\\cf" + QByteArray::number(int(line.color) + 1);
            out += line.style == LogStyle::Bold ? "\\b " : "\\b0 ";
            AppendRtfText(out, line.text);
            out += "\\cf1\\b0\\par\r\n";
        }
        if (!write(out))
            return false;
        out.clear();
    }
    out += "}\r\n";
    return write(out);
}
