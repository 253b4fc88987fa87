#pragma once

#include <QString>
#include <QStringList>

// What a start of the program is asked on its command line. Without an
// option the window opens (on a card or folder when one is named); the
// options below do their work without a window or a display.
struct ProgramArguments
{
    enum class Mode {
        Window,     // no option
        Help,       // --help, -h
        Version,    // --version
        List,       // --list
        Copy,       // --copy "DEVICE NAME" [--dest PATH]
        AddFolder,  // --add-folder PATH
    };
    Mode mode = Mode::Window;
    // A memory card or folder to select, as an absolute path or a URL
    // (file: or another scheme, kept as given); empty when none is named.
    QString location;
    // The device of --copy.
    QString deviceName;
    // The destination of --dest, for this copy only; absolute; empty when
    // the device's settings give it.
    QString destination;
    // The folder of --add-folder, absolute.
    QString folder;
    // Why the command line cannot be followed; empty when it can.
    QString error;
};

// Reads the arguments (the program's name first). A relative location, folder
// or destination is taken from the working folder, as the starting shell
// meant it. --help and --version win over everything else; "--" ends the
// options.
ProgramArguments ParseProgramArguments(const QStringList &arguments, const QString &workingFolder);

// The arguments without the toolkit's own options (-platform NAME, -style
// NAME, -reverse, ...), which the window's toolkit takes for itself: what is
// left can be read before any display is opened.
QStringList WithoutToolkitOptions(const QStringList &arguments);

// What --help prints.
QString UsageText();
