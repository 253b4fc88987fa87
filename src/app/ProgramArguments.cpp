#include "ProgramArguments.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

ProgramArguments ParseProgramArguments(const QStringList &arguments, const QString &workingFolder)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("location"),
                                 QStringLiteral("A memory card or folder to copy from: it is selected in the device "
                                                "list, and added as a folder device when it is new."),
                                 QStringLiteral("[location]"));
    ProgramArguments result;
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    const QStringList positional = parser.positionalArguments();
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
