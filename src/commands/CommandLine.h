#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Turns a user's command text into what the shell runs. Everything here is
// pure text work, so it can be checked by tables.

// The command text split at blanks; an item that begins with a double quote
// runs to the next double quote (a doubled quote inside stands for one) and
// loses its quotes.
QStringList SplitCommandItems(const QString &text);

struct CommandText
{
    QString Program;             // the first item, without its quotes
    bool ProgramQuoted = false;  // the first item was written in double quotes
    QString Params;              // the rest of the text after the first item, trimmed
};
CommandText ParseCommandText(const QString &text);

// The working folder: the folder part of an absolute program path (ending
// with "/"), otherwise the program's own folder.
QString CommandFolder(const QString &program, const QString &programFolder);

struct CommandTag
{
    QString Name;  // "[Path]", "[File]"; matched in any letter case
    QString Value;
};

struct TagReplacement
{
    QString Text;
    // Empty when every value could be placed safely. Otherwise the text
    // names the tag whose value holds characters that cannot be quoted
    // safely where it stands (a nesting this scanner does not follow).
    QString Error;
};

// Replaces every tag in a shell fragment, in one pass (a value that happens
// to contain a tag is not replaced again). Each value is quoted for the shell
// as the quoting in force at its place requires, so it always reaches the
// command as exactly one piece of text and never runs.
TagReplacement ReplaceTags(const QString &params, const QList<CommandTag> &tags);

// A word the shell reads back as exactly the given text.
QString ShellQuote(const QString &text);

struct BuiltCommand
{
    QString CmdDir;
    QString CmdLine;       // for the log: the program path as the user named it
    QString ShellCmdLine;  // what the shell gets: a quoted program stays one word
    QString Error;         // see TagReplacement::Error
};
BuiltCommand BuildCommand(const QString &commandText, const QList<CommandTag> &tags, const QString &programFolder);
