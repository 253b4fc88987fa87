#include "common/DeviceBuilders.h"
#include "common/FormTest.h"
#include "common/IniTestFiles.h"
#include "common/ModalWatcher.h"
#include "common/TestMain.h"

#include "app/Unit1.h"
#include "catalogue/Unit2.h"
#include "device/fake/FakeDeviceService.h"
#include "settings/Unit4.h"

#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>

// The listing as the window runs it, the grid's colours, the search field
// and the device root picker, driven through the real window.
class TestCatalogueView : public QObject
{
    Q_OBJECT

private:
    FakeDeviceService service_;
    std::unique_ptr<TForm1> form_;

    void Fill(const QList<QStringList> &rows)
    {
        form_->Session->ClearCatalogue();
        for (const QStringList &r : rows) {
            CatalogueGrid::Row row{r.value(0), r.value(1), QString(), QString(), r.value(2), r.value(3), "0"};
            form_->StringGrid2->AppendRow(row);
            form_->StringGrid1->Cells()->AppendRow(row);
        }
        form_->StringGrid1->Cells()->FlushRows();
        form_->StringGrid2->FlushRows();
    }
    void FillNames(const QStringList &names)
    {
        QList<QStringList> rows;
        for (const QString &n : names)
            rows << QStringList{"1", n, "IMAGE", "/s/" + n};
        Fill(rows);
    }
    void Search(const QString &text)
    {
        form_->SearchLabeledEdit->Edit->setFocus();
        if (form_->SearchLabeledEdit->text() != text)
            form_->SearchLabeledEdit->Edit->setText(text);  // keyClicks cannot type accents
        QTest::keyClick(form_->SearchLabeledEdit->Edit, Qt::Key_Return);
    }
    int Selected() const { return form_->StringGrid1->Row(); }
    QString OpenPicker(const std::function<void(TForm2 &)> &act)
    {
        QString result;
        ModalWatcher watcher([&](QWidget *) {
            act(*form_->Form2);
            if (form_->Form2->isVisible())
                form_->Form2->CancelBitBtn->click();
        });
        form_->DeviceRootSpeedButton->click();
        return form_->DeviceRootEdit->text();
    }
    static QTreeWidgetItem *Item(QTreeWidget *tree, const QStringList &path)
    {
        QTreeWidgetItem *item = nullptr;
        for (const QString &part : path) {
            const int count = item ? item->childCount() : tree->topLevelItemCount();
            QTreeWidgetItem *next = nullptr;
            for (int i = 0; i < count && !next; ++i) {
                QTreeWidgetItem *c = item ? item->child(i) : tree->topLevelItem(i);
                if (c->text(0) == part)
                    next = c;
            }
            item = next;
            if (!item)
                return nullptr;
        }
        return item;
    }

    // Lists the phone of BuildPhone as the window does; the log lines from
    // the listing on.
    QStringList ListPhone()
    {
        const qsizetype from = form_->Log.Document().LineCount();
        form_->Connection.CurrentDeviceName = QStringLiteral("Phone");
        if (!form_->Connection.OpenDevice(QStringLiteral("usb:list"), true))
            return {};
        form_->Session->ListAgain();
        return LogTexts(form_->Log, from);
    }

private slots:
    void init()
    {
        DebugFlag = false;
        StartForm(form_, service_);
        form_->Connection.CurrentDeviceName = QStringLiteral("Phone");
    }
    void cleanup()
    {
        form_.reset();
        service_.RemoveDevice(QStringLiteral("usb:list"));
    }

    // --- the listing ---------------------------------------------------------

    // The window hands its controls to the walk and its rows to the grids:
    // every object to the hidden grid, what passes the root and the filters
    // to the view, whose Name column then fits the longest name shown.
    void listingIntoTheGrids()
    {
        BuildPhone(service_.AddDevice(QStringLiteral("usb:list"), QStringLiteral("Phone")));
        form_->Form4->FileFiltersCheckBox->setChecked(true);
        form_->DeviceRootEdit->setText(QString());
        form_->CopyArea->UpdateUICount = 0;
        ListPhone();
        QCOMPARE(form_->Engine->LastWalk().listedFiles, 6);
        QCOMPARE(form_->StringGrid2->RowCount(), 14 + 2);
        QCOMPARE(form_->StringGrid2->FindRow(5, QStringLiteral("/store_1/DCIM/notes.txt")), 7);
        QCOMPARE(form_->StringGrid1->Cells()->FindRow(5, QStringLiteral("/store_1/DCIM/notes.txt")), 0);
        // The view has the rows and one empty last row.
        QCOMPARE(form_->StringGrid1->model()->rowCount(), 13 + 1);
        QStringList names;
        const CatalogueGrid &shown = *form_->StringGrid1->Cells();
        for (int r = 1; r < shown.RowCount() - 1; ++r)
            names << shown.Cell(1, r);
        int widest = 0;
        for (const QString &name : names)
            widest = qMax(widest, QFontMetrics(form_->StringGrid1->font()).horizontalAdvance(name));
        QCOMPARE(form_->StringGrid1->columnWidth(1), widest + 8);
        // The walk's hand-offs reached the window, and the marquee ended.
        QVERIFY(form_->CopyArea->UpdateUICount >= 14);
        QCOMPARE(form_->ProgressBar1->maximum(), 100);

        // A root set in the field counts for the next listing.
        form_->DeviceRootEdit->setText(QStringLiteral("\\Music"));
        ListPhone();
        QCOMPARE(form_->StringGrid1->model()->rowCount(), 6 + 1);  // 4 storage rows, Music, song.mp3
        QCOMPARE(form_->StringGrid2->RowCount(), 14 + 2);
    }

    // Rows are kept packed: every cell comes back with exactly its
    // characters, also after a cell is written again or a row removed.
    void rowsKeepTheirCellsExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("date");
        QTest::newRow("plain") << "IMG_0001.JPG"
                               << "/store_1/DCIM/IMG_0001.JPG"
                               << "13/08/2016 10:22:33";
        QTest::newRow("Latin-1") << QStringLiteral("Ärger.JPG") << QStringLiteral("/s/Ärger.JPG") << QString();
        QTest::newRow("wide") << QStringLiteral("🎉.JPG") << QStringLiteral("/s/🎉.JPG") << "1.1.2016";
        QTest::newRow("odd byte") << QString("x") + QChar(0xDCFF) << QString("/s/x") + QChar(0xDCFF) << "";
        QTest::newRow("name not the id's end") << "IMG.JPG"
                                               << "/s/XIMG.JPG"
                                               << "";
        QTest::newRow("opaque id") << "IMG.JPG"
                                   << "o1F2"
                                   << "";
        QTest::newRow("long") << QString(200, QLatin1Char('n'))
                              << QStringLiteral("/s/") + QString(20000, QLatin1Char('n'))
                              << QString(130, QChar(0x263A));
    }
    void rowsKeepTheirCellsExactly()
    {
        QFETCH(QString, name);
        QFETCH(QString, id);
        QFETCH(QString, date);
        CatalogueGrid grid;
        grid.Clear();
        const CatalogueGrid::Row first = {"0", "Card", "", "", "STORAGE", "/s", "0"};
        const CatalogueGrid::Row row = {"1", name, "1 KiB", date, "IMAGE", id, "1000"};
        grid.AppendRow(first);
        grid.AppendRow(row);
        grid.AppendRow(first);
        for (int c = 0; c < CatalogueGrid::kCellCount; ++c) {
            QCOMPARE(grid.Cell(c, 2), row[size_t(c)]);
            QCOMPARE(grid.Cell(c, 4), QString());  // the empty last row
        }
        QCOMPARE(grid.FindRow(CatalogueGrid::ObjectIdColumn, id), 2);
        QCOMPARE(grid.FindRow(CatalogueGrid::NameColumn, name), 2);
        QCOMPARE(grid.FindRow(CatalogueGrid::ObjectIdColumn, id + QLatin1Char('x')), 0);
        grid.FlushRows();
        QCOMPARE(grid.data(grid.index(1, CatalogueGrid::NameColumn)).toString(), CatalogueGrid::Shown(name));
        QCOMPARE(grid.Cell(CatalogueGrid::NameColumn, 2), name);
        QCOMPARE(grid.Cell(CatalogueGrid::ObjectIdColumn, 2), id);
        grid.RemoveRow(1);
        QCOMPARE(grid.Cell(CatalogueGrid::ObjectIdColumn, 1), id);
        QCOMPARE(grid.Cell(CatalogueGrid::NameColumn, 2), QStringLiteral("Card"));
    }

    void searchSteps()
    {
        FillNames({"dsc_0001.jpg", "IMG_0002.JPG", "DSC_0003.JPG", "é.jpg", "clip 01.mp4", "x01.jpg"});
        Search(QStringLiteral("DSC"));
        QCOMPARE(Selected(), 1);
        Search(QStringLiteral("DSC"));
        QCOMPARE(Selected(), 3);
        QCOMPARE(form_->BeepCount, 0);
        Search(QStringLiteral("DSC"));
        QCOMPARE(form_->BeepCount, 1);
        QCOMPARE(form_->CatalogueArea->SearchRow, 0);
        Search(QStringLiteral("DSC"));
        QCOMPARE(Selected(), 1);
        // The field never sees the Enter.
        QCOMPARE(form_->SearchLabeledEdit->text(), QStringLiteral("DSC"));
    }

    void searchRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("row");  // 0: nothing found
        QTest::addColumn<int>("beeps");
        QTest::newRow("only A-Z fold") << "É" << 0 << 1;
        QTest::newRow("accented exact") << "é" << 4 << 0;
        QTest::newRow("leading blank counts") << " 01" << 5 << 0;
        QTest::newRow("blanks only do nothing") << "   " << 0 << 0;
        QTest::newRow("header is not searched") << "name" << 0 << 1;
    }
    void searchRules()
    {
        QFETCH(QString, text);
        QFETCH(int, row);
        QFETCH(int, beeps);
        FillNames({"dsc_0001.jpg", "IMG_0002.JPG", "DSC_0003.JPG", "é.jpg", "clip 01.mp4", "x01.jpg"});
        Search(text);
        QCOMPARE(Selected(), row);
        QCOMPARE(form_->BeepCount, beeps);
    }

    void typingRestartsAtTheTop()
    {
        FillNames({"a1", "a2", "a3"});
        Search(QStringLiteral("a"));
        Search(QStringLiteral("a"));
        QCOMPARE(Selected(), 2);
        QTest::keyClick(form_->SearchLabeledEdit->Edit, Qt::Key_1);
        QTest::keyClick(form_->SearchLabeledEdit->Edit, Qt::Key_Backspace);
        Search(QStringLiteral("a"));
        QCOMPARE(Selected(), 1);
        // The button does the same as Enter.
        form_->SearchBitBtn->click();
        QCOMPARE(Selected(), 2);
    }

    void searchAfterANewListing()
    {
        FillNames({"a1", "a2", "a3", "a4"});
        Search(QStringLiteral("a4"));
        QCOMPARE(form_->CatalogueArea->SearchRow, 5);
        FillNames({"a1"});  // SearchRow survives; it lies beyond the new grid
        Search(QStringLiteral("a4"));
        QCOMPARE(form_->BeepCount, 1);
        QCOMPARE(form_->CatalogueArea->SearchRow, 0);
        FillNames({});
        form_->SearchBitBtn->click();  // nothing listed: nothing happens
        QCOMPARE(form_->BeepCount, 1);
    }

    // Storage rows aqua and folder rows silver in every cell, also when selected.
    void rowColours()
    {
        Fill({{"0", "Phone", "STORAGE", ""}, {"1", "DCIM", "FOLDER", "/s/DCIM"}, {"2", "a.jpg", "IMAGE", "/s/a.jpg"}});
        TStringGrid *grid = form_->StringGrid1;
        grid->SetRow(1);
        QApplication::processEvents();
        const QImage image = grid->viewport()->grab().toImage();
        auto colourAt = [&](int row, int column) {
            const QRect r = grid->visualRect(grid->model()->index(row, column));
            return image.pixelColor(r.right() - 2, r.bottom() - 2);
        };
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(colourAt(0, column), QColor(0x00, 0xFF, 0xFF));
            QCOMPARE(colourAt(1, column), QColor(0xC0, 0xC0, 0xC0));
            QVERIFY(colourAt(2, column) != QColor(0xC0, 0xC0, 0xC0));
            QVERIFY(colourAt(2, column) != QColor(0x00, 0xFF, 0xFF));
        }
    }

    // --- the device root picker ------------------------------------------------

    // Started with a large saved window and a remembered device holding
    // videos of many gigabytes: once the window stands, the Name column fills
    // the room the other columns leave, and the Size column shows every size
    // whole.
    void columnsAtStartWithALargeWindow_data()
    {
        QTest::addColumn<int>("nameLength");
        QTest::newRow("long names") << 300;
        QTest::newRow("short names") << 8;
    }
    void columnsAtStartWithALargeWindow()
    {
        QFETCH(int, nameLength);
        form_.reset();
        FakeDevice &d = service_.AddDevice(QStringLiteral("usb:big"), QStringLiteral("Big"), QStringLiteral("Big"),
                                           QStringLiteral("Cam"));
        d.serialNumber = QStringLiteral("SN9");
        const QString storage = d.AddStorage(QStringLiteral("Card"), QStringLiteral("card")).id;
        const QString longName = QString(nameLength, QLatin1Char('W')) + QStringLiteral(".MP4");
        d.AddSizedFile(storage, longName, QStringLiteral("VIDEO"), QStringLiteral("2016/08/13:10:22:33.000"),
                       std::uint64_t(5) << 40);  // 5 TiB
        d.AddSizedFile(storage, QStringLiteral("b.mp4"), QStringLiteral("VIDEO"),
                       QStringLiteral("2016/08/13:10:22:33.000"), 1024);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QSize large(qMin(1500, area.width()), qMin(1000, area.height()));
        WriteIni(QStringLiteral("[Ferrovane]\nDeviceCount=1\nLastDevice=Big Cam\nWidth=%1\nHeight=%2\nLeft=%3\nTop=%4\n"
                                "[Devices]\nItem0=Big Cam\n[Big Cam]\nDeviceName=Big Cam\nDeviceSerialNo=SN9\n"
                                "FileFiltersCheckBox=0\n")
                     .arg(large.width())
                     .arg(large.height())
                     .arg(area.x())
                     .arg(area.y())
                     .toUtf8());
        StartForm(form_, service_);
        service_.RemoveDevice(QStringLiteral("usb:big"));
        TStringGrid *grid = form_->StringGrid1;
        QCOMPARE(form_->StringGrid2->Cell(1, 2), longName);
        QTRY_COMPARE(form_->size(), large);

        const QFontMetrics metrics(grid->font());
        const QString bigSize = form_->StringGrid2->Cell(2, 2);
        QVERIFY2(grid->columnWidth(2) >= metrics.horizontalAdvance(bigSize) + 12,
                 qPrintable(QString::number(grid->columnWidth(2))));

        const int others = grid->columnWidth(0) + grid->columnWidth(2) + grid->columnWidth(3) + grid->columnWidth(4);
        const int needed =
            qMax(metrics.horizontalAdvance(longName), metrics.horizontalAdvance(QStringLiteral("Name"))) + 8;
        QTRY_COMPARE(grid->columnWidth(1), qMin(needed, grid->width() - others));
    }

    void pickerOnAPhone()
    {
        Fill({{"0", "Phone", "STORAGE", ""},
              {"1", "DCIM", "FOLDER", ""},
              {"2", "Camera", "FOLDER", ""},
              {"3", "a.jpg", "IMAGE", ""},
              {"1", "Music", "FOLDER", ""},
              {"1", "Alarms", "FOLDER", ""}});
        QString root = OpenPicker([&](TForm2 &p) {
            QTreeWidgetItem *camera = Item(p.TreeView1, {"Phone", "DCIM", "Camera"});
            QVERIFY(camera);
            // Sorted: Alarms, DCIM, Music.
            QCOMPARE(Item(p.TreeView1, {"Phone"})->child(0)->text(0), QStringLiteral("Alarms"));
            p.TreeView1->setCurrentItem(camera);
            p.SelecTButton->click();
        });
        QCOMPARE(root, QStringLiteral("\\Phone\\DCIM\\Camera"));

        // Opening again selects that folder with the rest collapsed.
        root = OpenPicker([&](TForm2 &p) {
            QCOMPARE(p.TreeView1->currentItem(), Item(p.TreeView1, {"Phone", "DCIM", "Camera"}));
            QVERIFY(Item(p.TreeView1, {"Phone", "DCIM"})->isExpanded());
            QVERIFY(!Item(p.TreeView1, {"Phone", "Music"})->isExpanded());
            QTreeWidgetItem *phone = Item(p.TreeView1, {"Phone"});
            p.TreeView1->setCurrentItem(phone);
            const QPoint at = p.TreeView1->visualItemRect(phone).center();
            QTest::mouseClick(p.TreeView1->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(p.TreeView1->viewport(), Qt::LeftButton, {}, at);
        });
        QCOMPARE(root, QStringLiteral("\\Phone"));

        // A root that names no node: nothing selected; Select then does nothing.
        form_->DeviceRootEdit->setText(QStringLiteral("\\Phone\\Nowhere"));
        root = OpenPicker([&](TForm2 &p) {
            QVERIFY(!p.TreeView1->currentItem() || !p.TreeView1->currentItem()->isSelected());
            p.SelecTButton->click();
            QVERIFY(p.isVisible());
        });
        QCOMPARE(root, QStringLiteral("\\Phone\\Nowhere"));

        // An empty root selects the first top-level node; Cancel keeps the field.
        form_->DeviceRootEdit->setText(QString());
        root = OpenPicker([&](TForm2 &p) {
            QCOMPARE(p.TreeView1->currentItem(), p.TreeView1->topLevelItem(0));
            p.CancelBitBtn->click();
        });
        QCOMPARE(root, QString());
    }

    void pickerOnADriveDevice()
    {
        QTemporaryDir card;
        Fill({{"0", card.path(), "STORAGE", ""}, {"1", "DCIM", "FOLDER", ""}, {"2", "100CANON", "FOLDER", ""}});
        QString root = OpenPicker([&](TForm2 &p) {
            QVERIFY(p.IsDriveDevice());
            QCOMPARE(p.TreeView1->topLevelItem(0)->text(0), QStringLiteral("\\"));
            p.TreeView1->setCurrentItem(Item(p.TreeView1, {"\\", "DCIM"}));
            p.SelecTButton->click();
        });
        QCOMPARE(root, QStringLiteral("\\DCIM"));
        root = OpenPicker([&](TForm2 &p) {
            QCOMPARE(p.TreeView1->currentItem(), Item(p.TreeView1, {"\\", "DCIM"}));
            p.TreeView1->setCurrentItem(p.TreeView1->topLevelItem(0));
            p.SelecTButton->click();
        });
        QCOMPARE(root, QString());  // the device's root
    }

    void pickerTwoStoragesOfOneName()
    {
        Fill({{"0", "Card", "STORAGE", ""},
              {"1", "A", "FOLDER", ""},
              {"0", "Card", "STORAGE", ""},
              {"1", "B", "FOLDER", ""}});
        form_->DeviceRootEdit->setText(QStringLiteral("\\Card\\B"));
        OpenPicker([&](TForm2 &p) {
            QCOMPARE(p.TreeView1->topLevelItemCount(), 2);
            // The first Card has no B: nothing is found.
            QVERIFY(!p.FindNodeByPath(QStringLiteral("Card\\B")));
            QCOMPARE(p.FindNodeByPath(QStringLiteral("Card\\A")), p.TreeView1->topLevelItem(0)->child(0));
            QCOMPARE(TForm2::GetNodePath(p.TreeView1->topLevelItem(0)->child(0)), QStringLiteral("Card\\A\\"));
        });
    }

    // A folder name with "\" in it is one folder for the picker, the root
    // rules and the listing, however deep the walk goes below it.
    void backslashInAFolderName()
    {
        FakeDevice &d = service_.AddDevice(QStringLiteral("usb:bs"), QStringLiteral("Phone"));
        const QString date = QStringLiteral("2016/08/13:10:22:33.000");
        const QString phone = d.AddStorage(QStringLiteral("Phone"), QStringLiteral("store_1")).id;
        const QString dcim = d.AddFolder(phone, QStringLiteral("DCIM")).id;
        const QString odd = d.AddFolder(dcim, QStringLiteral("a\\b")).id;
        const QString sub = d.AddFolder(odd, QStringLiteral("sub")).id;
        const QString deep = d.AddFolder(sub, QStringLiteral("deep")).id;
        d.AddFile(deep, QStringLiteral("in_deep.jpg"), QStringLiteral("IMAGE"), date, "1");
        const QString sub2 = d.AddFolder(odd, QStringLiteral("sub2")).id;
        d.AddFile(sub2, QStringLiteral("in_sub2.jpg"), QStringLiteral("IMAGE"), date, "2");
        d.AddFile(d.AddFolder(dcim, QStringLiteral("a")).id, QStringLiteral("not_under.jpg"), QStringLiteral("IMAGE"),
                  date, "3");
        auto list = [&] {
            QVERIFY(form_->Connection.OpenDevice(QStringLiteral("usb:bs"), true));
            form_->Session->ListAgain();
        };
        list();
        const QString root = OpenPicker([&](TForm2 &p) {
            QTreeWidgetItem *node = Item(p.TreeView1, {"Phone", "DCIM", "a\\b"});
            QVERIFY(node);
            QVERIFY(Item(p.TreeView1, {"Phone", "DCIM", "a\\b", "sub", "deep"}));
            p.TreeView1->setCurrentItem(node);
            p.SelecTButton->click();
        });
        QCOMPARE(root, QStringLiteral("\\Phone\\DCIM\\a/b"));

        // Listed under that root: everything below a\b, nothing of the folder a.
        list();
        QStringList shown;
        const CatalogueGrid &g = *form_->StringGrid1->Cells();
        for (int r = 1; r < g.RowCount() - 1; ++r)
            if (g.Cell(4, r) != QLatin1String("STORAGE"))
                shown << g.Cell(1, r);
        QCOMPARE(shown, (QStringList{"a\\b", "sub", "deep", "in_deep.jpg", "sub2", "in_sub2.jpg"}));

        // The picker finds the folder again from the field.
        OpenPicker([&](TForm2 &p) {
            QCOMPARE(p.TreeView1->currentItem(), Item(p.TreeView1, {"Phone", "DCIM", "a\\b"}));
        });
        service_.RemoveDevice(QStringLiteral("usb:bs"));
    }

    void pickerNeedsADevice()
    {
        form_->Connection.CurrentDeviceName.clear();
        ModalWatcher watcher([](QWidget *w) { static_cast<QDialog *>(w)->reject(); });
        form_->DeviceRootSpeedButton->click();
        QCOMPARE(watcher.Seen(), 0);
        QCOMPARE(form_->StatusBar1->currentMessage(), QStringLiteral("No device selected."));
    }

    // The field keeps its normal form whatever is put into it.
    void rootFieldNormalForm()
    {
        form_->DeviceRootEdit->setText(QStringLiteral("  \\DCIM\\\\Camera  "));
        QCOMPARE(form_->DeviceRootEdit->text(), QStringLiteral("\\DCIM\\Camera"));
        form_->DeviceRootEdit->setText(QStringLiteral("\\\\"));
        QCOMPARE(form_->DeviceRootEdit->text(), QString());
    }
};

FERROVANE_TEST_MAIN(TestCatalogueView)
#include "tst_catalogueview.moc"
