#pragma once

#include <QString>

// The display name of an attached device: its manufacturer and description
// joined by a blank. The name is also the device's settings section and list
// entry, so it must read back exactly as it was written: every run of control
// characters inside (line breaks, tabs) becomes one blank, and the ends lose
// blanks and control characters.
QString DeviceDisplayName(const QString &manufacturer, const QString &description);
