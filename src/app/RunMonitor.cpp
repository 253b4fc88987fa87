#include "RunMonitor.h"

#include "app/DesktopNotifier.h"
#include "app/Help.h"
#include "base/RunState.h"

#include <QLabel>
#include <QStatusBar>

RunMonitor::RunMonitor(const RunState &run, LogSink &log, QStatusBar *statusBar, QWidget *window)
    : QObject(window), run_(run), statusBar_(statusBar), label_(new QLabel(statusBar)),
      notifier_(new DesktopNotifier(log, this)), windowActive_([window] { return window->isActiveWindow(); })
{
    const QString hint = QStringLiteral("Files and bytes done of those listed, the speed and the time left.");
    label_->setToolTip(hint);
    label_->setAccessibleName(QStringLiteral("Copy run progress"));
    label_->setAccessibleDescription(hint);
    label_->setProperty(kHelpContextProperty, 160);
    // One text at a time: a hint shown in the status bar hides the progress
    // for as long as it is shown.
    statusBar->addWidget(label_, 1);
    label_->hide();
    connect(statusBar, &QStatusBar::messageChanged, this,
            [this](const QString &message) { label_->setVisible(ticks_.isActive() && message.isEmpty()); });
    ticks_.setInterval(kTickMs);
    connect(&ticks_, &QTimer::timeout, this, &RunMonitor::Tick);
}

void RunMonitor::SetListed(qint64 files, quint64 bytes)
{
    filesTotal_ = files;
    bytesTotal_ = bytes;
}

void RunMonitor::Started(const QString &deviceName)
{
    deviceName_ = deviceName;
    rate_.Reset();
    elapsed_.start();
    // Shown from the first tick: by then the worker has set the counters
    // back to zero, which it does just after announcing the start.
    label_->clear();
    ticks_.start();
    label_->setVisible(statusBar_->currentMessage().isEmpty());
}

void RunMonitor::Tick()
{
    const qint64 now = elapsed_.elapsed();
    const quint64 bytes = run_.BytesDone.load(std::memory_order_relaxed);
    rate_.Add(now, bytes);
    RunFigures figures;
    figures.filesDone = run_.FilesLocated.load(std::memory_order_relaxed);
    figures.filesTotal = filesTotal_;
    figures.bytesDone = bytes;
    figures.bytesTotal = bytesTotal_;
    figures.bytesPerSecond = rate_.BytesPerSecond();
    label_->setText(RunProgressText(figures));
    emit progressed(bytes, bytesTotal_);
}

void RunMonitor::Ended()
{
    if (!ticks_.isActive())
        return;
    ticks_.stop();
    label_->hide();
    label_->clear();
    if (elapsed_.elapsed() <= notifyAfterMs_ || windowActive_())
        return;
    const bool stopped = run_.StopSignalled;
    notifier_->Notify(stopped ? QStringLiteral("Copy stopped") : QStringLiteral("Copy finished"),
                      RunSummaryText(run_.FilesCopied, run_.BytesCopied, deviceName_, run_.ErrorCount, stopped));
}
