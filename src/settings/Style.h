#pragma once

#include <QString>

// The name of the visual style in use, read from the settings at start.
extern QString ChosenStyleName;
