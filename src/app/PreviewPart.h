#pragma once

#include "preview/PreviewFetcher.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <memory>

class ImportSession;
class PreviewPanel;
class QAction;
class QMainWindow;
class QPushButton;
class TStringGrid;

// The main window's side of the preview: the Preview button and F3, the
// preview window following the grid's current row, pictures fetched only
// while no copy run or listing owns the device, and the window's place
// remembered in the settings file.
class PreviewPart : public QObject
{
    Q_OBJECT
public:
    PreviewPart(ImportSession &session, QMainWindow *window, TStringGrid *grid);

    QPushButton *PreviewBitBtn;
    QAction *PreviewAction;
    PreviewPanel *Preview;
    std::unique_ptr<PreviewFetcher> Previews;
    // The file the preview shows now.
    QString Key() const { return previewRequest_.Key(); }

    void SetPreviewVisible(bool visible);
    // While the engine runs, previews wait.
    void PausePreviews(bool busy);
    void LoadSettings();
    void SaveSettings();

private:
    void PreviewSelectionChanged();
    void RequestPreview();
    void PreviewReady(const QString &key, const PreviewResult &result, bool final);

    ImportSession &session_;
    QMainWindow *window_;
    TStringGrid *grid_;
    bool started_ = false;
    QTimer previewTimer_;
    QElapsedTimer previewClock_;
    PreviewRequest previewRequest_;
    QSet<QString> previewTroubleSaid_;
};
