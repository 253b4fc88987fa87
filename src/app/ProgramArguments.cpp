#include "ProgramArguments.h"

namespace {

const QString kCopy = QStringLiteral("--copy");

bool IsHelp(const QString &a)
{
    return a == QLatin1String("--help") || a == QLatin1String("-h");
}

bool IsVersion(const QString &a)
{
    return a == QLatin1String("--version");
}

} // namespace

bool WantsNoWindow(const QStringList &arguments)
{
    for (const QString &a : arguments) {
        if (a == QLatin1String("--"))
            return false;
        if (IsHelp(a) || IsVersion(a) || a == QLatin1String("--list") || a == kCopy ||
            a.startsWith(kCopy + QLatin1Char('=')))
            return true;
    }
    return false;
}

ProgramArguments ParseProgramArguments(const QStringList &arguments)
{
    ProgramArguments result;
    auto fail = [&result](const QString &error) {
        if (result.error.isEmpty())
            result.error = error;
    };
    bool list = false, copy = false, help = false, version = false, optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            result.paths << a;
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (IsHelp(a)) {
            help = true;
        } else if (IsVersion(a)) {
            version = true;
        } else if (a == QLatin1String("--list")) {
            list = true;
        } else if (a == kCopy || a.startsWith(kCopy + QLatin1Char('='))) {
            if (copy)
                fail(QStringLiteral("--copy names one device"));
            copy = true;
            if (a != kCopy)
                result.deviceName = a.mid(kCopy.size() + 1);
            else if (i + 1 < arguments.size())
                result.deviceName = arguments.at(++i);
            else
                fail(QStringLiteral("--copy needs the name of a device"));
            if (result.deviceName.isEmpty())
                fail(QStringLiteral("--copy needs the name of a device"));
        } else {
            fail(QStringLiteral("unknown option %1").arg(a));
        }
    }
    if (help) {
        result.mode = ProgramArguments::Mode::Help;
        result.error.clear();
        return result;
    }
    if (version) {
        result.mode = ProgramArguments::Mode::Version;
        result.error.clear();
        return result;
    }
    if (list && copy)
        fail(QStringLiteral("--list and --copy cannot be given together"));
    if ((list || copy) && !result.paths.isEmpty())
        fail(QStringLiteral("unexpected argument %1").arg(result.paths.first()));
    if (!result.error.isEmpty())
        result.mode = ProgramArguments::Mode::BadUsage;
    else if (list)
        result.mode = ProgramArguments::Mode::List;
    else if (copy)
        result.mode = ProgramArguments::Mode::Copy;
    return result;
}

QString UsageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  ferrovane                  Open the window.\n"
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
