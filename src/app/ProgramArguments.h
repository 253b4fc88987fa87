#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. Without options the window opens; the
// options below do their work without a window or a display.
struct ProgramArguments
{
    enum class Mode {
        Window,    // no option: the window (paths may name a card or folder to open)
        Help,      // --help, -h
        Version,   // --version
        List,      // --list
        Copy,      // --copy "DEVICE NAME"
        BadUsage,  // error says what is wrong
    };
    Mode mode = Mode::Window;
    QString deviceName;  // of --copy
    QStringList paths;   // the arguments that are not options, in their order
    QString error;
};

// The arguments after the program's name. --help and --version win over
// everything else; "--" ends the options.
ProgramArguments ParseProgramArguments(const QStringList &arguments);

// True when the arguments hold an option that works without a window, so no
// display may be needed (the window's own options are left to the toolkit).
bool WantsNoWindow(const QStringList &arguments);

// What --help prints.
QString UsageText();
