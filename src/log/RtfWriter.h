#pragma once

#include "log/LogDocument.h"

#include <QByteArray>

#include <functional>

// The log as rich text: a colour table of the log's colours, each line a
// paragraph of runs with their colour and weight. Text outside ASCII is
// written as \u escapes (UTF-16 units, so emoji survive as surrogate pairs).
// Handed out in pieces of a few hundred kilobytes, so that a log of a
// million lines never stands in memory twice. False when a piece could not
// be taken.
bool WriteLogRtf(const LogDocument &document, const std::function<bool(const QByteArray &)> &write);

// One run of text with the RTF specials escaped.
void AppendRtfText(QByteArray &out, QStringView text);
