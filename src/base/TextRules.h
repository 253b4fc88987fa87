#pragma once

#include <QString>

// Rules for text that comes from devices and settings files, shared by every
// layer that reads such text.

// Trims blanks and control characters (codes 0 to 32) from both ends.
QString TrimControl(const QString &text);
