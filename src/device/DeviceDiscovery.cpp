#include "DeviceDiscovery.h"

#include "device/DeviceConnection.h"

QString DeviceDisplayName(const QString &manufacturer, const QString &description)
{
    const QString joined = TrimControl(manufacturer) + QLatin1Char(' ') + TrimControl(description);
    QString name;
    name.reserve(joined.size());
    bool inControl = false;
    for (const QChar c : joined) {
        const bool control = c.unicode() < 32 || c.unicode() == 127;
        if (control && !inControl)
            name += QLatin1Char(' ');
        else if (!control)
            name += c;
        inControl = control;
    }
    return TrimControl(name);
}
