#include "ProgramArguments.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

QStringList WithoutToolkitOptions(const QStringList &arguments)
{
    // Those of Qt's application classes and its X11 platform, with one or
    // two dashes.
    static const QStringList withValue = {"platform",
                                          "platformpluginpath",
                                          "platformtheme",
                                          "plugin",
                                          "qwindowgeometry",
                                          "geometry",
                                          "qwindowicon",
                                          "icon",
                                          "qwindowtitle",
                                          "title",
                                          "session",
                                          "style",
                                          "stylesheet",
                                          "display",
                                          "name",
                                          "visual"};
    static const QStringList alone = {"reverse", "testability", "widgetcount", "dograb", "nograb", "qmljsdebugger"};
    static const QStringList ours = {"--copy", "--dest", "--add-folder"};
    QStringList left = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--")) {
            left << arguments.mid(i);
            break;
        }
        const QString option = a.startsWith(QLatin1String("--")) ? a.mid(2) : a.mid(1);
        if (!a.startsWith(QLatin1Char('-')) || option.isEmpty()) {
            left << a;
        } else if (ours.contains(a)) {
            left << arguments.mid(i, 2);  // a value may look like an option
            ++i;
        } else if (withValue.contains(option)) {
            ++i;  // and its value
        } else if (!alone.contains(option) && !withValue.contains(option.section(QLatin1Char('='), 0, 0))) {
            left << a;
        }
    }
    return left;
}

ProgramArguments ParseProgramArguments(const QStringList &arguments, const QString &workingFolder)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption list(QStringLiteral("list"));
    const QCommandLineOption copy(QStringLiteral("copy"), QString(), QStringLiteral("name"));
    const QCommandLineOption dest(QStringLiteral("dest"), QString(), QStringLiteral("path"));
    const QCommandLineOption addFolder(QStringLiteral("add-folder"), QString(), QStringLiteral("path"));
    parser.addOptions({help, version, list, copy, dest, addFolder});
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
    const auto absolute = [&workingFolder](const QString &path) {
        return path.isEmpty() ? path : QDir::cleanPath(QDir(workingFolder).absoluteFilePath(path));
    };
    const int jobs = int(parser.isSet(list)) + int(parser.isSet(copy)) + int(parser.isSet(addFolder));
    if (jobs > 0) {
        if (jobs > 1)
            result.error = QStringLiteral("Only one of --list, --copy and --add-folder can be given.");
        else if (parser.values(copy).size() > 1 || parser.values(dest).size() > 1 ||
                 parser.values(addFolder).size() > 1)
            result.error = QStringLiteral("--copy, --dest and --add-folder can each be given once.");
        else if (parser.isSet(copy) && parser.value(copy).isEmpty())
            result.error = QStringLiteral("--copy needs the name of a device.");
        else if (parser.isSet(dest) && !parser.isSet(copy))
            result.error = QStringLiteral("--dest goes with --copy.");
        else if ((parser.isSet(dest) && parser.value(dest).isEmpty()) ||
                 (parser.isSet(addFolder) && parser.value(addFolder).isEmpty()))
            result.error = QStringLiteral("--dest and --add-folder need a folder.");
        else if (!positional.isEmpty())
            result.error = QStringLiteral("Unexpected argument '%1'.").arg(positional.first());
        result.mode = parser.isSet(list)   ? ProgramArguments::Mode::List
                      : parser.isSet(copy) ? ProgramArguments::Mode::Copy
                                           : ProgramArguments::Mode::AddFolder;
        result.deviceName = parser.value(copy);
        result.destination = absolute(parser.value(dest));
        result.folder = absolute(parser.value(addFolder));
        return result;
    }
    if (parser.isSet(dest)) {
        result.error = QStringLiteral("--dest goes with --copy.");
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
                          "  ferrovane --copy \"NAME\" [--dest PATH]\n"
                          "                             Copy from the attached device NAME, as --list names it,\n"
                          "                             with the settings the window saved for it, without a\n"
                          "                             window. --dest gives the destination folder for this\n"
                          "                             run; a device without a saved destination needs it.\n"
                          "  ferrovane --add-folder PATH\n"
                          "                             Remember the folder PATH as a device, as the window's\n"
                          "                             Add Folder does, and print its name.\n"
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
                          "       or is being copied by another Ferrovane, or the output could not be\n"
                          "       written\n"
                          "  2    bad usage, or no destination\n"
                          "  130  stopped by Ctrl+C (143 by SIGTERM, 129 by SIGHUP)\n");
}
