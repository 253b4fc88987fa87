#include "common/DeviceBuilders.h"
#include "common/FormTest.h"
#include "common/TestMain.h"

#include "app/Unit1.h"
#include "base/DateFormat.h"
#include "device/fake/FakeDeviceService.h"
#include "settings/Unit4.h"

#include <QProgressBar>

namespace {

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
    }
    QStringList Names() const
    {
        QStringList names;
        for (const Transfer &t : calls)
            names << t.name;
        return names;
    }
    std::vector<Transfer> calls;
};

} // namespace

class TestContentWalk : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;

    FakeDevice &Device() { return service_.devices.front(); }

    // Rows of a grid as "level|name|type|id" (the two size cells checked apart).
    static QStringList Rows(const CatalogueGrid &grid)
    {
        QStringList rows;
        for (int r = 1; r < grid.RowCount() - 1; ++r)
            rows << QStringLiteral("%1|%2|%3|%4").arg(grid.Cell(0, r), grid.Cell(1, r), grid.Cell(4, r), grid.Cell(5, r));
        return rows;
    }
    QStringList LogTexts(qsizetype from = 0) const { return ::LogTexts(form_->Log, from); }
    // The first red line from `from` on that holds the text.
    const LogLine *RedLine(qsizetype from, const QString &text)
    {
        static LogLine found;
        const LogDocument &doc = form_->Log.Document();
        for (const LogLine &line : doc.Lines(from, doc.LineCount())) {
            if (line.color == LogColor::Red && line.text.contains(text)) {
                found = line;
                return &found;
            }
        }
        return nullptr;
    }
    qsizetype List()
    {
        const qsizetype before = form_->Log.Document().LineCount();
        form_->Connection.CurrentDeviceName = QStringLiteral("Phone");
        if (!form_->Connection.OpenDevice(QStringLiteral("usb:1"), true))
            return -1;
        form_->ListDeviceContents();
        return before;
    }

private slots:
    void init()
    {
        DebugFlag = false;
        service_.devices.clear();
        BuildPhone(service_.AddDevice(QStringLiteral("usb:1"), QStringLiteral("Phone")));
        StartForm(form_, service_);
    }
    void cleanup()
    {
        form_.reset();
        DebugFlag = false;
    }

    void catalogueOfAPhone()
    {
        const qsizetype from = List();
        QVERIFY(from >= 0);
        const QStringList all = {
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
        QCOMPARE(Rows(*form_->StringGrid2), all);
        QStringList shown = all;
        shown.removeAll(QStringLiteral("2|notes.txt|DOCUMENT|/store_1/DCIM/notes.txt"));
        QCOMPARE(Rows(*form_->StringGrid1->Cells()), shown);
        // The grid has the header, the rows and one empty last row.
        QCOMPARE(form_->StringGrid2->RowCount(), all.size() + 2);
        QCOMPARE(form_->StringGrid1->model()->rowCount(), shown.size() + 1);

        const CatalogueGrid &g = *form_->StringGrid2;
        QCOMPARE(g.Cell(2, 4), QStringLiteral("2 KiB"));
        QCOMPARE(g.Cell(6, 4), QStringLiteral("2048"));
        QCOMPARE(g.Cell(2, 1), QString());
        QCOMPARE(g.Cell(6, 1), QStringLiteral("0"));
        QCOMPARE(g.Cell(3, 4), DateTimeToStr(QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33)), UserLocaleSettings()));

        const QStringList log = LogTexts(from);
        QCOMPARE(log.first(), QStringLiteral("DEVICE CONTENTS:"));
        QVERIFY(log.contains(QStringLiteral("File Filters: jpg,jpeg,tif,tiff,raw,mp3,flac,rec,m4a,mp4a,wma,ogg,asf,aiff,"
                                            "aac,3gp,wav,mov,mp4,m4v,avi,mxf")));
        QCOMPARE(log.mid(log.size() - 3), (QStringList{"Total Folders = 4 of 4", "Total Files = 5 of 6",
                                                       "Total Size = 0 MiB of 0 MiB"}));
        QCOMPARE(form_->Walk.ListedFileCount, 6);
        // The Name column fits the longest name.
        int widest = 0;
        for (const QString &row : shown)
            widest = qMax(widest, QFontMetrics(form_->StringGrid1->font()).horizontalAdvance(row.section('|', 1, 1)));
        QCOMPARE(form_->StringGrid1->columnWidth(1), widest + 8);
    }

    void filtersOffAndRoot()
    {
        form_->Form4->FileFiltersCheckBox->setChecked(false);
        form_->DeviceRootEdit->setText(QStringLiteral("\\Phone\\DCIM\\Camera"));
        const qsizetype from = List();
        QVERIFY(LogTexts(from).contains(QStringLiteral("File Filters: *.*")));
        // after.jpg follows the Camera subfolder, so it is judged by Camera's path.
        QCOMPARE(Rows(*form_->StringGrid1->Cells()), (QStringList{
                                                          "0|Phone|STORAGE|/store_1/DCIM",
                                                          "2|Camera|FOLDER|/store_1/DCIM/Camera",
                                                          "3|IMG_0001.JPG|IMAGE|/store_1/DCIM/Camera/IMG_0001.JPG",
                                                          "3|VID_0002.mp4|VIDEO|/store_1/DCIM/Camera/VID_0002.mp4",
                                                          "2|after.jpg|IMAGE|/store_1/DCIM/after.jpg",
                                                          "2|notes.txt|DOCUMENT|/store_1/DCIM/notes.txt",
                                                          "0|Empty|STORAGE|",
                                                          "0|Empty|STORAGE|/store_3",
                                                          "0|Card|STORAGE|/store_3/DCIM",
                                                      }));
        QVERIFY(LogTexts(from).contains(QStringLiteral("Total Folders = 1 of 4")));
        QVERIFY(LogTexts(from).contains(QStringLiteral("Total Files = 4 of 6")));
    }

    void devicePathsInDebugMode()
    {
        Device().AddFolder(QStringLiteral("/store_1/DCIM/Camera"), QStringLiteral("Deep"));
        // Visited after Deep: a top-level folder after a deep one keeps only the storage.
        Device().AddFolder(QStringLiteral("/store_1"), QStringLiteral("Top"));
        DebugFlag = true;
        const qsizetype from = List();
        const QStringList paths = LogTexts(from).filter(QRegularExpression(QStringLiteral("^DevPath=")));
        QCOMPARE(paths, (QStringList{"DevPath=Phone\\DCIM", "DevPath=Phone\\DCIM\\Camera",
                                     "DevPath=Phone\\DCIM\\Camera\\Deep", "DevPath=Phone\\Music", "DevPath=Phone\\Top",
                                     "DevPath=Card\\DCIM"}));
        const QStringList log = LogTexts(from);
        QVERIFY(log.contains(QStringLiteral("Level=1 FOLDER=DCIM")));
        QVERIFY(log.contains(QStringLiteral("No Properties Returned.")));
        QVERIFY(log.contains(QStringLiteral("3 IMAGE /store_1/DCIM/Camera/IMG_0001.JPG [IMG_0001.JPG] 2 KiB ") +
                             DateTimeToStr(QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33)), UserLocaleSettings())));
        QVERIFY(log.contains(QStringLiteral("ROOT aPortableDeviceValues.GetStringValue WPD_OBJECT_CONTENT_TYPE = 0FUNCTIONAL_OBJECT")));
        QVERIFY(log.contains(QStringLiteral("ROOT aPortableDeviceValues.GetStringValue WPD_OBJECT_NAME = 0Card")));
    }

    void dates()
    {
        FakeObject &odd = Device().Object(QStringLiteral("/store_1/DCIM/Camera/IMG_0001.JPG"));
        odd.dateCreated = QStringLiteral("1:2:3:");  // three colons, too few digits
        const qsizetype from = List();
        QCOMPARE(form_->StringGrid2->Cell(3, 4), DateTimeToStr(QDateTime(QDate(1899, 12, 30), QTime(0, 0)),
                                                               UserLocaleSettings()));
        QVERIFY(!form_->Run.StopSignalled);

        // A date nobody can read ends the walk where it stands.
        Device().Object(QStringLiteral("/store_1/DCIM/Camera/VID_0002.mp4")).dateCreated = QStringLiteral("yesterday");
        const qsizetype again = List();
        Q_UNUSED(from);
        QVERIFY(form_->Run.StopSignalled);
        const QStringList log = LogTexts(again);
        QVERIFY(log.contains(QStringLiteral("DATE TIME CONVERSION ERROR > yesterday")));
        QCOMPARE(Rows(*form_->StringGrid2).size(), 4);  // Phone, DCIM, Camera, IMG_0001
        QCOMPARE(log.mid(log.size() - 3), (QStringList{"Total Folders = 2 of 2", "Total Files = 1 of 1",
                                                       "Total Size = 0 MiB of 0 MiB"}));
    }

    // 64-bit sizes: a 5 GiB video shows its true size and the totals do not wrap.
    void hugeFiles()
    {
        Device().AddSizedFile(QStringLiteral("/store_1/DCIM/Camera"), QStringLiteral("big.mp4"), QStringLiteral("VIDEO"),
                              kFakeDate, 5ull << 30);
        Device().AddSizedFile(QStringLiteral("/store_1/DCIM/Camera"), QStringLiteral("big2.mp4"), QStringLiteral("VIDEO"),
                              kFakeDate, 3ull << 30);
        const qsizetype from = List();
        const CatalogueGrid &g = *form_->StringGrid2;
        int row = 1;
        while (g.Cell(1, row) != QLatin1String("big.mp4"))
            ++row;
        QCOMPARE(g.Cell(2, row), QStringLiteral("5,242,880 KiB"));
        QCOMPARE(g.Cell(6, row), QStringLiteral("5368709120"));
        QVERIFY(LogTexts(from).contains(QStringLiteral("Total Size = 8,192 MiB of 8,192 MiB")));
    }

    void failures()
    {
        Device().Object(QStringLiteral("/store_1/DCIM")).supportedCode = E_FAIL;
        Device().Object(QStringLiteral("/store_1/Music/song.mp3")).getValuesCode = E_FAIL;
        const qsizetype from = List();
        QVERIFY(LogTexts(from).contains(QStringLiteral("aPortableDeviceProperties.GetSupportedProperties failed.")));
        const QStringList rows = Rows(*form_->StringGrid2);
        QVERIFY(!rows.contains(QStringLiteral("1|DCIM|FOLDER|/store_1/DCIM")));
        QVERIFY(rows.contains(QStringLiteral("2|Camera|FOLDER|/store_1/DCIM/Camera")));  // children still walked
        QVERIFY(!rows.join(QLatin1Char(',')).contains(QStringLiteral("song.mp3")));

        // Both failures are named, in red, with the reason, and counted.
        QVERIFY(RedLine(from, QStringLiteral("/store_1/DCIM")));
        QVERIFY(RedLine(from, QStringLiteral("/store_1/Music/song.mp3")));
        QCOMPARE(form_->Walk.ReadErrors, 2);
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
        form_->Run.ErrorCount = 0;
        const qsizetype from = List();
        const QString rows = Rows(*form_->StringGrid2).join(QLatin1Char(','));
        QCOMPARE(rows.contains(QStringLiteral("IMG_0001.JPG")), partWay);
        QVERIFY(!rows.contains(QStringLiteral("VID_0002")));
        for (const char *later : {"after.jpg", "Music", "song.mp3", "Card", "IMG_0003.JPG"})
            QVERIFY2(rows.contains(QLatin1String(later)), later);
        const LogLine *red = RedLine(from, QStringLiteral("\"/store_1/DCIM/Camera\""));
        QVERIFY(red);
        QCOMPARE(red->style, LogStyle::Bold);
        QVERIFY(red->text.contains(DeviceErrorText(E_ACCESSDENIED)));
        QCOMPARE(form_->Walk.ReadErrors, 1);
        QCOMPARE(form_->Run.ErrorCount.load(), 1);
        QVERIFY(!form_->Walk.DeviceGone);
        // The totals say that something is missing.
        const QStringList log = LogTexts(from);
        QCOMPARE(log.last(), QStringLiteral("Not read = 1 (named above): the totals leave out what they hold."));
        QCOMPARE(log.at(log.size() - 3), partWay ? QStringLiteral("Total Files = 4 of 5") : QStringLiteral("Total Files = 3 of 4"));
    }

    // A device that goes away ends the walk, with a red line that says so.
    void deviceGone()
    {
        Device().Object(QStringLiteral("/store_1/DCIM/Camera")).enumObjectsCode = E_DEVICE_NOT_CONNECTED;
        const qsizetype from = List();
        QVERIFY(form_->Walk.DeviceGone);
        const QString rows = Rows(*form_->StringGrid2).join(QLatin1Char(','));
        QVERIFY(!rows.contains(QStringLiteral("Music")));
        QVERIFY(!rows.contains(QStringLiteral("Card")));
        const LogLine *red = RedLine(from, QStringLiteral("The device was lost"));
        QVERIFY(red);
        QVERIFY(red->text.contains(QStringLiteral("/store_1/DCIM/Camera")));
        QVERIFY(red->text.contains(DeviceErrorText(E_DEVICE_NOT_CONNECTED)));
        // Said once, not once for every level it ends.
        QCOMPARE(LogTexts(from).filter(QStringLiteral("The device was lost")).size(), 1);

        // The code reaches whoever started the walk (a copy run stops on it).
        QVERIFY(form_->Connection.OpenDevice(QStringLiteral("usb:1"), true));
        form_->ClearStringGrid1();
        form_->Walk.ResetWalk();
        QVERIFY(!form_->Walk.DeviceGone);
        QCOMPARE(form_->Walk.EnumerateContent(form_->Connection.Handles().aPortableDeviceContent.get(),
                                              QStringLiteral("DEVICE"), false, -1),
                 E_DEVICE_NOT_CONNECTED);
    }

    // In a listing the counter does not move: UpdateUI runs after every child
    // while it is a multiple of 50, and never otherwise.
    void progressHandOff()
    {
        form_->UpdateUICount = 0;
        List();
        const int afterEveryChild = form_->UpdateUICount;
        QVERIFY(afterEveryChild >= 14);
        form_->Run.FilesLocated = 7;
        form_->UpdateUICount = 0;
        List();
        QCOMPARE(form_->UpdateUICount, 0);
        QCOMPARE(form_->ProgressBar1->maximum(), 100);  // marquee ended
    }

    void copyHandOff_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("filters");
        QTest::addColumn<QStringList>("handed");
        const QStringList filtered = {"IMG_0001.JPG", "VID_0002.mp4", "after.jpg", "song.mp3", "IMG_0003.JPG"};
        QTest::newRow("whole device, dated") << "" << 0 << true << filtered;
        QTest::newRow("whole device, folders, no filter")
            << "" << 1 << false
            << QStringList{"IMG_0001.JPG", "VID_0002.mp4", "after.jpg", "notes.txt", "song.mp3", "IMG_0003.JPG"};
        QTest::newRow("DCIM of the phone") << "\\Phone\\DCIM" << 0 << true
                                           << QStringList{"IMG_0001.JPG", "VID_0002.mp4", "after.jpg"};
        QTest::newRow("case counts when copying") << "\\phone\\dcim" << 0 << true << QStringList{};
        QTest::newRow("any DCIM") << "\\DCIM" << 0 << true
                                  << QStringList{"IMG_0001.JPG", "VID_0002.mp4", "after.jpg", "IMG_0003.JPG"};
        QTest::newRow("one letter root") << "\\A" << 0 << true << QStringList{};
    }
    void copyHandOff()
    {
        QFETCH(QString, root);
        QFETCH(int, mode);
        QFETCH(bool, filters);
        QFETCH(QStringList, handed);
        form_->DeviceRootEdit->setText(root);
        form_->CopyModeRadioGroup->SetItemIndex(mode);
        form_->Form4->FileFiltersCheckBox->setChecked(filters);
        QVERIFY(form_->Connection.OpenDevice(QStringLiteral("usb:1"), true));
        Recorder recorder;
        form_->Walk.SetTransferTarget(&recorder);
        form_->ClearStringGrid1();
        form_->Walk.ResetWalk();
        form_->Walk.EnumerateContent(form_->Connection.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"),
                                     false, -1);
        form_->Walk.SetTransferTarget(nullptr);
        QCOMPARE(recorder.Names(), handed);
        for (const Transfer &t : recorder.calls) {
            QCOMPARE(t.folderMode, mode == 1);
            QCOMPARE(t.date, QDateTime(QDate(2016, 8, 13), QTime(10, 22, 33)));
        }
        if (!recorder.calls.empty()) {
            QCOMPARE(recorder.calls.front().id, QStringLiteral("/store_1/DCIM/Camera/IMG_0001.JPG"));
            QCOMPARE(recorder.calls.front().size, 2048ull);
        }
    }

    void stopEndsTheWalk()
    {
        form_->Run.StopSignalled = true;
        QVERIFY(form_->Connection.OpenDevice(QStringLiteral("usb:1"), true));
        form_->ClearStringGrid1();
        form_->Walk.EnumerateContent(form_->Connection.Handles().aPortableDeviceContent.get(), QStringLiteral("DEVICE"),
                                     true, -1);
        QCOMPARE(form_->StringGrid2->RowCount(), 2);
        form_->Run.StopSignalled = false;
    }
};

FERROVANE_TEST_MAIN(TestContentWalk)
#include "tst_contentwalk.moc"
