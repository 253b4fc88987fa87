#include "common/DeviceBuilders.h"
#include "common/TestMain.h"

#include "base/DateFormat.h"
#include "base/RunState.h"
#include "base/TextRules.h"
#include "catalogue/ContentWalk.h"
#include "device/DeviceConnection.h"
#include "device/fake/FakeDeviceService.h"
#include "log/LogSink.h"
#include "settings/FileFilter.h"

#include <functional>
#include <optional>

// The walk's rules, driven over the fake device service through a host of
// two plain grids and a few settings fields, as the window would drive it.

namespace {

struct RecordedLine
{
    QString text;
    LogColor color;
    LogStyle style;
};

class RecordingLog : public LogSink
{
public:
    void WriteLog(const QString &text, LogColor color, LogStyle style) override
    {
        lines.push_back({text, color, style});
    }
    void WriteLogNoDate(const QString &text, LogColor color, LogStyle style) override
    {
        lines.push_back({text, color, style});
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const RecordedLine &line : lines)
            texts << line.text;
        return texts;
    }
    // The first red line that holds the text.
    std::optional<RecordedLine> Red(const QString &text) const
    {
        for (const RecordedLine &line : lines)
            if (line.color == LogColor::Red && line.text.contains(text))
                return line;
        return std::nullopt;
    }
    std::vector<RecordedLine> lines;
};

class FakeHost : public WalkSink
{
public:
    FakeHost() { Clear(); }
    void Clear()
    {
        all.Clear();
        shown.Clear();
    }

    WalkSettings Settings() const { return {root, filters, copyMode}; }
    void AppendRow(const CatalogueGrid::Row &row, bool isShown) override
    {
        all.AppendRow(row);
        if (isShown)
            shown.AppendRow(row);
    }
    void UpdateUI() override
    {
        ++updateUICount;
        if (onUpdateUI)
            onUpdateUI();
    }

    QString root;
    FileFilterSettings filters{true, DecodeFileFilter(QString::fromLatin1(kDefaultFileFilter))};
    int copyMode = 0;
    CatalogueGrid all;    // the hidden grid: every object
    CatalogueGrid shown;  // the visible one
    int updateUICount = 0;
    std::function<void()> onUpdateUI;
};

struct Transfer
{
    QString id, name;
    QDateTime date;
    quint64 size;
    bool folderMode;
};

class Recorder : public TransferTarget
{
public:
    void TransferFile(const QString &ObjectID, const QString &FileName, const QDateTime &DateCreated, quint64 Size,
                      bool FolderMode) override
    {
        calls.push_back({ObjectID, FileName, DateCreated, Size, FolderMode});
        if (onTransfer)
            onTransfer(ObjectID);
    }
    QStringList Names() const
    {
        QStringList names;
        for (const Transfer &t : calls)
            names << t.name;
        return names;
    }
    std::vector<Transfer> calls;
    std::function<void(const QString &)> onTransfer;
};

// The date kFakeDate names, as a local date-time.
QDateTime FakeDateTime()
{
    return QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33));
}

// The rows of the phone's catalogue, in walk order, as "level|name|type|id".
const QStringList kAllRows = {
    "0|Phone|STORAGE|/store_1/DCIM",
    "1|DCIM|FOLDER|/store_1/DCIM",
    "2|Camera|FOLDER|/store_1/DCIM/Camera",
    "3|IMG_0001.JPG|IMAGE|/store_1/DCIM/Camera/IMG_0001.JPG",
    "3|VID_0002.mp4|VIDEO|/store_1/DCIM/Camera/VID_0002.mp4",
    "2|after.jpg|IMAGE|/store_1/DCIM/after.jpg",
    "2|notes.txt|DOCUMENT|/store_1/DCIM/notes.txt",
    "1|Music|FOLDER|/store_1/Music",
    "2|song.mp3|AUDIO|/store_1/Music/song.mp3",
    // The empty storage gets its row when no child is found, and the
    // storage after it a second one named after it.
    "0|Empty|STORAGE|",
    "0|Empty|STORAGE|/store_3",
    "0|Card|STORAGE|/store_3/DCIM",
    "1|DCIM|FOLDER|/store_3/DCIM",
    "2|IMG_0003.JPG|IMAGE|/store_3/DCIM/IMG_0003.JPG",
};

}  // namespace

class TestContentWalk : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::optional<RecordingLog> log_;
    std::optional<RunState> run_;
    std::optional<FakeHost> host_;
    std::optional<DeviceConnection> connection_;
    std::optional<ContentWalk> walk_;

    FakeDevice &Device() { return service_.devices.front(); }
    FakeHost &Host() { return *host_; }
    // The walk, with the host's settings as a walk starting now would take them.
    ContentWalk &Walk()
    {
        walk_->SetSettings(host_->Settings());
        return *walk_;
    }
    RunState &Run() { return *run_; }

    // Rows of a grid as "level|name|type|id" (the two size cells checked apart).
    static QStringList Rows(const CatalogueGrid &grid)
    {
        QStringList rows;
        for (int r = 1; r < grid.RowCount() - 1; ++r)
            rows << QStringLiteral("%1|%2|%3|%4")
                        .arg(grid.Cell(0, r), grid.Cell(1, r), grid.Cell(4, r), grid.Cell(5, r));
        return rows;
    }
    static int RowOf(const CatalogueGrid &grid, const QString &name)
    {
        for (int r = 1; r < grid.RowCount() - 1; ++r)
            if (grid.Cell(1, r) == name)
                return r;
        return 0;
    }
    // Opens the device and walks it the way the window starts a walk: totals
    // and walk state reset, the stop flag cleared, the grids emptied, then
    // the walk from the device object. The log lines from here on are the walk's.
    HRESULT WalkDevice(bool listOnly, Recorder *target = nullptr)
    {
        connection_->CurrentDeviceName = QStringLiteral("Phone");
        if (!connection_->OpenDevice(QStringLiteral("usb:1"), true))
            return E_FAIL;
        log_->lines.clear();
        Walk().ResetTotals();
        Walk().ResetWalk();
        Run().StopSignalled = false;
        Host().Clear();
        Walk().SetTransferTarget(target);
        const HRESULT code = Walk().EnumerateContent(connection_->Handles().aPortableDeviceContent.get(),
                                                     QStringLiteral("DEVICE"), listOnly, -1);
        Walk().SetTransferTarget(nullptr);
        return code;
    }
    HRESULT List() { return WalkDevice(true); }

private slots:
    void init()
    {
        DebugFlag = false;
        service_.devices.clear();
        BuildPhone(service_.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Phone")));
        walk_.reset();
        connection_.reset();
        log_.emplace();
        run_.emplace();
        host_.emplace();
        connection_.emplace(service_, *log_);
        walk_.emplace(connection_->Handles(), *run_, *log_, *host_);
    }
    void cleanup()
    {
        walk_.reset();
        connection_.reset();
        DebugFlag = false;
    }

    void catalogueOfAPhone()
    {
        QCOMPARE(List(), S_OK);
        QCOMPARE(Rows(Host().all), kAllRows);
        QStringList shown = kAllRows;
        shown.removeAll(QStringLiteral("2|notes.txt|DOCUMENT|/store_1/DCIM/notes.txt"));
        QCOMPARE(Rows(Host().shown), shown);
        // The grid has the header, the rows and one empty last row.
        QCOMPARE(Host().all.RowCount(), kAllRows.size() + 2);

        const CatalogueGrid &g = Host().all;
        QCOMPARE(g.Cell(2, 4), QStringLiteral("2 KiB"));
        QCOMPARE(g.Cell(6, 4), QStringLiteral("2048"));
        QCOMPARE(g.Cell(2, 1), QString());
        QCOMPARE(g.Cell(6, 1), QStringLiteral("0"));
        QCOMPARE(g.Cell(3, 4), DateTimeToStr(FakeDateTime(), UserLocaleSettings()));

        QCOMPARE(Walk().TotalFolders, 4ull);
        QCOMPARE(Walk().ShownFolders, 4ull);
        QCOMPARE(Walk().TotalFiles, 6ull);
        QCOMPARE(Walk().ShownFiles, 5ull);
        QCOMPARE(Walk().TotalSize, 2048ull + 1536 + 10 + 10 + 100 + 5);
        QCOMPARE(Walk().ShownSize, 2048ull + 1536 + 10 + 100 + 5);
        QCOMPARE(Walk().ReadErrors, 0);
        QVERIFY(!Walk().DeviceGone);
        // Nothing in red, and no debug lines outside debug mode.
        for (const RecordedLine &line : log_->lines) {
            QVERIFY2(line.color != LogColor::Red, qPrintable(line.text));
            QVERIFY2(line.color != LogColor::Purple, qPrintable(line.text));
        }
    }

    // What the visible grid shows under the device root and the filters; the
    // hidden grid always holds everything.
    void rootAndFilters_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("filters");
        QTest::addColumn<QList<int>>("shownRows");  // indexes into kAllRows
        QTest::addColumn<int>("shownFolders");
        QTest::addColumn<int>("shownFiles");
        QTest::addColumn<QString>("leftOut");  // what the listing says the filter left out
        const QString txt = QStringLiteral("Not in the file filter: 1 TXT");
        QTest::newRow("no root, filters on")
            << "" << true << QList<int>{0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13} << 4 << 5 << txt;
        QTest::newRow("no root, filters off")
            << "" << false << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13} << 4 << 6 << "";
        // after.jpg follows the Camera subfolder, so it is judged by Camera's
        // path; storage rows are always shown.
        QTest::newRow("Camera root, filters off")
            << "\\Phone\\DCIM\\Camera" << false << QList<int>{0, 2, 3, 4, 5, 6, 9, 10, 11} << 1 << 4 << "";
        QTest::newRow("Camera root, filters on")
            << "\\Phone\\DCIM\\Camera" << true << QList<int>{0, 2, 3, 4, 5, 9, 10, 11} << 1 << 3 << txt;
        // The listing's root test ignores case and matches anywhere in the path.
        QTest::newRow("any dcim, any case")
            << "\\dcim" << true << QList<int>{0, 1, 2, 3, 4, 5, 9, 10, 11, 12, 13} << 3 << 4 << txt;
        QTest::newRow("blanks around the root")
            << "  \\Music  " << true << QList<int>{0, 7, 8, 9, 10, 11} << 1 << 1 << "";
    }
    void rootAndFilters()
    {
        QFETCH(QString, root);
        QFETCH(bool, filters);
        QFETCH(QList<int>, shownRows);
        QFETCH(int, shownFolders);
        QFETCH(int, shownFiles);
        QFETCH(QString, leftOut);
        Host().root = root;
        Host().filters.enabled = filters;
        QCOMPARE(List(), S_OK);
        QCOMPARE(Rows(Host().all), kAllRows);
        QStringList shown;
        for (int i : shownRows)
            shown << kAllRows.at(i);
        QCOMPARE(Rows(Host().shown), shown);
        QCOMPARE(Walk().ShownFolders, quint64(shownFolders));
        QCOMPARE(Walk().ShownFiles, quint64(shownFiles));
        QCOMPARE(Walk().TotalFolders, 4ull);
        QCOMPARE(Walk().TotalFiles, 6ull);
        QCOMPARE(NotInFilterText(Walk().LeftByFilter), leftOut);
    }

    // What the listing and the copy statistics say the filter left out.
    void leftOutTexts_data()
    {
        QTest::addColumn<QStringList>("extensions");  // one per file
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("statistics");
        QTest::addColumn<QStringList>("missing");  // from the list jpg, TXT
        QTest::newRow("nothing") << QStringList{} << ""
                                 << "" << QStringList{};
        QTest::newRow("most first, case folded")
            << QStringList{"nef", "TXT", "NEF", "Nef", "nef"} << "Not in the file filter: 4 NEF, 1 TXT"
            << "5 Files left on the device by the file filter (NEF 4, TXT 1)." << QStringList{"nef"};
        QTest::newRow("no extension, control character, long")
            << QStringList{"", "a\nb", QString(30, QLatin1Char('x'))}
            << "Not in the file filter: 1 without extension, 1 A\\nB, 1 XXXXXXXXXXXXXXXXXXXXXXXX..."
            << "3 Files left on the device by the file filter (without extension 1, A\\nB 1, "
               "XXXXXXXXXXXXXXXXXXXXXXXX... 1)."
            << QStringList{QString(30, QLatin1Char('x'))};
        QStringList many(1234, QStringLiteral("arw"));
        for (int i = 0; i < 22; ++i)
            many << QStringLiteral("t%1").arg(i, 2, 10, QLatin1Char('0'));
        QString named;
        for (int i = 0; i < 19; ++i)
            named += QStringLiteral(", 1 T%1").arg(i, 2, 10, QLatin1Char('0'));
        QTest::newRow("thousands, and more types than are named")
            << many << "Not in the file filter: 1,234 ARW" + named + ", 3 more types (3 files)" << QString()
            << QStringList{};
    }
    void leftOutTexts()
    {
        QFETCH(QStringList, extensions);
        QFETCH(QString, listing);
        QFETCH(QString, statistics);
        QFETCH(QStringList, missing);
        FileTypeTally tally;
        for (const QString &extension : extensions)
            tally.Add(extension);
        // As the log shows them.
        QCOMPARE(readableText(NotInFilterText(tally)), listing);
        if (!statistics.isNull())
            QCOMPARE(readableText(LeftOnDeviceText(tally)), statistics);
        if (!missing.isEmpty())
            QCOMPARE(tally.MissingFrom({"jpg", "TXT"}), missing);
    }

    // The settings are read when a walk starts: a change during the walk
    // counts from the next one.
    void settingsTakenAtTheStart()
    {
        bool changed = false;
        Host().onUpdateUI = [&] {
            Host().filters.enabled = false;
            Host().root = QStringLiteral("\\Music");
            changed = true;
        };
        QCOMPARE(List(), S_OK);
        QVERIFY(changed);
        QCOMPARE(Walk().ShownFiles, 5ull);
        QCOMPARE(Walk().ShownFolders, 4ull);
        Host().onUpdateUI = nullptr;
        QCOMPARE(List(), S_OK);
        QCOMPARE(Walk().ShownFiles, 1ull);
        QCOMPARE(Walk().ShownFolders, 1ull);
    }

    void devicePathsInDebugMode()
    {
        Device().AddFolder(QStringLiteral("/store_1/DCIM/Camera"), QStringLiteral("Deep"));
        // Visited after Deep: a top-level folder after a deep one keeps only the storage.
        Device().AddFolder(QStringLiteral("/store_1"), QStringLiteral("Top"));
        DebugFlag = true;
        QCOMPARE(List(), S_OK);
        const QStringList log = log_->Texts();
        const QStringList paths = log.filter(QRegularExpression(QStringLiteral("^DevPath=")));
        QCOMPARE(paths,
                 (QStringList{"DevPath=Phone\\DCIM", "DevPath=Phone\\DCIM\\Camera", "DevPath=Phone\\DCIM\\Camera\\Deep",
                              "DevPath=Phone\\Music", "DevPath=Phone\\Top", "DevPath=Card\\DCIM"}));
        QVERIFY(log.contains(QStringLiteral("Level=1 FOLDER=DCIM")));
        QVERIFY(log.contains(QStringLiteral("No Properties Returned.")));
        QVERIFY(log.contains(QStringLiteral("3 IMAGE /store_1/DCIM/Camera/IMG_0001.JPG [IMG_0001.JPG] 2 KiB ") +
                             DateTimeToStr(FakeDateTime(), UserLocaleSettings())));
        QVERIFY(log.contains(
            QStringLiteral("ROOT aPortableDeviceValues.GetStringValue WPD_OBJECT_CONTENT_TYPE = 0FUNCTIONAL_OBJECT")));
        QVERIFY(log.contains(QStringLiteral("ROOT aPortableDeviceValues.GetStringValue WPD_OBJECT_NAME = 0Card")));
        QCOMPARE(Walk().DevPath, QStringLiteral("Card\\DCIM"));
    }

    // An object without a date (the zero date, or fields too short to read)
    // is listed with an empty date cell.
    void dates_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("date");
        QTest::addColumn<bool>("shown");
        QTest::newRow("file") << "/store_1/DCIM/Camera/IMG_0001.JPG" << kFakeDate << true;
        QTest::newRow("folder without a date") << "/store_1/DCIM/Camera"
                                               << "1899/12/30:00:00:00.000" << false;
        QTest::newRow("too few digits") << "/store_1/DCIM/Camera/IMG_0001.JPG"
                                        << "1:2:3:" << false;
    }
    void dates()
    {
        QFETCH(QString, id);
        QFETCH(QString, date);
        QFETCH(bool, shown);
        Device().Object(id).dateCreated = date;
        QCOMPARE(List(), S_OK);
        const int row = RowOf(Host().all, id.section(QLatin1Char('/'), -1));
        QCOMPARE(Host().all.Cell(3, row), shown ? DateTimeToStr(FakeDateTime(), UserLocaleSettings()) : QString());
        QCOMPARE(ZeroDateTime(), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
        QVERIFY(!Run().StopSignalled);
        QCOMPARE(Rows(Host().all), kAllRows);
    }

    void dateNobodyCanRead()
    {
        // A date nobody can read ends the walk where it stands.
        Device().Object(QStringLiteral("/store_1/DCIM/Camera/VID_0002.mp4")).dateCreated = QStringLiteral("yesterday");
        QCOMPARE(List(), S_OK);
        QVERIFY(Run().StopSignalled);
        QVERIFY(log_->Red(QStringLiteral("DATE TIME CONVERSION ERROR > yesterday")));
        QCOMPARE(Rows(Host().all), kAllRows.mid(0, 4));  // Phone, DCIM, Camera, IMG_0001
        QCOMPARE(Walk().TotalFolders, 2ull);
        QCOMPARE(Walk().ShownFolders, 2ull);
        QCOMPARE(Walk().TotalFiles, 1ull);
        QCOMPARE(Walk().ShownFiles, 1ull);
        QCOMPARE(Walk().TotalSize, 2048ull);
        QCOMPARE(Walk().ShownSize, 2048ull);
    }

    // 64-bit sizes: a 5 GiB video shows its true size and the totals do not wrap.
    void hugeFiles()
    {
        Device().AddSizedFile(QStringLiteral("/store_1/DCIM/Camera"), QStringLiteral("big.mp4"),
                              QStringLiteral("VIDEO"), kFakeDate, 5ull << 30);
        Device().AddSizedFile(QStringLiteral("/store_1/DCIM/Camera"), QStringLiteral("big2.mp4"),
                              QStringLiteral("VIDEO"), kFakeDate, 3ull << 30);
        QCOMPARE(List(), S_OK);
        const CatalogueGrid &g = Host().all;
        const int row = RowOf(g, QStringLiteral("big.mp4"));
        QVERIFY(row > 0);
        QCOMPARE(g.Cell(2, row), QStringLiteral("5,242,880 KiB"));
        QCOMPARE(g.Cell(6, row), QStringLiteral("5368709120"));
        const quint64 small = 2048ull + 1536 + 10 + 10 + 100 + 5;
        QCOMPARE(Walk().TotalSize, (8ull << 30) + small);
        QCOMPARE(Walk().ShownSize, (8ull << 30) + small - 10);
    }

    // A file whose size the device does not tell is listed, but never
    // handed to the copy: the walk says so in red and counts an error.
    void fileOfUnknownSize()
    {
        Device()
            .AddSizedFile(QStringLiteral("/store_1/DCIM/Camera"), QStringLiteral("big.mp4"), QStringLiteral("VIDEO"),
                          kFakeDate, 5ull << 30)
            .missing.insert(WPD_OBJECT_SIZE);
        Host().copyMode = 0;
        Recorder recorder;
        QCOMPARE(WalkDevice(false, &recorder), S_OK);
        QVERIFY(RowOf(Host().all, QStringLiteral("big.mp4")) > 0);
        QVERIFY(!recorder.Names().contains(QStringLiteral("big.mp4")));
        QVERIFY(recorder.Names().contains(QStringLiteral("IMG_0001.JPG")));
        QVERIFY(log_->Red(QStringLiteral("does not tell the size of \"/store_1/DCIM/Camera/big.mp4\"")));
        QCOMPARE(Run().ErrorCount.load(), 1);
    }

    // An object whose properties cannot be read is named in red with the
    // reason and counted; its row is left out and the walk goes on below it
    // and after it.
    void objectThatCannotBeRead_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<bool>("supported");  // GetSupportedProperties fails, else GetValues
        QTest::addColumn<QString>("stillListed");
        QTest::newRow("properties of a folder") << "/store_1/DCIM" << true << "/store_1/DCIM/Camera";
        QTest::newRow("values of a folder") << "/store_1/DCIM" << false << "/store_1/DCIM/Camera/IMG_0001.JPG";
        QTest::newRow("properties of a file") << "/store_1/Music/song.mp3" << true << "/store_3/DCIM/IMG_0003.JPG";
        QTest::newRow("values of a file") << "/store_1/Music/song.mp3" << false << "/store_3/DCIM/IMG_0003.JPG";
    }
    void objectThatCannotBeRead()
    {
        QFETCH(QString, object);
        QFETCH(bool, supported);
        QFETCH(QString, stillListed);
        FakeObject &o = Device().Object(object);
        (supported ? o.supportedCode : o.getValuesCode) = E_FAIL;
        QCOMPARE(List(), S_OK);
        QCOMPARE(log_->Texts().contains(QStringLiteral("aPortableDeviceProperties.GetSupportedProperties failed.")),
                 supported);
        const CatalogueGrid &g = Host().all;
        // (A storage row bears the identifier of its first child.)
        for (const QString &row : Rows(g))
            QVERIFY2(row.contains(QStringLiteral("|STORAGE|")) || !row.endsWith(QLatin1Char('|') + object),
                     qPrintable(row));
        QVERIFY(g.FindRow(5, stillListed) > 0);
        // A folder whose properties cannot be read leaves no values behind
        // for its first child to take for a storage's.
        QCOMPARE(Rows(g).filter(QStringLiteral("|STORAGE|")), kAllRows.filter(QStringLiteral("|STORAGE|")));
        QCOMPARE(g.RowCount(), kAllRows.size() + 1);
        const std::optional<RecordedLine> red = log_->Red(QLatin1Char('"') + object + QLatin1Char('"'));
        QVERIFY(red);
        QVERIFY(red->text.contains(DeviceErrorText(E_FAIL)));
        QCOMPARE(Walk().ReadErrors, 1);
        QCOMPARE(Run().ErrorCount.load(), 1);
        QVERIFY(!Walk().DeviceGone);
    }

    void twoFailuresAreCountedApart()
    {
        Device().Object(QStringLiteral("/store_1/DCIM")).supportedCode = E_FAIL;
        Device().Object(QStringLiteral("/store_1/Music/song.mp3")).getValuesCode = E_FAIL;
        QCOMPARE(List(), S_OK);
        const QStringList rows = Rows(Host().all);
        QVERIFY(!rows.contains(QStringLiteral("1|DCIM|FOLDER|/store_1/DCIM")));
        QVERIFY(rows.contains(QStringLiteral("2|Camera|FOLDER|/store_1/DCIM/Camera")));  // children still walked
        QVERIFY(!rows.join(QLatin1Char(',')).contains(QStringLiteral("song.mp3")));
        QVERIFY(log_->Red(QStringLiteral("/store_1/DCIM")));
        QVERIFY(log_->Red(QStringLiteral("/store_1/Music/song.mp3")));
        QCOMPARE(Walk().ReadErrors, 2);
        QCOMPARE(Run().ErrorCount.load(), 2);
        // A new walk starts its count again; the run's count is the run's.
        Device().Object(QStringLiteral("/store_1/DCIM")).supportedCode = S_OK;
        QCOMPARE(List(), S_OK);
        QCOMPARE(Walk().ReadErrors, 1);
        QCOMPARE(Run().ErrorCount.load(), 3);
    }

    // A folder whose listing fails (at once, or part way) is named in red with
    // the reason and counted, and every later folder and file is still listed.
    void folderThatCannotBeListed_data()
    {
        QTest::addColumn<bool>("partWay");
        QTest::newRow("listing refused") << false;
        QTest::newRow("listing breaks off") << true;
    }
    void folderThatCannotBeListed()
    {
        QFETCH(bool, partWay);
        FakeObject &camera = Device().Object(QStringLiteral("/store_1/DCIM/Camera"));
        if (partWay) {
            camera.nextFailsAfter = 1;
            camera.nextFailCode = E_ACCESSDENIED;
        } else {
            camera.enumObjectsCode = E_ACCESSDENIED;
        }
        QCOMPARE(List(), S_OK);
        const QString rows = Rows(Host().all).join(QLatin1Char(','));
        QCOMPARE(rows.contains(QStringLiteral("IMG_0001.JPG")), partWay);
        QVERIFY(!rows.contains(QStringLiteral("VID_0002")));
        for (const char *later : {"after.jpg", "Music", "song.mp3", "Card", "IMG_0003.JPG"})
            QVERIFY2(rows.contains(QLatin1String(later)), later);
        const std::optional<RecordedLine> red = log_->Red(QStringLiteral("\"/store_1/DCIM/Camera\""));
        QVERIFY(red);
        QCOMPARE(red->style, LogStyle::Bold);
        QVERIFY(red->text.contains(DeviceErrorText(E_ACCESSDENIED)));
        QCOMPARE(Walk().ReadErrors, 1);
        QCOMPARE(Run().ErrorCount.load(), 1);
        QVERIFY(!Walk().DeviceGone);
        // The totals hold only what was read.
        QCOMPARE(Walk().TotalFiles, partWay ? 5ull : 4ull);
        QCOMPARE(Walk().ShownFiles, partWay ? 4ull : 3ull);
    }

    // A device that goes away ends the walk, with one red line that says so,
    // and its code reaches whoever started the walk (a copy run stops on it).
    void deviceGone_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("imageListed");
        QTest::newRow("listing a folder") << "enum" << false;
        QTest::newRow("part way through a folder") << "next" << true;
        QTest::newRow("reading a file") << "values" << false;
        QTest::newRow("reading a file's properties") << "supported" << false;
    }
    void deviceGone()
    {
        QFETCH(QString, where);
        QFETCH(bool, imageListed);
        FakeObject &camera = Device().Object(QStringLiteral("/store_1/DCIM/Camera"));
        FakeObject &image = Device().Object(QStringLiteral("/store_1/DCIM/Camera/IMG_0001.JPG"));
        if (where == QLatin1String("enum")) {
            camera.enumObjectsCode = E_DEVICE_NOT_CONNECTED;
        } else if (where == QLatin1String("next")) {
            camera.nextFailsAfter = 1;
            camera.nextFailCode = E_DEVICE_NOT_CONNECTED;
        } else if (where == QLatin1String("values")) {
            image.getValuesCode = E_DEVICE_NOT_CONNECTED;
        } else {
            image.supportedCode = E_DEVICE_NOT_CONNECTED;
        }
        const QString named = where == QLatin1String("enum") || where == QLatin1String("next") ? camera.id : image.id;

        for (const bool listOnly : {true, false}) {
            Recorder recorder;
            QCOMPARE(WalkDevice(listOnly, &recorder), E_DEVICE_NOT_CONNECTED);
            QVERIFY(Walk().DeviceGone);
            const QString rows = Rows(Host().all).join(QLatin1Char(','));
            QCOMPARE(rows.contains(QStringLiteral("IMG_0001.JPG")), imageListed);
            for (const char *later : {"VID_0002", "after.jpg", "Music", "Card"})
                QVERIFY2(!rows.contains(QLatin1String(later)), later);
            const std::optional<RecordedLine> red = log_->Red(QStringLiteral("The device was lost"));
            QVERIFY(red);
            QCOMPARE(red->style, LogStyle::Bold);
            QVERIFY(red->text.contains(QLatin1Char('"') + named + QLatin1Char('"')));
            QVERIFY(red->text.contains(DeviceErrorText(E_DEVICE_NOT_CONNECTED)));
            // Said once, not once for every level it ends.
            QCOMPARE(log_->Texts().filter(QStringLiteral("The device was lost")).size(), 1);
            QCOMPARE(Walk().ReadErrors, 0);
            // Nothing after the loss is handed to a copy.
            QCOMPARE(recorder.Names(),
                     QStringList(listOnly || !imageListed ? QStringList{} : QStringList{"IMG_0001.JPG"}));
        }
        QCOMPARE(Run().ErrorCount.load(), 2);
        // The next walk starts afresh.
        Walk().ResetWalk();
        QVERIFY(!Walk().DeviceGone);
    }

    // UpdateUI runs after every child while the located count is a multiple
    // of 50, and never otherwise (in a listing the counter does not move).
    void progressHandOff_data()
    {
        QTest::addColumn<int>("located");
        QTest::addColumn<bool>("everyChild");
        QTest::newRow("none located") << 0 << true;
        QTest::newRow("7 located") << 7 << false;
        QTest::newRow("50 located") << 50 << true;
        QTest::newRow("51 located") << 51 << false;
    }
    void progressHandOff()
    {
        QFETCH(int, located);
        QFETCH(bool, everyChild);
        Run().FilesLocated = located;
        QCOMPARE(List(), S_OK);
        if (everyChild) {
            // At least once for every object listed.
            QVERIFY(Host().updateUICount >= kAllRows.size());
        } else {
            QCOMPARE(Host().updateUICount, 0);
        }
        QCOMPARE(Rows(Host().all), kAllRows);
    }

    void copyHandOff_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("filters");
        QTest::addColumn<QStringList>("handed");
        QTest::addColumn<int>("leftOut");  // text files left on the device by the filter
        const QStringList filtered = {"IMG_0001.JPG", "VID_0002.mp4", "after.jpg", "song.mp3", "IMG_0003.JPG"};
        QTest::newRow("whole device, dated") << "" << 0 << true << filtered << 1;
        QTest::newRow("whole device, folders, no filter")
            << "" << 1 << false
            << QStringList{"IMG_0001.JPG", "VID_0002.mp4", "after.jpg", "notes.txt", "song.mp3", "IMG_0003.JPG"} << 0;
        QTest::newRow("no copy mode chosen") << "" << -1 << true << QStringList{} << 1;
        QTest::newRow("DCIM of the phone")
            << "\\Phone\\DCIM" << 0 << true << QStringList{"IMG_0001.JPG", "VID_0002.mp4", "after.jpg"} << 1;
        QTest::newRow("case counts when copying") << "\\phone\\dcim" << 0 << true << QStringList{} << 0;
        QTest::newRow("any DCIM") << "\\DCIM" << 0 << true
                                  << QStringList{"IMG_0001.JPG", "VID_0002.mp4", "after.jpg", "IMG_0003.JPG"} << 1;
        QTest::newRow("one letter root") << "\\A" << 0 << true << QStringList{} << 0;
    }
    void copyHandOff()
    {
        QFETCH(QString, root);
        QFETCH(int, mode);
        QFETCH(bool, filters);
        QFETCH(QStringList, handed);
        QFETCH(int, leftOut);
        Host().root = root;
        Host().copyMode = mode;
        Host().filters.enabled = filters;
        Recorder recorder;
        QCOMPARE(WalkDevice(false, &recorder), S_OK);
        QCOMPARE(recorder.Names(), handed);
        QCOMPARE(LeftOnDeviceText(Walk().LeftByFilter),
                 leftOut ? QStringLiteral("1 Files left on the device by the file filter (TXT 1).") : QString());
        for (const Transfer &t : recorder.calls) {
            QCOMPARE(t.folderMode, mode == 1);
            QCOMPARE(t.date, FakeDateTime());
        }
        if (!recorder.calls.empty()) {
            QCOMPARE(recorder.calls.front().id, QStringLiteral("/store_1/DCIM/Camera/IMG_0001.JPG"));
            QCOMPARE(recorder.calls.front().size, 2048ull);
        }
        // The catalogue is the same whatever is handed over.
        QCOMPARE(Rows(Host().all), kAllRows);

        // A listing hands nothing over, whatever the settings.
        Recorder listing;
        QCOMPARE(WalkDevice(true, &listing), S_OK);
        QVERIFY(listing.calls.empty());
    }

    // A file the copy deleted from the device after copying it is not asked
    // for its children: the walk goes on with its siblings, without errors.
    void deletedAfterHandOff()
    {
        Recorder recorder;
        recorder.onTransfer = [&](const QString &id) { Device().RemoveObject(id); };
        QCOMPARE(WalkDevice(false, &recorder), S_OK);
        QCOMPARE(recorder.Names(),
                 (QStringList{"IMG_0001.JPG", "VID_0002.mp4", "after.jpg", "song.mp3", "IMG_0003.JPG"}));
        QCOMPARE(Walk().ReadErrors, 0);
        QCOMPARE(Run().ErrorCount.load(), 0);
        QVERIFY(!log_->Red(QString()));
        QCOMPARE(Rows(Host().all), kAllRows);
    }

    void stopBeforeTheWalk()
    {
        connection_->CurrentDeviceName = QStringLiteral("Phone");
        QVERIFY(connection_->OpenDevice(QStringLiteral("usb:1"), true));
        Run().StopSignalled = true;
        QCOMPARE(Walk().EnumerateContent(connection_->Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"),
                                         true, -1),
                 S_OK);
        QCOMPARE(Host().all.RowCount(), 2);
        QCOMPARE(Host().updateUICount, 0);
    }

    // Stop during the walk ends it at the next object: nothing after is read.
    void stopDuringTheWalk()
    {
        Host().onUpdateUI = [&] {
            if (RowOf(Host().all, QStringLiteral("IMG_0001.JPG")) > 0)
                Run().StopSignalled = true;
        };
        Recorder recorder;
        QCOMPARE(WalkDevice(false, &recorder), S_OK);
        QCOMPARE(Rows(Host().all), kAllRows.mid(0, 4));  // up to IMG_0001
        QCOMPARE(recorder.Names(), QStringList{"IMG_0001.JPG"});
        QVERIFY(!log_->Red(QString()));
        QVERIFY(!Walk().DeviceGone);
    }
};

FERROVANE_TEST_MAIN(TestContentWalk)
#include "tst_contentwalk.moc"
