#include "CopyPanel.h"

#include "app/RunMonitor.h"
#include "app/WindowControls.h"
#include "session/Destination.h"
#include "session/ImportSession.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>

CopyPanel::CopyPanel(ImportSession &session, QWidget *parent, std::function<void()> beep)
    : QObject(parent), session_(session), window_(parent->window()), beep_(std::move(beep))
{
    CopyBitBtn = Button(parent, QStringLiteral("Copy"), 105, QStyle::SP_MediaPlay);
    SetHint(CopyBitBtn, QStringLiteral("Begin copying files."), 160);
    StopBitBtn = Button(parent, QStringLiteral("Stop"), 105, QStyle::SP_MediaStop);
    StopBitBtn->setEnabled(false);
    SetHint(StopBitBtn, QStringLiteral("Stop copying files."), 160);
    ProgressBar1 = new QProgressBar(parent);
    ProgressBar1->setFixedWidth(330);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setAccessibleName(QStringLiteral("Copy progress"));
    connect(CopyBitBtn, &QPushButton::clicked, this, &CopyPanel::CopyClick);

    CopyRun *engine = &session_.Engine();
    connect(engine, &CopyRun::listingStarted, this, [this] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ProgressBar1->setRange(0, 0);  // the marquee form
        lastRepaint_.invalidate();
    });
    connect(engine, &CopyRun::listingFinished, this, [this] {
        QApplication::restoreOverrideCursor();
        ProgressBar1->setRange(0, 100);
    });
    // A copy run's bar follows the bytes copied, a few times a second, with
    // the status bar's figures.
    connect(engine, &CopyRun::copyStarted, this, [this] {
        ProgressBar1->setRange(0, kBarSteps);
        ProgressBar1->setValue(0);
    });
    connect(engine, &CopyRun::progressChanged, this, &CopyPanel::UpdateUI);
    // For the user's attention; the run goes on meanwhile.
    connect(engine, &CopyRun::errorMessage, this,
            [this](const QString &text) { ShowMessage(QStringLiteral("Ferrovane:"), text, QString()); });
    connect(engine, &CopyRun::commandNotStarted, this, [this](const QString &message) {
        QApplication::restoreOverrideCursor();
        ShowMessage(QStringLiteral("Ferrovane"), QStringLiteral("ExecNewProcess Error:"), message);
    });
    connect(engine, &CopyRun::workerFailed, this,
            [this](const QString &message) { ShowMessage(QStringLiteral("Application Error"), message, QString()); });
}

void CopyPanel::CreateMonitor(QStatusBar *statusBar)
{
    CopyRun *engine = &session_.Engine();
    Monitor = new RunMonitor(engine->State(), session_.Log(), statusBar, window_);
    // The totals a run is measured against are the last listing's: the
    // copy run's own walk adds to the walk's counts as it goes.
    connect(engine, &CopyRun::listingFinished, this, [this, engine] {
        Monitor->SetListed(qint64(engine->LastWalk().shownFiles), engine->LastWalk().shownSize);
    });
    connect(engine, &CopyRun::copyStarted, this, [this] { Monitor->Started(session_.CurrentDeviceName()); });
    connect(engine, &CopyRun::workerFinished, Monitor, &RunMonitor::Ended);
    connect(Monitor, &RunMonitor::progressed, this, [this](quint64 done, quint64 total) {
        if (ProgressBar1->maximum() != kBarSteps)
            return;
        const quint64 steps = total == 0 ? 0 : qMin<quint64>(kBarSteps, done * kBarSteps / total);
        ProgressBar1->setValue(int(steps));
    });
}

void CopyPanel::ShowMessage(const QString &title, const QString &text, const QString &details)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, window_);
    if (!details.isEmpty())
        box.setInformativeText(details);
    box.exec();
}

void CopyPanel::CopyClick()
{
    if (FocusOnCopy)
        FocusOnCopy->setFocus(Qt::OtherFocusReason);
    if (!DestinationReady())
        return;
    session_.Copy();
}

bool CopyPanel::DestinationReady()
{
    const DestinationCheck check = CheckDestination(session_.Current().DestPath);
    ActivityLog &log = session_.Log();
    if (check.state == DestinationCheck::Refused) {
        beep_();
        log.WriteLog(check.reason, LogColor::Red, LogStyle::Bold);
        return false;
    }
    if (check.state == DestinationCheck::Missing) {
        QMessageBox question(QMessageBox::Question, QStringLiteral("Ferrovane"),
                             QStringLiteral("Make the destination folder?"), QMessageBox::Yes | QMessageBox::No,
                             window_);
        question.setInformativeText(
            QStringLiteral("The folder \"%1\" does not exist yet. Make it and copy into it?").arg(check.path));
        question.setDefaultButton(QMessageBox::Yes);
        if (question.exec() != QMessageBox::Yes)
            return false;
        if (const QString trouble = MakeDestination(check.path); !trouble.isEmpty()) {
            log.WriteLog(QStringLiteral("Destination path: ") + trouble + QLatin1Char('.'), LogColor::Red,
                         LogStyle::Bold);
            return false;
        }
        log.WriteLog(QStringLiteral("Destination folder \"%1\" was made.").arg(check.path), LogColor::Black);
    }
    return true;
}

bool CopyPanel::StopCopying()
{
    beep_();
    session_.Stop();
    if (!session_.WorkerActive())
        return false;
    // The worker leaves at its next look at the stop flag (a transfer within
    // a second), the log ends with "Stop Signalled." and the window returns
    // to idle; until then the worker still owns the device, so nothing that
    // reaches the device may start.
    StopBitBtn->setEnabled(false);
    return true;
}

void CopyPanel::UpdateUI(int filesLocated)
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
    Q_UNUSED(filesLocated);
}

void CopyPanel::SetIdle(bool idle)
{
    CopyBitBtn->setEnabled(idle);
    StopBitBtn->setEnabled(!idle);
    ProgressBar1->setEnabled(!idle);
    ProgressBar1->setValue(0);
}
