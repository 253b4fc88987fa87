#pragma once

#include <QString>

// "Version 1.2 Release 0 Build 1": the four numbers are built into the program.
QString GetVersionText();
