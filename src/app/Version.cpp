#include "Version.h"

QString GetVersionText()
{
    return QStringLiteral("Version %1.%2 Release %3 Build %4")
        .arg(FERROVANE_VERSION_MAJOR)
        .arg(FERROVANE_VERSION_MINOR)
        .arg(FERROVANE_VERSION_RELEASE)
        .arg(FERROVANE_VERSION_BUILD);
}
