#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <functional>

class ImportSession;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QWidget;
class RunMonitor;

// The main window's copy panel: Copy and Stop, the progress bar, the run's
// progress in the status bar, and the messages a run has for the user.
class CopyPanel : public QObject
{
    Q_OBJECT
public:
    CopyPanel(ImportSession &session, QWidget *parent, std::function<void()> beep);
    // The status bar's progress and the desktop notification.
    void CreateMonitor(QStatusBar *statusBar);

    QPushButton *CopyBitBtn;
    QPushButton *StopBitBtn;
    QProgressBar *ProgressBar1;
    RunMonitor *Monitor = nullptr;
    // The bar's steps in a copy run: per mille of the bytes.
    static constexpr int kBarSteps = 1000;
    // How often the progress was shown (tests count it).
    int UpdateUICount = 0;

    // Where the focus goes when Copy is pressed (the log).
    QWidget *FocusOnCopy = nullptr;

    void CopyClick();
    // The user's Stop; false when no worker runs (the window returns to idle).
    bool StopCopying();
    void SetIdle(bool idle);

private:
    // The destination is fit for a run: refused with the reason in the log,
    // or made when it is missing and the user agrees.
    bool DestinationReady();
    void UpdateUI(int filesLocated);
    void ShowMessage(const QString &title, const QString &text, const QString &details);

    ImportSession &session_;
    QWidget *window_;
    std::function<void()> beep_;
    QElapsedTimer lastRepaint_;
};
