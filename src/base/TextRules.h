#pragma once

#include <QString>
#include <QStringView>

// Rules for text that comes from devices and settings files, shared by every
// layer that reads such text.

// Trims blanks and control characters (codes 0 to 32) from both ends.
QString TrimControl(const QString &text);

// Text as the log and the catalogue show it, one line whatever it holds:
// control characters escaped ("\n", "\r", "\t", "\x1B", "\u0085"), and so
// are the characters that break or reorder a line (U+2028, U+2029, the
// bidirectional controls) and the bytes of a name that are not UTF-8
// (FileNames.h), which show as "\xFF". Everything else stays as it is.
QString readableText(QStringView text);
// False when readableText would give the text back unchanged.
bool needsEscaping(QStringView text);
