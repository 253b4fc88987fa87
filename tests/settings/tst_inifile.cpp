#include "common/TestMain.h"

#include "log/Exception.h"
#include "log/LogSink.h"
#include "settings/DeviceSettings.h"
#include "settings/FileFilter.h"
#include "settings/IniFile.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsStore.h"

#include <unistd.h>

class TestIniFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path_;

    void WriteRaw(const QByteArray &bytes)
    {
        QFile f(path_);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray ReadRaw()
    {
        QFile f(path_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        path_ = dir_.filePath(QStringLiteral("Ferrovane.ini"));
        QFile::remove(path_);
    }

    // Every per-device key goes through one table: what is written reads
    // back, a missing key reads as its default, and a dialog writes only
    // its own keys.
    void deviceSettingsRoundTrip()
    {
        IniFile ini(path_);
        const DeviceSettings defaults = ReadDeviceSection(ini, QStringLiteral("Cam"));
        QCOMPARE(defaults.DateFormat, QStringLiteral("yyyy-mm-dd"));
        QCOMPARE(defaults.PostFileCopySuccessCode, QStringLiteral("0"));
        QCOMPARE(defaults.FileFiltersOn, true);
        QCOMPARE(defaults.FileFilter, QString::fromLatin1(kDefaultFileFilter));

        DeviceSettings values;
        values.DeviceName = QStringLiteral("Cam");
        values.DeviceSerialNo = QStringLiteral("S1");
        values.DestPath = QStringLiteral("/home/u/Pictures");
        values.DateFormat = QStringLiteral("yyyy/mm");
        values.DeviceRoot = QStringLiteral("Card\\DCIM");
        values.CopyMode = 1;
        values.ByteLevelCompare = values.DeleteFiles = true;
        values.PostFileCopyCommandOn = values.PostProcessingCommandOn = true;
        values.PostFileCopyCommand = QStringLiteral(" 'cp' [Path][File] ~/b ");
        values.PostProcessingCommand = QStringLiteral("\"done\"");
        values.PostFileCopyForceRun = true;
        values.PostFileCopySuccessCode = QStringLiteral("1");
        values.PostProcessingSuccessCode = QStringLiteral("2");
        values.FileFiltersOn = false;
        values.FileFilter = QStringLiteral("jpg|png");
        values.CopyOnConnect = true;
        values.SkipImportedBefore = true;
        values.DateSource = 1;
        WriteDeviceSection(ini, QStringLiteral("Cam"), values, DeviceKeys::All);
        const DeviceSettings back = ReadDeviceSection(ini, QStringLiteral("Cam"));
        QCOMPARE(back.DeviceName, values.DeviceName);
        QCOMPARE(back.DeviceSerialNo, values.DeviceSerialNo);
        QCOMPARE(back.DestPath, values.DestPath);
        QCOMPARE(back.DateFormat, values.DateFormat);
        QCOMPARE(back.DeviceRoot, values.DeviceRoot);
        QCOMPARE(back.CopyMode, 1);
        QCOMPARE(back.ByteLevelCompare, true);
        QCOMPARE(back.DeleteFiles, true);
        QCOMPARE(back.PostFileCopyCommandOn, true);
        QCOMPARE(back.PostProcessingCommandOn, true);
        QCOMPARE(back.PostFileCopyCommand, values.PostFileCopyCommand);
        QCOMPARE(back.PostProcessingCommand, values.PostProcessingCommand);
        QCOMPARE(back.PostFileCopyForceRun, true);
        QCOMPARE(back.PostFileCopySuccessCode, QStringLiteral("1"));
        QCOMPARE(back.PostProcessingSuccessCode, QStringLiteral("2"));
        QCOMPARE(back.FileFiltersOn, false);
        QCOMPARE(back.FileFilter, QStringLiteral("jpg|png"));
        QCOMPARE(back.CopyOnConnect, true);
        QCOMPARE(back.SkipImportedBefore, true);
        QCOMPARE(defaults.SkipImportedBefore, false);
        QCOMPARE(back.DateSource, 1);
        QCOMPARE(defaults.DateSource, 0);

        QFile::remove(path_);
        WriteDeviceSection(ini, QStringLiteral("Cam"), values, DeviceKeys::Options);
        QCOMPARE(ReadRaw(), QByteArray("[Cam]\nByteLevelCompare=1\nDeleteFiles=1\nFileFiltersCheckBox=0\n"
                                       "FileFilter=jpg|png\nDateSource=1\nCopyOnConnect=1\nSkipImportedBefore=1\n"
                                       "BackupPath1=\nBackupPath2=\n"));
        // A value out of range is the nearer choice.
        ini.WriteInteger(QStringLiteral("Cam"), QStringLiteral("DateSource"), 7);
        QCOMPARE(ReadDeviceSection(ini, QStringLiteral("Cam")).DateSource, 1);
        ini.WriteInteger(QStringLiteral("Cam"), QStringLiteral("DateSource"), -2);
        QCOMPARE(ReadDeviceSection(ini, QStringLiteral("Cam")).DateSource, 0);
    }

    // The program's keys go through one table too: each writer's group goes
    // out in its order, reads back, and what was not written reads as the
    // default the caller gives.
    void programSettings_data()
    {
        QTest::addColumn<ProgramKeys>("keys");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("readBack");
        const QString unplaced = QString::number(ProgramSettings::kNoPosition);
        const QString designed = QStringLiteral("640|480|%1|%1|0|").arg(unplaced);
        QTest::newRow("window") << ProgramKeys::Window
                                << QByteArray("Width=800\nHeight=600\nLeft=-5\nTop=10\nWindowState=2\n")
                                << QStringLiteral("800|600|-5|10|2|0||30|0|Auric");
        QTest::newRow("device list, count capped")
            << ProgramKeys::DeviceList << QByteArray("DeviceCount=5000\nLastDevice=Cam 2\n")
            << designed + QStringLiteral("1000|Cam 2|30|0|Auric");
        QTest::newRow("options") << ProgramKeys::Options << QByteArray("MaxLogDays=7\nDebug=1\n")
                                 << designed + QStringLiteral("0||7|1|Auric");
        QTest::newRow("style") << ProgramKeys::Style << QByteArray("StyleName=Night\n")
                               << designed + QStringLiteral("0||30|0|Night");
    }

    void programSettings()
    {
        QFETCH(ProgramKeys, keys);
        QFETCH(QByteArray, written);
        QFETCH(QString, readBack);
        const ProgramSettings values{
            800, 600, -5, 10, 2, 5000, QStringLiteral("Cam 2"), QStringLiteral("7"), true, QStringLiteral("Night")};
        IniFile ini(path_);
        WriteProgramSection(ini, values, keys);
        QCOMPARE(ReadRaw(), "[Ferrovane]\n" + written);
        ProgramSettings defaults;
        defaults.Width = 640;
        defaults.Height = 480;
        const ProgramSettings back = ReadProgramSection(ini, defaults);
        const QStringList fields{QString::number(back.Width),
                                 QString::number(back.Height),
                                 QString::number(back.Left),
                                 QString::number(back.Top),
                                 QString::number(back.WindowState),
                                 QString::number(back.DeviceCount),
                                 back.LastDevice,
                                 back.MaxLogDays,
                                 QString::number(int(back.Debug)),
                                 back.StyleName};
        QCOMPARE(fields.join(QLatin1Char('|')), readBack);
    }

    void readRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QByteArray basic = "[Ferrovane]\nDebug=1\nEmpty=\n[Canon EOS 80D]\nDestPath=/home/ann/Pictures\n";
        QTest::newRow("plain") << basic << "Ferrovane"
                               << "Debug"
                               << "1";
        QTest::newRow("case-insensitive names") << basic << "canon eos 80d"
                                                << "DESTPATH"
                                                << "/home/ann/Pictures";
        QTest::newRow("missing key gives default") << basic << "Ferrovane"
                                                   << "Nope"
                                                   << "<default>";
        QTest::newRow("missing section gives default") << basic << "Nikon"
                                                       << "Debug"
                                                       << "<default>";
        QTest::newRow("empty value is empty, not default") << basic << "Ferrovane"
                                                           << "Empty"
                                                           << "";
        QTest::newRow("blanks trimmed") << QByteArray("[s]\n  Key  =   a value  \t\n") << "s"
                                        << "Key"
                                        << "a value";
        QTest::newRow("double quotes removed") << QByteArray("[s]\nk=\"  x  \"\n") << "s"
                                               << "k"
                                               << "  x  ";
        QTest::newRow("single quotes removed") << QByteArray("[s]\nk='x'\n") << "s"
                                               << "k"
                                               << "x";
        QTest::newRow("only one pair removed") << QByteArray("[s]\nk=\"\"x\"\"\n") << "s"
                                               << "k"
                                               << "\"x\"";
        QTest::newRow("unmatched quotes kept") << QByteArray("[s]\nk=\"x'\n") << "s"
                                               << "k"
                                               << "\"x'";
        QTest::newRow("value of one quote") << QByteArray("[s]\nk=\"\n") << "s"
                                            << "k"
                                            << "\"";
        QTest::newRow("first duplicate key wins") << QByteArray("[s]\nk=1\nK=2\n") << "s"
                                                  << "k"
                                                  << "1";
        QTest::newRow("first duplicate section wins") << QByteArray("[s]\nk=1\n[S]\nk=2\n") << "s"
                                                      << "k"
                                                      << "1";
        QTest::newRow("CRLF lines") << QByteArray("[s]\r\nk=v\r\n") << "s"
                                    << "k"
                                    << "v";
        QTest::newRow("comments and junk ignored") << QByteArray("; note\n[s]\n# k=no\njunk\nk=v\n") << "s"
                                                   << "k"
                                                   << "v";
        QTest::newRow("equals in value") << QByteArray("[s]\nk=a=b\n") << "s"
                                         << "k"
                                         << "a=b";
        QTest::newRow("blanks around section name") << QByteArray(" [ s ] \nk=v\n") << "s"
                                                    << "k"
                                                    << "v";
        QTest::newRow("bracket inside name") << QByteArray("[a]b]\nk=v\n") << "a]b"
                                             << "k"
                                             << "v";
        QTest::newRow("key outside any section") << QByteArray("k=v\n[s]\n") << "s"
                                                 << "k"
                                                 << "<default>";
        QTest::newRow("UTF-8 and BOM") << QByteArray("\xEF\xBB\xBF[Gerät]\nName=カメラ\n") << "GERÄT"
                                       << "Name"
                                       << "カメラ";
        QTest::newRow("no trailing newline") << QByteArray("[s]\nk=v") << "s"
                                             << "k"
                                             << "v";
    }
    void readRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        WriteRaw(file);
        QCOMPARE(IniFile(path_).ReadString(section, key, QStringLiteral("<default>")), expected);
    }

    void missingFileReadsDefaults()
    {
        IniFile ini(dir_.filePath(QStringLiteral("none/x.ini")));
        QCOMPARE(ini.ReadString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("d")), QStringLiteral("d"));
        QCOMPARE(ini.ReadInteger(QStringLiteral("s"), QStringLiteral("k"), 7), 7);
        QVERIFY(ini.ReadBool(QStringLiteral("s"), QStringLiteral("k"), true));
    }

    void longValueIsCut()
    {
        WriteRaw("[s]\nk=" + QByteArray(3000, 'x') + "\n");
        QCOMPARE(IniFile(path_).ReadString(QStringLiteral("s"), QStringLiteral("k"), QString()).size(), 2047);
    }

    void integers_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << "42" << 42;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("hex lower") << "0x1f" << 31;
        QTest::newRow("hex upper X") << "0X1F" << 31;
        QTest::newRow("hex all bits") << "0xFFFFFFFF" << -1;
        QTest::newRow("just 0x") << "0x" << 99;
        QTest::newRow("bad hex") << "0xZZ" << 99;
        QTest::newRow("text") << "abc" << 99;
        QTest::newRow("trailing junk") << "12abc" << 99;
        QTest::newRow("empty") << "" << 99;
        QTest::newRow("too big") << "99999999999" << 99;
        QTest::newRow("quoted number") << "\"7\"" << 7;
    }
    void integers()
    {
        QFETCH(QString, value);
        QFETCH(int, expected);
        WriteRaw("[s]\nk=" + value.toUtf8() + "\n");
        QCOMPARE(IniFile(path_).ReadInteger(QStringLiteral("s"), QStringLiteral("k"), 99), expected);
    }

    void booleans_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("defaultValue");
        QTest::addColumn<bool>("expected");
        QTest::newRow("1") << "1" << false << true;
        QTest::newRow("0") << "0" << true << false;
        QTest::newRow("any non-zero") << "2" << false << true;
        QTest::newRow("not a number, default true") << "yes" << true << true;
        QTest::newRow("not a number, default false") << "yes" << false << false;
    }
    void booleans()
    {
        QFETCH(QString, value);
        QFETCH(bool, defaultValue);
        QFETCH(bool, expected);
        WriteRaw("[s]\nk=" + value.toUtf8() + "\n");
        QCOMPARE(IniFile(path_).ReadBool(QStringLiteral("s"), QStringLiteral("k"), defaultValue), expected);
    }

    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("copy with quotes")
            << "copy /Y \"[Path][File]\" D:\\Backup\\" << QByteArray("Cmd='copy /Y \"[Path][File]\" D:\\Backup\\'");
        QTest::newRow("it's") << "echo it's done" << QByteArray("Cmd='echo it''s done'");
        QTest::newRow("wrapped in double quotes") << "\"C:\\Tools\\x.exe\"" << QByteArray("Cmd='\"C:\\Tools\\x.exe\"'");
        QTest::newRow("blanks kept") << "  cmd  " << QByteArray("Cmd='  cmd  '");
        QTest::newRow("empty") << "" << QByteArray("Cmd=''");
        QTest::newRow("quote only") << "'" << QByteArray("Cmd=''''");
        QTest::newRow("unicode") << "cp \"[Path]写真\" /mnt" << QByteArray("Cmd='cp \"[Path]写真\" /mnt'");
    }
    void commands()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, line);
        IniFile ini(path_);
        ini.WriteCommand(QStringLiteral("Dev"), QStringLiteral("Cmd"), command);
        QVERIFY2(ReadRaw().contains(line + "\n"), ReadRaw().constData());
        QCOMPARE(ini.ReadCommand(QStringLiteral("Dev"), QStringLiteral("Cmd"), QStringLiteral("x")), command);
    }

    // Whatever a text value holds, it reads back exactly as written; values
    // that reading would change go out inside a pair of double quotes.
    void textRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << "yyyy-mm-dd" << QByteArray("V=yyyy-mm-dd");
        QTest::newRow("empty") << "" << QByteArray("V=");
        QTest::newRow("quoted filter alone") << "\"my pics\"" << QByteArray("V=\"\"my pics\"\"");
        QTest::newRow("quoted first and last entries")
            << "\"a b\"|jpg|\"c d\"" << QByteArray("V=\"\"a b\"|jpg|\"c d\"\"");
        QTest::newRow("lone empty filter entry") << "\"\"" << QByteArray("V=\"\"\"\"");
        QTest::newRow("date format starting with a quote") << "'Y'yyyy'-'mm" << QByteArray("V='Y'yyyy'-'mm");
        QTest::newRow("date format in single quotes") << "'Y'yyyy'-'mm'.'" << QByteArray("V=\"'Y'yyyy'-'mm'.'\"");
        QTest::newRow("single quote pair only") << "''" << QByteArray("V=\"''\"");
        QTest::newRow("leading blank") << " x" << QByteArray("V=\" x\"");
        QTest::newRow("trailing tab") << "x\t" << QByteArray("V=\"x\t\"");
        QTest::newRow("blanks only") << "   " << QByteArray("V=\"   \"");
        QTest::newRow("quote at one end only") << "\"x" << QByteArray("V=\"x");
        QTest::newRow("different quotes at the ends") << "\"x'" << QByteArray("V=\"x'");
        QTest::newRow("one quote") << "'" << QByteArray("V='");
        QTest::newRow("already protected looking") << "\"\"x\"\"" << QByteArray("V=\"\"\"x\"\"\"");
        QTest::newRow("equals and brackets") << "[a]=b" << QByteArray("V=[a]=b");
        QTest::newRow("UTF-8") << "'写真' é" << QByteArray("V='写真' é");
    }
    void textRoundTrip()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, line);
        IniFile ini(path_);
        ini.WriteString(QStringLiteral("Dev"), QStringLiteral("V"), value);
        QVERIFY2(ReadRaw().contains(line + "\n"), ReadRaw().constData());
        QCOMPARE(ini.ReadString(QStringLiteral("Dev"), QStringLiteral("V"), QStringLiteral("<default>")), value);
        // Again over the existing line, and through a preloaded reader.
        ini.WriteString(QStringLiteral("Dev"), QStringLiteral("V"), value);
        IniFile preloaded(path_);
        preloaded.Preload();
        QCOMPARE(preloaded.ReadString(QStringLiteral("Dev"), QStringLiteral("V"), QStringLiteral("<default>")), value);
    }

    // A filter list goes through the file as the list it was.
    void fileFilterThroughTheFile_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("one entry with a blank") << QStringList{"my pics"};
        QTest::newRow("quoted first and last") << QStringList{"a b", "jpg", "c d"};
        QTest::newRow("lone empty entry") << QStringList{""};
        QTest::newRow("quote inside") << QStringList{"say \"hi\""};
        QTest::newRow("plain") << QStringList{"AVI", "jpg"};
    }
    void fileFilterThroughTheFile()
    {
        QFETCH(QStringList, entries);
        IniFile ini(path_);
        ini.WriteString(QStringLiteral("Dev"), QStringLiteral("FileFilter"), EncodeFileFilter(entries));
        QCOMPARE(DecodeFileFilter(ini.ReadString(QStringLiteral("Dev"), QStringLiteral("FileFilter"), QString())),
                 entries);
    }

    // A hand-written file keeps every byte that the write does not change.
    void writesChangeOnlyTheirLine()
    {
        const QByteArray before = "; my settings\r\n"
                                  "[Ferrovane]\r\n"
                                  "  Debug = 0 ; inline junk\r\n"
                                  "Width=800\r\n"
                                  "\r\n"
                                  "[Unknown Section]\r\n"
                                  "Whatever=keeps\r\n"
                                  "\r\n"
                                  "[Canon]\r\n"
                                  "DestPath=/a\r\n";
        WriteRaw(before);
        IniFile ini(path_);
        ini.WriteString(QStringLiteral("FERROVANE"), QStringLiteral("debug"), QStringLiteral("1"));
        QCOMPARE(ReadRaw(), QByteArray(before).replace("  Debug = 0 ; inline junk", "Debug=1"));

        ini.WriteString(QStringLiteral("Ferrovane"), QStringLiteral("Height"), QStringLiteral("600"));
        QCOMPARE(ReadRaw(), QByteArray(before)
                                .replace("  Debug = 0 ; inline junk", "Debug=1")
                                .replace("Width=800\r\n", "Width=800\r\nHeight=600\r\n"));

        ini.WriteString(QStringLiteral("Nikon"), QStringLiteral("DestPath"), QStringLiteral("/b"));
        QVERIFY(ReadRaw().endsWith("DestPath=/a\r\n[Nikon]\r\nDestPath=/b\r\n"));
        QVERIFY(ReadRaw().startsWith("; my settings\r\n"));
    }

    // Lines that cannot be settings are passed over by reads, named by
    // number, and written back byte for byte.
    void junkLinesAreIgnoredAndKept_data()
    {
        QTest::addColumn<QByteArray>("junk");
        QTest::newRow("NUL bytes") << QByteArray("Debug=1\0\0\0", 10);
        QTest::newRow("binary") << QByteArray("\x89PNG\r\x1A\xFF\xFE=\x01");
        QTest::newRow("not UTF-8") << QByteArray("DestPath=/caf\xE9");
        QTest::newRow("too long") << "Debug=1" + QByteArray(20000, 'x');
    }
    void junkLinesAreIgnoredAndKept()
    {
        QFETCH(QByteArray, junk);
        const QByteArray before = "[Ferrovane]\n" + junk + "\nWidth=800\n[Canon]\n" + junk + "\n" + junk;
        WriteRaw(before);
        IniFile ini(path_);
        QCOMPARE(ini.IgnoredLines(), (QList<int>{2, 5, 6}));
        QCOMPARE(ini.ReadInteger(QStringLiteral("Ferrovane"), QStringLiteral("Width"), 0), 800);
        QCOMPARE(ini.ReadString(QStringLiteral("Ferrovane"), QStringLiteral("Debug"), QStringLiteral("none")),
                 QStringLiteral("none"));
        ini.WriteString(QStringLiteral("Ferrovane"), QStringLiteral("Width"), QStringLiteral("900"));
        ini.WriteString(QStringLiteral("Canon"), QStringLiteral("DestPath"), QStringLiteral("/a"));
        QCOMPARE(ReadRaw(),
                 QByteArray(before).replace("Width=800", "Width=900").replace("[Canon]\n", "[Canon]\nDestPath=/a\n"));
    }

    // The device list is written in one go: its section's entries are
    // replaced, its lines that cannot be settings and its comments stay byte
    // for byte, and blank entries read as no device.
    void deviceListKeepsWhatIsNotAnEntry_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("read");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("junk and a comment")
            << QByteArray(
                   "[Ferrovane]\nDeviceCount=2\n[Devices]\nItem0=a\n\x01\xFF junk\n; mine\nItem1=b\n\n[a]\nX=1\n")
            << QStringList{"a", "b"} << QStringList{"b", "c", "d"}
            << QByteArray("[Ferrovane]\nDeviceCount=3\nLastDevice=c\n[Devices]\nItem0=b\nItem1=c\nItem2=d\n\x01\xFF "
                          "junk\n; mine\n\n[a]\nX=1\n");
        QTest::newRow("blank entries and a huge count")
            << QByteArray("[Ferrovane]\nDeviceCount=2000000000\n[Devices]\nItem0=\nItem1=a\nItem2=  \n")
            << QStringList{"a"} << QStringList{"a"}
            << QByteArray("[Ferrovane]\nDeviceCount=1\nLastDevice=c\n[Devices]\nItem0=a\n");
        QTest::newRow("emptied, the junk stays")
            << QByteArray("[Devices]\r\nItem0=a\r\n\x02\r\n") << QStringList{} << QStringList{}
            << QByteArray("[Devices]\r\n\x02\r\n[Ferrovane]\r\nDeviceCount=0\r\n"
                          "LastDevice=c\r\n");
        QTest::newRow("emptied, nothing left")
            << QByteArray("[Devices]\nItem0=a\n[b]\n") << QStringList{} << QStringList{}
            << QByteArray("[b]\n[Ferrovane]\nDeviceCount=0\nLastDevice=c\n");
    }
    void deviceListKeepsWhatIsNotAnEntry()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, read);
        QFETCH(QStringList, written);
        QFETCH(QByteArray, after);
        struct Quiet : LogSink
        {
            void WriteLog(const QString &, LogColor, LogStyle) override {}
            void WriteLogNoDate(const QString &, LogColor, LogStyle) override {}
        } quiet;
        WriteRaw(before);
        SettingsStore store(path_);
        QCOMPARE(store.ReadDeviceList(), read);
        store.WriteDeviceList(written, QStringLiteral("c"), quiet);
        QCOMPARE(ReadRaw(), after);
        QCOMPARE(store.ReadDeviceList(), written);
    }

    // The program's one settings store: it names the lines it ignores, its
    // writes keep them and what was written by hand between two writes, its
    // reads follow its writes, and each write names the sections it changed.
    void storeKeepsTheFileAndNamesItsChanges()
    {
        struct Quiet : LogSink
        {
            void WriteLog(const QString &, LogColor, LogStyle) override {}
            void WriteLogNoDate(const QString &, LogColor, LogStyle) override {}
        } quiet;
        const QByteArray junk("Debug=1\0\0", 9);
        WriteRaw("; mine\n[Ferrovane]\n" + junk + "\nWidth=800\n");
        SettingsStore store(path_);
        QSignalSpy changed(&store, &SettingsStore::changed);
        QCOMPARE(store.IgnoredLines(), QList<int>{3});
        QVERIFY2(store.IgnoredLinesNote().startsWith(QStringLiteral("The settings file ") + path_ + " has lines") &&
                     store.IgnoredLinesNote().endsWith(QStringLiteral(": line 3.")),
                 qPrintable(store.IgnoredLinesNote()));
        DeviceSettings cam;
        cam.DeviceName = QStringLiteral("Cam");
        cam.DeviceSerialNo = QStringLiteral("42");
        store.WriteDevice(QStringLiteral("Cam"), cam, DeviceKeys::Identity);
        {
            QFile f(path_);
            QVERIFY(f.open(QIODevice::Append));
            f.write("[Hand]\nKey=1\n");
        }
        store.WriteDeviceList({QStringLiteral("Cam")}, QStringLiteral("Cam"), quiet);
        QCOMPARE(ReadRaw(), "; mine\n[Ferrovane]\n" + junk +
                                "\nWidth=800\nDeviceCount=1\nLastDevice=Cam\n[Cam]\nDeviceName=Cam\nDeviceSerialNo=42\n"
                                "[Hand]\nKey=1\n[Devices]\nItem0=Cam\n");
        QVERIFY(store.SectionExists(QStringLiteral("Hand")));
        QCOMPARE(store.ReadDeviceList(), QStringList{"Cam"});
        QCOMPARE(store.ReadDevice(QStringLiteral("Cam")).DeviceSerialNo, QStringLiteral("42"));
        QStringList sections;
        for (const QList<QVariant> &signal : std::as_const(changed))
            sections << signal.at(0).toString();
        QCOMPARE(sections, (QStringList{"Cam", "Ferrovane", "Devices"}));
        // A change from outside is read on Reload.
        WriteRaw("[Ferrovane]\nWidth=640\n");
        store.Reload();
        QCOMPARE(store.ReadProgram().Width, 640);
        QVERIFY(store.IgnoredLinesNote().isEmpty());
        // A write that fails names its section too.
        QVERIFY(QFile::remove(path_) && QDir().mkpath(path_));
        QVERIFY_THROWS_EXCEPTION(Exception, store.WriteBool(QStringLiteral("Hand"), QStringLiteral("Key"), false));
        QVERIFY(QDir(path_).removeRecursively());
        QCOMPARE(changed.last().at(0).toString(), QStringLiteral("Hand"));
    }

    void writeAppendsToFileWithoutFinalNewline()
    {
        WriteRaw("[s]\nk=v");
        IniFile ini(path_);
        ini.WriteString(QStringLiteral("s"), QStringLiteral("k2"), QStringLiteral("w"));
        QCOMPARE(ReadRaw(), QByteArray("[s]\nk=v\nk2=w\n"));
        ini.WriteString(QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("b"));
        QCOMPARE(ReadRaw(), QByteArray("[s]\nk=v\nk2=w\n[t]\na=b\n"));
    }

    void writeCreatesMissingFile()
    {
        IniFile ini(path_);
        ini.WriteInteger(QStringLiteral("Ferrovane"), QStringLiteral("DeviceCount"), 0);
        QCOMPARE(ReadRaw(), QByteArray("[Ferrovane]\nDeviceCount=0\n"));
    }

    // A hostile name or value cannot add lines of its own.
    void lineBreaksCannotInjectKeys()
    {
        IniFile ini(path_);
        ini.WriteString(QStringLiteral("Dev\n[Ferrovane]"), QStringLiteral("DestPath"), QStringLiteral("/x\nDebug=1"));
        QCOMPARE(ini.ReadString(QStringLiteral("Ferrovane"), QStringLiteral("Debug"), QStringLiteral("none")),
                 QStringLiteral("none"));
        QCOMPARE(ReadRaw().count('\n'), 2);
    }

    void eraseSection()
    {
        WriteRaw("[Ferrovane]\nDeviceCount=2\n[Devices]\nItem0=a\nItem1=b\n\n[a]\nDeviceName=a\n");
        IniFile ini(path_);
        ini.EraseSection(QStringLiteral("devices"));
        QCOMPARE(ReadRaw(), QByteArray("[Ferrovane]\nDeviceCount=2\n[a]\nDeviceName=a\n"));
        ini.EraseSection(QStringLiteral("not there"));
        QCOMPARE(ReadRaw(), QByteArray("[Ferrovane]\nDeviceCount=2\n[a]\nDeviceName=a\n"));
    }

    void failedWriteRaisesAndKeepsTheOldFile()
    {
        IniFile missing(dir_.filePath(QStringLiteral("no/such/folder/Ferrovane.ini")));
        try {
            missing.WriteString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("v"));
            QFAIL("no exception");
        } catch (const Exception &e) {
            QCOMPARE(e.Message(), QStringLiteral("Unable to write to ") + missing.FileName());
        }

        if (geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir locked;
        const QString path = locked.filePath(QStringLiteral("Ferrovane.ini"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[s]\nk=old\n");
        f.close();
        QFile::setPermissions(locked.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        IniFile ini(path);
        QVERIFY_THROWS_EXCEPTION(Exception,
                                 ini.WriteString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("new")));
        QCOMPARE(ini.ReadString(QStringLiteral("s"), QStringLiteral("k"), QString()), QStringLiteral("old"));
        QFile::setPermissions(locked.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // Writes leave no temporary files behind.
    void writesLeaveNoDebris()
    {
        IniFile ini(path_);
        for (int i = 0; i < 20; ++i)
            ini.WriteInteger(QStringLiteral("s"), QStringLiteral("k%1").arg(i % 3), i);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Ferrovane.ini"});
    }

    void fileFilter_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("bars") << "jpg|jpeg" << QStringList{"jpg", "jpeg"};
        QTest::newRow("blank separates") << "jpg jpeg" << QStringList{"jpg", "jpeg"};
        QTest::newRow("empty entry in middle") << "a||b" << QStringList{"a", "", "b"};
        QTest::newRow("trailing bar adds empty") << "a|" << QStringList{"a", ""};
        QTest::newRow("trailing bar and blank adds nothing") << "a| " << QStringList{"a"};
        QTest::newRow("leading bar") << "|a" << QStringList{"", "a"};
        QTest::newRow("blanks around") << "  a |  b  " << QStringList{"a", "b"};
        QTest::newRow("quoted with blank") << "\"my pics\"|jpg" << QStringList{"my pics", "jpg"};
        QTest::newRow("doubled quote inside") << "\"say \"\"hi\"\"\"" << QStringList{"say \"hi\""};
        QTest::newRow("unclosed quote runs to end") << "\"ab|cd" << QStringList{"ab|cd"};
        QTest::newRow("two quotes is one empty entry") << "\"\"" << QStringList{""};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("tar.gz") << "tar.gz|jpg" << QStringList{"tar.gz", "jpg"};
    }
    void fileFilter()
    {
        QFETCH(QString, value);
        QFETCH(QStringList, entries);
        QCOMPARE(DecodeFileFilter(value), entries);
    }

    void fileFilterRoundTrip_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << QStringList{"AVI", "jpg", "mov"} << "AVI|jpg|mov";
        QTest::newRow("blank quoted") << QStringList{"my pics", "jpg"} << "\"my pics\"|jpg";
        QTest::newRow("quote doubled") << QStringList{"a\"b"} << "\"a\"\"b\"";
        QTest::newRow("bar quoted") << QStringList{"a|b"} << "\"a|b\"";
        QTest::newRow("empty list") << QStringList{} << "";
        QTest::newRow("lone empty entry") << QStringList{""} << "\"\"";
        QTest::newRow("empty among others") << QStringList{"a", "", "b"} << "a||b";
        QTest::newRow("control character") << QStringList{"a\tb"} << "\"a\tb\"";
    }
    void fileFilterRoundTrip()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, value);
        QCOMPARE(EncodeFileFilter(entries), value);
        QCOMPARE(DecodeFileFilter(value), entries);
    }

    void fileFilterSortAndDefaults()
    {
        QStringList list{"jpg", "AVI", "mov", "Bmp"};
        SortFileFilter(list);
        QCOMPARE(list, (QStringList{"AVI", "Bmp", "jpg", "mov"}));
        const QStringList defaults = DecodeFileFilter(QString::fromLatin1(kDefaultFileFilter));
        QStringList sorted = defaults;
        SortFileFilter(sorted);
        QCOMPARE(defaults, sorted);
        QCOMPARE(defaults.size(), 84);
        QCOMPARE(QSet<QString>(defaults.begin(), defaults.end()).size(), 84);
        for (const char *kept : {"jpg", "mxf", "raw", "nef", "cr3", "dng", "heic", "png", "mts", "insv", "opus", "xmp",
                                 "thm", "aae", "gpr", "jpe"})
            QVERIFY2(defaults.contains(QLatin1String(kept)), kept);
        QVERIFY(!defaults.contains(QStringLiteral("lrv")));
        QCOMPARE(FileFilterLogText({"jpg", "my pics", "a,b"}), QStringLiteral("jpg,\"my pics\",\"a,b\""));
    }
};

FERROVANE_TEST_MAIN(TestIniFile)
#include "tst_inifile.moc"
