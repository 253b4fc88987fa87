// The main window's side of the preview: the Preview button and F3, the
// preview window following the grid's current row, pictures fetched only
// while no copy run or listing owns the device, and the window's place
// remembered in the settings file.

#include "Unit1.h"

#include "preview/PreviewPanel.h"
#include "settings/SettingsStore.h"

#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWindow>

namespace {

const QString kSection = QStringLiteral("Ferrovane");
constexpr int kPreviewHelpContext = 175;
// Selections closer together than this are a key held down or a fast
// scroll: only the row it comes to rest on is fetched.
constexpr int kSettleMs = 60;

}  // namespace

void TForm1::CreatePreview()
{
    PreviewBitBtn = new QPushButton(QStringLiteral("Preview"), centralWidget());
    PreviewBitBtn->setCheckable(true);
    PreviewBitBtn->setAutoDefault(false);
    PreviewBitBtn->setMinimumWidth(82);
    PreviewBitBtn->setIcon(style()->standardIcon(QStyle::SP_FileDialogInfoView));
    PreviewBitBtn->setIconSize(QSize(16, 16));
    const QString hint = QStringLiteral("Show or hide the preview of the selected file (F3).");
    PreviewBitBtn->setStatusTip(hint);
    PreviewBitBtn->setToolTip(hint);
    PreviewBitBtn->setAccessibleName(QStringLiteral("Preview"));
    PreviewBitBtn->setAccessibleDescription(hint);
    PreviewBitBtn->setProperty("HelpContext", kPreviewHelpContext);

    Preview = new PreviewPanel(this);
    Preview->setProperty("HelpContext", kPreviewHelpContext);
    Preview->setAccessibleName(QStringLiteral("Preview"));
    Preview->setAccessibleDescription(QStringLiteral("The picture and the facts of the file selected in the list."));

    // F3 works in both windows.
    PreviewAction = new QAction(QStringLiteral("Preview"), this);
    PreviewAction->setShortcut(QKeySequence(Qt::Key_F3));
    PreviewAction->setShortcutContext(Qt::ApplicationShortcut);
    addAction(PreviewAction);
    connect(PreviewAction, &QAction::triggered, PreviewBitBtn, &QPushButton::toggle);
    connect(PreviewBitBtn, &QPushButton::toggled, this, &TForm1::SetPreviewVisible);
    connect(Preview, &PreviewPanel::Closed, this, [this] { PreviewBitBtn->setChecked(false); });

    previewTimer_.setSingleShot(true);
    previewTimer_.setInterval(kSettleMs);
    connect(&previewTimer_, &QTimer::timeout, this, &TForm1::RequestPreview);
    previewClock_.start();
}

void TForm1::ConnectPreview()
{
    // Asked on the preview's worker before and during every fetch: a copy
    // run or a listing always has the device first.
    Previews = std::make_unique<PreviewFetcher>([engine = Engine.get()] { return !engine->IsActive(); });
    connect(Previews.get(), &PreviewFetcher::Ready, this, &TForm1::PreviewReady);
    connect(StringGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TForm1::PreviewSelectionChanged);
    // Previews wait while the engine runs; what waited is fetched at its end.
    connect(Engine.get(), &CopyRun::listingStarted, this, [this] { PausePreviews(true); });
    connect(Engine.get(), &CopyRun::copyStarted, this, [this] { PausePreviews(true); });
    connect(Engine.get(), &CopyRun::workerFinished, this, [this] { PausePreviews(false); });
}

void TForm1::SetPreviewVisible(bool visible)
{
    if (PreviewBitBtn->isChecked() != visible)
        PreviewBitBtn->setChecked(visible);
    if (visible == Preview->isVisible())
        return;
    if (visible) {
        Preview->show();
        previewRequest_ = PreviewRequest();
        PreviewSelectionChanged();
    } else {
        Preview->hide();
        previewTimer_.stop();
        Previews->Cancel();
    }
    if (initDone_)
        Settings->WriteBool(kSection, QStringLiteral("PreviewVisible"), visible);
}

void TForm1::PreviewSelectionChanged()
{
    if (!Preview->isVisible())
        return;
    const int row = StringGrid1->Row();
    const CatalogueGrid *cells = StringGrid1->Cells();
    const QString type = row > 0 ? cells->Cell(CatalogueGrid::TypeColumn, row) : QString();
    const QString id = row > 0 ? cells->Cell(CatalogueGrid::ObjectIdColumn, row) : QString();
    if (id.isEmpty() || type == QLatin1String("STORAGE") || type == QLatin1String("FOLDER")) {
        previewTimer_.stop();
        Previews->Cancel();
        previewRequest_ = PreviewRequest();
        Preview->ShowNothing();
        return;
    }
    PreviewRequest request;
    request.deviceId = Connection.CurrentDeviceID;
    request.objectId = id;
    request.name = cells->Cell(CatalogueGrid::NameColumn, row);
    request.typeName = type;
    request.size = cells->Cell(CatalogueGrid::BytesColumn, row).toLongLong();
    request.dateText = cells->Cell(CatalogueGrid::DateColumn, row);
    if (request.Key() == previewRequest_.Key())
        return;
    previewRequest_ = request;
    Preview->ShowFile(
        {request.name, cells->Cell(CatalogueGrid::SizeColumn, row), request.dateText, KindOf(type, request.name)});
    if (previewClock_.restart() < kSettleMs) {
        previewTimer_.start();
        return;
    }
    previewTimer_.stop();
    RequestPreview();
}

void TForm1::RequestPreview()
{
    if (previewRequest_.objectId.isEmpty() || !Preview->isVisible())
        return;
    PreviewRequest request = previewRequest_;
    request.box = Preview->PictureBox();
    const bool busy = Engine->IsActive() || gridOperationActive_;
    // The device's objects are taken here, on this thread, while no worker
    // replaces them.
    if (!busy)
        request.content = Connection.Handles().aPortableDeviceContent;
    const bool ready = Previews->Request(request);
    Preview->SetNote(busy && !ready && KindOf(request.typeName, request.name) == FileKind::Picture
                         ? QStringLiteral("The picture follows when the copy run or listing has ended.")
                         : QString());
}

void TForm1::PreviewReady(const QString &key, const PreviewResult &result, bool final)
{
    if (key != previewRequest_.Key())
        return;
    Preview->ShowPicture(result);
    if (final && !result.trouble.isEmpty() && !previewTroubleSaid_.contains(key)) {
        previewTroubleSaid_.insert(key);
        Log.WriteDebug(QStringLiteral("Preview of %1: no picture (%2)").arg(previewRequest_.name, result.trouble));
    }
}

void TForm1::PausePreviews(bool busy)
{
    if (busy == Previews->Paused())
        return;
    Previews->SetPaused(busy);
    // What was waiting is asked for again now.
    if (!busy && Preview->isVisible()) {
        previewRequest_ = PreviewRequest();
        PreviewSelectionChanged();
    }
}

void TForm1::LoadPreviewSettings()
{
    const SettingsStore &ini = *Settings;
    constexpr int kNone = std::numeric_limits<int>::min();
    const int left = ini.ReadInteger(kSection, QStringLiteral("PreviewLeft"), kNone);
    const int top = ini.ReadInteger(kSection, QStringLiteral("PreviewTop"), kNone);
    const int width = qMax(200, ini.ReadInteger(kSection, QStringLiteral("PreviewWidth"), Preview->width()));
    const int height = qMax(200, ini.ReadInteger(kSection, QStringLiteral("PreviewHeight"), Preview->height()));
    // First time: beside the main window's right edge.
    const QRect frame = frameGeometry();
    QRect wanted(left == kNone ? frame.right() + 8 : left, top == kNone ? geometry().top() : top, width, height);
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    const QScreen *primaryScreen = QGuiApplication::primaryScreen();
    const QRect primary = primaryScreen ? primaryScreen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QMargins margins = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    Preview->setGeometry(PlaceOnScreen(wanted, margins, areas, primary, false));
    SetPreviewVisible(ini.ReadBool(kSection, QStringLiteral("PreviewVisible"), false));
}

void TForm1::SavePreviewSettings()
{
    SettingsStore &ini = *Settings;
    const QRect bounds = Preview->geometry();
    ini.WriteBool(kSection, QStringLiteral("PreviewVisible"), PreviewBitBtn->isChecked());
    ini.WriteInteger(kSection, QStringLiteral("PreviewLeft"), bounds.x());
    ini.WriteInteger(kSection, QStringLiteral("PreviewTop"), bounds.y());
    ini.WriteInteger(kSection, QStringLiteral("PreviewWidth"), bounds.width());
    ini.WriteInteger(kSection, QStringLiteral("PreviewHeight"), bounds.height());
}
