#pragma once

#include "log/LogDocument.h"

#include <QByteArray>

// The log as rich text: a colour table of the log's colours, each line a
// paragraph of runs with their colour and weight. Text outside ASCII is
// written as \u escapes (UTF-16 units, so emoji survive as surrogate pairs).
QByteArray LogToRtf(const LogDocument &document);

// One run of text with the RTF specials escaped.
void AppendRtfText(QByteArray &out, QStringView text);
