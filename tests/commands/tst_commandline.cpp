#include "common/TestMain.h"

#include "commands/CommandLine.h"

#include <QProcess>

namespace {

const QString kProgramFolder = QStringLiteral("/opt/ferrovane/");

// File names a device could hand us, each trying to break out of its place.
// None ends with a line break: command substitution drops those by design.
QList<QPair<QString, QString>> HostileNames()
{
    return {
        {"command substitution", "$(touch pwned).jpg"},
        {"backquotes", "`touch pwned`.jpg"},
        {"lone backquote", "a`b.jpg"},
        {"both quotes", "a'b\".jpg"},
        {"separators", ";rm -rf ~;touch pwned;.jpg"},
        {"closes single quote", "'; touch pwned; '"},
        {"closes double quote", "\"; touch pwned; \""},
        {"line break", "a\ntouch pwned\nb.jpg"},
        {"line break then comment", "x\ntouch pwned #"},
        {"backslash", "back\\slash.jpg"},
        {"trailing backslash", "tail\\"},
        {"backslash before quote", "a\\'b\\\"c"},
        {"escaped substitution", "\\$(touch pwned)"},
        {"variable", "$HOME.jpg"},
        {"braces variable", "${HOME}"},
        {"glob", "*.jpg"},
        {"tilde", "~root"},
        {"subshell", "(touch pwned).jpg"},
        {"brace expansion", "{touch,pwned}.jpg"},
        {"comment sign", "#x.jpg"},
        {"ansi quote", "$'\\x27'"},
        {"blanks and tab", "a  b\tc.jpg"},
        {"closing brace", "}.jpg"},
        {"closing paren", ").jpg"},
        {"empty", ""},
        {"accented", QString::fromUtf8("Gr\xc3\xb6\xc3\x9f"
                                       "e 1.jpg")},
        {"control character", QString("a") + QChar(1) + "b"},
        {"percent", "100%s.jpg"},
        {"dash", "-n"},
    };
}

struct Context
{
    const char *name;
    QString params;  // written after "printf %s "
    QString before;  // what the command prints around the value
    QString after;
    int copies;  // how many times the value is printed
};

QList<Context> Contexts()
{
    return {
        {"bare", "[File]", "", "", 1},
        {"double quotes", "\"[File]\"", "", "", 1},
        {"single quotes", "'[File]'", "", "", 1},
        {"glued to text", "pre[File]post", "pre", "post", 1},
        {"inside double quoted text", "\"pre [File] post\"", "pre ", " post", 1},
        {"inside single quoted text", "'pre [File] post'", "pre ", " post", 1},
        {"between quotes", "'a'[File]\"b\"", "a", "b", 1},
        {"three contexts in one word", "'[File]'\"[File]\"[File]", "", "", 3},
        {"command substitution", "\"$(printf %s [File])\"", "", "", 1},
        {"quoted in command substitution", "\"$(printf %s \"[File]\")\"", "", "", 1},
        {"backquotes", "\"`printf %s [File]`\"", "", "", 1},
        {"single quoted in backquotes", "\"`printf %s '[File]'`\"", "", "", 1},
        {"after a dollar", "$[File]", "$", "", 1},
        {"after a dollar in double quotes", "\"$[File]\"", "$", "", 1},
        {"after a backslash", "\\[File]", "", "", 1},
        {"after a backslash in double quotes", "\"\\[File]\"", "\\", "", 1},
        {"in a comment", "[File] # [File]", "", "", 1},
        {"upper case tag", "[FILE]", "", "", 1},
    };
}

}  // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void split_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("copy example") << "copy /Y [Path][File] D:\\Backup\\"
                                      << QStringList{"copy", "/Y", "[Path][File]", "D:\\Backup\\"};
        QTest::newRow("quoted program") << "\"C:\\Tools\\gdrive.exe\" upload --no-progress [Path]"
                                        << QStringList{"C:\\Tools\\gdrive.exe", "upload", "--no-progress", "[Path]"};
        QTest::newRow("every blank splits") << "a  b" << QStringList{"a", "", "b"};
        QTest::newRow("one item") << "prog" << QStringList{"prog"};
        QTest::newRow("trailing blank") << "prog " << QStringList{"prog", ""};
        QTest::newRow("doubled quotes") << "\"a \"\"b\"\" c\" x" << QStringList{"a \"b\" c", "x"};
        QTest::newRow("text glued after quotes") << "\"a b\"c d" << QStringList{"a b", "c", "d"};
        QTest::newRow("unterminated quote") << "\"open x" << QStringList{"open x"};
        QTest::newRow("quoted tag keeps blanks")
            << "cp \"[Path][File]\" /b/" << QStringList{"cp", "[Path][File]", "/b/"};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void split()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, items);
        QCOMPARE(SplitCommandItems(text), items);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("quoted");
        QTest::addColumn<QString>("params");
        QTest::newRow("copy example") << "copy /Y [Path][File] D:\\Backup\\"
                                      << "copy" << false << "/Y [Path][File] D:\\Backup\\";
        QTest::newRow("quoted program") << "\"/opt/my tools/up load\" -f \"[Path][File]\""
                                        << "/opt/my tools/up load" << true << "-f \"[Path][File]\"";
        QTest::newRow("no parameters") << "prog"
                                       << "prog" << false << "";
        QTest::newRow("blanks trimmed") << "prog   x  "
                                        << "prog" << false << "x";
        QTest::newRow("quoted program alone") << "\"/a b/c\""
                                              << "/a b/c" << true << "";
        QTest::newRow("doubled quotes in program") << "\"/a \"\"q\"\" b/x\" arg"
                                                   << "/a \"q\" b/x" << true << "arg";
        QTest::newRow("program name inside parameters") << "ls ls -l"
                                                        << "ls" << false << "ls -l";
    }
    void parse()
    {
        QFETCH(QString, text);
        const CommandText parts = ParseCommandText(text);
        QTEST(parts.Program, "program");
        QTEST(parts.ProgramQuoted, "quoted");
        QTEST(parts.Params, "params");
    }

    void cmdDir_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("dir");
        QTest::newRow("bare name") << "copy" << kProgramFolder;
        QTest::newRow("absolute") << "/usr/bin/cp"
                                  << "/usr/bin/";
        QTest::newRow("root") << "/tool"
                              << "/";
        QTest::newRow("relative") << "bin/tool" << kProgramFolder;
        QTest::newRow("home") << "~/bin/tool" << kProgramFolder;
        QTest::newRow("windows path") << "C:\\Tools\\gdrive.exe" << kProgramFolder;
        QTest::newRow("blanks") << "/opt/my tools/x"
                                << "/opt/my tools/";
        QTest::newRow("empty") << "" << kProgramFolder;
    }
    void cmdDir()
    {
        QFETCH(QString, program);
        QTEST(CommandFolder(program, kProgramFolder), "dir");
    }

    void build_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("cmdDir");
        QTest::addColumn<QString>("cmdLine");
        QTest::addColumn<QString>("shellLine");
        const QString p = "/photos/2016-05-04/";
        const QString f = "IMG_0001.JPG";
        QTest::newRow("plain values stay as they are")
            << "cp [Path][File] /backup/" << p << f << kProgramFolder << "cp /photos/2016-05-04/IMG_0001.JPG /backup/"
            << "cp /photos/2016-05-04/IMG_0001.JPG /backup/";
        QTest::newRow("double quotes stay around the value")
            << "cp \"[Path][File]\" /backup/" << p << f << kProgramFolder
            << "cp \"/photos/2016-05-04/IMG_0001.JPG\" /backup/"
            << "cp \"/photos/2016-05-04/IMG_0001.JPG\" /backup/";
        QTest::newRow("quoted program with blanks") << "\"/opt/my tools/gdrive\" upload --no-progress [Path]"
                                                    << "/photos"
                                                    << ""
                                                    << "/opt/my tools/"
                                                    << "/opt/my tools/gdrive upload --no-progress /photos"
                                                    << "'/opt/my tools/gdrive' upload --no-progress /photos";
        QTest::newRow("quoted plain program needs no quotes") << "\"/usr/bin/gdrive\" x" << p << f << "/usr/bin/"
                                                              << "/usr/bin/gdrive x"
                                                              << "/usr/bin/gdrive x";
        QTest::newRow("bare program is shell text")
            << "~/bin/up [File]" << p << f << kProgramFolder << "~/bin/up IMG_0001.JPG"
            << "~/bin/up IMG_0001.JPG";
        QTest::newRow("any letter case") << "echo [PATH][file] [pAtH]" << p << f << kProgramFolder
                                         << "echo /photos/2016-05-04/IMG_0001.JPG /photos/2016-05-04/"
                                         << "echo /photos/2016-05-04/IMG_0001.JPG /photos/2016-05-04/";
        QTest::newRow("tag in the program is left alone") << "/x/[Path]/run [Path]" << p << f << "/x/[Path]/"
                                                          << "/x/[Path]/run /photos/2016-05-04/"
                                                          << "/x/[Path]/run /photos/2016-05-04/";
        QTest::newRow("backquotes end even inside a quote")
            << "echo `true '`[File]" << p << "a b" << kProgramFolder << "echo `true '`'a b'"
            << "echo `true '`'a b'";
        QTest::newRow("no parameters ends with a blank") << "prog" << p << f << kProgramFolder << "prog "
                                                         << "prog ";
        QTest::newRow("blank in a bare value is quoted")
            << "cp [Path][File] /b/" << p << "IMG 1.JPG" << kProgramFolder << "cp /photos/2016-05-04/'IMG 1.JPG' /b/"
            << "cp /photos/2016-05-04/'IMG 1.JPG' /b/";
        QTest::newRow("a value is never searched for tags") << "echo [Path][File]"
                                                            << "/a/[File]/"
                                                            << "x" << kProgramFolder << "echo '/a/[File]/'x"
                                                            << "echo '/a/[File]/'x";
        QTest::newRow("single quote in single quotes")
            << "echo '[File]'" << p << "a'b" << kProgramFolder << "echo 'a'\\''b'"
            << "echo 'a'\\''b'";
        QTest::newRow("special characters in double quotes")
            << "echo \"[File]\"" << p << "$`\"\\" << kProgramFolder << "echo \"\\$\\`\\\"\\\\\""
            << "echo \"\\$\\`\\\"\\\\\"";
    }
    void build()
    {
        QFETCH(QString, text);
        QFETCH(QString, path);
        QFETCH(QString, file);
        const BuiltCommand built = BuildCommand(text, {{"[Path]", path}, {"[File]", file}}, kProgramFolder);
        QVERIFY(built.Error.isEmpty());
        QTEST(built.CmdDir, "cmdDir");
        QTEST(built.CmdLine, "cmdLine");
        QTEST(built.ShellCmdLine, "shellLine");
    }

    // Where the scanner cannot follow the shell, only harmless values pass.
    void unfollowedNesting_data()
    {
        QTest::addColumn<QString>("params");
        QTest::newRow("parameter expansion") << "\"${NAME:-[File]}\"";
        QTest::newRow("nested backquotes") << "\"`echo \\`echo [File]\\``\"";
        QTest::newRow("case patterns") << "\"$(case x in x) echo [File];; esac)\"";
        QTest::newRow("here-document") << "<<E [File]";
        QTest::newRow("escaped quote in backquotes") << "\"`printf %s \\\"[File]\\\"`\"";
    }
    void valuesThatCannotBePlaced()
    {
        const TagReplacement replaced = ReplaceTags("$((1 + [File]))", {{"[File]", "x"}});
        QCOMPARE(replaced.Error, QString("[File]"));
        QVERIFY(ReplaceTags("$((1 + 2)) [File]", {{"[File]", "a b"}}).Error.isEmpty());
        QCOMPARE(ReplaceTags("[File]", {{"[File]", QString("a") + QChar(0) + "b"}}).Error, QString("[File]"));
    }

    void unfollowedNesting()
    {
        QFETCH(QString, params);
        const TagReplacement plain = ReplaceTags(params, {{"[File]", "IMG_0001.JPG"}});
        QVERIFY(plain.Error.isEmpty());
        QVERIFY(plain.Text.contains("IMG_0001.JPG"));
        const TagReplacement hostile = ReplaceTags(params, {{"[File]", "a b;$(touch pwned)"}});
        QCOMPARE(hostile.Error, QString("[File]"));
        QVERIFY(!hostile.Text.contains("touch"));
    }

    // Every hostile name in every quoting context, run by the real shells:
    // the name arrives character for character and nothing in it runs. One
    // shell runs the whole list of names for a context, each value printed
    // and then a NUL to tell them apart.
    void hostileNamesThroughShell_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("params");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("copies");
        QStringList shells{"/bin/sh"};
        if (QFile::exists("/bin/bash"))
            shells << "/bin/bash";
        for (const QString &shell : shells)
            for (const Context &context : Contexts())
                QTest::addRow("%s: %s", qPrintable(shell), context.name)
                    << shell << context.params << context.before << context.after << context.copies;
    }
    void hostileNamesThroughShell()
    {
        QFETCH(QString, shell);
        QFETCH(QString, params);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(int, copies);

        QTemporaryDir work;
        QVERIFY(work.isValid());
        QString script;
        for (const auto &[label, name] : HostileNames()) {
            const BuiltCommand built =
                BuildCommand("printf %s " + params, {{"[Path]", work.path() + "/"}, {"[File]", name}}, kProgramFolder);
            QVERIFY2(built.Error.isEmpty(), qPrintable(label));
            script += built.ShellCmdLine + "\nprintf '\\0'\n";
        }

        QProcess process;
        process.setWorkingDirectory(work.path());
        process.start(shell, {"-c", script});
        QVERIFY(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QCOMPARE(process.exitCode(), 0);
        const QList<QByteArray> printed = process.readAllStandardOutput().split('\0');
        const auto names = HostileNames();
        QCOMPARE(printed.size(), names.size() + 1);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString expected = before + names[i].second.repeated(copies) + after;
            QVERIFY2(QString::fromUtf8(printed[i]) == expected,
                     qPrintable(names[i].first + ": got [" + QString::fromUtf8(printed[i]) + "]"));
        }
        QVERIFY(!QFile::exists(work.filePath("pwned")));
    }

    void pathAndFileTogether()
    {
        // A folder with quotes and a name with a line break make one argument.
        QTemporaryDir work;
        const QString folder = work.path() + "/it's \"odd\" $(x)/";
        QVERIFY(QDir().mkpath(folder));
        const QString name = "a\nb c.jpg";
        QFile file(folder + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("content");
        file.close();

        const BuiltCommand built =
            BuildCommand("cat [Path][File]", {{"[Path]", folder}, {"[File]", name}}, kProgramFolder);
        QProcess process;
        process.start("/bin/sh", {"-c", built.ShellCmdLine});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.readAllStandardOutput(), QByteArray("content"));
        QCOMPARE(process.exitCode(), 0);
    }
};

FERROVANE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
