// The main window's side of the preview: the Preview button and F3, the
// preview window following the grid's current row, pictures fetched only
// while no copy run or listing owns the device, and the window's place
// remembered in the settings file.

#include "PreviewPart.h"

#include "app/WindowGeometry.h"
#include "catalogue/StringGrid.h"
#include "session/ImportSession.h"

#include "preview/PreviewPanel.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMainWindow>
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

PreviewPart::PreviewPart(ImportSession &session, QMainWindow *window, TStringGrid *grid)
    : QObject(window), session_(session), window_(window), grid_(grid)
{
    PreviewBitBtn = new QPushButton(QStringLiteral("Preview"), window->centralWidget());
    PreviewBitBtn->setCheckable(true);
    PreviewBitBtn->setAutoDefault(false);
    PreviewBitBtn->setMinimumWidth(82);
    PreviewBitBtn->setIcon(window->style()->standardIcon(QStyle::SP_FileDialogInfoView));
    PreviewBitBtn->setIconSize(QSize(16, 16));
    const QString hint = QStringLiteral("Show or hide the preview of the selected file (F3).");
    PreviewBitBtn->setStatusTip(hint);
    PreviewBitBtn->setToolTip(hint);
    PreviewBitBtn->setAccessibleName(QStringLiteral("Preview"));
    PreviewBitBtn->setAccessibleDescription(hint);
    PreviewBitBtn->setProperty("HelpContext", kPreviewHelpContext);

    Preview = new PreviewPanel(window);
    Preview->setProperty("HelpContext", kPreviewHelpContext);
    Preview->setAccessibleName(QStringLiteral("Preview"));
    Preview->setAccessibleDescription(QStringLiteral("The picture and the facts of the file selected in the list."));

    // F3 works in both windows.
    PreviewAction = new QAction(QStringLiteral("Preview"), window);
    PreviewAction->setShortcut(QKeySequence(Qt::Key_F3));
    PreviewAction->setShortcutContext(Qt::ApplicationShortcut);
    window->addAction(PreviewAction);
    connect(PreviewAction, &QAction::triggered, PreviewBitBtn, &QPushButton::toggle);
    connect(PreviewBitBtn, &QPushButton::toggled, this, &PreviewPart::SetPreviewVisible);
    connect(Preview, &PreviewPanel::Closed, this, [this] { PreviewBitBtn->setChecked(false); });

    previewTimer_.setSingleShot(true);
    previewTimer_.setInterval(kSettleMs);
    connect(&previewTimer_, &QTimer::timeout, this, &PreviewPart::RequestPreview);
    previewClock_.start();

    // Asked on the preview's worker before and during every fetch: a copy
    // run or a listing always has the device first.
    Previews = std::make_unique<PreviewFetcher>([engine = &session_.Engine()] { return !engine->IsActive(); });
    connect(Previews.get(), &PreviewFetcher::Ready, this, &PreviewPart::PreviewReady);
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &PreviewPart::PreviewSelectionChanged);
    // Previews wait while the engine runs; what waited is fetched at its end.
    connect(&session_.Engine(), &CopyRun::listingStarted, this, [this] { PausePreviews(true); });
    connect(&session_.Engine(), &CopyRun::copyStarted, this, [this] { PausePreviews(true); });
    connect(&session_.Engine(), &CopyRun::workerFinished, this, [this] { PausePreviews(false); });
}

void PreviewPart::SetPreviewVisible(bool visible)
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
    if (started_)
        session_.Store().WriteBool(kSection, QStringLiteral("PreviewVisible"), visible);
}

void PreviewPart::PreviewSelectionChanged()
{
    if (!Preview->isVisible())
        return;
    const int row = grid_->Row();
    const CatalogueGrid *cells = grid_->Cells();
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
    request.deviceId = session_.CurrentDeviceID();
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

void PreviewPart::RequestPreview()
{
    if (previewRequest_.objectId.isEmpty() || !Preview->isVisible())
        return;
    PreviewRequest request = previewRequest_;
    request.box = Preview->PictureBox();
    const bool busy = session_.Busy();
    // The device's objects are taken here, on this thread, while no worker
    // replaces them.
    if (!busy)
        request.content = session_.Connection().Handles().aPortableDeviceContent;
    const bool ready = Previews->Request(request);
    Preview->SetNote(busy && !ready && KindOf(request.typeName, request.name) == FileKind::Picture
                         ? QStringLiteral("The picture follows when the copy run or listing has ended.")
                         : QString());
}

void PreviewPart::PreviewReady(const QString &key, const PreviewResult &result, bool final)
{
    if (key != previewRequest_.Key())
        return;
    Preview->ShowPicture(result);
    if (final && !result.trouble.isEmpty() && !previewTroubleSaid_.contains(key)) {
        previewTroubleSaid_.insert(key);
        session_.Log().WriteDebug(
            QStringLiteral("Preview of %1: no picture (%2)").arg(previewRequest_.name, result.trouble));
    }
}

void PreviewPart::PausePreviews(bool busy)
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

void PreviewPart::LoadSettings()
{
    const SettingsStore &ini = session_.Store();
    started_ = true;
    constexpr int kNone = std::numeric_limits<int>::min();
    const int left = ini.ReadInteger(kSection, QStringLiteral("PreviewLeft"), kNone);
    const int top = ini.ReadInteger(kSection, QStringLiteral("PreviewTop"), kNone);
    const int width = qMax(200, ini.ReadInteger(kSection, QStringLiteral("PreviewWidth"), Preview->width()));
    const int height = qMax(200, ini.ReadInteger(kSection, QStringLiteral("PreviewHeight"), Preview->height()));
    // First time: beside the main window's right edge.
    const QRect frame = window_->frameGeometry();
    QRect wanted(left == kNone ? frame.right() + 8 : left, top == kNone ? window_->geometry().top() : top, width,
                 height);
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    const QScreen *primaryScreen = QGuiApplication::primaryScreen();
    const QRect primary = primaryScreen ? primaryScreen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QMargins margins = window_->windowHandle() ? window_->windowHandle()->frameMargins() : QMargins();
    Preview->setGeometry(WindowGeometry::PlaceOnScreen(wanted, margins, areas, primary, false));
    SetPreviewVisible(ini.ReadBool(kSection, QStringLiteral("PreviewVisible"), false));
}

void PreviewPart::SaveSettings()
{
    SettingsStore &ini = session_.Store();
    const QRect bounds = Preview->geometry();
    ini.WriteBool(kSection, QStringLiteral("PreviewVisible"), PreviewBitBtn->isChecked());
    ini.WriteInteger(kSection, QStringLiteral("PreviewLeft"), bounds.x());
    ini.WriteInteger(kSection, QStringLiteral("PreviewTop"), bounds.y());
    ini.WriteInteger(kSection, QStringLiteral("PreviewWidth"), bounds.width());
    ini.WriteInteger(kSection, QStringLiteral("PreviewHeight"), bounds.height());
}
