#pragma once

#include <QString>
#include <QStringView>

// Rules for text that comes from devices and settings files, shared by every
// layer that reads such text.

// Trims blanks and control characters (codes 0 to 32) from both ends.
QString TrimControl(const QString &text);

// Text as the log and the catalogue show it: one line whatever it holds,
// and nothing invisible or reordering that could make two names look alike.
// - a backslash doubles ("\\"), so that no text can pass for an escape;
// - control characters escape ("\n", "\r", "\t", "\x1B", "\u0085"), and so
//   do the characters that break a line (U+2028, U+2029), the invisible
//   format characters (soft hyphen, zero widths, byte order mark, the
//   bidirectional controls: "\u200B", "\U000E0041" beyond U+FFFF) and the
//   bytes of a name that are not UTF-8 (FileNames.h), which show as "\xFF";
// - each run of right-to-left letters (with the blanks and marks between
//   them) stands between U+2067 and U+2069, an isolate that keeps it from
//   reordering the text around it; the text as a whole reads left to right.
// Everything else stays as it is. The result is for showing only: escaping
// it again would double its backslashes and escape its isolates.
QString readableText(QStringView text);
// False when readableText would give the text back unchanged.
bool needsEscaping(QStringView text);
