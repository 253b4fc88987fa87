#include "ProgramArguments.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

bool WantsNoWindow(const QStringList &arguments)
{
    for (const QString &a : arguments.mid(1)) {
        if (a == QLatin1String("--"))
            return false;
        for (const char *option : {"--help", "-h", "--version", "--list", "--copy"})
            if (a == QLatin1String(option))
                return true;
        if (a.startsWith(QLatin1String("--copy=")))
            return true;
    }
    return false;
}

ProgramArguments ParseProgramArguments(const QStringList &arguments, const QString &workingFolder)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption list(QStringLiteral("list"));
    const QCommandLineOption copy(QStringLiteral("copy"), QString(), QStringLiteral("name"));
    parser.addOptions({help, version, list, copy});
    parser.addPositionalArgument(QStringLiteral("location"),
                                 QStringLiteral("A memory card or folder to copy from: it is selected in the device "
                                                "list, and added as a folder device when it is new."),
                                 QStringLiteral("[location]"));
    ProgramArguments result;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        result.mode = ProgramArguments::Mode::Help;
        return result;
    }
    if (parser.isSet(version)) {
        result.mode = ProgramArguments::Mode::Version;
        return result;
    }
    if (!parsed) {
        result.error = parser.errorText();
        return result;
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(list) || parser.isSet(copy)) {
        if (parser.isSet(list) && parser.isSet(copy))
            result.error = QStringLiteral("--list and --copy cannot be given together.");
        else if (parser.values(copy).size() > 1)
            result.error = QStringLiteral("--copy names one device.");
        else if (parser.isSet(copy) && parser.value(copy).isEmpty())
            result.error = QStringLiteral("--copy needs the name of a device.");
        else if (!positional.isEmpty())
            result.error = QStringLiteral("Unexpected argument '%1'.").arg(positional.first());
        result.mode = parser.isSet(list) ? ProgramArguments::Mode::List : ProgramArguments::Mode::Copy;
        result.deviceName = parser.value(copy);
        return result;
    }
    if (positional.size() > 1) {
        result.error = QStringLiteral("Only one card or folder can be named.");
        return result;
    }
    if (positional.isEmpty() || positional.first().isEmpty())
        return result;
    const QString location = positional.first();
    static const QRegularExpression url(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    result.location = url.match(location).hasMatch() ? location : QDir(workingFolder).absoluteFilePath(location);
    return result;
}

QString UsageText()
{
    return QStringLiteral("Usage:\n"
                          "  ferrovane [LOCATION]       Open the window; a memory card or folder named is\n"
                          "                             selected in the device list, and added as a folder\n"
                          "                             device when it is new.\n"
                          "  ferrovane --list           Print the attached devices, one a line: the name, the\n"
                          "                             kind and the serial number, separated by tabs.\n"
                          "  ferrovane --copy \"NAME\"    Copy from the device NAME, as the window's device list\n"
                          "                             names it, with its saved settings, without a window.\n"
                          "  ferrovane --help           Print this help.\n"
                          "  ferrovane --version        Print the version.\n"
                          "\n"
                          "--copy writes the log to standard output (its red lines to standard error too\n"
                          "when the output is not a terminal) and saves it as a log file, as the window\n"
                          "does. Ctrl+C stops the run as the Stop button does. A device that another\n"
                          "Ferrovane is copying (the window or another --copy) is not copied.\n"
                          "\n"
                          "Exit codes of --copy:\n"
                          "  0    the run had no errors\n"
                          "  1    the run had errors, or the device was not attached, could not be opened\n"
                          "       or is being copied by another Ferrovane\n"
                          "  2    bad usage, or a name that is not in the device list\n"
                          "  130  stopped by Ctrl+C (143 by SIGTERM, 129 by SIGHUP)\n");
}
