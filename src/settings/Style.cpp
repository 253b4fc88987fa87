#include "Style.h"

QString ChosenStyleName = QStringLiteral("Auric");
