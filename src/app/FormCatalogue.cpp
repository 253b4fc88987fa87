// The main window's catalogue: the listing (the engine's), the progress, the
// search field, the device root field and its picker.

#include "Unit1.h"

#include "catalogue/PathRules.h"
#include "catalogue/Unit2.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>

void TForm1::ClearStringGrid1()
{
    Engine->ClearCatalogue();
}

void TForm1::ListDeviceContents()
{
    Engine->ListDeviceContents(ReadControls());
}

void TForm1::UpdateUI(int filesLocated)
{
    ++UpdateUICount;
    if (ProgressBar1->maximum() == 0 && ProgressBar1->minimum() == 0) {
        // The marquee only needs a repaint now and then, not after every object.
        if (!lastRepaint_.isValid() || lastRepaint_.elapsed() > 50) {
            ProgressBar1->repaint();
            lastRepaint_.restart();
        }
        return;
    }
    ProgressBar1->setValue(filesLocated);
}

void TForm1::Beep()
{
    ++BeepCount;
    QApplication::beep();
}

void TForm1::SearchDeviceContents()
{
    const CatalogueGrid *cells = StringGrid1->Cells();
    if (cells->RowCount() < 3)
        return;
    const QString text = SearchLabeledEdit->text();
    if (text.trimmed().isEmpty())
        return;
    auto fold = [](QString s) {
        for (QChar &c : s)
            if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                c = QChar(c.unicode() + 32);
        return s;
    };
    const QString needle = fold(text);
    // Row 0 is the header, which cannot be selected.
    for (int row = qMax(SearchRow, 1); row < cells->RowCount(); ++row) {
        // Names are searched as the grid shows them ("x\xFF.JPG").
        if (fold(CatalogueGrid::Shown(cells->CellRef(CatalogueGrid::NameColumn, row))).contains(needle)) {
            StringGrid1->SetRow(row);
            SearchRow = row + 1;
            return;
        }
    }
    SearchRow = 0;
    Beep();
}

void TForm1::SearchLabeledEditChange()
{
    SearchRow = 0;
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == SearchLabeledEdit->Edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            SearchDeviceContents();
            return true;  // the field never sees the Enter
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::DeviceRootEditChange()
{
    const QString current = DeviceRootEdit->text();
    const QString normal = NormalDeviceRoot(current);
    if (normal != current)
        DeviceRootEdit->setText(normal);
}

void TForm1::SelectDeviceRoot()
{
    if (Connection.CurrentDeviceName.trimmed().isEmpty()) {
        StatusBar1->showMessage(QStringLiteral("No device selected."));
        return;
    }
    Form2->exec();
}
