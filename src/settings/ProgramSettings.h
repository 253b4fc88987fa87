#pragma once

#include <QString>

#include <limits>

class IniFile;

// The settings of the program itself, in the program section of the settings
// file. Every reader and writer goes through the one key table behind
// ReadProgramSection and WriteProgramSection, so a key is spelled, typed and
// defaulted in one place.
struct ProgramSettings
{
    static constexpr int kNoPosition = std::numeric_limits<int>::min();
    static constexpr int kMaxDevices = 1000;

    // The main window's bounds when it was last closed (its normal bounds
    // when it was maximised or minimised). The size defaults to what the
    // reader gives; without a position the window is centred.
    int Width = 0;
    int Height = 0;
    int Left = kNoPosition;
    int Top = kNoPosition;
    int WindowState = 0;  // 0 normal, 1 minimised, 2 maximised
    // The device list: its length (read as at most kMaxDevices: a count in
    // the millions written by hand would only make empty entries) and the
    // device shown at the last save.
    int DeviceCount = 0;
    QString LastDevice;
    // The days log files are kept, as typed; 0 keeps them always.
    QString MaxLogDays = QStringLiteral("30");
    bool Debug = false;
    QString StyleName = QStringLiteral("Auric");
};

// Which keys a writer owns.
enum class ProgramKeys : unsigned {
    Window = 1,      // Width, Height, Left, Top, WindowState
    DeviceList = 2,  // DeviceCount, LastDevice
    Options = 4,     // MaxLogDays, Debug
    Style = 8,       // StyleName
};

// The name of the program section.
QString ProgramSection();

// Reads every key; a missing one reads as its value in defaults.
ProgramSettings ReadProgramSection(const IniFile &ini, const ProgramSettings &defaults = {});

// Writes the keys of the given group, in the table's order.
void WriteProgramSection(IniFile &ini, const ProgramSettings &values, ProgramKeys keys);
